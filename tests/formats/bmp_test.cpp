#include "formats/bmp.h"

#include "formats/picture_file.h"
#include "raster/errors.h"
#include "support/array_new_watch.h"
#include "support/block_watch.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <QImage>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <random>
#include <string>
#include <vector>

// Records the largest array the program asks for (see array_new_watch.h),
// so the tests can show that a hostile header is refused before the picture
// is allocated.
static std::atomic<std::size_t> g_largestArray{0};

void onArrayNew(std::size_t size)
{
    std::size_t seen = g_largestArray.load();
    while (size > seen && !g_largestArray.compare_exchange_weak(seen, size)) {
    }
}

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Argb = std::vector<std::uint32_t>;  // 0xAARRGGBB a pixel, AA the fourth byte, rows top-down

void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v);
    put16(b, v >> 16);
}

// Writes a BMP file from its fields; each can be given a wrong value.
struct BmpBuilder {
    std::uint32_t headerSize = 40;
    std::int32_t width = 3;
    std::int32_t height = 2;  // negative: top-down
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    std::vector<std::uint32_t> palette;  // 0xRRGGBB
    std::vector<std::uint32_t> masks;    // red, green, blue[, alpha]
    std::vector<Bytes> rows;             // in file order, unpadded
    Bytes rawPixels;                     // used as is (RLE)
    std::int64_t dataOffset = -1;        // -1: right after the colour table

    Bytes build() const
    {
        Bytes info;
        put32(info, headerSize);
        if (headerSize == 12) {
            put16(info, std::uint32_t(width));
            put16(info, std::uint32_t(height));
            put16(info, 1);
            put16(info, bitCount);
        } else {
            for (std::uint32_t v : {std::uint32_t(width), std::uint32_t(height)})
                put32(info, v);
            put16(info, 1);
            put16(info, bitCount);
            for (std::uint32_t v : {compression, 0u, 2835u, 2835u, coloursUsed, 0u})
                put32(info, v);
            if (headerSize >= 52 && headerSize != 64)
                for (std::size_t i = 0; i < (headerSize >= 56 ? 4u : 3u); ++i)
                    put32(info, i < masks.size() ? masks[i] : 0);
            info.resize(headerSize, 0);
            if (headerSize == 40)
                for (std::uint32_t m : masks)
                    put32(info, m);
        }
        for (std::uint32_t c : palette) {
            info.insert(info.end(), {std::uint8_t(c), std::uint8_t(c >> 8), std::uint8_t(c >> 16)});
            if (headerSize != 12)
                info.push_back(0x5A);  // the fourth byte of an entry is not alpha
        }
        Bytes pixels = rawPixels;
        for (const Bytes& row : rows) {
            pixels.insert(pixels.end(), row.begin(), row.end());
            pixels.resize(pixels.size() + (4 - row.size() % 4) % 4, 0);
        }
        Bytes file{'B', 'M'};
        put32(file, std::uint32_t(14 + info.size() + pixels.size()));
        put32(file, 0);
        put32(file, std::uint32_t(dataOffset >= 0 ? dataOffset : std::int64_t(14 + info.size())));
        file.insert(file.end(), info.begin(), info.end());
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
};

Argb argbOf(const TBitmap32& p)
{
    Argb out;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const std::uint8_t* q = p.ScanLine(y) + 4 * x;
            out.push_back(std::uint32_t(q[3]) << 24 | std::uint32_t(q[2]) << 16 | q[1] << 8 | q[0]);
        }
    return out;
}

std::string hex(const Argb& v)
{
    std::string s;
    char buf[12];
    for (std::uint32_t p : v) {
        std::snprintf(buf, sizeof buf, " %08X", p);
        s += buf;
    }
    return s;
}

::testing::AssertionResult decodesTo(const Bytes& file, int width, int height, const Argb& expected)
{
    try {
        const TBitmap32 p = decodeBmp(file.data(), file.size());
        if (p.width() != width || p.height() != height)
            return ::testing::AssertionFailure() << "size " << p.width() << "x" << p.height();
        if (argbOf(p) != expected)
            return ::testing::AssertionFailure() << "got" << hex(argbOf(p)) << "\nwanted" << hex(expected);
        return ::testing::AssertionSuccess();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "threw: " << e.what();
    }
}

// Packs palette indexes most significant bits first, as BMP rows hold them.
Bytes pack(const std::vector<int>& indexes, int bits)
{
    Bytes row((indexes.size() * bits + 7) / 8, 0);
    for (std::size_t i = 0; i < indexes.size(); ++i)
        row[i * bits / 8] |= std::uint8_t(indexes[i] << (8 - bits - int(i * bits % 8)));
    return row;
}

std::uint32_t paletteColour(int i)
{
    return std::uint32_t((i * 37 + 11) & 255) << 16 | std::uint32_t((i * 91 + 7) & 255) << 8 | ((i * 53 + 200) & 255);
}

// A decodable file with the pixels it must give.
struct Sample {
    std::string name;
    Bytes file;
    int width = 0, height = 0;
    Argb expected;
};

// An indexed picture: index (x + 2y) mod `colours`, with a table of `tableSize`
// entries; indexes past the table must come out black.
Sample indexedSample(std::uint32_t headerSize, int bits, int width, int height, int colours, int tableSize,
                     bool topDown)
{
    BmpBuilder b;
    b.headerSize = headerSize;
    b.bitCount = std::uint16_t(bits);
    b.width = width;
    b.height = topDown ? -height : height;
    for (int i = 0; i < tableSize; ++i)
        b.palette.push_back(paletteColour(i));
    if (headerSize != 12 && tableSize < (1 << bits))
        b.coloursUsed = std::uint32_t(tableSize);
    Sample s{"indexed " + std::to_string(bits) + " bits, header " + std::to_string(headerSize) +
                 (topDown ? ", top-down" : ""),
             {},
             width,
             height,
             {}};
    std::vector<Bytes> rowsTopDown;
    for (int y = 0; y < height; ++y) {
        std::vector<int> idx;
        for (int x = 0; x < width; ++x) {
            idx.push_back((x + 2 * y) % colours);
            s.expected.push_back(idx.back() < tableSize ? paletteColour(idx.back()) : 0);
        }
        rowsTopDown.push_back(pack(idx, bits));
    }
    b.rows.assign(rowsTopDown.begin(), rowsTopDown.end());
    if (!topDown)
        b.rows.assign(rowsTopDown.rbegin(), rowsTopDown.rend());
    s.file = b.build();
    return s;
}

// A direct-colour picture from rows of file pixel bytes (top-down order).
Sample directSample(std::string name, BmpBuilder b, std::vector<Bytes> rowsTopDown, Argb expected, bool topDown)
{
    const int height = int(rowsTopDown.size());
    b.width = std::int32_t(rowsTopDown[0].size() / (b.bitCount / 8u));
    b.height = topDown ? -height : height;
    b.rows.assign(rowsTopDown.begin(), rowsTopDown.end());
    if (!topDown)
        b.rows.assign(rowsTopDown.rbegin(), rowsTopDown.rend());
    return Sample{name + " header " + std::to_string(b.headerSize) + (topDown ? " top-down" : ""), b.build(), b.width,
                  height, expected};
}

BmpBuilder directBuilder(std::uint32_t headerSize, int bits, std::uint32_t compression = 0,
                         std::vector<std::uint32_t> masks = {})
{
    BmpBuilder b;
    b.headerSize = headerSize;
    b.bitCount = std::uint16_t(bits);
    b.compression = compression;
    b.masks = std::move(masks);
    return b;
}

// RLE8, 5x3, palette entry 0 not black: runs, an absolute run of 3 (padded),
// a delta and unwritten pixels, which take index 0's colour.
Sample rle8Sample()
{
    BmpBuilder b;
    b.bitCount = 8;
    b.compression = 1;
    b.width = 5;
    b.height = 3;
    b.palette = {0x336699, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};
    b.rawPixels = {3, 1, 2, 2, 0, 0,         // bottom row: 1 1 1 2 2, end of line
                   0, 3, 3, 4, 5, 0,         // absolute 3 4 5 + padding
                   0, 2, 1, 1, 1, 3, 0, 1};  // delta (+1, +1), one 3, end of picture
    const std::uint32_t o = 0x336699, r = 0xFF0000, g = 0x00FF00, bl = 0x0000FF, w = 0xFFFFFF, gr = 0x808080;
    return Sample{"RLE8", b.build(), 5, 3, {o, o, o, o, bl, bl, w, gr, o, o, r, r, r, g, g}};
}

// RLE4, 5x2: an alternating run and an absolute run of 5 nibbles (3 bytes, padded).
Sample rle4Sample()
{
    BmpBuilder b;
    b.bitCount = 4;
    b.compression = 2;
    b.width = 5;
    b.height = 2;
    for (int i = 0; i < 8; ++i)
        b.palette.push_back(paletteColour(i));
    b.rawPixels = {5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 1};
    Argb e;
    for (int i : {3, 4, 5, 6, 7, 1, 2, 1, 2, 1})
        e.push_back(paletteColour(i));
    return Sample{"RLE4", b.build(), 5, 2, e};
}

std::vector<Sample> gallery()
{
    std::vector<Sample> all;
    for (std::uint32_t hs : {12u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        for (bool topDown : {false, true}) {
            if (hs == 12 && topDown)
                continue;  // 16-bit unsigned sizes: always bottom-up
            all.push_back(indexedSample(hs, 1, 11, 3, 2, 2, topDown));
            all.push_back(indexedSample(hs, 4, 5, 3, 16, 16, topDown));
            all.push_back(indexedSample(hs, 8, 3, 2, 7, 7, topDown));
            all.push_back(directSample("24-bit", directBuilder(hs, 24),
                                       {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF}},
                                       {0x030201, 0x060504, 0x090807, 0x0000FF, 0x00FF00, 0xFF0000}, topDown));
            if (hs == 12)
                continue;
            // 5-5-5 fields 1, 15, 16, 31 give 8, 123, 132, 255; the top bit is unused.
            all.push_back(directSample("16-bit default", directBuilder(hs, 16),
                                       {{0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {0x0F, 0x42, 0x21, 0x84, 0xFF, 0xFF}},
                                       {0xFF0000, 0x00FF00, 0x0000FF, 0x84847B, 0x080808, 0xFFFFFF}, topDown));
            // The fourth byte of a 32-bit file without bitfields is not alpha.
            all.push_back(
                directSample("32-bit default", directBuilder(hs, 32),
                             {{1, 2, 3, 0xFF, 4, 5, 6, 0x80, 7, 8, 9, 0}, {9, 8, 7, 1, 0, 0, 0, 0, 1, 1, 1, 1}},
                             {0x030201, 0x060504, 0x090807, 0x070809, 0, 0x010101}, topDown));
        }
    }
    for (std::uint32_t hs : {40u, 52u, 56u, 108u, 124u}) {
        // 5-6-5: green 32 of 63 gives 130, 1 gives 4. An alpha mask of a 16-bit file is ignored.
        all.push_back(directSample("16-bit 5-6-5", directBuilder(hs, 16, 3, {0xF800, 0x07E0, 0x001F, 0xFF000000}),
                                   {{0x00, 0xF8, 0x00, 0x04, 0x20, 0x00}, {0x1F, 0x00, 0xFF, 0xFF, 0x00, 0x00}},
                                   {0xFF0000, 0x008200, 0x000400, 0x0000FF, 0xFFFFFF, 0}, false));
    }
    // 32-bit with masks but no alpha mask: the fourth byte is 0 whatever the file holds.
    all.push_back(directSample("32-bit bitfields red low", directBuilder(40, 32, 3, {0xFF, 0xFF00, 0xFF0000}),
                               {{1, 2, 3, 0x77}}, {0x010203}, false));
    // 10-10-10-2 with alpha: red 1023, green 512, blue 3, alpha 2 -> 255, 128, 1, 170.
    for (std::uint32_t hs : {56u, 108u, 124u})
        all.push_back(
            directSample("32-bit 10-10-10-2", directBuilder(hs, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}),
                         {{0x03, 0x00, 0xF8, 0xBF}, {0x00, 0x00, 0x00, 0x40}}, {0xAAFF8001, 0x55000000}, false));
    all.push_back(directSample("32-bit alpha bitfields", directBuilder(40, 32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
                               {{1, 2, 3, 4, 5, 6, 7, 0}}, {0x04030201, 0x00070605}, false));
    // A 17-bit field (computed, not tabled): 0x10000 of 0x1FFFF gives 128; an
    // all-ones 15-bit field gives 255.
    all.push_back(directSample("32-bit wide masks", directBuilder(40, 32, 3, {0xFFFE0000, 0, 0x1FFFF}),
                               {{0x00, 0x00, 0x01, 0x00}, {0x00, 0x00, 0xFE, 0xFF}}, {0x000080, 0xFF0000}, false));
    // Masks inside a V5 header are not used without bitfields compression.
    all.push_back(directSample("32-bit V5 masks unused",
                               directBuilder(124, 32, 0, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}), {{1, 2, 3, 4}},
                               {0x030201}, false));
    // A 24-bit file may carry a colour table (a hint for 256-colour displays): it changes nothing.
    for (std::uint32_t colours : {16u, 256u}) {
        BmpBuilder b = directBuilder(40, 24);
        b.coloursUsed = colours;
        for (std::uint32_t i = 0; i < colours; ++i)
            b.palette.push_back(paletteColour(int(i)));
        all.push_back(directSample("24-bit with " + std::to_string(colours) + " colours", b, {{1, 2, 3, 4, 5, 6}},
                                   {0x030201, 0x060504}, false));
    }
    // Short tables: clrUsed below the depth, and a core header whose table ends at the pixel data.
    all.push_back(indexedSample(40, 8, 3, 2, 7, 4, false));
    all.push_back(indexedSample(12, 4, 5, 3, 16, 5, false));
    all.push_back(rle8Sample());
    all.push_back(rle4Sample());
    return all;
}

// ---- decoding ----

TEST(BmpDecode, EveryDepthAndHeaderGivesTheExpectedPixels)
{
    for (const Sample& s : gallery())
        EXPECT_TRUE(decodesTo(s.file, s.width, s.height, s.expected)) << s.name;
}

TEST(BmpDecode, OneBitRowsAreReadMostSignificantBitFirst)
{
    BmpBuilder b;
    b.bitCount = 1;
    b.width = 10;
    b.height = 1;
    b.palette = {0x000000, 0xFFFFFF};
    b.rows = {{0xA0, 0x40}};  // 1010 0000 01
    const std::uint32_t W = 0xFFFFFF;
    EXPECT_TRUE(decodesTo(b.build(), 10, 1, {W, 0, W, 0, 0, 0, 0, 0, 0, W}));
}

TEST(BmpDecode, NonContiguousOrOversizedMasksAreRefused)
{
    for (std::vector<std::uint32_t> masks :
         {std::vector<std::uint32_t>{0xF0F0, 0x0F00, 0x000F}, std::vector<std::uint32_t>{0x1F0000, 0x07E0, 0x001F}}) {
        const Bytes file = directSample("", directBuilder(40, 16, 3, masks), {{0, 0}}, {}, false).file;
        EXPECT_THROW(decodeBmp(file.data(), file.size()), PlumoraError);
    }
}

TEST(BmpDecode, RleRunsPastTheRowAreClippedNotWrapped)
{
    BmpBuilder b;
    b.bitCount = 8;
    b.compression = 1;
    b.width = 3;
    b.height = 3;
    b.palette = {0x111111, 0xAA0000, 0x00BB00, 0x0000CC};
    b.rawPixels = {10, 1, 0,   0,               // 10 pixels on a 3-wide row
                   0,  5, 2,   2, 2, 2, 2, 0,   // absolute 5, padded
                   0,  2, 200, 0, 4, 3,         // delta far right: the run falls outside
                   0,  0, 0,   2, 0, 9, 4, 2};  // delta past the top ends the picture
    const std::uint32_t z = 0x111111, r = 0xAA0000, g = 0x00BB00;
    EXPECT_TRUE(decodesTo(b.build(), 3, 3, {z, z, z, g, g, g, r, r, r}));
}

TEST(BmpDecode, RleNeedsItsEndCode)
{
    Sample s = rle8Sample();
    s.file.erase(s.file.end() - 2, s.file.end());  // no end of picture, last row unfinished
    EXPECT_THROW(decodeBmp(s.file.data(), s.file.size()), PlumoraError);
}

TEST(BmpDecode, MissingPaddingOfTheLastRowIsForgiven)
{
    const Sample s = gallery()[3];  // 24-bit 3x2, bottom-up: 3 bytes of padding at the end
    ASSERT_EQ(s.name, "24-bit header 12");
    Bytes cut(s.file.begin(), s.file.end() - 3);
    EXPECT_TRUE(decodesTo(cut, s.width, s.height, s.expected));
    cut.pop_back();
    EXPECT_THROW(decodeBmp(cut.data(), cut.size()), PlumoraError);
}

// ---- hostile files ----

TEST(BmpHostile, EveryTruncationThrowsOrGivesTheWholePicture)
{
    for (const Sample& s : gallery())
        for (std::size_t n = 0; n < s.file.size(); ++n) {
            const Bytes cut(s.file.begin(), s.file.begin() + std::ptrdiff_t(n));
            try {
                EXPECT_EQ(argbOf(decodeBmp(cut.data(), cut.size())), s.expected) << s.name << " cut at " << n;
            } catch (const PlumoraError&) {
            }
        }
}

TEST(BmpHostile, RandomDamageNeverEscapesAsAnotherError)
{
    std::mt19937 rng(20240607);
    for (const Sample& s : gallery())
        for (int round = 0; round < 200; ++round) {
            Bytes file = s.file;
            for (int k = rng() % 4; k >= 0; --k) {
                const std::size_t at = rng() % std::min<std::size_t>(file.size(), round % 2 ? file.size() : 70);
                // A few bytes of RLE may rightly describe a picture of 64 MB,
                // which is allocated: not what this test is about.
                if (!(s.name.starts_with("RLE") && at >= 18 && at < 26))
                    file[at] = std::uint8_t(rng());
            }
            try {
                decodeBmp(file.data(), file.size());
            } catch (const PlumoraError&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << s.name << ": " << e.what();
            }
        }
}

TEST(BmpHostile, HugeSizesAreRefusedBeforeAllocating)
{
    // The watch sees large pixel blocks, which are taken another way.
    g_largestArray = 0;
    const TBitmap32 large(2100, 1001);
    EXPECT_GE(g_largestArray.load(), large.byteCount());

    for (auto [w, h] :
         {std::pair{0x7FFFFFFF, 1}, std::pair{65536, 65536}, std::pair{1, int(0x80000000u)}, std::pair{16384, 16384}}) {
        BmpBuilder b;
        b.width = w;
        b.height = h;
        b.rows = {{1, 2, 3}};
        const Bytes file = b.build();
        g_largestArray = 0;
        EXPECT_THROW(decodeBmp(file.data(), file.size()), PlumoraError) << w << "x" << h;
        EXPECT_LT(g_largestArray.load(), 1u << 20) << w << "x" << h;
    }
}

// An RLE8 file of the given size whose stream is `stream`.
Bytes rle8File(int width, int height, const Bytes& stream)
{
    BmpBuilder b;
    b.bitCount = 8;
    b.compression = 1;
    b.width = width;
    b.height = height;
    b.palette = {0x204060, 0xFFFFFF};
    b.rawPixels = stream;
    return b.build();
}

// `count` pixels of index 1 in runs of at most 255.
void runs(Bytes& stream, int count)
{
    for (; count > 0; count -= 255)
        stream.insert(stream.end(), {std::uint8_t(std::min(count, 255)), 1});
}

TEST(BmpHostile, RleThatRunsOutOrDrawsNextToNothingIsRefusedBeforeAllocating)
{
    // A kilobyte of deltas climbing 8 x 16777215 pixels, then nothing more:
    // cut short, and known to be before anything is filled.
    Bytes climbing;
    for (int i = 0; i < 270; ++i)
        climbing.insert(climbing.end(), {0, 2, 0, 255});
    // 270 rows of 8 pixels, then the end of picture code: the rest of the
    // half gigabyte would be index 0.
    Bytes stopping;
    for (int i = 0; i < 270; ++i)
        stopping.insert(stopping.end(), {8, 1, 0, 0});
    stopping.insert(stopping.end(), {0, 1});
    const struct {
        const char* name;
        Bytes stream;
        const char* message;
    } cases[] = {
        {"runs out", climbing, "The BMP file is damaged: the pixel data ends early."},
        {"draws 2160 pixels", stopping,
         "The BMP file cannot be read: its compressed data draws only 2160 of its 8 x 16777215 pixels."},
    };
    for (const auto& c : cases) {
        const Bytes file = rle8File(8, 16777215, c.stream);
        EXPECT_LT(file.size(), 1200u) << c.name;
        g_largestArray = 0;
        try {
            decodeBmp(file.data(), file.size());
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const PlumoraError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
        EXPECT_LT(g_largestArray.load(), 1u << 20) << c.name;
    }
}

TEST(BmpDecode, RleMayLeaveMostOfAPictureBlankWhenItDrawsEnough)
{
    // Up to 4096 x 4096 pixels a stream may end at once: all index 0.
    const Bytes ending = rle8File(4096, 4096, {0, 1});
    const TBitmap32 blank = decodeBmp(ending.data(), ending.size());
    ASSERT_EQ(blank.height(), 4096);
    EXPECT_EQ(test::pixelAt(blank, 4095, 0), 0x00204060u);
    // A larger picture must draw a sixteenth of its pixels: 4096 x 4097
    // has 16781312, a sixteenth of them 256 rows and 256 pixels.
    for (const int extra : {256, 255}) {
        Bytes stream;
        for (int row = 0; row < 256; ++row) {
            runs(stream, 4096);
            stream.insert(stream.end(), {0, 0});
        }
        runs(stream, extra);
        stream.insert(stream.end(), {0, 1});
        const Bytes file = rle8File(4096, 4097, stream);
        if (extra == 255) {
            EXPECT_THROW(decodeBmp(file.data(), file.size()), PlumoraError);
            continue;
        }
        const TBitmap32 p = decodeBmp(file.data(), file.size());
        ASSERT_EQ(p.height(), 4097);
        // The file's first rows are the picture's last.
        EXPECT_EQ(test::pixelAt(p, 4095, 4096), 0x00FFFFFFu);
        EXPECT_EQ(test::pixelAt(p, 0, 4096 - 255), 0x00FFFFFFu);
        EXPECT_EQ(test::pixelAt(p, 255, 4096 - 256), 0x00FFFFFFu);
        EXPECT_EQ(test::pixelAt(p, 256, 4096 - 256), 0x00204060u);
        EXPECT_EQ(test::pixelAt(p, 0, 0), 0x00204060u);
    }
}

TEST(BmpHostile, BadHeaderFieldsAreRefusedWithAMessage)
{
    struct Case {
        const char* name;
        void (*change)(BmpBuilder&);
        const char* words;
    };
    const Case cases[] = {
        {"offset past the end", [](BmpBuilder& b) { b.dataOffset = 0xFFFFFFF0; }, "damaged"},
        {"offset inside the header", [](BmpBuilder& b) { b.dataOffset = 20; }, "damaged"},
        {"unknown header", [](BmpBuilder& b) { b.headerSize = 44; }, "header"},
        {"zero width", [](BmpBuilder& b) { b.width = 0; }, "width"},
        {"negative width", [](BmpBuilder& b) { b.width = -3; }, "width"},
        {"zero height", [](BmpBuilder& b) { b.height = 0; }, "height"},
        {"2 bits", [](BmpBuilder& b) { b.bitCount = 2; }, "2 bits"},
        {"JPEG inside",
         [](BmpBuilder& b) {
             b.compression = 4;
             b.bitCount = 0;
         },
         "JPEG"},
        {"PNG inside",
         [](BmpBuilder& b) {
             b.compression = 5;
             b.bitCount = 0;
         },
         "PNG"},
        {"unknown compression", [](BmpBuilder& b) { b.compression = 7; }, "compression"},
        {"OS/2 Huffman",
         [](BmpBuilder& b) {
             b.headerSize = 64;
             b.compression = 3;
         },
         "compression"},
        {"RLE8 at 24 bits", [](BmpBuilder& b) { b.compression = 1; }, "damaged"},
        {"top-down RLE",
         [](BmpBuilder& b) {
             b.bitCount = 8;
             b.compression = 1;
             b.height = -2;
         },
         "top-down"},
        {"pixels end early", [](BmpBuilder& b) { b.rows.pop_back(); }, "ends early"},
        // Colours used: at most what the depth can index, at most 256 for the
        // optional table of a direct-colour file, and all of them before the pixels.
        {"absurd colours used", [](BmpBuilder& b) { b.coloursUsed = 305402420; }, "colour table"},
        {"colours used 0xFF000006", [](BmpBuilder& b) { b.coloursUsed = 0xFF000006; }, "colour table"},
        {"257 colours at 24 bits",
         [](BmpBuilder& b) {
             b.coloursUsed = 257;
             b.palette.assign(257, 0x123456);
         },
         "colour table"},
        {"17 colours at 4 bits",
         [](BmpBuilder& b) {
             b.bitCount = 4;
             b.coloursUsed = 17;
             b.palette.assign(17, 0x123456);
         },
         "colour table"},
        {"table runs into the pixels",
         [](BmpBuilder& b) {
             b.bitCount = 8;
             b.coloursUsed = 16;
             b.palette.assign(2, 0x123456);
         },
         "colour table"},
        {"optional table runs into the pixels", [](BmpBuilder& b) { b.coloursUsed = 200; }, "colour table"},
    };
    for (const Case& c : cases) {
        BmpBuilder b;
        b.rows = {Bytes(9, 1), Bytes(9, 2)};
        c.change(b);
        const Bytes file = b.build();
        try {
            decodeBmp(file.data(), file.size());
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const PlumoraError& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << c.name << ": " << e.what();
        }
    }
    const Bytes notBmp{'B', 'A', 0, 0};
    EXPECT_THROW(decodeBmp(notBmp.data(), notBmp.size()), PlumoraError);
    EXPECT_THROW(decodeBmp(nullptr, 0), PlumoraError);
}

// ---- writing ----

TEST(BmpEncode, RoundTripsEveryRowPaddingExactly)
{
    for (int width = 1; width <= 5; ++width) {
        TBitmap32 p(width, 3);
        for (std::size_t i = 0; i < p.byteCount(); ++i)
            p.bits()[i] = std::uint8_t(i * 29 + 7);
        const Bytes file = encodeBmp24(p);
        const std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
        ASSERT_EQ(file.size(), 54 + stride * 3);
        EXPECT_EQ(file[28], 24);
        EXPECT_EQ(file[22], 3);  // positive height: bottom-up
        EXPECT_EQ(file[38] | file[39] << 8, 2835);
        EXPECT_EQ(file[2] | file[3] << 8, int(file.size()));
        // Bottom-up: the first row in the file is the picture's last.
        EXPECT_EQ(file[54], p.ScanLine(2)[0]);
        const TBitmap32 back = decodeBmp(file.data(), file.size());
        FillAlpha(p, 0);
        EXPECT_EQ(back, p) << width;
    }
}

TEST(BmpEncode, EmptyPictureIsRefused)
{
    EXPECT_THROW(encodeBmp24(TBitmap32()), PlumoraError);
}

class BmpFileTest : public test::TempFolderTest {};

TEST_F(BmpFileTest, OpeningAndSavingTakesThePictureAndLittleElse)
{
    // 2000 x 1500 pixels from a few bytes of RLE: the picture is 12 MB,
    // and a 24-bit file of it 9 MB.
    BmpBuilder b;
    b.bitCount = 8;
    b.compression = 1;
    b.width = 2000;
    b.height = 1500;
    b.palette = {0x204060, 0xFFFFFF};
    b.rawPixels = {255, 1, 255, 1, 0, 0, 200, 1, 0, 1};
    const Bytes rle = b.build();
    {
        std::FILE* f = std::fopen(path("in.bmp").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(rle.data(), 1, rle.size(), f), rle.size());
        std::fclose(f);
    }
    // The picture is decoded in place, and the file written a band at a time:
    // no second block of the picture's size, nor one of the file's.
    test::largestBlock = 0;
    const TBitmap32 p = openPicture(path("in.bmp"));
    EXPECT_LE(test::largestBlock.load(), p.byteCount() + (2u << 20));
    test::largestBlock = 0;
    savePicture(p, path("out.bmp"));
    EXPECT_LT(test::largestBlock.load(), 2u << 20);

    const Bytes saved = readWholeFile(path("out.bmp"));
    EXPECT_EQ(saved, encodeBmp24(p));
    // The file's first rows are the picture's last: 510 white pixels in the
    // bottom row, 200 in the one above, index 0's colour everywhere else.
    const Argb back = argbOf(decodeBmp(saved.data(), saved.size()));
    const std::size_t bottom = 1499 * 2000, above = 1498 * 2000;
    EXPECT_EQ(back[bottom + 509], 0x00FFFFFFu);
    EXPECT_EQ(back[bottom + 510], 0x00204060u);
    EXPECT_EQ(back[above + 199], 0x00FFFFFFu);
    EXPECT_EQ(back[above + 200], 0x00204060u);
    EXPECT_EQ(back[0], 0x00204060u);
}

TEST(BmpEncode, WritingInBandsGivesTheSameBytesAtEverySize)
{
    // Rows of every padding, and pictures of one band, several, and a
    // partial last band.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 700}, std::pair{1025, 300}, std::pair{4097, 70}}) {
        const TBitmap32 p = test::randomPicture(w, h, unsigned(w + h));
        Bytes pieces;
        std::size_t calls = 0;
        writeBmp24(p, [&](const std::uint8_t* data, std::size_t size) {
            pieces.insert(pieces.end(), data, data + size);
            ++calls;
        });
        const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
        EXPECT_EQ(pieces.size(), 54 + stride * h);
        EXPECT_GE(calls, 1 + std::size_t(h) * stride / (1u << 20)) << w << "x" << h;
        const TBitmap32 back = decodeBmp(pieces.data(), pieces.size());
        TBitmap32 expected = p;
        FillAlpha(expected, 0);
        EXPECT_EQ(back, expected) << w << "x" << h;
    }
}

// ---- against an independent decoder ----

TEST(BmpDecode, AgreesWithQImage)
{
    int compared = 0;
    for (const Sample& s : gallery()) {
        // Qt widens fields narrower than 8 bits by shifting (31 -> 248) where we
        // scale (31 -> 255), and gives 0 for fields wider than 8 bits.
        const bool narrowFields = s.name.starts_with("16-bit");
        if (s.name.find("10-10-10-2") != std::string::npos || s.name.find("wide") != std::string::npos)
            continue;
        QImage q;
        if (!q.loadFromData(s.file.data(), int(s.file.size()), "BMP"))
            continue;  // Qt does not read 52- and 56-byte headers nor short core tables
        q = q.convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(q.width(), s.width) << s.name;
        ASSERT_EQ(q.height(), s.height) << s.name;
        const TBitmap32 ours = decodeBmp(s.file.data(), s.file.size());
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int mine = ours.ScanLine(y)[4 * x + c];
                    const int theirs = int(q.pixel(x, y) >> (8 * c)) & 255;
                    EXPECT_TRUE(narrowFields ? theirs <= mine && mine - theirs <= 7 : mine == theirs)
                        << s.name << " at " << x << "," << y << " channel " << c << ": " << mine << " vs " << theirs;
                }
        ++compared;
    }
    EXPECT_GE(compared, 50);
}

}  // namespace
}  // namespace plumora
