// Colour profiles and camera data: read from every format that holds them,
// made true of the saved picture, and written into JPEG, PNG, WebP and TIFF.
// The files in tests/data/photos were made by make_photos.sh and
// make_metadata_photos.py there.

#include "formats/encoders.h"
#include "formats/exif.h"
#include "formats/jpeg.h"
#include "formats/metadata.h"
#include "formats/picture_file.h"

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <QBuffer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

namespace plumora {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> photoBytes(const std::string& name)
{
    return readWholeFile((fs::path(PLUMORA_PHOTOS) / name).string());
}

PictureMetadata metadataOf(const std::string& name)
{
    return readPictureMetadata((fs::path(PLUMORA_PHOTOS) / name).string());
}

std::string makeOf(const std::vector<ExifEntry>& directory)
{
    for (const ExifEntry& e : directory)
        if (e.tag == 0x010F)
            return std::string(e.value.begin(), std::find(e.value.begin(), e.value.end(), 0));
    return {};
}

bool has(const std::vector<ExifEntry>& directory, std::uint16_t tag)
{
    return std::any_of(directory.begin(), directory.end(), [&](const ExifEntry& e) { return e.tag == tag; });
}

TBitmap32 gradient(int width, int height)
{
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.ScanLine(y) + 4 * x;
            p[0] = std::uint8_t(x * 5);
            p[1] = std::uint8_t(y * 7);
            p[2] = std::uint8_t(x + y);
            p[3] = 255;
        }
    return picture;
}

// ---- reading ----

TEST(MetadataReading, EveryFormatGivesItsProfileAndExifBlockByteForByte)
{
    const std::vector<std::uint8_t> p3 = photoBytes("p3.icc");
    const std::vector<std::uint8_t> camera = photoBytes("camera.exif");
    const std::vector<std::uint8_t> upright = photoBytes("upright.exif");
    struct Case {
        const char* file;
        const std::vector<std::uint8_t>* exif;
    };
    // camera.jpg stores its two profile chunks second first.
    for (const Case& c : {Case{"camera.jpg", &camera}, Case{"camera.heic", &camera}, Case{"p3.png", &upright},
                          Case{"p3.webp", &upright}, Case{"p3.heic", &upright}, Case{"p3.avif", &upright}}) {
        const PictureMetadata metadata = metadataOf(c.file);
        EXPECT_EQ(metadata.icc, p3) << c.file;
        EXPECT_EQ(metadata.exif, *c.exif) << c.file;
    }
}

TEST(MetadataReading, ATiffGivesItsProfileAndItsCameraDataWithoutItsPixelLayout)
{
    const PictureMetadata metadata = metadataOf("p3.tif");
    EXPECT_EQ(metadata.icc, photoBytes("p3.icc"));
    const std::optional<ExifData> exif = parseExif(metadata.exif.data(), metadata.exif.size());
    ASSERT_TRUE(exif);
    EXPECT_EQ(makeOf(exif->main), "Plumora Test Camera");
    EXPECT_TRUE(has(exif->camera, 0x829A));  // exposure time
    EXPECT_TRUE(has(exif->location, 0x0001));
    for (const std::uint16_t layout : {0x0100, 0x0111, 0x0117, 0x8773})
        EXPECT_FALSE(has(exif->main, layout)) << layout;
}

TEST(MetadataReading, AJpegXlGivesTheProfileOfItsColours)
{
    // Stored without loss, the file keeps its own profile (djxl gives the
    // same bytes) and its values are in it.
    EXPECT_EQ(metadataOf("p3.jxl").icc, photoBytes("p3.icc"));
    EXPECT_TRUE(metadataOf("photo.jxl").icc.empty());  // sRGB
}

TEST(MetadataReading, FilesWithoutThemGiveNothing)
{
    for (const char* file : {"photo.heic", "photo.avif", "photo.jxl", "photo.webp", "source.png", "deep.tif"})
        EXPECT_TRUE(metadataOf(file).empty()) << file;
    const PictureMetadata jpeg = metadataOf("exif6.jpg");
    EXPECT_TRUE(jpeg.icc.empty());
    const std::optional<ExifData> exif = parseExif(jpeg.exif.data(), jpeg.exif.size());
    ASSERT_TRUE(exif);
    EXPECT_EQ(exifNumber(exif->main, 0x0112), 6u);
    EXPECT_TRUE(readPictureMetadata((fs::path(PLUMORA_PHOTOS) / "no-such-file.jpg").string()).empty());
}

TEST(MetadataReading, AProfileChunkMissingOrNotRgbIsNotKept)
{
    std::vector<std::uint8_t> jpeg = photoBytes("camera.jpg");
    // The first chunk stored (number 2 of 2) made number 1 too: one chunk is
    // then missing and another twice.
    const auto at = std::search(jpeg.begin(), jpeg.end(), std::begin("ICC_PROFILE"), std::end("ICC_PROFILE"));
    ASSERT_NE(at, jpeg.end());
    at[12] = 1;
    EXPECT_TRUE(readPictureMetadata(jpeg.data(), jpeg.size()).icc.empty());
    EXPECT_FALSE(readPictureMetadata(jpeg.data(), jpeg.size()).exif.empty());

    std::vector<std::uint8_t> grey = photoBytes("p3.icc");
    std::memcpy(grey.data() + 16, "GRAY", 4);
    EXPECT_FALSE(isRgbIccProfile(grey.data(), grey.size()));
    std::vector<std::uint8_t> cut = photoBytes("p3.icc");
    cut.pop_back();
    EXPECT_FALSE(isRgbIccProfile(cut.data(), cut.size()));
}

// ---- the Exif block written ----

TEST(ExifForWriting, IsUprightWithoutThumbnailMakersNoteOrLocationAndKeepsTheRest)
{
    const std::vector<std::uint8_t> camera = photoBytes("camera.exif");
    const std::vector<std::uint8_t> written = exifForWriting(camera, false, 45, 67);
    const std::optional<ExifData> before = parseExif(camera.data(), camera.size());
    const std::optional<ExifData> after = parseExif(written.data(), written.size());
    ASSERT_TRUE(before && after);
    EXPECT_FALSE(after->littleEndian);  // the camera's byte order
    EXPECT_EQ(exifNumber(before->main, 0x0112), 6u);
    EXPECT_EQ(exifNumber(after->main, 0x0112), 1u);
    EXPECT_EQ(makeOf(after->main), "Plumora Test Camera");
    EXPECT_EQ(exifNumber(after->camera, 0xA002), 45u);
    EXPECT_EQ(exifNumber(after->camera, 0xA003), 67u);
    EXPECT_TRUE(has(after->camera, 0x829A));
    EXPECT_FALSE(has(after->camera, 0x927C));
    EXPECT_TRUE(after->location.empty());
    // No second directory, and the thumbnail's JPEG bytes are gone.
    const bool big = !after->littleEndian;
    const std::size_t first = std::size_t(written[4]) << 24 | written[5] << 16 | written[6] << 8 | written[7];
    const std::size_t entries = big ? written[first] << 8 | written[first + 1] : 0;
    const std::size_t next = first + 2 + 12 * entries;
    EXPECT_EQ(std::count(written.begin() + std::ptrdiff_t(next), written.begin() + std::ptrdiff_t(next + 4), 0), 4);
    const std::uint8_t soi[] = {0xFF, 0xD8, 0xFF};
    EXPECT_EQ(std::search(written.begin(), written.end(), std::begin(soi), std::end(soi)), written.end());
    EXPECT_NE(std::search(camera.begin(), camera.end(), std::begin(soi), std::end(soi)), camera.end());
    // Every other entry is kept as it was.
    for (const ExifEntry& e : before->main)
        if (e.tag != 0x0112)
            EXPECT_TRUE(std::find(after->main.begin(), after->main.end(), e) != after->main.end()) << e.tag;
}

TEST(ExifForWriting, KeepsTheLocationOnlyWhenAsked)
{
    const std::vector<std::uint8_t> camera = photoBytes("camera.exif");
    const std::vector<std::uint8_t> written = exifForWriting(camera, true, 10, 10);
    const std::optional<ExifData> before = parseExif(camera.data(), camera.size());
    const std::optional<ExifData> after = parseExif(written.data(), written.size());
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->location.size(), 4u);
    EXPECT_EQ(after->location, before->location);
}

TEST(ExifForWriting, HostileBlocksAreRefusedOrRewrittenNeverReadPast)
{
    // A directory pointing at itself as its Exif directory, counts that run
    // past the end, an entry count of 65535, and thousands of mutations of
    // a real block and of its every shortening. Run under the sanitizers in CI.
    std::vector<std::uint8_t> loop = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x69, 0x87, 4,
                                      0,   1,   0,  0, 0, 8, 0, 0, 0, 0, 0,    0,    0};
    EXPECT_FALSE(exifForWriting(loop, true, 1, 1).empty());
    std::vector<std::uint8_t> many = {'M', 'M', 0, 42, 0, 0, 0, 8, 0xFF, 0xFF};
    EXPECT_TRUE(exifForWriting(many, true, 1, 1).empty());
    std::vector<std::uint8_t> huge = {'I',  'I', 42, 0,    8,    0,    0,    0, 1, 0, 0x0F,
                                      0x01, 2,   0,  0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    const std::vector<std::uint8_t> kept = exifForWriting(huge, true, 1, 1);
    const std::optional<ExifData> parsed = parseExif(kept.data(), kept.size());
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(has(parsed->main, 0x010F));

    const std::vector<std::uint8_t> camera = photoBytes("camera.exif");
    std::mt19937 random(30);
    int rewritten = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> block = camera;
        for (int k = 0; k < 1 + round % 4; ++k)
            block[random() % block.size()] = std::uint8_t(random());
        block.resize(block.size() - random() % 64);
        const std::vector<std::uint8_t> out = exifForWriting(block, round % 2 == 0, 3, 4);
        if (!out.empty()) {
            ++rewritten;
            EXPECT_TRUE(parseExif(out.data(), out.size()));
        }
    }
    EXPECT_GT(rewritten, 1000);  // most mutations leave a readable block
    for (std::size_t n = 0; n < camera.size(); ++n)
        (void)exifForWriting(std::vector<std::uint8_t>(camera.begin(), camera.begin() + std::ptrdiff_t(n)), true, 1, 1);
}

TEST(MetadataReading, DamagedFilesGiveWhatCanBeReadAndNeverReadPast)
{
    for (const char* file : {"camera.jpg", "p3.png", "p3.webp", "p3.tif", "camera.heic", "p3.avif", "p3.jxl"}) {
        const std::vector<std::uint8_t> bytes = photoBytes(file);
        for (std::size_t n = 0; n < bytes.size(); n += 1 + n / 64) {
            // A copy of exactly n bytes, so that the sanitizers see a read past it.
            const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
            const PictureMetadata metadata = readPictureMetadata(cut.data(), cut.size());
            if (!metadata.icc.empty())
                EXPECT_TRUE(isRgbIccProfile(metadata.icc.data(), metadata.icc.size()));
        }
    }
}

// ---- writing ----

class MetadataWriting : public ::testing::TestWithParam<SaveFormat> {};

TEST_P(MetadataWriting, TheProfileAndTheExifBlockReadBackFromTheFile)
{
    SaveOptions options;
    options.metadata = metadataOf("camera.jpg");
    const TBitmap32 picture = gradient(30, 20);
    const std::vector<std::uint8_t> file = encodePicture(picture, GetParam(), options);
    const PictureMetadata back = readPictureMetadata(file.data(), file.size());
    EXPECT_EQ(back.icc, photoBytes("p3.icc"));
    const std::vector<std::uint8_t> want = exifForWriting(options.metadata.exif, false, 30, 20);
    if (GetParam() == SaveFormat::Tiff) {
        // The camera's tags join the TIFF's own directory.
        const std::optional<ExifData> a = parseExif(back.exif.data(), back.exif.size());
        const std::optional<ExifData> b = parseExif(want.data(), want.size());
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->camera, b->camera);
        EXPECT_EQ(makeOf(a->main), "Plumora Test Camera");
        EXPECT_EQ(exifNumber(a->main, 0x0112), 1u);
        EXPECT_TRUE(a->location.empty());
    } else {
        EXPECT_EQ(back.exif, want);
    }
    // Qt reads the same profile, and the picture as it is (no turn).
    QImage image = QImage::fromData(QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(30, 20));
    const QByteArray profile = image.colorSpace().iccProfile();
    EXPECT_EQ(std::vector<std::uint8_t>(profile.begin(), profile.end()), back.icc);
}

TEST_P(MetadataWriting, WithoutMetadataTheFileIsWhatItAlwaysWas)
{
    const TBitmap32 picture = gradient(30, 20);
    SaveOptions plain;
    SaveOptions emptyMetadata;
    emptyMetadata.keepLocation = true;
    const std::vector<std::uint8_t> file = encodePicture(picture, GetParam(), plain);
    EXPECT_EQ(encodePicture(picture, GetParam(), emptyMetadata), file);
    EXPECT_TRUE(readPictureMetadata(file.data(), file.size()).empty());
    // A profile that is not an RGB one is not written at all.
    SaveOptions grey;
    grey.metadata.icc = photoBytes("p3.icc");
    std::memcpy(grey.metadata.icc.data() + 16, "GRAY", 4);
    EXPECT_EQ(encodePicture(picture, GetParam(), grey), file);
}

INSTANTIATE_TEST_SUITE_P(Formats, MetadataWriting,
                         ::testing::Values(SaveFormat::Jpeg, SaveFormat::Png, SaveFormat::Webp, SaveFormat::Tiff),
                         [](const auto& info) { return std::string(writableType(info.param).name); });

TEST(MetadataWriting, AProfileLargerThanOneJpegSegmentGoesInChunksAndComesBackWhole)
{
    std::vector<std::uint8_t> icc = photoBytes("p3.icc");
    icc.resize(150000, 0x5A);  // past every tag: padding a profile may have
    for (int i = 0; i < 4; ++i)
        icc[std::size_t(i)] = std::uint8_t(icc.size() >> (24 - 8 * i));
    ASSERT_TRUE(isRgbIccProfile(icc.data(), icc.size()));
    PictureMetadata metadata;
    metadata.icc = icc;
    const std::vector<std::uint8_t> file = encodeJpeg(gradient(8, 8), 90, metadata);
    EXPECT_EQ(readPictureMetadata(file.data(), file.size()).icc, icc);
}

TEST(MetadataWriting, AnExifBlockTooLargeForAJpegIsLeftOutAndThePictureSaved)
{
    PictureMetadata metadata;
    ExifData data;
    data.main.push_back({0x010E, 7, 70000, std::vector<std::uint8_t>(70000, 'x')});
    metadata.exif = serializeExif(data);
    const std::vector<std::uint8_t> file = encodeJpeg(gradient(8, 8), 90, metadata);
    EXPECT_TRUE(readPictureMetadata(file.data(), file.size()).exif.empty());
    EXPECT_EQ(decodeJpeg(file.data(), file.size()).width(), 8);
}

TEST(MetadataWriting, AJpegWithATurnedCamerasExifOpensAsSavedNotTurnedAgain)
{
    SaveOptions options;
    options.metadata = metadataOf("camera.jpg");
    const std::vector<std::uint8_t> file = encodePicture(gradient(30, 20), SaveFormat::Jpeg, options);
    EXPECT_EQ(decodeJpeg(file.data(), file.size()).width(), 30);
    QByteArray bytes(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "jpeg");
    EXPECT_EQ(reader.transformation(), QImageIOHandler::TransformationNone);
}

}  // namespace
}  // namespace plumora
