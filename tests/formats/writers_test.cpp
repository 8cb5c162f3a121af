#include "formats/picture_file.h"

#include "formats/encoders.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace plumora {
namespace {

namespace fs = std::filesystem;

using WritersTest = test::TempFolderTest;

TBitmap32 opaquePhoto(int width, int height, unsigned seed)
{
    return test::photoLike(width, height, seed);
}

TEST(WritableTypes, AreListedOnceInTheOrderOfferedWithTheirExtensionsAndQuality)
{
    std::vector<std::string> names;
    std::set<SaveFormat> formats;
    std::set<std::string> extensions;
    for (const WritableType& type : writableTypes()) {
        names.emplace_back(type.name);
        EXPECT_TRUE(formats.insert(type.format).second) << type.name;
        ASSERT_FALSE(type.extensions.empty()) << type.name;
        for (const std::string& ext : type.extensions) {
            EXPECT_TRUE(extensions.insert(ext).second) << ext;  // one type per extension
            EXPECT_EQ(saveFormatFor("photo" + ext), type.format) << ext;
            std::string upper = ext;
            std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(toupper(c)); });
            EXPECT_EQ(saveFormatFor("/a.b/photo" + upper), type.format) << upper;
        }
        EXPECT_EQ(&writableType(type.format), &type);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"JPEG", "PNG", "WebP", "TIFF", "BMP", "WMF"}));
    EXPECT_EQ(writableType(SaveFormat::Jpeg).extensions.front(), ".jpg");
    EXPECT_EQ(writableType(SaveFormat::Tiff).extensions, (std::vector<std::string>{".tif", ".tiff"}));
    EXPECT_TRUE(writableType(SaveFormat::Jpeg).takesQuality);
    EXPECT_TRUE(writableType(SaveFormat::Webp).takesQuality);
    EXPECT_FALSE(writableType(SaveFormat::Png).takesQuality);
    EXPECT_EQ(saveFormatFor("photo.gif"), std::nullopt);
    EXPECT_EQ(saveFormatFor("photo"), std::nullopt);
    EXPECT_EQ(saveFormatFor("webp"), std::nullopt);
}

TEST_F(WritersTest, EveryWritableTypeSavesAndReadsBack)
{
    const TBitmap32 p = opaquePhoto(40, 30, 5);
    for (const WritableType& type : writableTypes()) {
        for (const std::string& ext : type.extensions) {
            const std::string name = path("out" + ext);
            savePicture(p, name);
            const TBitmap32 back = readAnyPicture(name);
            EXPECT_EQ(back.width(), 40) << ext;
            EXPECT_EQ(back.height(), 30) << ext;
        }
    }
}

TEST_F(WritersTest, LosslessTypesGiveThePixelsBack)
{
    const TBitmap32 p = opaquePhoto(37, 23, 7);
    SaveOptions lossless;
    lossless.lossless = true;
    for (const char* ext : {".png", ".tif", ".tiff", ".webp", ".bmp"}) {
        savePicture(p, path(std::string("l") + ext), lossless);
        EXPECT_EQ(readAnyPicture(path(std::string("l") + ext)), p) << ext;
    }
}

TEST_F(WritersTest, TheQualityChangesJpegAndLossyWebpAndNothingElse)
{
    const TBitmap32 p = opaquePhoto(96, 64, 9);
    for (SaveFormat format : {SaveFormat::Jpeg, SaveFormat::Webp}) {
        SaveOptions low, high;
        low.quality = 10;
        high.quality = 95;
        EXPECT_LT(encodePicture(p, format, low).size(), encodePicture(p, format, high).size())
            << writableType(format).name;
        // The default is 90.
        SaveOptions ninety;
        ninety.quality = 90;
        EXPECT_EQ(encodePicture(p, format), encodePicture(p, format, ninety)) << writableType(format).name;
    }
    SaveOptions low;
    low.quality = 10;
    for (SaveFormat format : {SaveFormat::Png, SaveFormat::Tiff, SaveFormat::Bmp})
        EXPECT_EQ(encodePicture(p, format, low), encodePicture(p, format)) << writableType(format).name;
}

TEST_F(WritersTest, AQualityOutsideOneToAHundredIsRefusedAndNothingIsWritten)
{
    const TBitmap32 p = opaquePhoto(8, 8, 1);
    for (int quality : {0, 101, -5}) {
        SaveOptions options;
        options.quality = quality;
        for (const char* ext : {".jpg", ".webp", ".bmp"}) {
            try {
                savePicture(p, path(std::string("q") + ext), options);
                ADD_FAILURE() << quality << ext;
            } catch (const PlumoraError& e) {
                EXPECT_EQ(std::string(e.what()),
                          "The quality must be from 1 to 100, not " + std::to_string(quality) + ".");
            }
        }
    }
    for (int quality : {1, 100}) {
        SaveOptions options;
        options.quality = quality;
        EXPECT_NO_THROW(encodePicture(p, SaveFormat::Webp, options)) << quality;
    }
    EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(WritersTest, AnUnknownExtensionNamesEveryTypeWeWrite)
{
    try {
        savePicture(opaquePhoto(4, 4, 1), path("x.gif"));
        FAIL();
    } catch (const PlumoraError& e) {
        EXPECT_EQ(std::string(e.what()),
                  path("x.gif") + ": Plumora saves .jpg, .jpeg, .png, .webp, .tif, .tiff, .bmp and .wmf files.");
    }
}

std::uint32_t bigEndian32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 | std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(PngWriter, WritesRgbAtLevelSixAndNinetySixDotsAnInch)
{
    const TBitmap32 p = opaquePhoto(50, 20, 3);
    const std::vector<std::uint8_t> png = encodePicture(p, SaveFormat::Png);
    ASSERT_GT(png.size(), 33u + 8u);
    // IHDR: 8 bits, colour type 2 (RGB: the fourth byte is not written).
    EXPECT_EQ(bigEndian32(png, 16), 50u);
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    bool sawPhys = false, sawData = false;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = bigEndian32(png, at);
        const std::string type(png.begin() + std::ptrdiff_t(at) + 4, png.begin() + std::ptrdiff_t(at) + 8);
        if (type == "pHYs") {
            sawPhys = true;
            EXPECT_EQ(bigEndian32(png, at + 8), 3780u);  // dots a metre: 96 an inch
            EXPECT_EQ(bigEndian32(png, at + 12), 3780u);
            EXPECT_EQ(png[at + 16], 1);  // the unit is the metre
        }
        if (type == "IDAT" && !sawData) {
            sawData = true;
            // zlib's header: deflate, and level 6 (its default, FLEVEL 2;
            // levels 1 to 5 say 1, 7 to 9 say 3).
            EXPECT_EQ(png[at + 8] & 0x0F, 8);
            EXPECT_EQ(png[at + 9] >> 6, 2);
        }
        at += 12 + length;
    }
    EXPECT_TRUE(sawPhys);
    EXPECT_TRUE(sawData);
    QImage back;
    ASSERT_TRUE(back.loadFromData(png.data(), int(png.size()), "PNG"));
    EXPECT_EQ(back.dotsPerMeterX(), 3780);
    EXPECT_EQ(back.format(), QImage::Format_RGB32);
}

TEST(PngWriter, TheFourthByteNeverReachesTheFile)
{
    TBitmap32 p = opaquePhoto(16, 16, 4), q = p;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            q.ScanLine(y)[4 * x + 3] = std::uint8_t(x * 16 + y);
    for (SaveFormat format : {SaveFormat::Png, SaveFormat::Tiff, SaveFormat::Webp})
        EXPECT_EQ(encodePicture(p, format), encodePicture(q, format)) << writableType(format).name;
}

TEST(PngWriter, StopsWhenTheWorkIsCancelled)
{
    const TBitmap32 p = opaquePhoto(64, 300, 5);
    std::atomic<bool> cancel{true};
    CancelScope scope(cancel);
    EXPECT_THROW(encodePicture(p, SaveFormat::Png), Cancelled);
    EXPECT_THROW(encodePicture(p, SaveFormat::Tiff), Cancelled);
}

// The first directory's value of a TIFF tag held in the entry itself
// (SHORT or LONG), in the byte order the file says.
std::uint32_t tiffTag(const std::vector<std::uint8_t>& t, unsigned tag)
{
    const bool little = t[0] == 'I';
    const auto u16 = [&](std::size_t at) { return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1]; };
    const auto u32 = [&](std::size_t at) {
        return little ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                      : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    };
    const std::size_t ifd = u32(4);
    for (unsigned i = 0, n = unsigned(u16(ifd)); i < n; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (unsigned(u16(entry)) == tag)
            return u16(entry + 2) == 3 ? std::uint32_t(u16(entry + 8)) : u32(entry + 8);
    }
    return 0;
}

TEST(TiffWriter, WritesDeflateWithThePredictorAndReadsBackExactly)
{
    const TBitmap32 p = opaquePhoto(70, 33, 6);
    const std::vector<std::uint8_t> tiff = encodePicture(p, SaveFormat::Tiff);
    EXPECT_EQ(tiffTag(tiff, 259), 8u);  // compression: deflate
    EXPECT_EQ(tiffTag(tiff, 317), 2u);  // predictor: horizontal
    EXPECT_EQ(tiffTag(tiff, 277), 3u);  // red, green, blue
    EXPECT_EQ(tiffTag(tiff, 296), 2u);  // resolution in inches (96)
    EXPECT_LT(tiff.size(), p.byteCount() * 3 / 4);
}

TEST(WebpWriter, LosslessKeepsEveryPixelAndLossyFollowsTheQuality)
{
    const TBitmap32 p = opaquePhoto(61, 47, 8);
    SaveOptions lossless;
    lossless.lossless = true;
    const std::vector<std::uint8_t> exact = encodePicture(p, SaveFormat::Webp, lossless);
    QImage back;
    ASSERT_TRUE(back.loadFromData(exact.data(), int(exact.size()), "WEBP"));
    back = back.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 61; ++x)
            ASSERT_EQ(back.pixel(x, y) & 0xFFFFFF, reinterpret_cast<const std::uint32_t*>(p.ScanLine(y))[x] & 0xFFFFFF);
    // Quality 100 is still lossy: lossless is asked for apart.
    SaveOptions best;
    best.quality = 100;
    EXPECT_NE(encodePicture(p, SaveFormat::Webp, best), exact);
    // "VP8 " is the lossy bitstream, "VP8L" the lossless one.
    const std::vector<std::uint8_t> lossy = encodePicture(p, SaveFormat::Webp, best);
    EXPECT_EQ(std::string(lossy.begin() + 12, lossy.begin() + 16), "VP8 ");
    EXPECT_EQ(std::string(exact.begin() + 12, exact.begin() + 16), "VP8L");
}

TEST(WebpWriter, APictureWiderThanWebpAllowsIsRefusedWithItsSize)
{
    TBitmap32 wide(16384, 1);
    std::fill(wide.bits(), wide.bits() + wide.byteCount(), std::uint8_t(200));
    try {
        encodePicture(wide, SaveFormat::Webp);
        FAIL();
    } catch (const PlumoraError& e) {
        EXPECT_EQ(std::string(e.what()), "The picture could not be encoded as WebP: a WebP side is at most 16383 "
                                         "pixels, and this picture is 16384 x 1.");
    }
}

}  // namespace
}  // namespace plumora
