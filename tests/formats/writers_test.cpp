#include "formats/picture_file.h"

#include "raster/errors.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

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

}  // namespace
}  // namespace plumora
