#include "formats/gif.h"

#include "raster/errors.h"

#include <QImage>
#include <QImageReader>
#include <gif_lib.h>
#include "support/block_watch.h"
#include "support/gif_writer.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Argb = std::vector<std::uint32_t>;  // 0xAARRGGBB a pixel, AA the fourth byte, rows top-down

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;
constexpr std::uint32_t kOpaque = 0xFF000000;

using test::Frame;
using test::makeGif;

using test::Decoded;

Decoded decode(const Bytes& file)
{
    return test::decoded(decodeGif(file.data(), file.size()));
}

// Two pictures on a 2x2 screen, the first with transparent index 1.
Bytes animation(std::vector<std::uint32_t> firstPalette = {}, bool interlaced = false)
{
    return makeGif(2, 2, {kRed, kGreen, kBlue, kWhite}, 0,
                   {Frame{2, 2, {0, 1, 2, 3}, std::move(firstPalette), 1, interlaced},
                    Frame{2, 2, {3, 3, 3, 3}, {0x123456, 0x654321}}});
}

// ---- what is drawn ----

TEST(GifDecode, OnlyTheFirstPictureIsShownWithItsOwnControlBlock)
{
    const std::vector<std::uint32_t> palette{kRed, kGreen, kBlue, kWhite};
    const Frame first{2, 2, {0, 1, 2, 3}};
    const Argb opaque{kOpaque | kRed, kOpaque | kGreen, kOpaque | kBlue, kOpaque | kWhite};
    EXPECT_EQ(decode(makeGif(2, 2, palette, 0, {first, Frame{2, 2, {3, 3, 3, 3}}})).pixels, opaque);
    // A control block before the second picture does not apply to the first.
    EXPECT_EQ(decode(makeGif(2, 2, palette, 0, {first, Frame{2, 2, {3, 3, 3, 3}, {}, 0}})).pixels, opaque);
}

TEST(GifDecode, ALocalPaletteReplacesTheGlobalOne)
{
    const Bytes file = makeGif(2, 1, {kRed, kGreen}, 0, {Frame{2, 1, {1, 0}, {0x123456, 0x654321}}});
    EXPECT_EQ(decode(file).pixels, (Argb{kOpaque | 0x654321, kOpaque | 0x123456}));
}

TEST(GifDecode, TheTransparentIndexShowsTheBackgroundWithFourthByteZero)
{
    const Bytes file = makeGif(3, 1, {kRed, kGreen, kBlue, kWhite}, 2, {Frame{3, 1, {0, 1, 3}, {}, 1}});
    EXPECT_EQ(decode(file).pixels, (Argb{kOpaque | kRed, kBlue, kOpaque | kWhite}));
}

TEST(GifDecode, InterlacedRowsAreReorderedIntoPlace)
{
    // Row y has index y, so any row out of place shows; 11 rows reach all four passes.
    std::vector<std::uint32_t> greys;
    Frame f{1, 11};
    f.interlaced = true;
    Argb expected;
    for (int y = 0; y < 16; ++y) {
        greys.push_back(std::uint32_t(y * 0x0F0F0F));
        if (y < 11) {
            f.indexes.push_back(std::uint8_t(y));
            expected.push_back(kOpaque | greys.back());
        }
    }
    EXPECT_EQ(decode(makeGif(1, 11, greys, 0, {f})), (Decoded{1, 11, expected}));
}

TEST(GifDecode, ThePictureSitsAtItsPlaceOnTheBackground)
{
    const std::uint32_t bg = kWhite;  // fourth byte 0
    Frame f{2, 1, {0, 1}};
    f.left = f.top = 1;
    EXPECT_EQ(decode(makeGif(4, 3, {kRed, kGreen, kBlue, kWhite}, 3, {f})),
              (Decoded{4, 3, {bg, bg, bg, bg, bg, kOpaque | kRed, kOpaque | kGreen, bg, bg, bg, bg, bg}}));
    // A screen too small for the picture grows to hold it at its place.
    Frame wide{2, 2, {0, 0, 0, 0}};
    wide.left = 1;
    const std::uint32_t r = kOpaque | kRed;
    EXPECT_EQ(decode(makeGif(2, 1, {kRed, kGreen}, 1, {wide})), (Decoded{3, 2, {kGreen, r, r, kGreen, r, r}}));
    // Without a global palette the background is black.
    Frame local{1, 1, {1}, {kRed, kGreen}};
    local.left = 1;
    EXPECT_EQ(decode(makeGif(3, 1, {}, 0, {local})).pixels, (Argb{0, kOpaque | kGreen, 0}));
}

TEST(GifDecode, IndexesPastThePaletteAreOpaqueBlack)
{
    // Written with 4 colours, then the table cut to 2 in the file: the
    // picture's data still holds indexes 2 and 3.
    Bytes file = makeGif(4, 1, {kRed, kGreen, kBlue, kWhite}, 0, {Frame{4, 1, {0, 1, 2, 3}}});
    ASSERT_EQ(file[10] & 0x87, 0x81);  // a global table of 2^(1+1) entries
    file[10] &= ~0x07;
    file.erase(file.begin() + 13 + 6, file.begin() + 13 + 12);
    EXPECT_EQ(decode(file).pixels, (Argb{kOpaque | kRed, kOpaque | kGreen, kOpaque, kOpaque}));
}

// ---- damaged and hostile files ----

TEST(GifHostile, EveryTruncationThrowsOrGivesTheFirstPicture)
{
    const Bytes file = animation({0x102030, 0x405060, 0x708090, 0xA0B0C0}, true);
    const Decoded whole = decode(file);
    ASSERT_EQ(whole.pixels, (Argb{kOpaque | 0x102030, kRed, kOpaque | 0x708090, kOpaque | 0xA0B0C0}));
    int decoded = 0;
    for (std::size_t n = 0; n < file.size(); ++n) {
        try {
            EXPECT_EQ(decode(Bytes(file.begin(), file.begin() + std::ptrdiff_t(n))), whole) << n;
            ++decoded;
        } catch (const PlumoraError& e) {
            EXPECT_NE(std::string(e.what()).find("The GIF file"), std::string::npos) << n << ": " << e.what();
        }
    }
    EXPECT_GT(decoded, 10);  // cut anywhere in the second picture, the first still shows
}

TEST(GifHostile, RandomDamageNeverEscapesAsAnotherError)
{
    const Bytes original = animation();
    std::mt19937 random(7321);
    for (int round = 0; round < 3000; ++round) {
        Bytes file = original;
        for (int i = 0, changes = 1 + int(random() % 4); i < changes; ++i) {
            // The screen size (bytes 6 to 9) is left alone: any value there is
            // valid, and a large one only costs a large canvas, which would
            // make this test slow, not stronger.
            const std::size_t at = random() % file.size();
            if (at < 6 || at > 9)
                file[at] = std::uint8_t(random());
        }
        try {
            decode(file);
        } catch (const PlumoraError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "round " << round << ": " << e.what();
        }
    }
}

TEST(GifHostile, FilesWithoutAPictureOrNotGifAreRefused)
{
    try {
        decode(makeGif(1, 1, {}, 0, {}));
        ADD_FAILURE() << "accepted";
    } catch (const PlumoraError& e) {
        EXPECT_STREQ(e.what(), "The GIF file holds no picture.");
    }
    try {
        decode({'G', 'I', 'F', '8', '0', 'a', 1, 0, 1, 0, 0, 0, 0});
        ADD_FAILURE() << "accepted";
    } catch (const PlumoraError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("The GIF file cannot be read: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(decodeGif(nullptr, 0), PlumoraError);
}

TEST(GifHostile, HugeSizesAreRefusedBeforeAllocating)
{
    const struct {
        const char* name;
        int screenWidth, screenHeight, left, width, height;
    } cases[] = {
        {"huge screen", 65535, 65535, 0, 1, 1},
        {"huge picture", 1, 1, 0, 65535, 65535},
        // The screen alone is allowed; the picture placed at x 65535 makes the canvas too wide.
        {"picture placed far right", 16384, 16384, 65535, 1, 1},
    };
    for (const auto& c : cases) {
        Bytes file = makeGif(c.screenWidth, c.screenHeight, {kRed, kGreen}, 0, {Frame{1, 1, {0}}});
        // The descriptor follows the 13-byte header and the 6-byte table.
        ASSERT_EQ(file[19], 0x2C) << c.name;
        for (int i = 0; i < 2; ++i) {
            file[std::size_t(20 + i)] = std::uint8_t(c.left >> 8 * i);
            file[std::size_t(24 + i)] = std::uint8_t(c.width >> 8 * i);
            file[std::size_t(26 + i)] = std::uint8_t(c.height >> 8 * i);
        }
        test::largestBlock = 0;
        EXPECT_THROW(decodeGif(file.data(), file.size()), ImageTooLargeError) << c.name;
        EXPECT_LT(test::largestBlock.load(), std::size_t(1) << 20) << c.name;
    }
    // The watch sees large pixel blocks, which are taken another way (freed
    // blocks kept for reuse are not taken anew, so none is kept here).
    releaseFreedBlocks();
    test::largestBlock = 0;
    const TBitmap32 large[3] = {TBitmap32(2100, 1001), TBitmap32(2100, 1001), TBitmap32(2100, 1001)};
    EXPECT_GE(test::largestBlock.load(), large[0].byteCount());

    // 16384 x 16384 is within our limit, but the file holds a single row of data.
    Bytes file = makeGif(1, 1, {kRed, kGreen}, 0, {Frame{16384, 1, std::vector<std::uint8_t>(16384, 1)}});
    file[27] = 0x40;
    test::largestBlock = 0;
    EXPECT_THROW(decodeGif(file.data(), file.size()), PlumoraError);
    EXPECT_LT(test::largestBlock.load(), std::size_t(1) << 20);
}

TEST(GifHostile, AScreenFarLargerThanItsPictureIsRefusedBeforeAllocating)
{
    // One pixel on a screen of 17664 x 15104, within our limit: 35 bytes
    // that asked for a gigabyte of background.
    const Bytes tiny = makeGif(17664, 15104, {kRed, kGreen}, 0, {Frame{1, 1, {1}}});
    EXPECT_LT(tiny.size(), 64u);
    test::largestBlock = 0;
    try {
        decodeGif(tiny.data(), tiny.size());
        ADD_FAILURE() << "accepted";
    } catch (const PlumoraError& e) {
        EXPECT_STREQ(e.what(), "The GIF file cannot be read: its picture of 1 x 1 pixels covers too little of its "
                               "screen of 17664 x 15104.");
    }
    EXPECT_LT(test::largestBlock.load(), std::size_t(1) << 20);
    // Placed far off a small screen, it would make the same canvas.
    Frame far{1, 1, {1}};
    far.left = 17663;
    far.top = 15103;
    const Bytes placed = makeGif(1, 1, {kRed, kGreen}, 0, {far});
    EXPECT_THROW(decodeGif(placed.data(), placed.size()), PlumoraError);
}

TEST(GifDecode, APictureSmallerThanItsScreenIsReadWhenItCoversEnough)
{
    // On a screen of up to 4096 x 4096, any picture: here one pixel.
    Frame dot{1, 1, {1}};
    dot.left = 4095;
    dot.top = 4095;
    const Bytes file = makeGif(4096, 4096, {kRed, kGreen, kBlue, kWhite}, 2, {dot});
    TBitmap32 p = decodeGif(file.data(), file.size());
    ASSERT_EQ(p.width(), 4096);
    ASSERT_EQ(p.height(), 4096);
    EXPECT_EQ(test::pixelAt(p, 0, 0), kBlue);
    EXPECT_EQ(test::pixelAt(p, 4095, 4095), kOpaque | kGreen);
    // On a larger screen, a picture covering a sixteenth of it and no less.
    for (const int width : {1025, 1024}) {
        Frame part{width, 1024, std::vector<std::uint8_t>(std::size_t(width) * 1024, 1)};
        part.left = 4097 - width;
        const Bytes f = makeGif(4097, 4097, {kRed, kGreen, kBlue, kWhite}, 2, {part});
        if (width == 1024) {
            EXPECT_THROW(decodeGif(f.data(), f.size()), PlumoraError);
            continue;
        }
        p = decodeGif(f.data(), f.size());
        ASSERT_EQ(p.width(), 4097);
        EXPECT_EQ(test::pixelAt(p, 0, 0), kBlue);
        EXPECT_EQ(test::pixelAt(p, 4096, 1023), kOpaque | kGreen);
        EXPECT_EQ(test::pixelAt(p, 3072, 0), kOpaque | kGreen);
        EXPECT_EQ(test::pixelAt(p, 3071, 0), kBlue);
        EXPECT_EQ(test::pixelAt(p, 3072, 1024), kBlue);
    }
}

TEST(GifHostile, APictureWithoutRowsOrColumnsIsRefused)
{
    // A picture 0 pixels high (or wide) on a 32 x 32 screen, its data cut
    // short and no trailer: nothing of it can be shown, and the screen alone
    // is not the picture the file was meant to hold.
    const Bytes whole = makeGif(32, 32, {kRed, kGreen}, 0, {Frame{4, 2, {0, 1, 1, 0, 1, 0, 0, 1}}});
    ASSERT_EQ(whole[19], 0x2C);
    for (const bool high : {true, false}) {
        Bytes file(whole.begin(), whole.begin() + 19 + 10 + 2);  // descriptor, code size and a block's length
        file[std::size_t(high ? 26 : 24)] = 0;
        try {
            decode(file);
            ADD_FAILURE() << "accepted";
        } catch (const PlumoraError& e) {
            EXPECT_STREQ(e.what(), high ? "The GIF file cannot be read: its picture is 0 pixels high."
                                        : "The GIF file cannot be read: its picture is 0 pixels wide.");
        }
    }
}

// ---- LZW code sizes giflib does not take ----

// A GIF file of one picture on a screen of its size, with a 4-colour table,
// whose pixel data is the given codes at the given widths: `lzw` holds
// (code, width) pairs, written low bits first in sub-blocks of 255 bytes.
Bytes gifWithCodes(int width, int height, int codeSize, const std::vector<std::pair<int, int>>& lzw)
{
    Bytes f = {'G',
               'I',
               'F',
               '8',
               '9',
               'a',
               std::uint8_t(width),
               std::uint8_t(width >> 8),
               std::uint8_t(height),
               std::uint8_t(height >> 8),
               0x81,
               0,
               0};
    for (std::uint32_t c : {kRed, kGreen, kBlue, kWhite})
        f.insert(f.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
    f.insert(f.end(), {0x2C, 0, 0, 0, 0, std::uint8_t(width), std::uint8_t(width >> 8), std::uint8_t(height),
                       std::uint8_t(height >> 8), 0, std::uint8_t(codeSize)});
    Bytes data;
    std::uint32_t bits = 0;
    int count = 0;
    for (auto [code, w] : lzw) {
        bits |= std::uint32_t(code) << count;
        for (count += w; count >= 8; count -= 8, bits >>= 8)
            data.push_back(std::uint8_t(bits));
    }
    if (count > 0)
        data.push_back(std::uint8_t(bits));
    for (std::size_t i = 0; i < data.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - i);
        f.push_back(std::uint8_t(n));
        f.insert(f.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
    }
    f.insert(f.end(), {0, 0x3B});
    return f;
}

// The codes of pixels written one literal code each (as some encoders do),
// with the code width growing as the decoder's table grows, up to 12 bits,
// where the table stays full.
std::vector<std::pair<int, int>> literalCodes(int codeSize, const std::vector<int>& pixels)
{
    const int clear = 1 << codeSize;
    int width = codeSize + 1, next = clear + 2;
    std::vector<std::pair<int, int>> codes = {{clear, width}};
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        codes.push_back({pixels[i], width});
        if (i > 0 && next < 4096 && ++next == 1 << width && width < 12)
            ++width;
    }
    codes.push_back({clear + 1, width});
    return codes;
}

TEST(GifDecode, CodeSizesAboveEightAreRead)
{
    const std::uint32_t palette[4] = {kRed, kGreen, kBlue, kWhite};
    // Code size 11: every code 12 bits. A table code (2050, "1 2") and a code
    // for the entry being made (2053, "3 3"), then the end.
    const Bytes small =
        gifWithCodes(7, 1, 11, {{2048, 12}, {1, 12}, {2, 12}, {2050, 12}, {3, 12}, {2053, 12}, {2049, 12}});
    Argb expected;
    for (int i : {1, 2, 1, 2, 3, 3, 3})
        expected.push_back(kOpaque | palette[i]);
    EXPECT_EQ(decode(small), (Decoded{7, 1, expected}));

    // Enough codes for the width to grow from 10 bits (code size 9) and the
    // table to fill (code size 11); indexes past the 4 colours are black.
    for (int codeSize : {9, 10, 11}) {
        std::vector<int> pixels;
        expected.clear();
        for (int i = 0; i < 60 * 60; ++i) {
            pixels.push_back(i * 7 % (1 << codeSize) % 300);
            expected.push_back(kOpaque | (pixels.back() < 4 ? palette[pixels.back()] : 0));
        }
        EXPECT_EQ(decode(gifWithCodes(60, 60, codeSize, literalCodes(codeSize, pixels))), (Decoded{60, 60, expected}))
            << codeSize;
    }
}

TEST(GifHostile, DamagedWideCodesAreRefusedWithAMessage)
{
    const struct {
        const char* name;
        int codeSize;
        std::vector<std::pair<int, int>> codes;
        const char* message;
    } cases[] = {
        {"code size 12",
         12,
         {{4096, 13}, {1, 13}},
         "The GIF file cannot be read: its picture uses LZW code size 12, which is not possible."},
        {"end code too soon",
         11,
         {{2048, 12}, {1, 12}, {2049, 12}},
         "The GIF file cannot be read: its picture data ends early."},
        {"data too short", 11, {{2048, 12}, {1, 12}}, "The GIF file cannot be read: its picture data ends early."},
        {"code past the table",
         11,
         {{2048, 12}, {1, 12}, {2060, 12}},
         "The GIF file cannot be read: its picture data is damaged."},
        {"table code first", 11, {{2048, 12}, {2050, 12}}, "The GIF file cannot be read: its picture data is damaged."},
    };
    for (const auto& c : cases) {
        try {
            decode(gifWithCodes(3, 1, c.codeSize, c.codes));
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const PlumoraError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
    }
    // Cut anywhere, a file with wide codes is refused or read whole.
    std::vector<int> pixels(200, 2);
    const Bytes file = gifWithCodes(20, 10, 10, literalCodes(10, pixels));
    for (std::size_t n = 0; n < file.size(); ++n)
        try {
            EXPECT_EQ(decode(Bytes(file.begin(), file.begin() + std::ptrdiff_t(n))).pixels, Argb(200, kOpaque | kBlue));
        } catch (const PlumoraError& e) {
            EXPECT_NE(std::string(e.what()).find("The GIF file"), std::string::npos) << n << ": " << e.what();
        }
}

// ---- against an independent decoder ----

TEST(GifDecode, AgreesWithQtsGifReader)
{
    if (!QImageReader::supportedImageFormats().contains("gif"))
        GTEST_SKIP() << "Qt's GIF plugin is not installed";
    Frame interlaced{3, 9};
    interlaced.interlaced = true;
    for (int i = 0; i < 27; ++i)
        interlaced.indexes.push_back(std::uint8_t(i * 5 % 8));
    std::vector<std::uint32_t> palette;
    for (int i = 0; i < 8; ++i)
        palette.push_back(std::uint32_t(i * 0x1F2F3F) & 0xFFFFFF);
    for (const Bytes& file : {makeGif(3, 9, palette, 0, {interlaced}), animation(), animation(palette, true)}) {
        const QImage q = QImage::fromData(file.data(), int(file.size()), "GIF").convertToFormat(QImage::Format_ARGB32);
        const Decoded ours = decode(file);
        ASSERT_EQ(q.size(), QSize(ours.width, ours.height));
        for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
            const std::uint32_t mine = ours.pixels[i], theirs = q.pixel(int(i) % ours.width, int(i) / ours.width);
            if (mine >> 24 == 0)  // Qt clears the colour of transparent pixels
                EXPECT_EQ(theirs >> 24, 0u) << i;
            else
                EXPECT_EQ(mine, theirs) << i;
        }
    }
}

}  // namespace
}  // namespace plumora
