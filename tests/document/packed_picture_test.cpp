#include "document/packed_picture.h"

#include "raster/parallel.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace plumora {
namespace {

::testing::AssertionResult comesBackExactly(const TBitmap32& picture)
{
    const std::optional<PackedPicture> packed = PackedPicture::pack(picture);
    if (!packed)
        return ::testing::AssertionFailure() << "packing stopped by itself";
    const TBitmap32 back = packed->unpack();
    if (back.width() != picture.width() || back.height() != picture.height())
        return ::testing::AssertionFailure() << "came back " << back.width() << "x" << back.height() << " instead of "
                                             << picture.width() << "x" << picture.height();
    if (!(back == picture)) {
        std::size_t first = 0;
        while (back.bits()[first] == picture.bits()[first])
            ++first;
        return ::testing::AssertionFailure() << "byte " << first << " differs";
    }
    return ::testing::AssertionSuccess();
}

// Bands are about 32 rows but never under 65536 or over 4194304 pixels, so
// these cut them mid-row (1000 wide, 140000 wide), end them with a short band
// (130 and 127 rows), or give a whole picture one band.
TEST(PackedPicture, GivesBackEveryByteOfPicturesOfEveryShape)
{
    struct Shape {
        int width, height;
    };
    const Shape shapes[] = {{1, 1},      {3, 5},     {1, 100000}, {100000, 1}, {1000, 130},
                            {2000, 127}, {2000, 64}, {2000, 65},  {4097, 3},   {140000, 40}};
    for (const int threads : {1, 2, 5}) {
        setThreadCount(threads);
        for (const Shape s : shapes) {
            const std::string where = std::to_string(s.width) + "x" + std::to_string(s.height) + ", " +
                                      std::to_string(threads) + " threads, ";
            EXPECT_TRUE(comesBackExactly(test::randomPicture(s.width, s.height, 7))) << where << "noise";
            EXPECT_TRUE(comesBackExactly(test::drawing(s.width, s.height, 8))) << where << "drawing";
            EXPECT_TRUE(comesBackExactly(test::photoLike(s.width, s.height, 9))) << where << "photograph";
        }
    }
    setThreadCount(0);
}

TEST(PackedPicture, UnpacksIntoTheBlockOfAPictureOfAsManyPixels)
{
    const TBitmap32 picture = test::photoLike(300, 200, 6);
    TBitmap32 target = test::randomPicture(200, 300, 1);
    const std::uint8_t* block = target.bits();
    PackedPicture::pack(picture)->unpackInto(target);
    EXPECT_EQ(target.bits(), block);
    EXPECT_EQ(target, picture);
}

TEST(PackedPicture, KeepsTheSidesOfAnEmptyPicture)
{
    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        const TBitmap32 back = PackedPicture::pack(TBitmap32(w, h))->unpack();
        EXPECT_EQ(back.width(), w);
        EXPECT_EQ(back.height(), h);
    }
}

// What the history gains: a drawing (the sketch effects' black on white)
// shrinks to a small fraction, a photograph to less than its pixels, and
// noise, which nothing can shrink, costs hardly more than its pixels.
TEST(PackedPicture, DrawingsShrinkMostAndNoiseDoesNotGrow)
{
    const auto ratio = [](const TBitmap32& p) {
        return double(PackedPicture::pack(p)->heldBytes()) / double(p.byteCount());
    };
    EXPECT_LT(ratio(test::drawing(1200, 800, 1)), 0.125);
    EXPECT_LT(ratio(test::uniformPicture(1200, 800, 255, 255, 255, 255)), 0.01);
    EXPECT_LT(ratio(test::photoLike(1200, 800, 2)), 0.8);
    EXPECT_LT(ratio(test::randomPicture(1200, 800, 3)), 1.01);
}

TEST(PackedPicture, AsksBetweenBandsWhetherToGoOn)
{
    const TBitmap32 picture = test::photoLike(1000, 300, 4);  // 5 bands
    int asked = 0;
    EXPECT_FALSE(PackedPicture::pack(picture, [&] { return ++asked < 3; }).has_value());
    EXPECT_EQ(asked, 3);
    asked = 0;
    ASSERT_TRUE(PackedPicture::pack(picture, [&] { return ++asked > 0; }).has_value());
    EXPECT_EQ(asked, 5);
}

}  // namespace
}  // namespace plumora
