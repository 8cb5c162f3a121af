#include "formats/jpeg.h"

#include "formats/bmp.h"
#include "formats/exif.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A JPEG made by libjpeg directly, for the kinds our writer does not make.
Bytes makeJpeg(int width, int height, int components, J_COLOR_SPACE in, J_COLOR_SPACE stored, bool adobe, int quality,
               const std::uint8_t* samples, bool progressive = false, bool arithmetic = false)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, stored);
    c.write_Adobe_marker = adobe;
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    c.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(samples) + std::size_t(c.next_scanline) * width * components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    jpeg_destroy_compress(&c);
    return out;
}

TBitmap32 smoothPicture(int width, int height)
{
    TBitmap32 p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* q = p.ScanLine(y) + 4 * x;
            q[kBlue] = std::uint8_t(x * 3);
            q[kGreen] = std::uint8_t(40 + y * 4);
            q[kRed] = std::uint8_t(200 - x - y);
            q[kAlpha] = 255;
        }
    return p;
}

// The file's marker segments; a scan's length includes its entropy-coded data.
struct Segment {
    std::size_t offset;
    int marker;
    std::size_t length;
};

std::vector<Segment> segments(const Bytes& f)
{
    std::vector<Segment> out;
    std::size_t pos = 2;
    while (pos + 2 <= f.size() && f[pos] == 0xFF) {
        const int marker = f[pos + 1];
        if (marker == 0xD9 || pos + 4 > f.size()) {
            out.push_back({pos, marker, 2});
            break;
        }
        std::size_t end = pos + 2 + (f[pos + 2] << 8 | f[pos + 3]);
        if (marker == 0xDA)
            while (end + 1 < f.size() && !(f[end] == 0xFF && f[end + 1] != 0 && (f[end + 1] & 0xF8) != 0xD0))
                ++end;
        out.push_back({pos, marker, end - pos});
        pos = end;
    }
    return out;
}

void expectNear(const std::uint8_t* pixel, int r, int g, int b, int tolerance, const char* what)
{
    EXPECT_NEAR(pixel[kRed], r, tolerance) << what;
    EXPECT_NEAR(pixel[kGreen], g, tolerance) << what;
    EXPECT_NEAR(pixel[kBlue], b, tolerance) << what;
    EXPECT_EQ(pixel[kAlpha], 255) << what;
}

void expectReadError(const Bytes& file, const std::string& what)
{
    try {
        decodeJpeg(file.data(), file.size());
        ADD_FAILURE() << what << ": accepted";
    } catch (const PlumoraError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("The JPEG file cannot be read: ", 0), 0u) << what << ": " << e.what();
    }
}

// ---- writing and reading back ----

TEST(JpegRoundTrip, SmoothPictureComesBackClose)
{
    const TBitmap32 p = smoothPicture(61, 37);
    const Bytes file = encodeJpeg(p, 90);
    const TBitmap32 back = decodeJpeg(file.data(), file.size());
    ASSERT_EQ(back.width(), 61);
    ASSERT_EQ(back.height(), 37);
    int worst = 0;
    for (std::size_t i = 0; i < p.byteCount(); ++i)
        worst = std::max(worst, i % 4 == kAlpha ? 255 - back.bits()[i] : std::abs(back.bits()[i] - p.bits()[i]));
    EXPECT_LE(worst, 6);
}

TEST(JpegEncode, IsBaselineColourWithTwoByTwoChroma)
{
    const Bytes file = encodeJpeg(smoothPicture(20, 20));
    int sof0 = 0;
    for (const Segment& s : segments(file)) {
        EXPECT_TRUE(s.marker == 0xC0 || s.marker == 0xC4 || (s.marker & 0xF0) != 0xC0) << std::hex << s.marker;
        if (s.marker == 0xC0) {
            ++sof0;
            const std::uint8_t* h = file.data() + s.offset + 4;
            EXPECT_EQ(h[5], 3);      // components
            EXPECT_EQ(h[7], 0x22);   // luma 2x2
            EXPECT_EQ(h[10], 0x11);  // chroma 1x1
            EXPECT_EQ(h[13], 0x11);
        }
    }
    EXPECT_EQ(sof0, 1);
}

TEST(JpegEncode, QualityIsUsedAndFourthByteIgnored)
{
    TBitmap32 p = smoothPicture(64, 64);
    for (std::size_t i = 0; i < p.byteCount(); i += 7)
        p.bits()[i] ^= 0x55;  // some detail for the quality to matter
    const Bytes high = encodeJpeg(p, 95);
    EXPECT_LT(encodeJpeg(p, 20).size() * 2, high.size());
    FillAlpha(p, 0);
    EXPECT_EQ(encodeJpeg(p, 95), high);
}

TEST(JpegEncode, EmptyPictureIsRefused)
{
    EXPECT_THROW(encodeJpeg(TBitmap32()), PlumoraError);
}

// ---- colour spaces ----

TEST(JpegDecode, GreyscaleGivesEqualChannels)
{
    Bytes grey(40 * 16);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = std::uint8_t((i % 40) * 6 + i / 40);
    const Bytes file = makeJpeg(40, 16, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, 95, grey.data());
    const TBitmap32 p = decodeJpeg(file.data(), file.size());
    ASSERT_EQ(p.width(), 40);
    for (int i = 0; i < 40 * 16; ++i) {
        const std::uint8_t* q = p.bits() + 4 * i;
        ASSERT_TRUE(q[0] == q[1] && q[1] == q[2] && q[3] == 255) << i;
        ASSERT_NEAR(q[0], grey[i], 3) << i;
    }
}

TEST(JpegDecode, CmykIsConvertedAndAdobeFilesAreInverted)
{
    // Two flat 8x8 blocks of stored ink values; at quality 100 CMYK comes back
    // exactly, YCCK within 1 (its colour transform rounds).
    const std::uint8_t leftInks[4] = {200, 201, 202, 200}, rightInks[4] = {10, 77, 133, 250};
    Bytes cmyk(16 * 8 * 4);
    for (int i = 0; i < 16 * 8; ++i)
        std::memcpy(&cmyk[4 * i], i % 16 < 8 ? leftInks : rightInks, 4);
    struct Case {
        J_COLOR_SPACE stored;
        bool adobe;
        int tolerance;
        int left[3], right[3];  // red, green, blue
    } cases[] = {
        // Adobe: R = c * k / 255 with the stored (inverted) values, rounded.
        {JCS_CMYK, true, 0, {157, 158, 158}, {10, 75, 130}},
        {JCS_YCCK, true, 1, {157, 158, 158}, {10, 75, 130}},
        // Plain: R = (255 - c) * (255 - k) / 255.
        {JCS_CMYK, false, 0, {12, 12, 11}, {5, 3, 2}},
    };
    for (const Case& c : cases) {
        const Bytes file = makeJpeg(16, 8, 4, JCS_CMYK, c.stored, c.adobe, 100, cmyk.data());
        const TBitmap32 p = decodeJpeg(file.data(), file.size());
        const std::string what = std::string(c.stored == JCS_YCCK ? "YCCK" : "CMYK") + (c.adobe ? " Adobe" : "");
        expectNear(p.ScanLine(3) + 4 * 3, c.left[0], c.left[1], c.left[2], c.tolerance, what.c_str());
        expectNear(p.ScanLine(3) + 4 * 12, c.right[0], c.right[1], c.right[2], c.tolerance, what.c_str());
    }
}

// ---- exact pixels ----

// libjpeg's own decoding of a file with its default settings, one row at a
// time into a separate buffer: blue, green and red as it gives them in three
// bytes (grey in one, replicated), and 255 in the fourth byte. CMYK comes out
// as inks, turned into colour here with the rounding written out in floating
// point: each channel is the nearest integer to (paper left by the ink) x
// (paper left by the black) / 255.
TBitmap32 referenceDecode(const Bytes& file)
{
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&c, TRUE);
    const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    const bool grey = c.jpeg_color_space == JCS_GRAYSCALE;
    c.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    TBitmap32 p(int(c.output_width), int(c.output_height));
    Bytes row(std::size_t(c.output_width) * std::size_t(c.output_components));
    while (c.output_scanline < c.output_height) {
        std::uint8_t* out = p.ScanLine(int(c.output_scanline));
        JSAMPROW in = row.data();
        jpeg_read_scanlines(&c, &in, 1);
        for (std::size_t x = 0; x < c.output_width; ++x, out += 4) {
            if (grey) {
                out[kBlue] = out[kGreen] = out[kRed] = row[x];
            } else if (cmyk) {
                double left[4];
                for (int i = 0; i < 4; ++i)
                    left[i] = c.saw_Adobe_marker ? row[4 * x + i] : 255 - row[4 * x + i];
                out[kRed] = std::uint8_t(std::lround(left[0] * left[3] / 255));
                out[kGreen] = std::uint8_t(std::lround(left[1] * left[3] / 255));
                out[kBlue] = std::uint8_t(std::lround(left[2] * left[3] / 255));
            } else {
                std::memcpy(out, &row[3 * x], 3);
            }
            out[kAlpha] = 255;
        }
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return p;
}

// The file with an Exif block holding only the orientation, right after the
// start marker, as cameras write it.
Bytes withOrientation(Bytes jpeg, int orientation)
{
    Bytes block = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};  // big-endian TIFF, IFD at 8
    // One entry: tag 0x0112, type SHORT, one value held in place; no next IFD.
    block.insert(block.end(), {0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, std::uint8_t(orientation), 0, 0});
    block.insert(block.end(), {0, 0, 0, 0});
    Bytes segment = {0xFF, 0xE1, 0, std::uint8_t(block.size() + 2)};
    segment.insert(segment.end(), block.begin(), block.end());
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    return jpeg;
}

TEST(JpegDecode, EveryKindIsOpaqueWithLibjpegsOwnColours)
{
    // Noise in every byte and sizes that are not whole blocks: every
    // rounding of the colour conversion and the chroma upsampling shows.
    const TBitmap32 photo = test::randomPicture(37, 23, 5);
    Bytes grey(37 * 23);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = photo.bits()[4 * i + kGreen];
    const std::uint8_t* bgrx = photo.bits();
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"colour, as the program saves", encodeJpeg(photo, 90)},
        {"grey", makeJpeg(37, 23, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, 90, grey.data())},
        {"stored as RGB", makeJpeg(37, 23, 4, JCS_EXT_BGRX, JCS_RGB, false, 90, bgrx)},
        {"progressive", makeJpeg(37, 23, 4, JCS_EXT_BGRX, JCS_YCbCr, false, 90, bgrx, true)},
        {"CMYK, Adobe", makeJpeg(37, 23, 4, JCS_CMYK, JCS_CMYK, true, 90, bgrx)},
        {"YCCK, Adobe", makeJpeg(37, 23, 4, JCS_CMYK, JCS_YCCK, true, 90, bgrx)},
        {"CMYK, plain", makeJpeg(37, 23, 4, JCS_CMYK, JCS_CMYK, false, 90, bgrx)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(test::decoded(decodeJpeg(c.file.data(), c.file.size())), test::decoded(referenceDecode(c.file)))
            << c.what;
}

TEST(JpegDecode, TurnedPhotosAreOpaqueWithTheSameColoursTurned)
{
    const Bytes file = encodeJpeg(test::randomPicture(21, 13, 6), 90);
    const TBitmap32 upright = referenceDecode(file);
    for (int orientation : {1, 3, 6, 8}) {
        const Bytes turned = withOrientation(file, orientation);
        EXPECT_EQ(test::decoded(decodeJpeg(turned.data(), turned.size())),
                  test::decoded(orientUpright(upright, orientation)))
            << orientation;
    }
}

TEST(JpegDecode, LargePicturesComeOutTheSameWhicheverThreadsDecodeThem)
{
    // Over 8 MB of pixels: another core maps the picture's pages while the
    // rows decode, when the thread count allows it.
    TBitmap32 p(1600, 1400);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            test::setPixel(p, x, y, 0xFF000000u | std::uint32_t(x * 7 + y) << 8 | std::uint32_t(x ^ y));
    const Bytes file = encodeJpeg(p, 90);
    const TBitmap32 expected = referenceDecode(file);
    const Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(file.size() / 2));
    struct Reset {
        ~Reset() { setThreadCount(0); }
    } reset;
    for (int threads : {1, 2, 4}) {
        setThreadCount(threads);
        EXPECT_TRUE(decodeJpeg(file.data(), file.size()) == expected) << threads << " threads";
        expectReadError(cut, "cut in half, " + std::to_string(threads) + " threads");
    }
}

// ---- damaged files ----

TEST(JpegDecode, EveryTruncationIsAnError)
{
    const Bytes file = encodeJpeg(smoothPicture(40, 24));
    for (std::size_t n = 0; n < file.size(); ++n)
        expectReadError(Bytes(file.begin(), file.begin() + std::ptrdiff_t(n)), "cut at " + std::to_string(n));
}

TEST(JpegDecode, GarbageIsAnError)
{
    std::mt19937 rng(7);
    Bytes noise(3000);
    for (std::uint8_t& b : noise)
        b = std::uint8_t(rng());
    expectReadError(noise, "noise");
    expectReadError({}, "empty");
    expectReadError(encodeBmp24(smoothPicture(4, 4)), "a BMP file");
    Bytes header = encodeJpeg(smoothPicture(16, 16));
    header.resize(2);
    header.insert(header.end(), noise.begin(), noise.end());
    expectReadError(header, "SOI then noise");
}

TEST(JpegDecode, HugeDeclaredSizeIsRefused)
{
    Bytes file = encodeJpeg(smoothPicture(16, 16));
    for (const Segment& s : segments(file))
        if (s.marker == 0xC0)
            for (std::size_t i : {5u, 6u, 7u, 8u})
                file[s.offset + i] = i % 2 ? 0xEA : 0x60;  // 60000 x 60000
    EXPECT_THROW(decodeJpeg(file.data(), file.size()), ImageTooLargeError);
}

TEST(JpegDecode, ProgressiveDecodesButEndlessScansAreRefused)
{
    const TBitmap32 p = smoothPicture(32, 32);
    const Bytes file = makeJpeg(32, 32, 4, JCS_EXT_BGRX, JCS_YCbCr, false, 90, p.bits(), true);
    const TBitmap32 back = decodeJpeg(file.data(), file.size());
    expectNear(back.ScanLine(10) + 4 * 10, p.ScanLine(10)[kRed + 40], p.ScanLine(10)[kGreen + 40],
               p.ScanLine(10)[kBlue + 40], 6, "progressive");

    // The last scan repeated 600 times: libjpeg only warns about such a file.
    const std::vector<Segment> parts = segments(file);
    const Segment last = parts[parts.size() - 2];
    ASSERT_EQ(last.marker, 0xDA);
    Bytes many(file.begin(), file.begin() + std::ptrdiff_t(last.offset));
    for (int i = 0; i < 600; ++i)
        many.insert(many.end(), file.begin() + std::ptrdiff_t(last.offset),
                    file.begin() + std::ptrdiff_t(last.offset + last.length));
    many.insert(many.end(), {0xFF, 0xD9});
    expectReadError(many, "600 scans");
}

// The AC scans of endOfBandScans: coefficients first to last, and whether
// they refine what earlier scans gave (successive approximation) or are the
// first scan of their band.
struct AcBand {
    int first = 1, last = 63;
    bool refining = false;
};

// A progressive grey JPEG of the given size: its DC scan, one bit a block
// (the least any picture's data can take), then `scans` AC scans, each one run
// of end-of-band codes over every block: some 15 bits for 32767 blocks, so
// the file stays small, and each scan still costs the decoder a pass over all
// of the picture's blocks (a refining one, a look at every coefficient of its
// band in every block). With dcData false, the DC scan is left out and the
// file is a few bytes whatever size it declares. (libjpeg only warns that
// the progression is bogus, then decodes.)
Bytes endOfBandScans(int width, int height, int scans, AcBand band = {}, bool dcData = true)
{
    auto segment = [](Bytes& f, int marker, const Bytes& body) {
        const std::size_t length = body.size() + 2;
        f.insert(f.end(), {0xFF, std::uint8_t(marker), std::uint8_t(length >> 8), std::uint8_t(length)});
        f.insert(f.end(), body.begin(), body.end());
    };
    Bytes f = {0xFF, 0xD8};
    Bytes table(65, 1);
    table[0] = 0;
    segment(f, 0xDB, table);
    segment(f, 0xC2,
            {8, std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8), std::uint8_t(width), 1, 1,
             0x11, 0});
    // DC table 0 holds one code, "0", for a difference of 0; AC table 0
    // one code, "0", for symbol 0xE0: an end-of-band run of 2^14 plus the
    // 14 bits that follow.
    for (const std::uint8_t symbol : {0x00, 0xE0}) {
        Bytes huffman = {std::uint8_t(symbol == 0 ? 0x00 : 0x10), 1};
        huffman.resize(17, 0);
        huffman.push_back(symbol);
        segment(f, 0xC4, huffman);
    }

    const std::size_t blocks = std::size_t((width + 7) / 8) * std::size_t((height + 7) / 8);
    if (dcData) {
        segment(f, 0xDA, {1, 1, 0x00, 0, 0, 0});  // component 1, DC only
        f.insert(f.end(), (blocks + 7) / 8, 0);   // "0" for every block
    }
    Bytes data;
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t value, int n) {
        bits = bits << n | value;
        for (count += n; count >= 8; count -= 8) {
            data.push_back(std::uint8_t(bits >> (count - 8)));
            if (data.back() == 0xFF)
                data.push_back(0);  // stuffed
        }
    };
    for (std::size_t covered = 0; covered < blocks; covered += 32767)
        put(0x3FFF, 15);  // "0", then 14 ones: a run of 32767 blocks
    if (count > 0)
        put(0xFF >> count, 8 - count);  // padded with ones
    for (int i = 0; i < scans; ++i) {
        // Component 1, the band, and the bit it refines (Ah 1, Al 0) or none.
        segment(
            f, 0xDA,
            {1, 1, 0x00, std::uint8_t(band.first), std::uint8_t(band.last), std::uint8_t(band.refining ? 0x10 : 0)});
        f.insert(f.end(), data.begin(), data.end());
    }
    f.insert(f.end(), {0xFF, 0xD9});
    return f;
}

std::string refusal(const Bytes& file)
{
    try {
        decodeJpeg(file.data(), file.size());
    } catch (const PlumoraError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(JpegDecode, ScansAreLimitedByTheWorkTheyCost)
{
    // Within the 500 scans libjpeg-turbo's own tools allow, yet each of these
    // is a pass over 262144 blocks for a few bytes of file, a refining one a
    // look at 63 coefficients in each: 500 of them kept the decoder busy for
    // half a minute.
    const Bytes costly = endOfBandScans(4096, 4096, 40, {1, 63, true});
    EXPECT_LT(costly.size(), 48000u);
    EXPECT_NE(refusal(costly).find("too many scans"), std::string::npos) << refusal(costly);
    // As many scans, each refining one coefficient or the first of its band,
    // cost a fraction of that and are read.
    for (const AcBand band : {AcBand{1, 1, true}, AcBand{1, 63, false}}) {
        const Bytes cheap = endOfBandScans(4096, 4096, 40, band);
        EXPECT_EQ(decodeJpeg(cheap.data(), cheap.size()).width(), 4096) << band.last << band.refining;
    }
    // A small picture costs little whatever its scans, and is read.
    for (const bool refining : {false, true}) {
        const Bytes small = endOfBandScans(64, 48, 400, {1, 63, refining});
        const TBitmap32 p = decodeJpeg(small.data(), small.size());
        EXPECT_EQ(p.width(), 64);
        EXPECT_EQ(p.height(), 48);
    }
}

TEST(JpegDecode, DataTooShortForTheDeclaredPictureIsRefusedBeforeDecoding)
{
    // A few hundred bytes of scans, without the DC coefficients, declaring
    // 3617 x 64508: libjpeg would set up and clear buffers for 3.6 million
    // blocks (1.4 GB, 3.5 s) and give a grey picture. It is refused at the
    // header, which the message tells apart from data found missing later.
    const Bytes hollow = endOfBandScans(3617, 64508, 8, {}, false);
    EXPECT_LT(hollow.size(), 4000u);
    EXPECT_NE(refusal(hollow).find("too little data for a picture of its size"), std::string::npos) << refusal(hollow);
    // A baseline file of 2 KB whose header says the same.
    Bytes tall = encodeJpeg(test::photoLike(48, 48, 2), 90);
    for (const Segment& s : segments(tall))
        if (s.marker == 0xC0) {
            tall[s.offset + 5] = 64508 >> 8;
            tall[s.offset + 6] = 64508 & 0xFF;
            tall[s.offset + 7] = 3617 >> 8;
            tall[s.offset + 8] = 3617 & 0xFF;
        }
    EXPECT_NE(refusal(tall).find("too little data"), std::string::npos) << refusal(tall);

    // One bit a block is all a picture's data must hold: a file of exactly
    // that much is read, and so is a progressive file of its DC scan alone.
    const Bytes exact = endOfBandScans(3617, 512, 0);
    EXPECT_EQ(decodeJpeg(exact.data(), exact.size()).height(), 512);
    const TBitmap32 photo = test::photoLike(96, 64, 3);
    const Bytes progressive = makeJpeg(96, 64, 4, JCS_EXT_BGRX, JCS_YCbCr, false, 90, photo.bits(), true);
    for (const Segment& s : segments(progressive))
        if (s.marker == 0xDA) {
            Bytes dcOnly(progressive.begin(), progressive.begin() + std::ptrdiff_t(s.offset + s.length));
            dcOnly.insert(dcOnly.end(), {0xFF, 0xD9});
            EXPECT_TRUE(decodeJpeg(dcOnly.data(), dcOnly.size()) == referenceDecode(dcOnly));
            break;
        }
}

TEST(JpegDecode, ArithmeticCodingIsNotHeldToOneBitABlock)
{
    // An arithmetic coder spends far less than a bit on a block of a flat
    // picture; the file is read all the same, as libjpeg decodes it.
    TBitmap32 flat(512, 512);
    std::memset(flat.bits(), 0x80, flat.byteCount());
    const Bytes file = makeJpeg(512, 512, 4, JCS_EXT_BGRX, JCS_YCbCr, false, 75, flat.bits(), false, true);
    // 4096 luma and 2048 chroma blocks in well under 768 bytes.
    EXPECT_LT(file.size(), 700u);
    EXPECT_TRUE(decodeJpeg(file.data(), file.size()) == referenceDecode(file));
}

// The file with its first scan's entropy-coded data cut at `fraction` of its
// length and an end marker after it, as a copy that stopped early and was
// "repaired" leaves it.
Bytes cutInFirstScan(const Bytes& file, double fraction)
{
    for (const Segment& s : segments(file))
        if (s.marker == 0xDA) {
            const std::size_t header = 2 + (file[s.offset + 2] << 8 | file[s.offset + 3]);
            Bytes cut(file.begin(),
                      file.begin() + std::ptrdiff_t(s.offset + header + std::size_t((s.length - header) * fraction)));
            cut.insert(cut.end(), {0xFF, 0xD9});
            return cut;
        }
    return {};
}

TEST(JpegDecode, DataCutShortBeforeAnEndMarkerIsRefused)
{
    const TBitmap32 photo = test::photoLike(96, 64, 3);
    const Bytes baseline = encodeJpeg(photo, 90);
    const Bytes progressive = makeJpeg(96, 64, 4, JCS_EXT_BGRX, JCS_YCbCr, false, 90, photo.bits(), true);
    for (const Bytes* file : {&baseline, &progressive}) {
        const char* what = file == &baseline ? "baseline" : "progressive";
        EXPECT_FALSE(decodeJpeg(file->data(), file->size()).empty()) << what;
        for (double fraction : {0.1, 0.5, 0.9}) {
            const Bytes cut = cutInFirstScan(*file, fraction);
            ASSERT_FALSE(cut.empty());
            try {
                decodeJpeg(cut.data(), cut.size());
                ADD_FAILURE() << what << " cut at " << fraction << ": accepted";
            } catch (const PlumoraError& e) {
                EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << e.what();
            }
        }
    }
}

TEST(JpegDecode, HarmlessWarningsStillGiveThePicture)
{
    // Stray bytes between two segments: libjpeg warns of extraneous data
    // and reads on, as every viewer does.
    const Bytes file = encodeJpeg(test::photoLike(40, 24, 4), 90);
    Bytes stray = file;
    for (const Segment& s : segments(file))
        if (s.marker == 0xC0) {
            stray.insert(stray.begin() + std::ptrdiff_t(s.offset), {0x00, 0x12, 0x34});
            break;
        }
    ASSERT_GT(stray.size(), file.size());
    EXPECT_TRUE(decodeJpeg(stray.data(), stray.size()) == decodeJpeg(file.data(), file.size()));
}

}  // namespace
}  // namespace plumora
