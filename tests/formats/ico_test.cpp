#include "formats/ico.h"

#include "raster/errors.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Argb = std::vector<std::uint32_t>;  // 0xAARRGGBB a pixel, AA the fourth byte, rows top-down

void put(Bytes& b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(std::uint8_t(v >> 8 * i));
}

// A bitmap as icons store it: an info header whose height counts the picture
// and its mask, the colour table, the rows bottom-up, then the 1-bit mask
// (1 = transparent), every row padded to 4 bytes.
struct Dib {
    int width = 2;
    int height = 2;
    int bits = 32;
    std::vector<std::uint32_t> pixels;   // up to 8 bits: indexes; else 0xAARRGGBB (AA stored at 32 bits)
    std::vector<int> mask;               // top-down; empty: all opaque
    std::vector<std::uint32_t> palette;  // 0xRRGGBB
    bool withMask = true;
    std::uint32_t compression = 0;

    Bytes build() const
    {
        Bytes b;
        for (std::uint32_t v : {40u, std::uint32_t(width), std::uint32_t(2 * height)})
            put(b, v, 4);
        put(b, 1, 2);
        put(b, std::uint32_t(bits), 2);
        for (std::uint32_t v : {compression, 0u, 0u, 0u, std::uint32_t(palette.size()), 0u})
            put(b, v, 4);
        for (std::uint32_t c : palette)
            put(b, c, 4);
        auto rows = [&](int rowBits, auto value) {
            for (int y = height - 1; y >= 0; --y) {
                Bytes row((std::size_t(width) * rowBits + 31) / 32 * 4, 0);
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t v = value(std::size_t(y * width + x));
                    const std::size_t bit = std::size_t(x) * rowBits;
                    if (rowBits <= 8)
                        row[bit / 8] |= std::uint8_t(v << (8 - rowBits - int(bit % 8)));
                    else
                        for (int i = 0; i < rowBits / 8; ++i)
                            row[bit / 8 + i] = std::uint8_t(v >> 8 * i);
                }
                b.insert(b.end(), row.begin(), row.end());
            }
        };
        rows(bits, [&](std::size_t i) { return pixels[i]; });
        if (withMask)
            rows(1, [&](std::size_t i) { return mask.empty() ? 0u : std::uint32_t(mask[i]); });
        return b;
    }
};

Dib flat(int width, int height, int bits, std::uint32_t value, std::vector<std::uint32_t> palette = {})
{
    return Dib{width, height, bits, Argb(std::size_t(width * height), value), {}, std::move(palette)};
}

Bytes pngOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

QImage filled(int width, int height, std::uint32_t argb)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(argb);
    return image;
}

// One directory entry; any field can be given a wrong value.
struct Entry {
    int width = 0;  // as stored: 0 stands for 256
    int height = 0;
    int bits = 0;  // a cursor's hot spot y
    Bytes data;
    std::int64_t offset = -1;  // -1: laid out after the directory
    std::int64_t length = -1;  // -1: the data's size
};

Entry entryOf(const Dib& d, int directoryBits = -1)
{
    return Entry{d.width & 255, d.height & 255, directoryBits >= 0 ? directoryBits : d.bits, d.build()};
}

Bytes buildIco(const std::vector<Entry>& entries, int type = 1, int reserved = 0)
{
    Bytes file, data;
    for (int v : {reserved, type, int(entries.size())})
        put(file, std::uint32_t(v), 2);
    for (const Entry& e : entries) {
        file.insert(file.end(), {std::uint8_t(e.width), std::uint8_t(e.height), 0, 0, 1, 0});
        put(file, std::uint32_t(e.bits), 2);
        put(file, std::uint32_t(e.length >= 0 ? e.length : std::int64_t(e.data.size())), 4);
        put(file, std::uint32_t(e.offset >= 0 ? e.offset : std::int64_t(6 + 16 * entries.size() + data.size())), 4);
        data.insert(data.end(), e.data.begin(), e.data.end());
    }
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

using test::Decoded;

Decoded decode(const Bytes& file)
{
    return test::decoded(decodeIco(file.data(), file.size()));
}

::testing::AssertionResult refused(const Bytes& file, const std::string& words)
{
    try {
        decode(file);
        return ::testing::AssertionFailure() << "accepted";
    } catch (const PlumoraError& e) {
        if (std::string(e.what()).find(words) == std::string::npos)
            return ::testing::AssertionFailure() << "message: " << e.what();
        return ::testing::AssertionSuccess();
    }
}

// ---- which picture is shown ----

TEST(IcoChoice, TheLargestThenTheDeepestByItsOwnHeaderThenTheFirst)
{
    const Bytes largest = buildIco(
        {entryOf(flat(1, 1, 24, 0x111111)), entryOf(flat(3, 2, 24, 0x123456)), entryOf(flat(2, 2, 24, 0x222222))});
    EXPECT_EQ(decode(largest), (Decoded{3, 2, Argb(6, 0xFF123456)}));
    // Equal sizes, and the directory's depths lie: the 8-bit pictures claim 32 bits, the 24-bit one 0.
    const Bytes deepest = buildIco({entryOf(flat(2, 1, 8, 0, {0x0000FF}), 32), entryOf(flat(2, 1, 24, 0x00FF00), 0),
                                    entryOf(flat(2, 1, 4, 0, {0xFF0000}), 32)});
    EXPECT_EQ(decode(deepest), (Decoded{2, 1, Argb(2, 0xFF00FF00)}));
    const Bytes tie = buildIco({entryOf(flat(1, 1, 8, 0, {0x0000FF})), entryOf(flat(1, 1, 8, 0, {0xFF0000}))});
    EXPECT_EQ(decode(tie), (Decoded{1, 1, {0xFF0000FF}}));
}

TEST(IcoChoice, ZeroInTheDirectoryMeans256AndTheOwnHeaderGivesTheSize)
{
    Entry big = entryOf(flat(3, 1, 24, 0xABCDEF));
    big.width = big.height = 0;
    Entry almost = entryOf(flat(2, 1, 24, 0x010203));
    almost.width = almost.height = 255;
    EXPECT_EQ(decode(buildIco({almost, big})), (Decoded{3, 1, Argb(3, 0xFFABCDEF)}));
}

TEST(IcoChoice, APngPictureCountsAsThirtyTwoBits)
{
    const Entry png{2, 2, 0, pngOf(filled(2, 2, 0xFFFF0000))};
    EXPECT_EQ(decode(buildIco({entryOf(flat(2, 2, 24, 0x00FF00), 32), png})).pixels, Argb(4, 0xFFFF0000));
    // Against a 32-bit bitmap of the same size it is a tie: the first listed wins.
    const Entry bits32 = entryOf(flat(2, 2, 32, 0xFF0000FF));
    EXPECT_EQ(decode(buildIco({bits32, png})).pixels, Argb(4, 0xFF0000FF));
    EXPECT_EQ(decode(buildIco({png, bits32})).pixels, Argb(4, 0xFFFF0000));
}

TEST(IcoChoice, CursorsHaveTheSameLayoutWithAHotSpotInTheDepthField)
{
    const Entry eight = entryOf(flat(2, 1, 8, 0, {0x0000FF}), 40);
    const Entry bits24 = entryOf(flat(2, 1, 24, 0x00FF00), 1);
    EXPECT_EQ(decode(buildIco({eight, bits24}, 2)).pixels, Argb(2, 0xFF00FF00));
    EXPECT_TRUE(refused(buildIco({eight}, 3), "icon header"));
}

// ---- transparency ----

TEST(IcoTransparency, ThirtyTwoBitsKeepTheirStraightAlphaAndNeedNoMask)
{
    Dib d;
    d.pixels = {0xFF102030, 0x80FFFFFF, 0x00ABCDEF, 0x01040506};
    d.mask = {1, 1, 0, 0};  // contrary to the alpha: must not be used
    EXPECT_EQ(decode(buildIco({entryOf(d)})).pixels, d.pixels);
    d.withMask = false;
    EXPECT_EQ(decode(buildIco({entryOf(d)})).pixels, d.pixels);
}

TEST(IcoTransparency, ThirtyTwoBitsWithEveryAlphaZeroUseTheMask)
{
    Dib d;
    d.pixels = {0x00102030, 0x00405060, 0x00708090, 0x00A0B0C0};
    d.mask = {0, 1, 1, 0};
    EXPECT_EQ(decode(buildIco({entryOf(d)})).pixels, (Argb{0xFF102030, 0x00405060, 0x00708090, 0xFFA0B0C0}));
    d.withMask = false;
    EXPECT_TRUE(refused(buildIco({entryOf(d)}), "mask"));
}

TEST(IcoTransparency, OtherDepthsTakeTheMaskRowByRow)
{
    // 33 pixels wide: mask rows of 8 bytes, 3 of them padding. Pixels and mask
    // vary so a row read upside down or with the wrong stride shows.
    for (int bits : {1, 4, 8, 24}) {
        Dib d{33, 3, bits};
        for (int i = 0; bits < 24 && i < 1 << bits; ++i)
            d.palette.push_back(std::uint32_t(i * 0x010305 + 0x203040));
        Argb expected;
        for (int i = 0; i < 33 * 3; ++i) {
            d.mask.push_back((i * 7) % 5 == 0 || i % 33 == 32);
            d.pixels.push_back(bits == 24 ? std::uint32_t(i * 0x070B13) & 0xFFFFFF : std::uint32_t(i % (1 << bits)));
            const std::uint32_t colour = bits == 24 ? d.pixels.back() : d.palette[d.pixels.back()];
            expected.push_back(colour | (d.mask.back() ? 0 : 0xFF000000u));
        }
        EXPECT_EQ(decode(buildIco({entryOf(d)})), (Decoded{33, 3, expected})) << bits << " bits";
    }
    // Only the last row's padding may be missing (width 2: 1 byte of 4 used).
    Entry e = entryOf(flat(2, 2, 8, 0, {0x112233}));
    e.data.erase(e.data.end() - 3, e.data.end());
    EXPECT_EQ(decode(buildIco({e})).pixels, Argb(4, 0xFF112233));
    e.data.pop_back();
    EXPECT_TRUE(refused(buildIco({e}), "mask"));
}

TEST(IcoTransparency, PngPicturesKeepTheirStraightAlphaAndFullSize)
{
    QImage image(2, 2, QImage::Format_ARGB32);
    const Argb pixels{0x10123456, 0xFF00FF00, 0x80FFFFFF, 0x02ABCDEF};
    for (int i = 0; i < 4; ++i)
        image.setPixel(i % 2, i / 2, pixels[std::size_t(i)]);
    EXPECT_EQ(decode(buildIco({Entry{2, 2, 32, pngOf(image)}})), (Decoded{2, 2, pixels}));

    QImage large = filled(256, 256, 0xFF336699);
    large.setPixel(255, 0, 0);
    const Decoded d = decode(buildIco({entryOf(flat(16, 16, 32, 0xFFFFFFFF)), Entry{0, 0, 32, pngOf(large)}}));
    ASSERT_EQ(d.width * d.height, 256 * 256);
    EXPECT_EQ(d.pixels[0], 0xFF336699u);
    EXPECT_EQ(d.pixels[255], 0u);
}

// ---- damaged and hostile files ----

TEST(IcoHostile, BadHeadersAndEntriesAreRefusedWithAMessage)
{
    const Entry good = entryOf(flat(2, 2, 24, 0x123456));
    auto with = [&](auto change) {
        Entry e = good;
        change(e);
        return buildIco({e});
    };
    Bytes shortDirectory = buildIco({good});
    shortDirectory[4] = 5;  // five entries listed, one present
    shortDirectory.resize(6 + 16 * 2);
    Dib rle = flat(2, 2, 8, 0);
    rle.compression = 1;
    Entry png{2, 2, 32, pngOf(filled(2, 2, 0))};
    for (std::size_t i = 33; i < png.data.size(); ++i)  // everything after the header chunk
        png.data[i] = std::uint8_t(i * 13);
    auto pngWith = [&](std::size_t at, std::uint8_t value) {
        Entry e = png;
        e.data[at] = value;
        return buildIco({e});
    };
    const struct {
        const char* name;
        Bytes file;
        const char* words;
    } cases[] = {
        {"no entries", buildIco({}), "The icon file holds no picture."},
        {"truncated header", {0, 0, 1}, "damaged"},
        {"reserved field set", buildIco({good}, 1, 1), "icon header"},
        {"unknown type", buildIco({good}, 0), "icon header"},
        {"directory ends early", shortDirectory, "directory"},
        {"offset wrapping in 32 bits", with([](Entry& e) { e.offset = 0xFFFFFFF0; }), "past the end"},
        {"longer than the file", with([&](Entry& e) { e.length = std::int64_t(good.data.size()) + 1; }),
         "past the end"},
        {"inside the directory", with([](Entry& e) { e.offset = 10; }), "overlaps"},
        {"empty", with([](Entry& e) { e.length = 0; }), "damaged"},
        {"pixels end early", with([](Entry& e) { e.data.resize(40 + 8); }), "ends early"},
        {"2 bits a pixel", with([](Entry& e) { e.data[14] = 2; }), "This icon file uses 2 bits"},
        {"no rows", with([](Entry& e) { e.data[8] = 1; }), "height"},  // half of 1
        {"compressed bitmap", buildIco({entryOf(rle)}), "compressed"},
        {"unreadable PNG", buildIco({png}), "PNG"},
        {"PNG without a header", pngWith(12, 'X'), "PNG"},
        {"PNG of width 0", pngWith(19, 0), "PNG"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(refused(c.file, c.words)) << c.name;
        EXPECT_TRUE(refused(c.file, "icon")) << c.name;  // never "BMP": the user opened an icon
    }
    EXPECT_THROW(decodeIco(nullptr, 0), PlumoraError);
}

TEST(IcoHostile, ADamagedChosenPictureIsAnErrorEvenWhenAnotherWouldDecode)
{
    Entry large = entryOf(flat(4, 4, 24, 0));
    large.offset = 0x7FFFFFFF;
    EXPECT_TRUE(refused(buildIco({entryOf(flat(2, 2, 24, 0)), large}), "past the end"));
}

TEST(IcoHostile, HugeSizesAreRefusedBeforeDecoding)
{
    // 100000 x 100000, in a bitmap's header (height doubled) and in a PNG's,
    // big-endian. The PNG is refused by our own check: Qt would only fail to
    // decode it, which is not an ImageTooLargeError.
    Entry dib = entryOf(flat(1, 1, 24, 0));
    const std::uint8_t huge[] = {0xA0, 0x86, 0x01, 0, 0x40, 0x0D, 0x03, 0};
    std::copy(std::begin(huge), std::end(huge), dib.data.begin() + 4);
    Entry png{0, 0, 32, pngOf(filled(1, 1, 0))};
    const std::uint8_t hugeBigEndian[] = {0, 0x01, 0x86, 0xA0};
    for (std::ptrdiff_t at : {16, 20})
        std::copy(std::begin(hugeBigEndian), std::end(hugeBigEndian), png.data.begin() + at);
    for (const Entry& e : {dib, png}) {
        const Bytes file = buildIco({e});
        EXPECT_THROW(decodeIco(file.data(), file.size()), ImageTooLargeError);
    }
}

Bytes twoPictures()
{
    Dib eight = flat(3, 2, 8, 1, {0x0000FF, 0x00FF00});
    eight.mask = {0, 1, 0, 1, 0, 1};
    Dib bits32{3, 2, 32, {0xFF010203, 0x80040506, 0x00070809, 0x400A0B0C, 0x200D0E0F, 0x10101112}};
    return buildIco({entryOf(eight), entryOf(bits32)});
}

TEST(IcoHostile, EveryTruncationThrowsOrGivesTheWholePicture)
{
    // A cut through the 32-bit picture must not quietly show the 8-bit one.
    const Bytes file = twoPictures();
    const Decoded whole = decode(file);
    ASSERT_EQ(whole.pixels[1], 0x80040506u);
    for (std::size_t n = 0; n < file.size(); ++n) {
        try {
            EXPECT_EQ(decode(Bytes(file.begin(), file.begin() + std::ptrdiff_t(n))), whole) << n;
        } catch (const PlumoraError&) {
        }
    }
}

TEST(IcoHostile, RandomDamageNeverEscapesAsAnotherError)
{
    const Bytes original = twoPictures();
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        Bytes file = original;
        for (int i = 0, changes = 1 + int(random() % 4); i < changes; ++i)
            file[random() % file.size()] = std::uint8_t(random());
        try {
            decode(file);
        } catch (const PlumoraError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "round " << round << ": " << e.what();
        }
    }
}

// ---- against an independent decoder ----

TEST(IcoDecode, AgreesWithQtsIconReader)
{
    if (!QImageReader::supportedImageFormats().contains("ico"))
        GTEST_SKIP() << "Qt's icon plugin is not installed";
    for (int bits : {1, 4, 8, 24, 32}) {
        Dib d{5, 3, bits};
        for (int i = 0; bits <= 8 && i < 1 << bits; ++i)
            d.palette.push_back(std::uint32_t(i * 0x0A0B0C + 0x102030));
        for (int i = 0; i < 15; ++i) {
            d.pixels.push_back(bits <= 8 ? std::uint32_t(i % (1 << bits)) : 0xFF000000u | std::uint32_t(i * 0x112233));
            d.mask.push_back(i % 4 == 1);
        }
        const Bytes file = buildIco({entryOf(d)});
        const QImage q = QImage::fromData(file.data(), int(file.size()), "ICO").convertToFormat(QImage::Format_ARGB32);
        const Decoded ours = decode(file);
        ASSERT_EQ(q.size(), QSize(ours.width, ours.height)) << bits;
        for (int i = 0; i < 15; ++i) {
            const std::uint32_t mine = ours.pixels[std::size_t(i)], theirs = q.pixel(i % 5, i / 5);
            if (bits == 24)  // Qt does not apply the mask to 24-bit pictures: only the colours compare
                EXPECT_EQ(mine & 0xFFFFFF, theirs & 0xFFFFFF) << i;
            else if (mine >> 24 == 0)  // Qt clears the colour of transparent pixels
                EXPECT_EQ(theirs >> 24, 0u) << bits << " bits, pixel " << i;
            else
                EXPECT_EQ(mine, theirs) << bits << " bits, pixel " << i;
        }
    }
}

}  // namespace
}  // namespace plumora
