#include "formats/exif.h"

#include "formats/jpeg.h"
#include "raster/geometry.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

namespace plumora {
namespace {

using test::pixelAt;

// An APP1 body holding a first IFD with the given entries (tag, type, count,
// value), in either byte order.
std::vector<std::uint8_t> exifBlock(bool little, std::vector<std::array<unsigned, 4>> entries)
{
    std::vector<std::uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
    auto u16 = [&](unsigned v) {
        if (little)
            b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
        else
            b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    };
    auto u32 = [&](unsigned v) {
        if (little) {
            u16(v & 0xFFFF);
            u16(v >> 16);
        } else {
            u16(v >> 16);
            u16(v & 0xFFFF);
        }
    };
    b.push_back(little ? 'I' : 'M');
    b.push_back(little ? 'I' : 'M');
    u16(42);
    u32(8);
    u16(unsigned(entries.size()));
    for (const auto& [tag, type, count, value] : entries) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == 3) {  // a SHORT sits in the first half of the value field
            u16(value);
            u16(0);
        } else {
            u32(value);
        }
    }
    u32(0);
    return b;
}

TEST(ExifOrientation, FoundInEitherByteOrderAmongOtherTags)
{
    for (bool little : {true, false}) {
        const auto block = exifBlock(little, {{0x010F, 2, 4, 0}, {0x0112, 3, 1, 6}, {0x011A, 5, 1, 0}});
        EXPECT_EQ(exifOrientation(block.data(), block.size()), 6) << little;
    }
}

TEST(ExifOrientation, AnythingOddMeansUpright)
{
    const auto none = exifBlock(true, {{0x010F, 2, 4, 0}});
    EXPECT_EQ(exifOrientation(none.data(), none.size()), 1);
    const auto outOfRange = exifBlock(true, {{0x0112, 3, 1, 9}});
    EXPECT_EQ(exifOrientation(outOfRange.data(), outOfRange.size()), 1);
    const auto wrongType = exifBlock(true, {{0x0112, 4, 1, 6}});
    EXPECT_EQ(exifOrientation(wrongType.data(), wrongType.size()), 1);
    // Cut short anywhere: never read past the end, never an error.
    const auto good = exifBlock(false, {{0x0100, 3, 1, 5}, {0x0112, 3, 1, 8}});
    for (std::size_t n = 0; n < good.size(); ++n) {
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        const int o = exifOrientation(cut.data(), cut.size());
        EXPECT_TRUE(o == 1 || o == 8) << n;
    }
    // An IFD offset far past the end.
    auto lying = good;
    lying[10] = 0x7F;
    EXPECT_EQ(exifOrientation(lying.data(), lying.size()), 1);
}

TEST(OrientUpright, EachOrientationMovesPixelsAsDefined)
{
    const TBitmap32 p = test::randomPicture(5, 3, 1);
    const int W = 5, H = 3;
    // out(x, y) = p(fx(x, y), fy(x, y)) for each orientation.
    struct Case {
        int orientation;
        bool turned;
        std::function<std::pair<int, int>(int, int)> from;
    };
    const Case cases[] = {
        {1, false,
         [](int x, int y) {
             return std::pair{x, y};
         }},
        {2, false,
         [&](int x, int y) {
             return std::pair{W - 1 - x, y};
         }},
        {3, false,
         [&](int x, int y) {
             return std::pair{W - 1 - x, H - 1 - y};
         }},
        {4, false,
         [&](int x, int y) {
             return std::pair{x, H - 1 - y};
         }},
        {5, true,
         [](int x, int y) {
             return std::pair{y, x};
         }},
        {6, true,
         [&](int x, int y) {
             return std::pair{y, H - 1 - x};
         }},
        {7, true,
         [&](int x, int y) {
             return std::pair{W - 1 - y, H - 1 - x};
         }},
        {8, true,
         [&](int x, int y) {
             return std::pair{W - 1 - y, x};
         }},
    };
    for (const Case& c : cases) {
        const TBitmap32 r = orientUpright(p, c.orientation);
        ASSERT_EQ(r.width(), c.turned ? H : W) << c.orientation;
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x) {
                const auto [sx, sy] = c.from(x, y);
                ASSERT_EQ(pixelAt(r, x, y), pixelAt(p, sx, sy)) << c.orientation << " at " << x << "," << y;
            }
    }
}

TEST(ExifOrientation, APhoneJpegOpensUpright)
{
    // A picture with a bright left half, saved as a phone would after
    // holding the camera turned: orientation 6 asks for a clockwise turn.
    TBitmap32 p = test::uniformPicture(32, 16, 0, 0, 0, 255);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            test::setPixel(p, x, y, 0xFFFFFFFF);
    std::vector<std::uint8_t> jpeg = encodeJpeg(p);
    const auto block = exifBlock(false, {{0x0112, 3, 1, 6}});
    std::vector<std::uint8_t> segment = {0xFF, 0xE1, std::uint8_t((block.size() + 2) >> 8),
                                         std::uint8_t(block.size() + 2)};
    segment.insert(segment.end(), block.begin(), block.end());
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());  // right after the start marker

    const TBitmap32 opened = decodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_EQ(opened.width(), 16);
    ASSERT_EQ(opened.height(), 32);
    // The left half is now the top half.
    EXPECT_GT(pixelAt(opened, 8, 4) & 0xFF, 200u);
    EXPECT_LT(pixelAt(opened, 8, 28) & 0xFF, 50u);
}

}  // namespace
}  // namespace plumora
