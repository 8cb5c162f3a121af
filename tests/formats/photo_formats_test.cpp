// Today's photographs: HEIC and AVIF (libheif), JPEG XL (libjxl), WebP and
// deep PNG and TIFF. The files in tests/data/photos were made by
// make_photos.sh there, with each format's own encoder, beside the pixels
// the format's own decoder gave (*.expected.png).

#include "formats/exif.h"
#include "formats/heif.h"
#include "formats/jxl.h"
#include "formats/picture_file.h"
#include "raster/errors.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace plumora {
namespace {

namespace fs = std::filesystem;

const fs::path kPhotos = PLUMORA_PHOTOS;

std::string photo(const std::string& name)
{
    return (kPhotos / name).string();
}

// What a PNG of 8-bit samples holds: our PNG reading is lossless.
TBitmap32 expected(const std::string& name)
{
    return readAnyPicture(photo(name));
}

class PhotoFormatsTest : public test::TempFolderTest {
protected:
    void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

TEST(PhotoFormats, ThisMachinesLibheifDecodesHevcAndAv1)
{
    EXPECT_TRUE(heifCanDecodeHevc());
    EXPECT_TRUE(heifCanDecodeAv1());
}

TEST(PhotoFormats, EachFormatGivesItsOwnLibrarysPixelsExactly)
{
    for (const char* name : {"photo.heic", "photo.avif", "photo.jxl", "photo.webp"}) {
        const TBitmap32 picture = readAnyPicture(photo(name));
        const TBitmap32 want = expected(std::string(name) + ".expected.png");
        ASSERT_EQ(picture.width(), 67) << name;
        ASSERT_EQ(picture.height(), 45) << name;
        EXPECT_TRUE(picture == want) << name;
    }
}

TEST(PhotoFormats, AHeicOfTwoPicturesOpensAtItsPrimaryPicture)
{
    const TBitmap32 picture = readAnyPicture(photo("two.heic"));
    EXPECT_TRUE(picture == expected("two-1.png"));  // heif-info: the 67 x 45 one is primary
}

// Orientation 6: the stored picture turns a quarter clockwise to stand up,
// so the red block drawn in its top left corner ends at the top right.
void expectTurnedClockwise(const TBitmap32& picture, const std::string& what)
{
    ASSERT_EQ(picture.width(), 45) << what;
    ASSERT_EQ(picture.height(), 67) << what;
    const std::uint8_t* topRight = picture.ScanLine(2) + 4 * 42;
    EXPECT_GT(topRight[2], 180) << what;  // red
    EXPECT_LT(topRight[1], 90) << what;
    const std::uint8_t* topLeft = picture.ScanLine(2) + 4 * 2;
    EXPECT_LT(topLeft[2], 180) << what;
}

TEST(PhotoFormats, ExifOrientationTurnsAHeicAsItTurnsAJpeg)
{
    const TBitmap32 jpeg = readAnyPicture(photo("exif6.jpg"));
    expectTurnedClockwise(jpeg, "exif6.jpg");
    // The HEIC holds the JPEG's Exif block and no turn of its own: libheif
    // gives the stored picture, which we then turn as the JPEG is turned.
    const TBitmap32 heic = readAnyPicture(photo("exif6.heic"));
    expectTurnedClockwise(heic, "exif6.heic");
    EXPECT_TRUE(heic == orientUpright(expected("exif6.heic.expected.png"), 6));
    // cjxl moved the orientation into the JPEG XL header; libjxl turns it.
    const TBitmap32 jxl = readAnyPicture(photo("exif6.jxl"));
    expectTurnedClockwise(jxl, "exif6.jxl");
    EXPECT_TRUE(jxl == expected("exif6.jxl.expected.png"));
}

TEST(PhotoFormats, AFilesOwnTurnIsAppliedOnce)
{
    // irot: a quarter turn anticlockwise, done by libheif as heif-convert does.
    const TBitmap32 picture = readAnyPicture(photo("turned.avif"));
    EXPECT_EQ(picture.width(), 45);
    EXPECT_TRUE(picture == expected("turned.avif.expected.png"));
}

// The 16-bit values make_photos.py writes, in its order.
constexpr std::uint16_t kDeep[] = {0x0000, 0x00FF, 0x0180, 0x01FF, 0x7F80, 0x7FFF,
                                   0x8080, 0xFE80, 0xFEFF, 0xFFFF, 0x1234, 0xABCD};
constexpr int kDeepCount = int(std::size(kDeep));

std::uint8_t rounded(std::uint16_t v)
{
    return std::uint8_t((v * 255u + 32767u) / 65535u);
}

TEST(PhotoFormats, SixteenBitSamplesAreRoundedToEightBits)
{
    // Where rounding and cutting the low byte off differ: 0x01FF is 1.99,
    // 0x0180 1.49.
    ASSERT_EQ(rounded(0x01FF), 2);
    ASSERT_EQ(rounded(0x0180), 1);
    for (const char* name : {"deep.png", "deep.tif", "deep.jxl"}) {
        const TBitmap32 picture = readAnyPicture(photo(name));
        ASSERT_EQ(picture.width(), kDeepCount) << name;
        ASSERT_EQ(picture.height(), 3) << name;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < kDeepCount; ++x) {
                const std::uint8_t* p = picture.ScanLine(y) + 4 * x;
                EXPECT_EQ(p[2], rounded(kDeep[x])) << name << " red " << x << "," << y;
                EXPECT_EQ(p[1], rounded(kDeep[(x + 1 + y) % kDeepCount])) << name << " green " << x << "," << y;
                EXPECT_EQ(p[0], rounded(kDeep[(x + 5 + 2 * y) % kDeepCount])) << name << " blue " << x << "," << y;
                EXPECT_EQ(p[3], 255);
            }
    }
    const TBitmap32 grey = readAnyPicture(photo("deep-grey.png"));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < kDeepCount; ++x) {
            const std::uint8_t* p = grey.ScanLine(y) + 4 * x;
            const std::uint8_t v = rounded(kDeep[(x + y) % kDeepCount]);
            EXPECT_TRUE(p[0] == v && p[1] == v && p[2] == v) << "grey " << x << "," << y << ": " << int(p[0]);
        }
}

TEST(PhotoFormats, TenBitAvifSamplesAreRoundedToEightBits)
{
    EXPECT_TRUE(readAnyPicture(photo("deep10.avif")) == expected("deep10.avif.expected.png"));
}

TEST_F(PhotoFormatsTest, NewFormatsAreKnownByTheirContentWhateverTheirName)
{
    for (const char* name : {"photo.heic", "photo.avif", "photo.jxl", "photo.webp"}) {
        const TBitmap32 want = readAnyPicture(photo(name));
        const std::vector<std::uint8_t> bytes = readWholeFile(photo(name));
        for (const char* other : {"as.jpg", "as.JPEG", "as.bmp", "as.png", "noextension"}) {
            writeBytes(other, bytes);
            EXPECT_TRUE(readAnyPicture(path(other)) == want) << name << " as " << other;
        }
    }
    // The program's own open reads them too, whatever their name.
    writeBytes("phone.jpg", readWholeFile(photo("photo.heic")));
    EXPECT_TRUE(LoadPictureFile(path("phone.jpg")).value() == readAnyPicture(photo("photo.heic")));
    EXPECT_TRUE(openPicture(photo("photo.jxl")) == readAnyPicture(photo("photo.jxl")));
}

// A JPEG XL codestream of nothing but a header: signature, a size and
// default metadata, bits packed from the lowest.
std::vector<std::uint8_t> jxlHeader(std::uint32_t side)
{
    std::vector<std::uint8_t> bytes = {0xFF, 0x0A};
    std::uint64_t bits = 0;
    int count = 0;
    const auto put = [&](std::uint32_t value, int n) {
        bits |= std::uint64_t(value) << count;
        count += n;
    };
    put(0, 1);          // not small
    put(2, 2);          // height: 18 bits of height - 1
    put(side - 1, 18);  //
    put(1, 3);          // width = height
    put(1, 1);          // all the metadata at its defaults
    put(0, 7);          // padding
    for (; count > 0; count -= 8, bits >>= 8)
        bytes.push_back(std::uint8_t(bits));
    return bytes;
}

TEST(PhotoFormats, APictureTooLargeIsRefusedFromItsHeader)
{
    // 20000 x 20000 is 400 million pixels, over the 2^28 limit: refused
    // before anything of it is decoded (the header is all there is).
    const std::vector<std::uint8_t> jxl = jxlHeader(20000);
    EXPECT_THROW(decodeJxl(jxl.data(), jxl.size()), ImageTooLargeError);
    // A header of an acceptable size with no picture after it.
    const std::vector<std::uint8_t> small = jxlHeader(200);
    EXPECT_THROW(decodeJxl(small.data(), small.size()), NotValidFormatError);

    // The HEIC's "ispe" box made to say 20000 x 20000.
    std::vector<std::uint8_t> heic = readWholeFile(photo("photo.heic"));
    int patched = 0;
    for (std::size_t i = 0; i + 16 <= heic.size(); ++i)
        if (std::equal(heic.begin() + std::ptrdiff_t(i), heic.begin() + std::ptrdiff_t(i) + 4, "ispe")) {
            for (std::size_t at : {i + 8, i + 12}) {
                heic[at] = 0;
                heic[at + 1] = 0;
                heic[at + 2] = 0x4E;
                heic[at + 3] = 0x20;
            }
            ++patched;
        }
    ASSERT_GT(patched, 0);
    EXPECT_THROW(decodeHeif(heic.data(), heic.size()), ImageTooLargeError);
}

TEST(PhotoFormats, AGridLargerThanItsPictureIsRefusedBeforeItIsDecoded)
{
    // photo.heic's 67 x 45 picture is a grid of one 68 x 64 tile (heif-enc
    // crops that way). Its "iloc" box says where the grid's description
    // lies; moved by one byte (offset 144), the description read says
    // 17152 x 11520, which libheif 1.15 would decode and fill, seconds of
    // work for a 3 KB file.
    std::vector<std::uint8_t> bytes = readWholeFile(photo("photo.heic"));
    ASSERT_EQ(decodeHeif(bytes.data(), bytes.size()).width(), 67);
    bytes[144] ^= 1;
    try {
        decodeHeif(bytes.data(), bytes.size());
        FAIL();
    } catch (const NotValidFormatError& e) {
        EXPECT_NE(std::string(e.what()).find("17152x11520"), std::string::npos) << e.what();
    }
}

TEST(PhotoFormats, DamagedFilesAreRefusedWithTheReadersMessage)
{
    for (const char* name : {"photo.heic", "photo.avif"}) {
        std::vector<std::uint8_t> bytes = readWholeFile(photo(name));
        bytes.resize(bytes.size() / 2);
        try {
            decodeHeif(bytes.data(), bytes.size());
            ADD_FAILURE() << name;
        } catch (const NotValidFormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("The HEIF picture cannot be read: ", 0), 0u) << e.what();
        }
    }
    std::vector<std::uint8_t> jxl = readWholeFile(photo("photo.jxl"));
    jxl.resize(jxl.size() / 2);
    try {
        decodeJxl(jxl.data(), jxl.size());
        ADD_FAILURE();
    } catch (const NotValidFormatError& e) {
        EXPECT_EQ(std::string(e.what()), "The JPEG XL picture cannot be read: the file ends early.");
    }
}

// Bytes of each file changed in turn, in two ways: each decoding
// either gives a picture or is refused with our error, never a crash (the
// fuzzers go much further; this runs on every build, under the sanitizers
// too).
TEST(PhotoFormats, EveryDamagedByteIsRefusedOrDecoded)
{
    using Decoder = TBitmap32 (*)(const std::uint8_t*, std::size_t);
    const std::pair<const char*, Decoder> files[] = {
        {"photo.heic", decodeHeif}, {"turned.avif", decodeHeif}, {"photo.jxl", decodeJxl}};
    for (const auto& [name, decode] : files) {
        const std::vector<std::uint8_t> original = readWholeFile(photo(name));
        // A HEIF's size ("ispe") changed may make a valid picture of a
        // hundred million pixels, which takes seconds to decode like any
        // picture of that size (the limit is tested above): left as it is.
        std::vector<bool> size(original.size(), false);
        for (std::size_t i = 0; i + 16 <= original.size(); ++i)
            if (std::equal(original.begin() + std::ptrdiff_t(i), original.begin() + std::ptrdiff_t(i) + 4, "ispe"))
                std::fill(size.begin() + std::ptrdiff_t(i) + 8, size.begin() + std::ptrdiff_t(i) + 16, true);
        int refused = 0;
        // The headers (the first 400 bytes) closely, the rest sampled.
        for (std::size_t i = 0; i < original.size(); i += i < 400 ? 3 : 41) {
            if (size[i])
                continue;
            for (std::uint8_t change : {std::uint8_t(0xFF), std::uint8_t(0x01)}) {
                std::vector<std::uint8_t> bytes = original;
                bytes[i] ^= change;
                try {
                    const TBitmap32 picture = decode(bytes.data(), bytes.size());
                    EXPECT_FALSE(picture.empty());
                } catch (const PlumoraError&) {
                    ++refused;
                }
            }
        }
        EXPECT_GT(refused, 0) << name;
    }
}

}  // namespace
}  // namespace plumora
