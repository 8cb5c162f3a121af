#include "formats/picture_file.h"

#include "formats/bmp.h"
#include "formats/gif.h"
#include "formats/ico.h"
#include "formats/jpeg.h"
#include "formats/metafile.h"
#include "raster/errors.h"
#include "support/gif_writer.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace plumora {
namespace {

namespace fs = std::filesystem;

class PictureFileTest : public test::TempFolderTest {
protected:
    void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

TEST_F(PictureFileTest, ExtensionIsJudgedByTheLastFourCharactersInAnyCase)
{
    TBitmap32 p = test::randomPicture(4, 3, 1);
    FillAlpha(p, 255);
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

using Bytes = std::vector<std::uint8_t>;

// A GIF of two pixels whose second is the transparent index, which the
// reader gives with the fourth byte 0.
Bytes gifWithATransparentPixel()
{
    return test::makeGif(2, 1, {0xC81E28, 0x0ADC5A}, 0, {test::Frame{2, 1, {0, 1}, {}, 1}});
}

// An icon with straight alpha that differs from pixel to pixel, as Qt writes it.
Bytes iconWithAlpha(const TBitmap32& p)
{
    const QImage image(p.bits(), p.width(), p.height(), qsizetype(p.bytesPerLine()), QImage::Format_ARGB32);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "ICO"));
    return Bytes(data.begin(), data.end());
}

bool isOpaque(const TBitmap32& p)
{
    for (std::size_t i = kAlpha; i < p.byteCount(); i += 4)
        if (p.bits()[i] != 255)
            return false;
    return true;
}

// What the program opens goes to the document as it is, so every reader's
// picture arrives opaque, with the colour bytes that reader gives.
TEST_F(PictureFileTest, EveryFormatLoadsOpaqueWithItsReadersColours)
{
    const TBitmap32 p = test::randomPicture(6, 4, 7);  // every fourth byte different
    const struct {
        const char* name;
        Bytes file;
        TBitmap32 (*decode)(const std::uint8_t*, std::size_t);
    } cases[] = {
        {"p.bmp", encodeBmp24(p), decodeBmp},   {"p.jpg", encodeJpeg(p), decodeJpeg},
        {"p.wmf", encodeWmf(p), decodeWmf},     {"p.gif", gifWithATransparentPixel(), decodeGif},
        {"p.ico", iconWithAlpha(p), decodeIco},
    };
    for (const auto& c : cases) {
        writeBytes(c.name, c.file);
        TBitmap32 expected = c.decode(c.file.data(), c.file.size());
        // Only JPEG has no fourth byte of its own to give.
        EXPECT_EQ(isOpaque(expected), std::string(c.name) == "p.jpg") << c.name;
        FillAlpha(expected, 255);
        EXPECT_EQ(LoadPictureFile(path(c.name)).value(), expected) << c.name;
        EXPECT_EQ(openPicture(path(c.name)), expected) << c.name;
        EXPECT_EQ(readAnyPicture(path(c.name)), expected) << c.name;
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

// Any bytes but '/' and NUL make a file name. One that is not UTF-8 must
// reach the file system as it is: Qt's decoding would turn x\xff.png into
// x\xef\xbf\xbd.png (U+FFFD) and read or write that file instead.
TEST_F(PictureFileTest, NamesThatAreNotUtf8AreUsedByteForByte)
{
    TBitmap32 p = test::randomPicture(5, 4, 1), q = test::randomPicture(5, 4, 2);
    FillAlpha(p, 255);
    FillAlpha(q, 255);
    const std::string replaced = "\xef\xbf\xbd";
    for (const char* ext : {".png", ".bmp"}) {  // Qt's reader and ours
        savePicture(q, path("x" + replaced + ext));
        savePicture(p, path(std::string("x\xff") + ext));
        EXPECT_EQ(readAnyPicture(path(std::string("x\xff") + ext)), p) << ext;
        EXPECT_EQ(readAnyPicture(path("x" + replaced + ext)), q) << ext;
    }
    // Saving under such a name makes that file and no other.
    savePicture(q, path("y\xfe.bmp"));
    EXPECT_EQ(openPicture(path("y\xfe.bmp")), q);
    EXPECT_FALSE(fs::exists(path("y\xff.bmp")));
    EXPECT_FALSE(fs::exists(path("y" + replaced + ".bmp")));
}

// What a save through a temporary file and a rename must keep.
TEST_F(PictureFileTest, ASaveKeepsLinksAndPermissionsAndLeavesNoTemporary)
{
    const TBitmap32 p = test::randomPicture(3, 2, 1);
    writeBytes("target.bmp", {1, 2, 3});
    fs::permissions(path("target.bmp"), fs::perms(0640));
    fs::create_symlink("target.bmp", path("link.bmp"));
    savePicture(p, path("link.bmp"));
    EXPECT_TRUE(fs::is_symlink(path("link.bmp")));
    EXPECT_EQ(fs::status(path("target.bmp")).permissions(), fs::perms(0640));
    EXPECT_EQ(openPicture(path("target.bmp")).width(), 3);

    // A new file gets the permissions the user's umask gives.
    const mode_t previous = ::umask(027);
    savePicture(p, path("new.bmp"));
    ::umask(previous);
    EXPECT_EQ(fs::status(path("new.bmp")).permissions(), fs::perms(0640));

    // A name that is a folder holding files cannot be written: the folder
    // stays as it was and the temporary file goes.
    fs::create_directories(path("folder.bmp/inside"));
    EXPECT_THROW(savePicture(p, path("folder.bmp")), FileWriteError);
    EXPECT_TRUE(fs::is_directory(path("folder.bmp/inside")));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder.bmp", "link.bmp", "new.bmp", "target.bmp"}));
}

// The temporary file of a save is as private as the file it replaces from
// its first byte on: another user must not read the picture while it is
// written.
TEST_F(PictureFileTest, ATemporaryIsAsPrivateAsTheFileItReplacesWhileItIsWritten)
{
    writeBytes("private.bmp", {1, 2, 3});
    fs::permissions(path("private.bmp"), fs::perms(0600));
    const mode_t previous = ::umask(022);
    std::vector<mode_t> modes;
    writeFileAtomically(path("private.bmp"), [&](const ByteSink& write) {
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            struct stat info {};
            if (entry.path().filename().string().rfind(".plumora-", 0) == 0 && ::stat(entry.path().c_str(), &info) == 0)
                modes.push_back(info.st_mode & 07777);
        }
        const std::uint8_t bytes[] = {4, 5};
        write(bytes, sizeof bytes);
    });
    ::umask(previous);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0], mode_t(0600));
    EXPECT_EQ(fs::status(path("private.bmp")).permissions(), fs::perms(0600));
    EXPECT_EQ(fs::file_size(path("private.bmp")), 2u);
}

// What a worker killed while it wrote leaves behind is cleared by the next
// run; nothing else is, not even a file of that naming that is newer than
// the run (another run writing into the folder now).
TEST_F(PictureFileTest, StaleTemporariesOfOurOwnNamingAreRemovedAndNothingElse)
{
    const std::vector<std::string> kept = {".plumora-0123456789ABCDEF.tmp",  ".plumora-0123456789abcde.tmp",
                                           "x.plumora-0123456789abcdef.tmp", ".plumora-0123456789abcdef.tmp.bak",
                                           ".plumora-0123456789abcdeg.tmp",  "photo.tmp"};
    for (const std::string& name : kept)
        writeBytes(name, {1});
    writeBytes(".plumora-0123456789abcdef.tmp", {1});
    writeBytes(".plumora-fedcba9876543210.tmp", {1});
    fs::create_directory(path(".plumora-00000000000000aa.tmp"));
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : fs::directory_iterator(m_dir))
        fs::last_write_time(entry.path(), old);
    // This one is being written by a run that started after ours.
    fs::last_write_time(path(".plumora-fedcba9876543210.tmp"),
                        fs::file_time_type::clock::now() + std::chrono::hours(1));

    EXPECT_EQ(removeStaleTemporaries(m_dir.string(), std::chrono::system_clock::now()), 1);
    EXPECT_FALSE(fs::exists(path(".plumora-0123456789abcdef.tmp")));
    EXPECT_TRUE(fs::exists(path(".plumora-fedcba9876543210.tmp")));
    EXPECT_TRUE(fs::is_directory(path(".plumora-00000000000000aa.tmp")));
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(path(name))) << name;
    EXPECT_EQ(removeStaleTemporaries(path("no-such-folder"), std::chrono::system_clock::now()), 0);
}

// An SVG can draw another file of this computer into itself; outside the
// desktop program one is refused before it is drawn, whatever its name says.
TEST_F(PictureFileTest, SvgDrawingsAreReadOnlyWhereTheDesktopProgramAsks)
{
    TBitmap32 secret = test::randomPicture(4, 4, 9);
    FillAlpha(secret, 255);
    savePicture(secret, path("secret.png"));
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                            "width=\"4\" height=\"4\"><image x=\"0\" y=\"0\" width=\"4\" height=\"4\" xlink:href=\"" +
                            path("secret.png") + "\"/></svg>\n";
    writeBytes("drawing.svg", std::vector<std::uint8_t>(svg.begin(), svg.end()));
    writeBytes("drawing.png", std::vector<std::uint8_t>(svg.begin(), svg.end()));
    for (const char* name : {"drawing.svg", "drawing.png"}) {
        try {
            readAnyPicture(path(name));
            ADD_FAILURE() << name << " was read";
        } catch (const PlumoraError& e) {
            EXPECT_STREQ(e.what(), kSvgRefusedMessage) << name;
        }
    }
    // The desktop program reads the user's own drawings as before.
    EXPECT_EQ(readAnyPicture(path("drawing.svg"), SvgDrawings::Read).width(), 4);
}

}  // namespace
}  // namespace plumora
