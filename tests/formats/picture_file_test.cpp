#include "formats/picture_file.h"

#include "formats/bmp.h"
#include "raster/errors.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace plumora {
namespace {

namespace fs = std::filesystem;

class PictureFileTest : public test::TempFolderTest {
protected:

    void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          std::streamsize(bytes.size()));
    }

};

TEST_F(PictureFileTest, ExtensionIsJudgedByTheLastFourCharactersInAnyCase)
{
    TBitmap32 p = test::randomPicture(4, 3, 1);
    FillAlpha(p, 0);
    const std::vector<std::uint8_t> bmp = encodeBmp24(p);
    writeBytes("a.bmp", bmp);
    writeBytes("b.BmP", bmp);
    writeBytes("c.png", bmp);
    writeBytes("d.jpg.bak", bmp);
    writeBytes("e", bmp);
    EXPECT_EQ(LoadPictureFile(path("a.bmp")).value(), p);
    EXPECT_EQ(LoadPictureFile(path("b.BmP")).value(), p);
    EXPECT_TRUE(LoadPictureFile(path("c.png")).value().empty());
    EXPECT_TRUE(LoadPictureFile(path("d.jpg.bak")).value().empty());
    EXPECT_TRUE(LoadPictureFile(path("e")).value().empty());
    EXPECT_FALSE(LoadPictureFile(path("missing.bmp")).has_value());
    EXPECT_FALSE(LoadPictureFile(m_dir.string()).has_value());  // a folder is not a picture file
}

TEST_F(PictureFileTest, JpegIsRecognisedWithOrWithoutADot)
{
    const TBitmap32 p = test::uniformPicture(16, 16, 40, 120, 200, 255);
    savePicture(p, path("x.jpeg"));
    fs::copy_file(path("x.jpeg"), path("xJPEG"));
    fs::copy_file(path("x.jpeg"), path("x.JPG"));
    for (const char* name : {"x.jpeg", "xJPEG", "x.JPG"}) {
        const std::optional<TBitmap32> loaded = LoadPictureFile(path(name));
        ASSERT_TRUE(loaded.has_value()) << name;
        EXPECT_EQ(loaded->width(), 16) << name;
    }
}

TEST_F(PictureFileTest, OpeningMakesEveryPixelOpaque)
{
    TBitmap32 p = test::randomPicture(5, 5, 2);
    FillAlpha(p, 0);
    writeBytes("p.bmp", encodeBmp24(p));
    const TBitmap32 opened = openPicture(path("p.bmp"));
    FillAlpha(p, 255);
    EXPECT_EQ(opened, p);
}

TEST_F(PictureFileTest, OpeningAnUnknownOrMissingFileSaysItIsNotAValidFormat)
{
    writeBytes("c.png", {1, 2, 3});
    for (const std::string& name : {path("c.png"), path("none.bmp")}) {
        try {
            openPicture(name);
            ADD_FAILURE() << name;
        } catch (const PlumoraError& e) {
            EXPECT_EQ(e.what(), name + " is not a valid format");
        }
    }
}

TEST_F(PictureFileTest, DamagedFileRaisesTheReadersError)
{
    writeBytes("bad.bmp", {'B', 'M', 0, 0});
    writeBytes("bad.jpg", {0xFF, 0xD8, 0xFF});
    EXPECT_THROW(LoadPictureFile(path("bad.bmp")), PlumoraError);
    EXPECT_THROW(LoadPictureFile(path("bad.jpg")), PlumoraError);
}

TEST_F(PictureFileTest, SavesByExtensionAndReadsBack)
{
    TBitmap32 p = test::randomPicture(33, 21, 3);
    FillAlpha(p, 255);
    savePicture(p, path("o.bmp"));
    EXPECT_EQ(openPicture(path("o.bmp")), p);
    savePicture(p, path("o.png"));
    EXPECT_GT(fs::file_size(path("o.png")), 0u);
    savePicture(p, path("o.JPG"));
    EXPECT_EQ(openPicture(path("o.JPG")).width(), 33);
    EXPECT_EQ(saveFormatFor("a.JpEg"), SaveFormat::Jpeg);
    EXPECT_EQ(saveFormatFor("a.gif"), std::nullopt);
    EXPECT_THROW(savePicture(p, path("o.gif")), PlumoraError);
    EXPECT_FALSE(fs::exists(path("o.gif")));
}

TEST_F(PictureFileTest, AFailedSaveLeavesTheOldFileAsItWas)
{
    writeBytes("keep.bmp", {1, 2, 3, 4});
    EXPECT_THROW(savePicture(TBitmap32(), path("keep.bmp")), PlumoraError);
    EXPECT_EQ(fs::file_size(path("keep.bmp")), 4u);
    EXPECT_THROW(savePicture(test::randomPicture(2, 2, 1), path("no/such/folder/x.bmp")), PlumoraError);
    // No temporary file is left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST(ReplaceExtension, ChangesWhatFollowsTheLastDotOfTheFileName)
{
    EXPECT_EQ(replaceExtension("photo", ".jpg"), "photo.jpg");
    EXPECT_EQ(replaceExtension("photo.bmp", ".jpg"), "photo.jpg");
    EXPECT_EQ(replaceExtension("a.tar.gz", ".bmp"), "a.tar.bmp");
    EXPECT_EQ(replaceExtension("/home/me.d/photo", ".wmf"), "/home/me.d/photo.wmf");
    EXPECT_EQ(replaceExtension("/home/me.d/photo.", ".wmf"), "/home/me.d/photo.wmf");
}

TEST_F(PictureFileTest, OtherFormatsAreReadThroughQtWhereNeeded)
{
    TBitmap32 p = test::randomPicture(9, 7, 4);
    FillAlpha(p, 255);
    savePicture(p, path("p.png"));
    EXPECT_EQ(readAnyPicture(path("p.png")), p);  // PNG is lossless
    const QImage view(p.bits(), 9, 7, 36, QImage::Format_RGB32);
    ASSERT_TRUE(view.save(QString::fromStdString(path("p.tif")), "TIFF"));
    EXPECT_EQ(readAnyPicture(path("p.tif")), p);
    // The program's own open still refuses them.
    EXPECT_THROW(openPicture(path("p.png")), NotValidFormatError);
    writeBytes("junk.png", {1, 2, 3});
    EXPECT_THROW(readAnyPicture(path("junk.png")), PlumoraError);
}

TEST_F(PictureFileTest, AnUnreadableIconIsHandedToTheCallerAsOneText)
{
    writeBytes("bad.ico", {0, 0, 1, 0, 1, 0, 'x'});
    std::vector<std::string> told;
    const std::optional<TBitmap32> result =
        LoadPictureFile(path("bad.ico"), [&](const std::string& text) { told.push_back(text); });
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->empty());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind("Input picture" + path("bad.ico") + "Error.", 0), 0u);
    EXPECT_THROW(LoadPictureFile(path("bad.ico")), PlumoraError);
}

TEST_F(PictureFileTest, AFailedWriteNamesTheFile)
{
    try {
        writeFileAtomically(path("none/x.bmp"), {1, 2});
        FAIL();
    } catch (const FileWriteError& e) {
        EXPECT_NE(std::string(e.what()).find(path("none/x.bmp")), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace plumora
