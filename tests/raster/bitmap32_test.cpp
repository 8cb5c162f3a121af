#include "raster/bitmap32.h"

#include "raster/errors.h"
#include "raster/limits.h"
#include "support/pictures.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace plumora {
namespace {

using test::pixelAt;
using test::setPixel;

TEST(TBitmap32, NewBufferIsEmptyAndSizesKeepFourBytesAPixel)
{
    TBitmap32 b;
    EXPECT_EQ(b.width(), 0);
    EXPECT_EQ(b.height(), 0);
    EXPECT_TRUE(b.empty());
    b.setSize(3, 2);
    EXPECT_EQ(b.bytesPerLine(), 12u);
    EXPECT_EQ(b.byteCount(), 24u);
    // Rows follow each other without padding, top row first.
    EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), 12);
    EXPECT_EQ(b.ScanLine(0), b.bits());
}

TEST(TBitmap32, RowOutsideThePictureIsAnError)
{
    TBitmap32 b(4, 3);
    EXPECT_NO_THROW(b.ScanLine(2));
    EXPECT_THROW(b.ScanLine(3), ScanLineError);
    EXPECT_THROW(b.ScanLine(-1), ScanLineError);
    try {
        b.ScanLine(3);
    } catch (const ScanLineError& e) {
        EXPECT_STREQ(e.what(), "Scan line index out of range");
    }
    const TBitmap32 empty;
    EXPECT_THROW(empty.ScanLine(0), ScanLineError);
}

TEST(TBitmap32, CopiesAreIndependentAndMovesEmptyTheSource)
{
    TBitmap32 a = test::randomPicture(5, 4, 1);
    TBitmap32 b = a;
    EXPECT_EQ(a, b);
    b.bits()[7] ^= 1;
    EXPECT_FALSE(a == b);
    b = a;
    EXPECT_EQ(a, b);
    TBitmap32 c = std::move(b);
    EXPECT_EQ(c, a);
    EXPECT_TRUE(b.empty());
}

// Blocks of 8 MiB and more are taken another way (aligned for huge pages):
// small and large blocks must pass between pictures and be freed alike.
TEST(TBitmap32, LargeAndSmallBlocksMixFreely)
{
    TBitmap32 large = test::randomPicture(2100, 1001, 2);  // just over 8 MiB
    TBitmap32 small = test::randomPicture(30, 20, 3);
    TBitmap32 copy = large;
    EXPECT_EQ(copy, large);
    copy.bits()[copy.byteCount() - 1] ^= 1;  // the last byte is the picture's own
    EXPECT_FALSE(copy == large);
    copy = small;  // a large block replaced by a small one
    EXPECT_EQ(copy, small);
    small = std::move(large);  // and the other way
    EXPECT_EQ(small.width(), 2100);
    copy.setSize(2100, 1001);
    copy = small;
    EXPECT_EQ(copy, small);
}

TEST(TBitmap32, AFreedLargeBlockServesTheNextPictureOfItsSize)
{
    // 8 MiB and more: the size every effect result and history step of a
    // photograph has. A block the system hands out afresh costs a zeroed
    // page per page, so the last freed ones are kept for the next picture.
    const std::uint8_t* first = nullptr;
    {
        TBitmap32 a(2048, 1100);
        first = a.bits();
    }
    TBitmap32 b(2048, 1100);
    EXPECT_EQ(b.bits(), first);
    // Its pixels are the new picture's to write, and a copy into it is whole.
    TBitmap32 c(2048, 1100);
    std::memset(c.bits(), 0x5A, c.byteCount());
    b = c;
    EXPECT_EQ(b, c);
}

TEST(TBitmap32, AbsurdSizesAreRefusedBeforeAllocation)
{
    EXPECT_THROW(TBitmap32(1 << 20, 1 << 20), ImageTooLargeError);
    EXPECT_THROW(TBitmap32(-1, 5), ImageTooLargeError);
    EXPECT_THROW(checkPictureSize(kMaxPixels + 1, 1), ImageTooLargeError);
    EXPECT_NO_THROW(checkPictureSize(kMaxPixels, 1));
    TBitmap32 kept(2, 2);
    EXPECT_THROW(kept.setSize(1 << 30, 2), ImageTooLargeError);
    EXPECT_EQ(kept.width(), 2);  // a refused size changes nothing
}

TEST(TBitmap32, QImageWrapsTheBufferWithoutCopying)
{
    TBitmap32 b(3, 2);
    setPixel(b, 2, 1, 0xFF102030);  // blue 0x30, green 0x20, red 0x10
    const QImage view(b.bits(), b.width(), b.height(), qsizetype(b.bytesPerLine()), QImage::Format_RGB32);
    EXPECT_EQ(view.constBits(), b.bits());
    EXPECT_EQ(view.pixel(2, 1), 0xFF102030u);
    EXPECT_EQ(qRed(view.pixel(2, 1)), 0x10);
    EXPECT_EQ(qBlue(view.pixel(2, 1)), 0x30);
}

TEST(FillAlpha, SetsOnlyTheFourthByte)
{
    TBitmap32 b = test::randomPicture(7, 5, 2);
    const TBitmap32 before = b;
    FillAlpha(b, 255);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(pixelAt(b, x, y) >> 24, 255u);
            EXPECT_EQ(pixelAt(b, x, y) & 0xFFFFFF, pixelAt(before, x, y) & 0xFFFFFF);
        }
}

std::uint32_t blend(std::uint32_t d, std::uint32_t s)
{
    TBitmap32 px(1, 1);
    setPixel(px, 0, 0, d);
    std::uint8_t src[4] = {std::uint8_t(s), std::uint8_t(s >> 8), std::uint8_t(s >> 16), std::uint8_t(s >> 24)};
    BlendPixel(px.bits(), src);
    return pixelAt(px, 0, 0);
}

TEST(BlendPixel, FollowsTheFourCasesInOrder)
{
    // Transparent over transparent: transparent white, whatever the colours.
    EXPECT_EQ(blend(0x00123456, 0x00654321), 0x00FFFFFFu);
    // A transparent source keeps the destination.
    EXPECT_EQ(blend(0x80123456, 0x00654321), 0x80123456u);
    // A transparent destination or an opaque source takes the source.
    EXPECT_EQ(blend(0x00123456, 0x40654321), 0x40654321u);
    EXPECT_EQ(blend(0x80123456, 0xFF654321), 0xFF654321u);
}

TEST(BlendPixel, HalfTransparentOverOpaqueUsesIntegerDivision)
{
    // f = 255*128 + 255*255 - 128*255 = 65025; fourth byte f div 255 = 255;
    // each channel (d*255*127 + s*128*255) div 65025.
    const int d[3] = {10, 200, 255};
    const int s[3] = {250, 3, 0};
    const std::uint32_t result =
        blend(0xFF000000 | std::uint32_t(d[2]) << 16 | std::uint32_t(d[1]) << 8 | std::uint32_t(d[0]),
              0x80000000 | std::uint32_t(s[2]) << 16 | std::uint32_t(s[1]) << 8 | std::uint32_t(s[0]));
    EXPECT_EQ(result >> 24, 255u);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(int((result >> (8 * c)) & 0xFF), (d[c] * 255 * 127 + s[c] * 128 * 255) / 65025) << "channel " << c;
    // 10*255*127 + 250*128*255 = 8484850; div 65025 = 130 (130.48 truncated).
    EXPECT_EQ(result & 0xFF, 130u);
}

TEST(BlendPixel, PartialOverPartialCombinesAlpha)
{
    // sa = 100, da = 50: f = 25500 + 12750 - 5000 = 33250, fourth byte 130.
    const std::uint32_t r = blend(0x32000000 | 200, 0x64000000 | 100);
    EXPECT_EQ(r >> 24, 130u);
    EXPECT_EQ(r & 0xFF, std::uint32_t((200 * 50 * 155 + 100 * 100 * 255) / 33250));
}

TEST(DrawTo, TouchesOnlyTheOverlap)
{
    const TBitmap32 target0 = test::uniformPicture(4, 3, 1, 2, 3, 255);
    const TBitmap32 source = test::uniformPicture(3, 2, 9, 8, 7, 255);

    auto drawn = [&](int x, int y) {
        TBitmap32 target = target0;
        source.DrawTo(x, y, target);
        return target;
    };
    const std::uint32_t old = pixelAt(target0, 0, 0);
    const std::uint32_t put = pixelAt(source, 0, 0);

    // Hanging over the top-left corner: only (0..1, 0) is covered.
    TBitmap32 t = drawn(-1, -1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(t, x, y), (y == 0 && x <= 1) ? put : old) << x << "," << y;

    // Hanging over the bottom-right corner.
    t = drawn(3, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(t, x, y), (y == 2 && x == 3) ? put : old) << x << "," << y;

    // No overlap at all, including positions where x + width overflows.
    EXPECT_EQ(drawn(4, 0), target0);
    EXPECT_EQ(drawn(0, -2), target0);
    EXPECT_EQ(drawn(2147483647, 0), target0);
    EXPECT_EQ(drawn(-2147483647 - 1, 0), target0);
}

TEST(DrawTo, ReadsTheSourcePixelOffsetByThePosition)
{
    const TBitmap32 source = test::randomPicture(3, 3, 5);
    TBitmap32 opaque = source;
    FillAlpha(opaque, 255);
    TBitmap32 target = test::uniformPicture(3, 3, 0, 0, 0, 255);
    opaque.DrawTo(1, 1, target);
    EXPECT_EQ(pixelAt(target, 1, 1), pixelAt(opaque, 0, 0));
    EXPECT_EQ(pixelAt(target, 2, 2), pixelAt(opaque, 1, 1));
    EXPECT_EQ(pixelAt(target, 2, 1), pixelAt(opaque, 1, 0));
}

}  // namespace
}  // namespace plumora

namespace plumora {
namespace {

// The pool of freed blocks, from an empty pool with a bound of its own.
class FreedBlocks : public ::testing::Test {
protected:
    static constexpr std::size_t kMiB = std::size_t(1) << 20;
    void SetUp() override
    {
        releaseFreedBlocks();
        m_limitBefore = setFreedBlockLimit(4 * kMiB);
    }
    void TearDown() override
    {
        releaseFreedBlocks();
        setFreedBlockLimit(m_limitBefore);
    }
    // What happened since the last call.
    std::uint64_t freshSince()
    {
        const std::uint64_t now = freedBlockCounts().fresh;
        return now - std::exchange(m_fresh, now);
    }
    std::size_t m_limitBefore = 0;
    std::uint64_t m_fresh = freedBlockCounts().fresh;
};

TEST_F(FreedBlocks, BlocksOfSeveralSizesAreKeptTogether)
{
    const std::uint8_t* a = nullptr;
    const std::uint8_t* b = nullptr;
    {
        TBitmap32 one(512, 512);  // 1 MiB
        TBitmap32 other(600, 400);
        a = one.bits();
        b = other.bits();
    }
    EXPECT_EQ(freedBlockCounts().blocks, 2);
    freshSince();
    // Each size finds its own, whichever came first: a request of another
    // size no longer sends the others back.
    const TBitmap32 other(400, 600);  // the same pixel count, the same block
    const TBitmap32 one(512, 512);
    EXPECT_EQ(other.bits(), b);
    EXPECT_EQ(one.bits(), a);
    EXPECT_EQ(freshSince(), 0u);
    EXPECT_EQ(freedBlockCounts().blocks, 0);
}

TEST_F(FreedBlocks, AsManyOfOneSizeAsTheWorkFreedAreKept)
{
    {
        TBitmap32 pictures[3] = {TBitmap32(512, 256), TBitmap32(512, 256), TBitmap32(512, 256)};
    }
    EXPECT_EQ(freedBlockCounts().blocks, 3);
    freshSince();
    const TBitmap32 again[3] = {TBitmap32(512, 256), TBitmap32(512, 256), TBitmap32(512, 256)};
    EXPECT_EQ(freshSince(), 0u);
}

TEST_F(FreedBlocks, TheBoundIsNeverPassedAndTheOldestGoFirst)
{
    {
        TBitmap32 oldest(512, 512);  // 1 MiB
        TBitmap32 middle(512, 500);
        TBitmap32 newest(512, 510);
        TBitmap32 last(512, 560);  // the four make 4.07 MiB, over the 4 MiB
        oldest = TBitmap32();
        middle = TBitmap32();
        newest = TBitmap32();
    }
    EXPECT_LE(freedBlockCounts().bytes, 4 * kMiB);
    EXPECT_EQ(freedBlockCounts().blocks, 3);
    freshSince();
    const TBitmap32 kept[3] = {TBitmap32(512, 500), TBitmap32(512, 510), TBitmap32(512, 560)};
    EXPECT_EQ(freshSince(), 0u);
    const TBitmap32 gone(512, 512);
    EXPECT_EQ(freshSince(), 1u);
}

TEST_F(FreedBlocks, ANewSizeMakesRoomBeforeTheSystemIsAsked)
{
    {
        TBitmap32 a(512, 700);
        TBitmap32 b(512, 701);
        a = TBitmap32();  // freed first, so the older
    }
    ASSERT_EQ(freedBlockCounts().blocks, 2);  // 2.7 MiB
    freshSince();
    // 2 MiB more would pass the bound: the older block goes first, so what
    // is kept and what is in use never grow past it together.
    const TBitmap32 c(512, 1024);
    EXPECT_EQ(freedBlockCounts().blocks, 1);
    EXPECT_LE(freedBlockCounts().bytes + c.byteCount(), 4 * kMiB);
    const TBitmap32 b(512, 701);
    EXPECT_EQ(freshSince(), 1u);  // c only
}

TEST_F(FreedBlocks, BlocksLargerThanTheBoundAndSmallBlocksAreNotKept)
{
    {
        TBitmap32 large(1024, 1025);
    }  // just over 4 MiB
    {
        TBitmap32 small(100, 100);
    }  // 40 KB: the heap's own
    EXPECT_EQ(freedBlockCounts().blocks, 0);
    EXPECT_EQ(freedBlockCounts().bytes, 0u);
}

TEST_F(FreedBlocks, ALowerBoundAndAReleaseGiveBlocksBack)
{
    {
        TBitmap32 a(512, 512);
        TBitmap32 b(512, 600);
        a = TBitmap32();
    }
    setFreedBlockLimit(kMiB + kMiB / 2);
    EXPECT_EQ(freedBlockCounts().blocks, 1);  // the newer one
    EXPECT_GE(releaseFreedBlocks(), 600u * 512 * 4);
    EXPECT_EQ(freedBlockCounts().blocks, 0);
    EXPECT_EQ(releaseFreedBlocks(), 0u);
}

TEST_F(FreedBlocks, WorkingPlanesComeFromThePoolToo)
{
    {
        const PixelBlock plane = takePixelBlock(std::size_t(1) << 20);
    }
    freshSince();
    const PixelBlock again = takePixelBlock(std::size_t(1) << 20);
    EXPECT_EQ(freshSince(), 0u);
    EXPECT_EQ(freedBlockCounts().blocks, 0);
}

}  // namespace
}  // namespace plumora
