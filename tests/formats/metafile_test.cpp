#include "formats/metafile.h"

#include "raster/errors.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QRawFont>
#include <gtest/gtest.h>

#include <uemf.h>
#include <uemf_utf.h>
#include <uwmf.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const void* p)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
}

void setLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

U_COLORREF rgb(int r, int g, int b)
{
    return colorref3_set(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
}

// 0xRRGGBB of a pixel.
std::uint32_t colourAt(const TBitmap32& p, int x, int y)
{
    const std::uint8_t* q = p.ScanLine(y) + 4 * x;
    return (std::uint32_t(q[kRed]) << 16) | (std::uint32_t(q[kGreen]) << 8) | q[kBlue];
}

// Colours as colourAt gives them.
constexpr std::uint32_t kWhitePx = 0xFFFFFF;
constexpr std::uint32_t kRedPx = 0xFF0000;
constexpr std::uint32_t kGreenPx = 0x00FF00;
constexpr std::uint32_t kBluePx = 0x0000FF;
constexpr std::uint32_t kYellowPx = 0xFFFF00;

// A WMF assembled from records libuemf makes; each record is freed once copied.
class Wmf {
public:
    // With a placeable header: a box of width x height units at unitsPerInch.
    static Wmf placeable(int width, int height, int unitsPerInch)
    {
        U_PAIRF inches{float(double(width) / unitsPerInch), float(double(height) / unitsPerInch)};
        Wmf w;
        w.take(U_WMRHEADER_set(&inches, unsigned(unitsPerInch)), U_SIZE_WMRPLACEABLE + U_SIZE_WMRHEADER);
        return w;
    }
    static Wmf bare()
    {
        Wmf w;
        w.take(U_WMRHEADER_set(nullptr, 0), U_SIZE_WMRHEADER);
        return w;
    }
    Wmf& add(char* record)
    {
        EXPECT_NE(record, nullptr);
        if (record != nullptr)
            take(record, 2 * le32(record));
        return *this;
    }
    // A record from its function number and 16-bit parameters.
    Wmf& raw(std::uint16_t function, std::vector<std::uint16_t> params)
    {
        const std::uint32_t words = 3 + std::uint32_t(params.size());
        m_bytes.resize(m_bytes.size() + 4);
        setLe32(m_bytes.data() + m_bytes.size() - 4, words);
        m_bytes.push_back(std::uint8_t(function));
        m_bytes.push_back(std::uint8_t(function >> 8));
        for (std::uint16_t v : params) {
            m_bytes.push_back(std::uint8_t(v));
            m_bytes.push_back(std::uint8_t(v >> 8));
        }
        return *this;
    }
    // libuemf's viewport extent setter writes a window extent record.
    Wmf& viewportExt(std::int16_t x, std::int16_t y) { return raw(0x020E, {std::uint16_t(y), std::uint16_t(x)}); }
    Wmf& solidBrush(U_COLORREF colour)
    {
        return add(U_WMRCREATEBRUSHINDIRECT_set(U_WLOGBRUSH_set(U_BS_SOLID, colour, 0)));
    }
    Wmf& nullPen() { return add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_NULL, 0, rgb(0, 0, 0)))); }
    Wmf& select(std::uint16_t index) { return add(U_WMRSELECTOBJECT_set(index)); }
    Wmf& rectangle(int left, int top, int right, int bottom)
    {
        return add(U_WMRRECTANGLE_set(
            U_RECT16{std::int16_t(left), std::int16_t(top), std::int16_t(right), std::int16_t(bottom)}));
    }
    Wmf& window(int x, int y, int width, int height)
    {
        add(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
        add(U_WMRSETWINDOWORG_set(point16_set(std::int16_t(x), std::int16_t(y))));
        return add(U_WMRSETWINDOWEXT_set(point16_set(std::int16_t(width), std::int16_t(height))));
    }
    Bytes bytes() const
    {
        Bytes b = m_bytes;
        const std::uint8_t eof[] = {3, 0, 0, 0, 0, 0};
        b.insert(b.end(), eof, eof + 6);
        return b;
    }

private:
    void take(char* record, std::size_t size)
    {
        m_bytes.insert(m_bytes.end(), record, record + size);
        std::free(record);
    }
    Bytes m_bytes;
};

// An EMF assembled from libuemf's records.
class Emf {
public:
    explicit Emf(U_RECTL bounds, U_RECTL frame = {0, 0, 0, 0}, U_SIZEL device = {1920, 1080},
                 U_SIZEL millimetres = {508, 286})
    {
        add(U_EMRHEADER_set(bounds, frame, nullptr, 0, nullptr, device, millimetres, 0));
    }
    Emf& add(char* record)
    {
        EXPECT_NE(record, nullptr);
        if (record != nullptr) {
            const std::uint32_t size = le32(record + 4);
            m_bytes.insert(m_bytes.end(), record, record + size);
            std::free(record);
        }
        return *this;
    }
    Emf& raw(std::uint32_t type, Bytes payload)
    {
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + 8);
        setLe32(m_bytes.data() + at, type);
        setLe32(m_bytes.data() + at + 4, std::uint32_t(8 + payload.size()));
        m_bytes.insert(m_bytes.end(), payload.begin(), payload.end());
        return *this;
    }
    Emf& anisotropic(int windowW, int windowH, int viewportW, int viewportH)
    {
        add(U_EMRSETMAPMODE_set(U_MM_ANISOTROPIC));
        add(U_EMRSETWINDOWEXTEX_set(U_SIZEL{windowW, windowH}));
        return add(U_EMRSETVIEWPORTEXTEX_set(U_SIZEL{viewportW, viewportH}));
    }
    Emf& solidBrush(std::uint32_t index, U_COLORREF colour)
    {
        return add(U_EMRCREATEBRUSHINDIRECT_set(index, logbrush_set(U_BS_SOLID, colour, 0)));
    }
    Emf& select(std::uint32_t index) { return add(U_EMRSELECTOBJECT_set(index)); }
    Emf& rectangle(int left, int top, int right, int bottom)
    {
        return add(U_EMRRECTANGLE_set(U_RECTL{left, top, right, bottom}));
    }
    Bytes bytes() const
    {
        Bytes b = m_bytes;
        // EOF: no palette, its offset, and the record's size again.
        const std::uint8_t eof[] = {14, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 20, 0, 0, 0};
        b.insert(b.end(), eof, eof + sizeof eof);
        return b;
    }

private:
    Bytes m_bytes;
};

TBitmap32 playWmf(const Bytes& file)
{
    return decodeWmf(file.data(), file.size());
}

TBitmap32 playEmf(const Bytes& file)
{
    return decodeEmf(file.data(), file.size());
}

TBitmap32 playWmf(const Bytes& file, MetafileWork& work)
{
    return decodeWmfCounted(file.data(), file.size(), work);
}

TBitmap32 playEmf(const Bytes& file, MetafileWork& work)
{
    return decodeEmfCounted(file.data(), file.size(), work);
}

// The message of the PlumoraError f throws, or "" when it throws none.
std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const PlumoraError& e) {
        return e.what();
    }
    return "";
}

// A 2 x 2 bitmap, 8 bits a pixel with a 4-colour table, rows bottom-up:
// red, green on top; blue, yellow below.
struct PaletteDib {
    Bytes info;  // BITMAPINFOHEADER and the table
    Bytes pixels;
};

PaletteDib paletteDib()
{
    PaletteDib d;
    d.info.assign(40 + 16, 0);
    setLe32(d.info.data(), 40);
    setLe32(d.info.data() + 4, 2);
    setLe32(d.info.data() + 8, 2);
    d.info[12] = 1;                  // planes
    d.info[14] = 8;                  // bits a pixel
    setLe32(d.info.data() + 20, 8);  // image size
    setLe32(d.info.data() + 32, 4);  // colours used
    const std::uint32_t table[] = {kRedPx, kGreenPx, kBluePx, kYellowPx};
    for (int i = 0; i < 4; ++i) {
        d.info[40 + 4 * i] = std::uint8_t(table[i]);
        d.info[41 + 4 * i] = std::uint8_t(table[i] >> 8);
        d.info[42 + 4 * i] = std::uint8_t(table[i] >> 16);
    }
    d.pixels = {2, 3, 0, 0, 0, 1, 0, 0};  // bottom row first, each padded to 4 bytes
    return d;
}

const U_BITMAPINFO* asInfo(const Bytes& b)
{
    return reinterpret_cast<const U_BITMAPINFO*>(b.data());
}

TBitmap32 randomPicture(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    TBitmap32 p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 4; ++x)
            p.ScanLine(y)[x] = std::uint8_t(random());
    return p;
}

// --- Writing a WMF and reading it back ----------------------------------------

TEST(WmfWriter, ReadsBackPixelExactAtOddSizes)
{
    for (auto [w, h] : {std::pair{7, 5}, std::pair{1, 1}, std::pair{300, 17}, std::pair{2, 33}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        const TBitmap32 picture = randomPicture(w, h, unsigned(w * 1000 + h));
        const Bytes file = encodeWmf(picture);
        const TBitmap32 back = decodeWmf(file.data(), file.size());
        ASSERT_EQ(back.width(), w);
        ASSERT_EQ(back.height(), h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(colourAt(back, x, y), colourAt(picture, x, y)) << x << "," << y;
                ASSERT_EQ(back.ScanLine(y)[4 * x + kAlpha], 0);
            }
    }
}

TEST(WmfWriter, WritesAPlaceableFileOfThePictureSizeAt96UnitsAnInch)
{
    const TBitmap32 picture = randomPicture(13, 4, 7);
    const Bytes f = encodeWmf(picture);
    ASSERT_GE(f.size(), 22u + 18u);
    EXPECT_EQ(le32(f.data()), 0x9AC6CDD7u);
    auto s16 = [&](std::size_t at) { return std::int16_t(f[at] | (f[at + 1] << 8)); };
    EXPECT_EQ(s16(6), 0);  // box left, top, right, bottom
    EXPECT_EQ(s16(8), 0);
    EXPECT_EQ(s16(10), 13);
    EXPECT_EQ(s16(12), 4);
    EXPECT_EQ(s16(14), 96);  // units an inch
    std::uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= std::uint16_t(s16(2 * i));
    EXPECT_EQ(std::uint16_t(s16(20)), checksum);
    // The metafile header's size counts the words after the placeable record.
    EXPECT_EQ(le32(f.data() + 22 + 6), (f.size() - 22) / 2);

    // Records: each fits the file; one STRETCHDIB with SRCCOPY onto (0, 0)
    // at the picture's size from a 24-bit bitmap; the last one is the end.
    std::size_t pos = 22 + 18;
    int stretchDibs = 0;
    std::uint16_t lastType = 0xFFFF;
    while (pos < f.size()) {
        const std::size_t size = 2 * std::size_t(le32(f.data() + pos));
        ASSERT_GE(size, 6u);
        ASSERT_LE(size, f.size() - pos);
        lastType = std::uint16_t(f[pos + 4] | (f[pos + 5] << 8));
        if (lastType == 0x0F43) {
            ++stretchDibs;
            EXPECT_EQ(le32(f.data() + pos + 6), 0x00CC0020u);
            EXPECT_EQ(s16(pos + 26), 0);  // x, y, width, height of the destination
            EXPECT_EQ(s16(pos + 24), 0);
            EXPECT_EQ(s16(pos + 22), 13);
            EXPECT_EQ(s16(pos + 20), 4);
            EXPECT_EQ(le32(f.data() + pos + 28), 40u);                  // BITMAPINFOHEADER
            EXPECT_EQ(f[pos + 28 + 14], 24);                            // bits a pixel
            EXPECT_EQ(std::int32_t(le32(f.data() + pos + 28 + 8)), 4);  // bottom-up
            EXPECT_EQ(size, 28u + 40u + 4u * 40u);                      // rows of 13 * 3 bytes padded to 40
        }
        pos += size;
    }
    EXPECT_EQ(stretchDibs, 1);
    EXPECT_EQ(lastType, 0);
}

TEST(WmfWriter, RefusesPicturesItCannotHold)
{
    EXPECT_EQ(errorOf([] { encodeWmf(TBitmap32()); }), "An empty picture cannot be saved.");
    EXPECT_NE(errorOf([] { encodeWmf(TBitmap32(32768, 1)); }), "");
    EXPECT_EQ(errorOf([] { encodeWmf(TBitmap32(32767, 1)); }), "");
}

TEST(WmfWriter, TheSizeWorkedOutBeforehandIsTheSizeWritten)
{
    // Every padding of a 24-bit row (width x 3 modulo 4) and a tall picture.
    for (const auto& [width, height] :
         {std::pair{1, 1}, std::pair{2, 3}, std::pair{3, 2}, std::pair{4, 5}, std::pair{5, 1}, std::pair{17, 40}}) {
        TBitmap32 picture(width, height);
        EXPECT_EQ(encodeWmf(picture).size(), wmfFileSize(width, height)) << width << " x " << height;
    }
}

// --- Sizes and mapping ---------------------------------------------------------

TEST(WmfPlayback, WindowWithoutPlaceableHeaderMapsToTheViewport)
{
    // No placeable header: the first window extent (1000 x 1000) is the
    // picture's size; the viewport then shrinks the window to 100 x 50.
    const Bytes file = Wmf::bare()
                           .window(0, 0, 1000, 1000)
                           .viewportExt(100, 50)
                           .solidBrush(rgb(255, 0, 0))
                           .select(0)
                           .nullPen()
                           .select(1)
                           .rectangle(200, 200, 600, 600)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    ASSERT_EQ(p.width(), 1000);
    ASSERT_EQ(p.height(), 1000);
    EXPECT_EQ(colourAt(p, 40, 20), kRedPx);
    EXPECT_EQ(colourAt(p, 20, 10), kRedPx);  // the rectangle's corners, right and bottom left out
    EXPECT_EQ(colourAt(p, 59, 29), kRedPx);
    EXPECT_EQ(colourAt(p, 19, 20), kWhitePx);
    EXPECT_EQ(colourAt(p, 40, 9), kWhitePx);
    EXPECT_EQ(colourAt(p, 60, 20), kWhitePx);
    EXPECT_EQ(colourAt(p, 40, 30), kWhitePx);
    EXPECT_EQ(colourAt(p, 400, 400), kWhitePx);  // where it would be without the viewport
    EXPECT_EQ(p.ScanLine(20)[4 * 40 + kAlpha], 0);
}

TEST(WmfPlayback, PlaceableBoxIsTheSizeAt96DotsAnInchAndTheWindowFillsIt)
{
    // 2000 x 1000 units at 1920 an inch: 100 x 50 pixels.
    const Bytes file = Wmf::placeable(2000, 1000, 1920)
                           .window(0, 0, 2000, 1000)
                           .solidBrush(rgb(0, 0, 255))
                           .select(0)
                           .nullPen()
                           .select(1)
                           .rectangle(400, 200, 1200, 600)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    ASSERT_EQ(p.width(), 100);
    ASSERT_EQ(p.height(), 50);
    EXPECT_EQ(colourAt(p, 20, 10), kBluePx);
    EXPECT_EQ(colourAt(p, 59, 29), kBluePx);
    EXPECT_EQ(colourAt(p, 19, 10), kWhitePx);
    EXPECT_EQ(colourAt(p, 60, 29), kWhitePx);
    EXPECT_EQ(colourAt(p, 59, 30), kWhitePx);
}

TEST(WmfPlayback, WindowMapsOntoTheBoxEvenInTextMode)
{
    // Files that leave the mapping mode at MM_TEXT still fill their box.
    const Bytes file = Wmf::placeable(1440, 1440, 1440)
                           .add(U_WMRSETMAPMODE_set(U_MM_TEXT))
                           .add(U_WMRSETWINDOWEXT_set(point16_set(1440, 1440)))
                           .solidBrush(rgb(0, 0, 255))
                           .select(0)
                           .rectangle(720, 720, 1440, 1440)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    ASSERT_EQ(p.width(), 96);
    EXPECT_EQ(colourAt(p, 80, 80), kBluePx);
    EXPECT_EQ(colourAt(p, 40, 40), kWhitePx);
}

TEST(WmfPlayback, WithoutAnySizeTheFileIsRefused)
{
    const Bytes file = Wmf::bare().rectangle(0, 0, 10, 10).bytes();
    EXPECT_EQ(errorOf([&] { playWmf(file); }), "The metafile does not say its size.");
}

TEST(EmfPlayback, BoundsAreTheCanvasAndWindowMapsToViewport)
{
    const Bytes file = Emf(U_RECTL{0, 0, 99, 49})
                           .anisotropic(1000, 1000, 100, 50)
                           .solidBrush(1, rgb(255, 0, 0))
                           .select(1)
                           .select(U_NULL_PEN)
                           .rectangle(200, 200, 600, 600)
                           .bytes();
    const TBitmap32 p = playEmf(file);
    ASSERT_EQ(p.width(), 100);
    ASSERT_EQ(p.height(), 50);
    EXPECT_EQ(colourAt(p, 20, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 59, 29), kRedPx);
    EXPECT_EQ(colourAt(p, 19, 10), kWhitePx);
    EXPECT_EQ(colourAt(p, 60, 29), kWhitePx);
    EXPECT_EQ(colourAt(p, 59, 30), kWhitePx);
    EXPECT_EQ(p.ScanLine(10)[4 * 20 + kAlpha], 0);
}

TEST(EmfPlayback, CanvasStartsAtTheBoundsTopLeft)
{
    // Bounds (10, 20) - (19, 24) inclusive: 10 x 5 pixels, device (10, 20) at the corner.
    const Bytes file = Emf(U_RECTL{10, 20, 19, 24})
                           .solidBrush(1, rgb(0, 255, 0))
                           .select(1)
                           .select(U_NULL_PEN)
                           .rectangle(10, 20, 12, 22)
                           .bytes();
    const TBitmap32 p = playEmf(file);
    ASSERT_EQ(p.width(), 10);
    ASSERT_EQ(p.height(), 5);
    EXPECT_EQ(colourAt(p, 0, 0), kGreenPx);
    EXPECT_EQ(colourAt(p, 1, 1), kGreenPx);
    EXPECT_EQ(colourAt(p, 2, 2), kWhitePx);
}

TEST(EmfPlayback, EmptyBoundsFallBackToTheFrame)
{
    // 25.4 x 12.7 mm on a device of 960 pixels for 254 mm (96 dots an inch).
    const Bytes file =
        Emf(U_RECTL{0, 0, -1, -1}, U_RECTL{0, 0, 2540, 1270}, U_SIZEL{960, 960}, U_SIZEL{254, 254}).bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(p.width(), 96);
    EXPECT_EQ(p.height(), 48);
    EXPECT_EQ(errorOf([] {
                  const Bytes none = Emf(U_RECTL{0, 0, -1, -1}).bytes();
                  playEmf(none);
              }),
              "The metafile does not say its size.");
}

// The frame says how large the picture is: 29.03 mm square is 110 pixels at
// 96 dots an inch, though its device (56 pixels a millimetre, a printer's)
// gave it 1626 pixels of bounds. The frame, on that device, fills the canvas.
TEST(EmfPlayback, FrameGivesTheSizeAt96DotsAnInch)
{
    const auto play = [](U_RECTL frame, int offset) {
        Emf e(U_RECTL{offset, offset, offset + 1625, offset + 1625}, frame, U_SIZEL{5600, 5600}, U_SIZEL{100, 100});
        // The top-right quarter of the frame, in device pixels.
        e.solidBrush(1, rgb(255, 0, 0))
            .select(1)
            .select(U_NULL_PEN)
            .rectangle(offset + 813, offset, offset + 1626, offset + 813);
        return playEmf(e.bytes());
    };
    for (int offset : {0, 560}) {  // 560 device pixels: 10 mm
        const int frameAt = offset / 56 * 100;
        const TBitmap32 p = play(U_RECTL{frameAt, frameAt, frameAt + 2903, frameAt + 2903}, offset);
        ASSERT_EQ(p.width(), 110) << offset;
        ASSERT_EQ(p.height(), 110) << offset;
        EXPECT_EQ(colourAt(p, 57, 2), kRedPx) << offset;
        EXPECT_EQ(colourAt(p, 107, 52), kRedPx) << offset;
        EXPECT_EQ(colourAt(p, 52, 2), kWhitePx) << offset;
        EXPECT_EQ(colourAt(p, 107, 57), kWhitePx) << offset;
    }
    // A frame under a pixel, or one far beyond what we can hold, is not
    // believed: the bounds are the canvas, a device pixel a pixel.
    const U_RECTL unbelievable[] = {{0, 0, 1, 1}, {0, 0, 2000000000, 2000000000}, {0, 0, -5, 9}};
    for (U_RECTL frame : unbelievable) {
        const TBitmap32 p = play(frame, 0);
        EXPECT_EQ(p.width(), 1626);
        EXPECT_EQ(p.height(), 1626);
        EXPECT_EQ(colourAt(p, 1600, 20), kRedPx);
        EXPECT_EQ(colourAt(p, 20, 20), kWhitePx);
    }
}

// A writer that counts y upwards by negating it itself, without a mapping
// that says so, leaves its drawing above the frame's origin: bounds from
// -height to 0 against a frame from 0 to height. Such a drawing is played
// upside down into the frame and comes out as the same drawing made the
// usual way does; one that only pokes a little above the frame stays where
// its frame puts it.
TEST(EmfPlayback, DrawingAboveTheFrameOriginIsTurnedIntoIt)
{
    // 80 x 60 pixels at 96 dots an inch: a frame of 21.17 x 15.88 mm.
    const U_RECTL frame{0, 0, 2117, 1588};
    const auto build = [&](int sign, U_RECTL bounds) {
        Emf e(bounds, frame, U_SIZEL{960, 960}, U_SIZEL{254, 254});
        e.add(U_EMRSELECTOBJECT_set(U_NULL_PEN))
            .solidBrush(1, rgb(255, 0, 0))
            .select(1)
            .rectangle(10, sign * 5, 30, sign * 15)
            .solidBrush(2, rgb(0, 0, 255))
            .select(2)
            .rectangle(40, sign * 20, 70, sign * 55);
        return playEmf(e.bytes());
    };
    const TBitmap32 usual = build(1, U_RECTL{0, 0, 79, 59});
    ASSERT_EQ(usual.width(), 80);
    ASSERT_EQ(usual.height(), 60);
    EXPECT_EQ(colourAt(usual, 20, 10), kRedPx);
    EXPECT_EQ(colourAt(usual, 50, 40), kBluePx);
    const TBitmap32 negated = build(-1, U_RECTL{0, -59, 79, 0});
    EXPECT_TRUE(negated == usual);

    // Nine tenths of the bounds in the frame: placed by the frame, the
    // part above it cut away, as GDI does.
    Emf e(U_RECTL{0, -6, 79, 53}, frame, U_SIZEL{960, 960}, U_SIZEL{254, 254});
    e.add(U_EMRSELECTOBJECT_set(U_NULL_PEN)).solidBrush(1, rgb(0, 255, 0)).select(1).rectangle(10, -6, 30, 20);
    const TBitmap32 p = playEmf(e.bytes());
    EXPECT_EQ(colourAt(p, 20, 0), kGreenPx);
    EXPECT_EQ(colourAt(p, 20, 19), kGreenPx);
    EXPECT_EQ(colourAt(p, 20, 21), kWhitePx);
}

TEST(EmfPlayback, WorldTransformScalesTheDrawing)
{
    const Bytes file = Emf(U_RECTL{0, 0, 39, 39})
                           .add(U_EMRSETWORLDTRANSFORM_set(xform_set(2, 0, 0, 2, 0, 0)))
                           .solidBrush(1, rgb(255, 0, 0))
                           .select(1)
                           .select(U_NULL_PEN)
                           .rectangle(5, 5, 10, 10)
                           .bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(colourAt(p, 10, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 19, 19), kRedPx);
    EXPECT_EQ(colourAt(p, 9, 15), kWhitePx);
    EXPECT_EQ(colourAt(p, 20, 15), kWhitePx);
}

// Which way y grows. Each drawing fills the top-left quarter of its logical
// space (x from 0 rightwards, y from 0 towards the top of the picture,
// whichever way the mode counts it); on a canvas of 100 x 100 pixels it
// must cover the top-left quarter and nothing else, as GDI draws it.
TEST(EmfPlayback, EveryMappingModeCountsYAsGdiDoes)
{
    struct Case {
        const char* name;
        std::function<void(Emf&)> setUp;
        U_RECTL quarter;
    };
    const auto mode = [](std::uint32_t m) { return U_EMRSETMAPMODE_set(m); };
    const std::vector<Case> cases = {
        {"MM_TEXT: pixels, y down", [](Emf&) {}, {0, 0, 50, 50}},
        {"a world transform with positive scales, y down",
         [](Emf& e) { e.add(U_EMRSETWORLDTRANSFORM_set(xform_set(2, 0, 0, 2, 0, 0))); },
         {0, 0, 25, 25}},
        {"a world transform set, then scaled on its left",
         [](Emf& e) {
             e.add(U_EMRSETWORLDTRANSFORM_set(xform_set(1, 0, 0, 1, 0, 0)))
                 .add(U_EMRMODIFYWORLDTRANSFORM_set(xform_set(5, 0, 0, 5, 0, 0), U_MWT_LEFTMULTIPLY));
         },
         {0, 0, 10, 10}},
        // The fixed modes count y up from the top-left corner: the drawing is at negative y.
        {"MM_LOMETRIC", [&](Emf& e) { e.add(mode(U_MM_LOMETRIC)); }, {0, 0, 132, -132}},
        {"MM_HIMETRIC", [&](Emf& e) { e.add(mode(U_MM_HIMETRIC)); }, {0, 0, 1323, -1323}},
        {"MM_LOENGLISH", [&](Emf& e) { e.add(mode(U_MM_LOENGLISH)); }, {0, 0, 52, -52}},
        {"MM_HIENGLISH", [&](Emf& e) { e.add(mode(U_MM_HIENGLISH)); }, {0, 0, 521, -521}},
        {"MM_TWIPS", [&](Emf& e) { e.add(mode(U_MM_TWIPS)); }, {0, 0, 750, -750}},
        // MM_ISOTROPIC starts with MM_LOMETRIC's extents: with only a window
        // set, y still grows upwards, at 960 / 100 pixels a unit.
        {"MM_ISOTROPIC with only a window",
         [&](Emf& e) {
             e.add(mode(U_MM_ISOTROPIC)).add(U_EMRSETWINDOWEXTEX_set(U_SIZEL{100, 100}));
         },
         {0, 0, 5, -5}},
        // MM_ANISOTROPIC keeps the extents of the mode before it.
        {"MM_ANISOTROPIC after MM_LOMETRIC",
         [&](Emf& e) { e.add(mode(U_MM_LOMETRIC)).add(mode(U_MM_ANISOTROPIC)); },
         {0, 0, 132, -132}},
        {"MM_ANISOTROPIC, extents of the same sign",
         [](Emf& e) { e.anisotropic(200, 200, 100, 100); },
         {0, 0, 100, 100}},
        {"MM_ANISOTROPIC, a window counting y up",
         [](Emf& e) {
             e.anisotropic(100, -100, 100, 100).add(U_EMRSETWINDOWORGEX_set(U_POINTL{0, 100}));
         },
         {0, 100, 50, 50}},
        // Extents given in a fixed mode are ignored, as GDI ignores them.
        {"extents in MM_TEXT",
         [](Emf& e) {
             e.add(U_EMRSETWINDOWEXTEX_set(U_SIZEL{10, 10})).add(U_EMRSETVIEWPORTEXTEX_set(U_SIZEL{100, -100}));
         },
         {0, 0, 50, 50}},
    };
    for (const Case& c : cases) {
        // A reference device of 96 dots an inch: 960 pixels on 254 mm.
        Emf e(U_RECTL{0, 0, 99, 99}, U_RECTL{0, 0, 0, 0}, U_SIZEL{960, 960}, U_SIZEL{254, 254});
        c.setUp(e);
        e.solidBrush(1, rgb(255, 0, 0)).select(1).select(U_NULL_PEN);
        e.add(U_EMRRECTANGLE_set(c.quarter));
        const TBitmap32 p = playEmf(e.bytes());
        EXPECT_EQ(colourAt(p, 5, 5), kRedPx) << c.name;
        EXPECT_EQ(colourAt(p, 45, 45), kRedPx) << c.name;
        EXPECT_EQ(colourAt(p, 5, 95), kWhitePx) << c.name;
        EXPECT_EQ(colourAt(p, 95, 5), kWhitePx) << c.name;
        EXPECT_EQ(colourAt(p, 55, 55), kWhitePx) << c.name;
    }
}

TEST(WmfPlayback, WindowCountingYUpDrawsUpright)
{
    for (bool upwards : {false, true}) {
        Wmf w = Wmf::placeable(100, 100, 96);
        w.window(0, upwards ? 100 : 0, 100, upwards ? -100 : 100)
            .solidBrush(rgb(255, 0, 0))
            .select(0)
            .nullPen()
            .select(1)
            .rectangle(0, upwards ? 100 : 0, 50, 50);
        const TBitmap32 p = playWmf(w.bytes());
        EXPECT_EQ(colourAt(p, 5, 5), kRedPx) << upwards;
        EXPECT_EQ(colourAt(p, 45, 45), kRedPx) << upwards;
        EXPECT_EQ(colourAt(p, 5, 95), kWhitePx) << upwards;
        EXPECT_EQ(colourAt(p, 55, 55), kWhitePx) << upwards;
    }
}

// --- Drawing -------------------------------------------------------------------

TEST(WmfPlayback, LineUsesThePenAndLeavesOutItsLastPixel)
{
    const Bytes file = Wmf::placeable(60, 20, 96)
                           .window(0, 0, 60, 20)
                           .add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_SOLID, 0, rgb(255, 0, 0))))
                           .select(0)
                           .add(U_WMRMOVETO_set(point16_set(10, 10)))
                           .add(U_WMRLINETO_set(point16_set(50, 10)))
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 10, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 30, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 49, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 50, 10), kWhitePx);
    EXPECT_EQ(colourAt(p, 9, 10), kWhitePx);
    EXPECT_EQ(colourAt(p, 30, 9), kWhitePx);
    EXPECT_EQ(colourAt(p, 30, 11), kWhitePx);
}

TEST(WmfPlayback, WidePenCoversItsWidth)
{
    const Bytes file = Wmf::placeable(60, 40, 96)
                           .window(0, 0, 60, 40)
                           .add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_SOLID | U_PS_ENDCAP_FLAT, 8, rgb(0, 0, 255))))
                           .select(0)
                           .add(U_WMRMOVETO_set(point16_set(10, 20)))
                           .add(U_WMRLINETO_set(point16_set(50, 20)))
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 30, 17), kBluePx);
    EXPECT_EQ(colourAt(p, 30, 22), kBluePx);
    EXPECT_EQ(colourAt(p, 30, 12), kWhitePx);
    EXPECT_EQ(colourAt(p, 30, 27), kWhitePx);
}

TEST(WmfPlayback, PolygonAndEllipseFillTheirInsideOnly)
{
    const U_POINT16 triangle[] = {{0, 0}, {40, 0}, {0, 40}};
    const Bytes file = Wmf::placeable(100, 50, 96)
                           .window(0, 0, 100, 50)
                           .solidBrush(rgb(0, 255, 0))
                           .select(0)
                           .nullPen()
                           .select(1)
                           .add(U_WMRPOLYGON_set(3, triangle))
                           .add(U_WMRELLIPSE_set(U_RECT16{50, 0, 90, 40}))
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kGreenPx);
    EXPECT_EQ(colourAt(p, 35, 35), kWhitePx);  // beyond the diagonal
    EXPECT_EQ(colourAt(p, 70, 20), kGreenPx);  // the ellipse's centre
    EXPECT_EQ(colourAt(p, 52, 2), kWhitePx);   // its bounding box's corner
}

TEST(WmfPlayback, PaletteBitmapIsStretchedIntoItsRectangle)
{
    const PaletteDib dib = paletteDib();
    const Bytes file =
        Wmf::placeable(40, 40, 96)
            .window(0, 0, 40, 40)
            .add(U_WMRSTRETCHDIB_set(point16_set(10, 10), point16_set(20, 20), point16_set(0, 0), point16_set(2, 2),
                                     U_DIB_RGB_COLORS, U_SRCCOPY, asInfo(dib.info), std::uint32_t(dib.pixels.size()),
                                     reinterpret_cast<const char*>(dib.pixels.data())))
            .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 10, 10), kRedPx);
    EXPECT_EQ(colourAt(p, 19, 19), kRedPx);
    EXPECT_EQ(colourAt(p, 20, 10), kGreenPx);
    EXPECT_EQ(colourAt(p, 29, 19), kGreenPx);
    EXPECT_EQ(colourAt(p, 10, 20), kBluePx);
    EXPECT_EQ(colourAt(p, 29, 29), kYellowPx);
    EXPECT_EQ(colourAt(p, 9, 10), kWhitePx);
    EXPECT_EQ(colourAt(p, 30, 29), kWhitePx);
}

TEST(WmfPlayback, StretchDibSourceRowsCountFromTheBottom)
{
    // Source (0, 0) 1 x 1 of a bottom-up bitmap is its bottom-left pixel.
    const PaletteDib dib = paletteDib();
    const Bytes file =
        Wmf::placeable(10, 10, 96)
            .window(0, 0, 10, 10)
            .add(U_WMRSTRETCHDIB_set(point16_set(0, 0), point16_set(10, 10), point16_set(0, 0), point16_set(1, 1),
                                     U_DIB_RGB_COLORS, U_SRCCOPY, asInfo(dib.info), std::uint32_t(dib.pixels.size()),
                                     reinterpret_cast<const char*>(dib.pixels.data())))
            .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 0, 0), kBluePx);
    EXPECT_EQ(colourAt(p, 9, 9), kBluePx);
}

TEST(WmfPlayback, UnreadableBitmapIsSkippedAndTheRestDrawn)
{
    PaletteDib dib = paletteDib();
    setLe32(dib.info.data() + 4, 1000);  // as wide as the pixels it holds cannot be
    const Bytes file =
        Wmf::placeable(40, 40, 96)
            .window(0, 0, 40, 40)
            .add(U_WMRSTRETCHDIB_set(point16_set(0, 0), point16_set(20, 20), point16_set(0, 0), point16_set(2, 2),
                                     U_DIB_RGB_COLORS, U_SRCCOPY, asInfo(dib.info), std::uint32_t(dib.pixels.size()),
                                     reinterpret_cast<const char*>(dib.pixels.data())))
            .solidBrush(rgb(0, 255, 0))
            .select(0)
            .nullPen()
            .select(1)
            .rectangle(30, 30, 40, 40)
            .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kWhitePx);
    EXPECT_EQ(colourAt(p, 35, 35), kGreenPx);
}

TEST(WmfPlayback, RestoreDcBringsBackTheBrush)
{
    const Bytes file = Wmf::placeable(40, 10, 96)
                           .window(0, 0, 40, 10)
                           .nullPen()
                           .select(0)
                           .solidBrush(rgb(255, 0, 0))  // 1
                           .solidBrush(rgb(0, 0, 255))  // 2
                           .select(1)
                           .add(U_WMRSAVEDC_set())
                           .select(2)
                           .rectangle(0, 0, 10, 10)
                           .add(U_WMRRESTOREDC_set(-1))
                           .rectangle(20, 0, 30, 10)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kBluePx);
    EXPECT_EQ(colourAt(p, 25, 5), kRedPx);
}

TEST(WmfPlayback, CreatedObjectsTakeTheLowestFreeIndex)
{
    const Bytes file = Wmf::placeable(40, 10, 96)
                           .window(0, 0, 40, 10)
                           .solidBrush(rgb(255, 0, 0))  // 0
                           .solidBrush(rgb(0, 255, 0))  // 1
                           .add(U_WMRDELETEOBJECT_set(0))
                           .solidBrush(rgb(0, 0, 255))    // 0 again
                           .solidBrush(rgb(255, 255, 0))  // 2
                           .select(2)
                           .rectangle(0, 0, 10, 10)
                           .select(0)
                           .rectangle(20, 0, 30, 10)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kYellowPx);
    EXPECT_EQ(colourAt(p, 25, 5), kBluePx);
}

TEST(WmfPlayback, ClipRectanglesLimitTheDrawing)
{
    const Bytes file = Wmf::placeable(40, 40, 96)
                           .window(0, 0, 40, 40)
                           .solidBrush(rgb(255, 0, 0))
                           .select(0)
                           .nullPen()
                           .select(1)
                           .add(U_WMRINTERSECTCLIPRECT_set(U_RECT16{10, 10, 30, 30}))
                           .add(U_WMREXCLUDECLIPRECT_set(U_RECT16{15, 15, 20, 20}))
                           .rectangle(0, 0, 40, 40)
                           .bytes();
    const TBitmap32 p = playWmf(file);
    EXPECT_EQ(colourAt(p, 12, 12), kRedPx);
    EXPECT_EQ(colourAt(p, 29, 29), kRedPx);
    EXPECT_EQ(colourAt(p, 5, 5), kWhitePx);
    EXPECT_EQ(colourAt(p, 30, 30), kWhitePx);
    EXPECT_EQ(colourAt(p, 17, 17), kWhitePx);
    EXPECT_EQ(colourAt(p, 20, 17), kRedPx);
}

TEST(WmfPlayback, UnknownRecordsAreSkipped)
{
    const auto build = [](bool withUnknown) {
        Wmf w = Wmf::placeable(20, 20, 96);
        w.window(0, 0, 20, 20).solidBrush(rgb(0, 0, 255)).select(0);
        if (withUnknown)
            w.raw(0x00F5, {1, 2, 3}).raw(0x0626, {0x000F, 4, 0xABCD, 0xEF01}).raw(0x0AF3, {});
        return w.rectangle(2, 2, 18, 18).bytes();
    };
    const TBitmap32 with = playWmf(build(true));
    EXPECT_EQ(colourAt(with, 10, 10), kBluePx);
    EXPECT_TRUE(with == playWmf(build(false)));
}

TEST(EmfPlayback, PolylineAndPolygon16UseThePenAndBrush)
{
    const U_POINT16 line[] = {{2, 5}, {30, 5}};
    const U_POINT16 square[] = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    const Bytes file = Emf(U_RECTL{0, 0, 39, 29})
                           .add(U_EMRCREATEPEN_set(1, logpen_set(U_PS_SOLID, U_POINT{1, 0}, rgb(255, 0, 0))))
                           .select(1)
                           .add(U_EMRPOLYLINE16_set(U_RECTL{2, 5, 30, 5}, 2, line))
                           .solidBrush(2, rgb(0, 255, 0))
                           .select(2)
                           .select(U_NULL_PEN)
                           .add(U_EMRPOLYGON16_set(U_RECTL{10, 10, 20, 20}, 4, square))
                           .bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(colourAt(p, 15, 5), kRedPx);
    EXPECT_EQ(colourAt(p, 15, 6), kWhitePx);
    EXPECT_EQ(colourAt(p, 15, 15), kGreenPx);
    EXPECT_EQ(colourAt(p, 25, 15), kWhitePx);
}

TEST(EmfPlayback, OneBitBitmapUsesItsColourTable)
{
    // 2 x 2, 1 bit a pixel: top row 1 0, bottom row 0 1; colour 0 blue, 1 yellow.
    Bytes info(40 + 8, 0);
    setLe32(info.data(), 40);
    setLe32(info.data() + 4, 2);
    setLe32(info.data() + 8, 2);
    info[12] = 1;
    info[14] = 1;
    setLe32(info.data() + 32, 2);
    info[40] = 0xFF;      // blue
    info[44 + 1] = 0xFF;  // yellow: green and red
    info[44 + 2] = 0xFF;
    const char pixels[8] = {char(0x40), 0, 0, 0, char(0x80), 0, 0, 0};  // bottom row first
    const Bytes file =
        Emf(U_RECTL{0, 0, 19, 19})
            .add(U_EMRSTRETCHDIBITS_set(U_RECTL{0, 0, 19, 19}, U_POINTL{0, 0}, U_POINTL{20, 20}, U_POINTL{0, 0},
                                        U_POINTL{2, 2}, U_DIB_RGB_COLORS, U_SRCCOPY,
                                        const_cast<U_BITMAPINFO*>(asInfo(info)), 8, const_cast<char*>(pixels)))
            .bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kYellowPx);
    EXPECT_EQ(colourAt(p, 15, 5), kBluePx);
    EXPECT_EQ(colourAt(p, 5, 15), kBluePx);
    EXPECT_EQ(colourAt(p, 15, 15), kYellowPx);
}

TEST(EmfPlayback, RestoreDcBringsBackTheBrush)
{
    const Bytes file = Emf(U_RECTL{0, 0, 39, 9})
                           .select(U_NULL_PEN)
                           .solidBrush(1, rgb(255, 0, 0))
                           .solidBrush(2, rgb(0, 0, 255))
                           .select(1)
                           .add(U_EMRSAVEDC_set())
                           .select(2)
                           .rectangle(0, 0, 10, 10)
                           .add(U_EMRRESTOREDC_set(-1))
                           .rectangle(20, 0, 30, 10)
                           .bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(colourAt(p, 5, 5), kBluePx);
    EXPECT_EQ(colourAt(p, 25, 5), kRedPx);
}

TEST(EmfPlayback, ClosedPathIsFilled)
{
    const Bytes file = Emf(U_RECTL{0, 0, 29, 29})
                           .solidBrush(1, rgb(0, 0, 255))
                           .select(1)
                           .add(U_EMRBEGINPATH_set())
                           .add(U_EMRMOVETOEX_set(U_POINTL{5, 5}))
                           .add(U_EMRLINETO_set(U_POINTL{25, 5}))
                           .add(U_EMRLINETO_set(U_POINTL{25, 25}))
                           .add(U_EMRLINETO_set(U_POINTL{5, 25}))
                           .add(U_EMRCLOSEFIGURE_set())
                           .add(U_EMRENDPATH_set())
                           .add(U_EMRFILLPATH_set(U_RECTL{5, 5, 25, 25}))
                           .bytes();
    const TBitmap32 p = playEmf(file);
    EXPECT_EQ(colourAt(p, 15, 15), kBluePx);
    EXPECT_EQ(colourAt(p, 2, 15), kWhitePx);
}

TEST(EmfPlayback, StockObjectsAndUnknownRecords)
{
    const auto build = [](bool withUnknown) {
        Emf e(U_RECTL{0, 0, 19, 19});
        e.select(U_BLACK_BRUSH).select(U_NULL_PEN);
        if (withUnknown)
            e.add(U_EMRCOMMENT_set(8, "12345678")).raw(107, {1, 2, 3, 4}).raw(0x4000, Bytes(12, 0x7F));
        return e.rectangle(5, 5, 15, 15).bytes();
    };
    const TBitmap32 p = playEmf(build(true));
    EXPECT_EQ(colourAt(p, 10, 10), 0u);
    EXPECT_EQ(colourAt(p, 2, 2), kWhitePx);
    EXPECT_TRUE(p == playEmf(build(false)));
}

// --- Hostile files ---------------------------------------------------------------

Bytes sampleWmf()
{
    const PaletteDib dib = paletteDib();
    const U_POINT16 triangle[] = {{0, 0}, {10, 0}, {0, 10}};
    return Wmf::placeable(20, 20, 96)
        .window(0, 0, 20, 20)
        .solidBrush(rgb(255, 0, 0))
        .select(0)
        .rectangle(2, 2, 8, 8)
        .add(U_WMRPOLYGON_set(3, triangle))
        .add(U_WMRSTRETCHDIB_set(point16_set(10, 10), point16_set(5, 5), point16_set(0, 0), point16_set(2, 2),
                                 U_DIB_RGB_COLORS, U_SRCCOPY, asInfo(dib.info), std::uint32_t(dib.pixels.size()),
                                 reinterpret_cast<const char*>(dib.pixels.data())))
        .add(U_WMRTEXTOUT_set(point16_set(1, 1), const_cast<char*>("Hi")))
        .bytes();
}

Bytes sampleEmf()
{
    const U_POINT16 line[] = {{1, 1}, {15, 9}, {3, 12}};
    return Emf(U_RECTL{0, 0, 19, 19})
        .anisotropic(20, 20, 20, 20)
        .solidBrush(1, rgb(0, 255, 0))
        .select(1)
        .rectangle(2, 2, 8, 8)
        .add(U_EMRPOLYLINE16_set(U_RECTL{1, 1, 15, 12}, 3, line))
        .add(U_EMRSAVEDC_set())
        .add(U_EMRRESTOREDC_set(-1))
        .bytes();
}

// Every prefix, copied to a block of its own size so that reading past it is
// caught by the address sanitizer.
TEST(MetafileHostile, EveryTruncationThrowsOrDecodes)
{
    for (const auto& [file, decode] : {std::pair{sampleWmf(), &decodeWmf}, std::pair{sampleEmf(), &decodeEmf}}) {
        ASSERT_NO_THROW(decode(file.data(), file.size()));
        for (std::size_t n = 0; n < file.size(); ++n) {
            const Bytes prefix(file.begin(), file.begin() + std::ptrdiff_t(n));
            try {
                decode(prefix.data(), prefix.size());
            } catch (const PlumoraError&) {
            }
        }
    }
}

TEST(MetafileHostile, WmfRecordSizeThatLiesIsDamage)
{
    const Bytes good = sampleWmf();
    const std::size_t first = 22 + 18;  // the first record after the headers
    for (std::uint32_t words : {0u, 2u, 0x7FFFFFFFu, 0xFFFFFFFFu, std::uint32_t(good.size())}) {
        Bytes bad = good;
        setLe32(bad.data() + first, words);
        EXPECT_EQ(errorOf([&] { playWmf(bad); }), "The metafile is damaged.") << words;
    }
    // A rectangle record too short for its four corners.
    const Bytes cut = Wmf::placeable(20, 20, 96).raw(0x041B, {1, 2}).bytes();
    EXPECT_EQ(errorOf([&] { playWmf(cut); }), "The metafile is damaged.");
    // A polygon claiming more points than it holds.
    const Bytes liar = Wmf::placeable(20, 20, 96).raw(0x0324, {500, 0, 0, 5, 5}).bytes();
    EXPECT_EQ(errorOf([&] { playWmf(liar); }), "The metafile is damaged.");
}

TEST(MetafileHostile, EmfRecordSizeOrCountThatLiesIsDamage)
{
    const Bytes good = sampleEmf();
    const std::size_t first = le32(good.data() + 4);  // after the header
    for (std::uint32_t size : {0u, 4u, 0x7FFFFFF0u, 0xFFFFFFFCu}) {
        Bytes bad = good;
        setLe32(bad.data() + first + 4, size);
        EXPECT_EQ(errorOf([&] { playEmf(bad); }), "The metafile is damaged.") << size;
    }
    const U_POINT16 line[] = {{1, 1}, {15, 9}};
    for (std::uint32_t count : {3u, 1000u, 0x40000000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes bad = Emf(U_RECTL{0, 0, 19, 19}).add(U_EMRPOLYLINE16_set(U_RECTL{1, 1, 15, 9}, 2, line)).bytes();
        const std::size_t at = le32(bad.data() + 4);
        setLe32(bad.data() + at + 24, count);
        EXPECT_EQ(errorOf([&] { playEmf(bad); }), "The metafile is damaged.") << count;
    }
}

TEST(MetafileHostile, HugeSizesAreRefusedBeforeAllocating)
{
    const auto refused = [](const Bytes& file, auto decode) {
        try {
            decode(file.data(), file.size());
        } catch (const ImageTooLargeError&) {
            return true;
        } catch (...) {
        }
        return false;
    };
    EXPECT_TRUE(refused(Emf(U_RECTL{0, 0, 99999, 9}).bytes(), &decodeEmf));      // one side too long
    EXPECT_TRUE(refused(Emf(U_RECTL{0, 0, 39999, 39999}).bytes(), &decodeEmf));  // too many pixels
    EXPECT_TRUE(refused(Emf(U_RECTL{-2147483647, 0, 2147483647, 0}).bytes(), &decodeEmf));
    EXPECT_TRUE(refused(Wmf::placeable(30000, 30000, 96).bytes(), &decodeWmf));
    EXPECT_TRUE(refused(Wmf::placeable(20000, 10, 1).bytes(), &decodeWmf));  // 1.92 million pixels wide
    EXPECT_TRUE(refused(Wmf::bare().add(U_WMRSETWINDOWEXT_set(point16_set(30000, 30000))).bytes(), &decodeWmf));
}

TEST(MetafileHostile, ObjectIndexesOutOfRangeAreIgnored)
{
    const auto wmf = [](bool withBadIndexes) {
        Wmf w = Wmf::placeable(20, 20, 96);
        w.window(0, 0, 20, 20).solidBrush(rgb(255, 0, 0)).select(0);
        if (withBadIndexes)
            w.select(1).select(400).select(65535).add(U_WMRDELETEOBJECT_set(9999)).add(U_WMRDELETEOBJECT_set(1));
        return w.rectangle(2, 2, 18, 18).bytes();
    };
    const TBitmap32 wmfPicture = playWmf(wmf(true));
    EXPECT_EQ(colourAt(wmfPicture, 10, 10), kRedPx);
    EXPECT_TRUE(wmfPicture == playWmf(wmf(false)));

    const auto emf = [](bool withBadIndexes) {
        Emf e(U_RECTL{0, 0, 19, 19});
        e.solidBrush(1, rgb(255, 0, 0)).select(1);
        if (withBadIndexes)
            e.select(77).select(0).select(0x80000063).select(0xFFFFFFFF).add(U_EMRDELETEOBJECT_set(12345));
        return e.rectangle(2, 2, 18, 18).bytes();
    };
    const TBitmap32 emfPicture = playEmf(emf(true));
    EXPECT_EQ(colourAt(emfPicture, 10, 10), kRedPx);
    EXPECT_TRUE(emfPicture == playEmf(emf(false)));
}

TEST(MetafileHostile, ObjectTableStopsGrowingAtItsCap)
{
    // 65535 brushes fill indexes 0..65534, the last one red; one more (blue)
    // finds no free index. Selecting index 65535 must then change nothing.
    Wmf w = Wmf::placeable(10, 10, 96);
    w.window(0, 0, 10, 10);
    for (int i = 0; i < 65534; ++i)
        w.solidBrush(rgb(0, 255, 0));
    w.solidBrush(rgb(255, 0, 0)).solidBrush(rgb(0, 0, 255)).select(65534).select(65535).rectangle(0, 0, 10, 10);
    const TBitmap32 p = playWmf(w.bytes());
    EXPECT_EQ(colourAt(p, 5, 5), kRedPx);
}

TEST(MetafileHostile, PlaybackCountsItsRecordsAndWork)
{
    // One fill of a 100 x 100 canvas charges about its 10000 pixels, far
    // from the budget; counting changes nothing in what is drawn.
    Wmf w = Wmf::placeable(100, 100, 96);
    w.window(0, 0, 100, 100).solidBrush(rgb(255, 0, 0)).select(0);
    const Bytes wmf = w.add(U_WMRPATBLT_set(point16_set(0, 0), point16_set(100, 100), 0x00F00021)).bytes();
    MetafileWork work;
    const TBitmap32 wmfPicture = playWmf(wmf, work);
    EXPECT_TRUE(wmfPicture == playWmf(wmf));
    EXPECT_EQ(colourAt(wmfPicture, 50, 50), kRedPx);
    EXPECT_EQ(work.records, 6u);  // the map mode, the window's origin and extent, the brush, its selection, the fill
    EXPECT_FALSE(work.budgetSpent);
    EXPECT_EQ(work.finalCharge, 0.0);
    EXPECT_GE(work.spent, 100.0 * 100.0);
    EXPECT_LE(work.spent, 2 * 100.0 * 100.0);
    EXPECT_GT(work.budget, work.spent);

    Emf e(U_RECTL{0, 0, 99, 99});
    const Bytes emf = e.solidBrush(1, rgb(0, 0, 255)).select(1).rectangle(0, 0, 100, 100).bytes();
    const TBitmap32 emfPicture = playEmf(emf, work);
    EXPECT_TRUE(emfPicture == playEmf(emf));
    EXPECT_EQ(colourAt(emfPicture, 50, 50), kBluePx);
    EXPECT_EQ(work.records, 3u);  // the brush, its selection, the rectangle
    EXPECT_FALSE(work.budgetSpent);
    EXPECT_EQ(work.finalCharge, 0.0);
    // The fill, and the one-pixel outline along the edges, which is drawn
    // pixel by pixel and charged several times a filled pixel.
    EXPECT_GE(work.spent, 100.0 * 100.0 + 400.0);
    EXPECT_LE(work.spent, 5 * 100.0 * 100.0);
    EXPECT_GT(work.budget, work.spent);
}

// The canvas is work before anything is drawn on it: it is charged by its
// pixels, out of the same budget as the drawing, so a larger canvas leaves
// less for the drawing. A fill's pixels beyond what the processor's cache
// holds (32 MB, 2^23 pixels) are filled at memory's speed and charged three
// times: a fill of 2^24 pixels costs twice its pixels, a small one about
// its pixels.
TEST(MetafileHostile, TheCanvasAndFillsBeyondTheCacheAreCharged)
{
    const auto fill = [](int side, MetafileWork& work) {
        Emf e(U_RECTL{0, 0, side - 1, side - 1});
        e.add(U_EMRSELECTOBJECT_set(U_NULL_PEN)).solidBrush(1, rgb(255, 0, 0)).select(1).rectangle(0, 0, side, side);
        return playEmf(e.bytes(), work);
    };
    MetafileWork small, large;
    fill(100, small);
    const TBitmap32 p = fill(4096, large);
    EXPECT_EQ(colourAt(p, 4000, 4000), kRedPx);
    EXPECT_FALSE(large.budgetSpent);
    EXPECT_GT(small.canvas, 0.0);
    EXPECT_DOUBLE_EQ(large.canvas / small.canvas, 4096.0 * 4096.0 / (100.0 * 100.0));
    EXPECT_DOUBLE_EQ(small.canvas + small.budget, large.canvas + large.budget);
    EXPECT_LT(large.budget, small.budget);
    EXPECT_LE(small.spent, 2 * 100.0 * 100.0);
    EXPECT_GE(large.spent, 1.9 * 4096.0 * 4096.0);
    EXPECT_LE(large.spent, 2.2 * 4096.0 * 4096.0);
}

TEST(MetafileHostile, EndlessFullCanvasFillsStopOnTheBudget)
{
    // 200000 fills of a 2048 x 2048 canvas (a 3.6 MB file) would take a
    // minute or more. Each charges the canvas's pixels against playback's
    // work budget; the fill that overdraws it ends playback, a few thousand
    // fills in, and what is drawn stays.
    constexpr int kFills = 200000;
    constexpr double kCanvasPixels = 2048.0 * 2048.0;
    Wmf w = Wmf::placeable(2048, 2048, 96);
    w.window(0, 0, 2048, 2048).solidBrush(rgb(255, 0, 0)).select(0);
    for (int i = 0; i < kFills; ++i)
        w.add(U_WMRPATBLT_set(point16_set(0, 0), point16_set(2048, 2048), 0x00F00021));
    MetafileWork work;
    const TBitmap32 p = playWmf(w.bytes(), work);
    EXPECT_TRUE(work.budgetSpent);
    EXPECT_LT(work.records, std::uint64_t(kFills / 20));
    // No more fills were played than the budget holds, plus the five
    // records before them and the one that overdrew it.
    EXPECT_LE(double(work.records), work.budget / kCanvasPixels + 6);
    EXPECT_GT(work.spent, work.budget);
    EXPECT_LE(work.spent, work.budget + work.finalCharge);
    EXPECT_GE(work.finalCharge, kCanvasPixels);
    EXPECT_LE(work.finalCharge, 2 * kCanvasPixels);
    EXPECT_EQ(colourAt(p, 1000, 1000), kRedPx);
    // Opened as a picture, a drawing cut off is refused, not shown in part.
    try {
        playWmf(w.bytes());
        ADD_FAILURE() << "a drawing cut off by the budget was opened";
    } catch (const PlumoraError& e) {
        EXPECT_NE(std::string(e.what()).find("would take far longer"), std::string::npos) << e.what();
    }
}

TEST(MetafileHostile, EndlessEmfFillsStopOnTheBudget)
{
    // The same in an EMF, with fewer records: still several times what the
    // budget holds.
    constexpr int kFills = 20000;
    constexpr double kCanvasPixels = 2048.0 * 2048.0;
    Emf e(U_RECTL{0, 0, 2047, 2047});
    e.solidBrush(1, rgb(0, 0, 255)).select(1);
    for (int i = 0; i < kFills; ++i)
        e.rectangle(0, 0, 2048, 2048);
    MetafileWork work;
    const TBitmap32 p = playEmf(e.bytes(), work);
    EXPECT_TRUE(work.budgetSpent);
    // The brush, its selection and the fill that overdrew the budget.
    EXPECT_LE(double(work.records), work.budget / kCanvasPixels + 3);
    EXPECT_LT(work.records, std::uint64_t(kFills / 2));
    EXPECT_GT(work.spent, work.budget);
    EXPECT_LE(work.spent, work.budget + work.finalCharge);
    EXPECT_LE(work.finalCharge, 2 * kCanvasPixels);
    EXPECT_EQ(colourAt(p, 1000, 1000), kBluePx);
}

TEST(MetafileHostile, ThousandsOfClipHolesStopOnTheBudget)
{
    // Each hole makes the clip region more complex and the next change
    // dearer: 150000 of them (a 2 MB file) would take most of a minute.
    // Region work counts against playback's budget as drawing does, so
    // playback ends some thousands of holes in, at the first hole whose
    // charge overdraws the budget. The red square drawn before the holes
    // stays; the blue one after them is never drawn.
    constexpr int kHoles = 150000;
    Wmf w = Wmf::placeable(1000, 1000, 96);
    w.window(0, 0, 1000, 1000).solidBrush(rgb(255, 0, 0)).select(0).rectangle(0, 0, 1000, 1000);
    for (int i = 0; i < kHoles; ++i) {
        const std::int16_t x = std::int16_t(i % 500 * 2), y = std::int16_t(i / 500 * 2);
        w.add(U_WMREXCLUDECLIPRECT_set(U_RECT16{x, y, std::int16_t(x + 1), std::int16_t(y + 1)}));
    }
    w.solidBrush(rgb(0, 0, 255)).select(1).rectangle(0, 0, 1000, 1000);
    MetafileWork work;
    const TBitmap32 p = playWmf(w.bytes(), work);
    EXPECT_TRUE(work.budgetSpent);
    EXPECT_LT(work.records, std::uint64_t(kHoles / 4));
    EXPECT_GT(work.spent, work.budget);
    EXPECT_GT(work.finalCharge, 0.0);
    EXPECT_LE(work.spent, work.budget + work.finalCharge);
    EXPECT_EQ(colourAt(p, 501, 801), kRedPx);
}

// 32000 points zig-zagging across a 2048 x 2048 canvas, one row apart every
// 16 points: 65 million pixels of path.
std::vector<U_POINT16> zigZag(int count)
{
    std::vector<U_POINT16> points;
    for (int i = 0; i < count; ++i)
        points.push_back(U_POINT16{std::int16_t(i % 2 == 0 ? 0 : 2047), std::int16_t(i * 2048 / count)});
    return points;
}

// A line is charged its width times its length, not the area of its box: a
// line 100 pixels wide along the zig-zag above covers that box thousands of
// times over, and drawing one took half a minute. Each form of poly-line is
// refused on the record that holds it, before drawing it, whatever the
// record type or the transform that widens the pen.
TEST(MetafileHostile, WideLinesAreChargedTheirWidthTimesTheirLength)
{
    constexpr int kPoints = 32000;
    constexpr double kLength = (kPoints - 1) * 2047.0;
    const std::vector<U_POINT16> zig = zigZag(kPoints);
    const U_RECTL box{0, 0, 2047, 2047};
    const auto expectRefusedOnRecord = [&](const Bytes& file, bool emf, std::uint64_t record) {
        MetafileWork work;
        const TBitmap32 p = emf ? playEmf(file, work) : playWmf(file, work);
        EXPECT_TRUE(work.budgetSpent);
        EXPECT_EQ(work.records, record);
        EXPECT_GE(work.finalCharge, 100 * kLength);
        EXPECT_EQ(colourAt(p, 1000, 1000), kWhitePx);  // nothing of it drawn
    };

    Wmf w = Wmf::placeable(2048, 2048, 96);
    w.window(0, 0, 2048, 2048)
        .add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_SOLID, 100, rgb(0, 0, 0))))
        .select(0)
        .add(U_WMRPOLYLINE_set(kPoints, zig.data()));
    expectRefusedOnRecord(w.bytes(), false, 6);

    const auto emf = [&](std::function<void(Emf&)> draw, double scale = 1) {
        Emf e(box);
        if (scale != 1)
            e.add(U_EMRSETWORLDTRANSFORM_set(xform_set(float(scale), 0, 0, float(scale), 0, 0)));
        e.add(U_EMRCREATEPEN_set(1, logpen_set(U_PS_SOLID, U_POINT{std::int32_t(100 / scale), 0}, rgb(0, 0, 0))))
            .select(1);
        draw(e);
        return e.bytes();
    };
    expectRefusedOnRecord(emf([&](Emf& e) { e.add(U_EMRPOLYLINE16_set(box, kPoints, zig.data())); }), true, 3);
    expectRefusedOnRecord(emf([&](Emf& e) {
                              const std::uint32_t counts[] = {kPoints / 2, kPoints / 2};
                              e.add(U_EMRPOLYPOLYLINE16_set(box, 2, counts, kPoints, zig.data()));
                          }),
                          true, 3);
    expectRefusedOnRecord(emf([&](Emf& e) { e.add(U_EMRPOLYBEZIER16_set(box, kPoints - 2, zig.data())); }), true, 3);
    // In a path, the stroke is charged when the path is drawn.
    expectRefusedOnRecord(emf([&](Emf& e) {
                              e.add(U_EMRBEGINPATH_set())
                                  .add(U_EMRMOVETOEX_set(U_POINTL{0, 0}))
                                  .add(U_EMRPOLYLINETO16_set(box, kPoints, zig.data()))
                                  .add(U_EMRENDPATH_set())
                                  .add(U_EMRSTROKEPATH_set(box));
                          }),
                          true, 7);
    // A world transform that scales the coordinates scales the pen too.
    std::vector<U_POINT16> small;
    for (const U_POINT16& p : zig)
        small.push_back(U_POINT16{std::int16_t(p.x / 16), std::int16_t(p.y / 16)});
    expectRefusedOnRecord(emf([&](Emf& e) { e.add(U_EMRPOLYLINE16_set(box, kPoints, small.data())); }, 16), true, 4);
}

// Filling a polygon costs more than its pixels: each pixel row walks the
// edges that cross it, at a cost that grows with the square of their number.
// 1500 edges crossing the whole canvas took seconds to fill; ordinary
// shapes, many of them, stay far inside the budget.
TEST(MetafileHostile, PolygonsAreChargedTheEdgesEachRowCrosses)
{
    std::vector<U_POINT16> spikes;
    for (int i = 0; i < 1500; ++i)
        spikes.push_back(U_POINT16{std::int16_t(i * 2047 / 1500), std::int16_t(i % 2 == 0 ? 0 : 2047)});
    Emf hostile(U_RECTL{0, 0, 2047, 2047});
    hostile.solidBrush(1, rgb(255, 0, 0))
        .select(1)
        .add(U_EMRPOLYGON16_set(U_RECTL{0, 0, 2047, 2047}, 1500, spikes.data()));
    MetafileWork work;
    playEmf(hostile.bytes(), work);
    EXPECT_TRUE(work.budgetSpent);
    EXPECT_EQ(work.records, 3u);
    EXPECT_GT(work.finalCharge, 100 * 2048.0 * 2048.0);

    // A map: 20000 small hexagons, filled and outlined with a wide pen.
    Emf map(U_RECTL{0, 0, 2047, 2047});
    map.solidBrush(1, rgb(0, 255, 0))
        .select(1)
        .add(U_EMRCREATEPEN_set(2, logpen_set(U_PS_SOLID, U_POINT{3, 0}, rgb(0, 0, 0))))
        .select(2);
    for (int i = 0; i < 20000; ++i) {
        const std::int16_t x = std::int16_t(i % 140 * 14 + 10), y = std::int16_t(i / 140 * 14 + 10);
        const U_POINT16 hexagon[] = {{x, std::int16_t(y - 6)},
                                     {std::int16_t(x + 6), std::int16_t(y - 3)},
                                     {std::int16_t(x + 6), std::int16_t(y + 3)},
                                     {x, std::int16_t(y + 6)},
                                     {std::int16_t(x - 6), std::int16_t(y + 3)},
                                     {std::int16_t(x - 6), std::int16_t(y - 3)}};
        map.add(U_EMRPOLYGON16_set(U_RECTL{x - 6, y - 6, x + 6, y + 6}, 6, hexagon));
    }
    playEmf(map.bytes(), work);
    EXPECT_FALSE(work.budgetSpent);
    EXPECT_LT(work.spent, work.budget / 4);
}

TEST(MetafileHostile, OtherFilesAreNotMetafiles)
{
    const Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1};
    EXPECT_EQ(errorOf([&] { playWmf(png); }), "This is not a WMF file.");
    EXPECT_EQ(errorOf([&] { playEmf(png); }), "This is not an EMF file.");
    EXPECT_EQ(errorOf([] { decodeWmf(nullptr, 0); }), "This is not a WMF file.");
    EXPECT_EQ(errorOf([] { decodeEmf(nullptr, 0); }), "This is not an EMF file.");
}

// --- Text ------------------------------------------------------------------------

Bytes textWmf(bool opaque)
{
    U_FONT* font = U_FONT_set(-24, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, const_cast<char*>("DejaVu Sans"));
    Wmf w = Wmf::placeable(100, 40, 96);
    w.window(0, 0, 100, 40).add(U_WMRCREATEFONTINDIRECT_set(font)).select(0);
    std::free(font);
    w.add(U_WMRSETTEXTCOLOR_set(rgb(255, 0, 0)))
        .add(U_WMRSETBKCOLOR_set(rgb(0, 0, 255)))
        .add(U_WMRSETBKMODE_set(opaque ? U_OPAQUE : U_TRANSPARENT))
        .add(U_WMRTEXTOUT_set(point16_set(10, 8), const_cast<char*>("HH")));
    return w.bytes();
}

// The box holding every pixel of a colour, as (left, top, right, bottom), or all -1.
std::array<int, 4> boxOf(const TBitmap32& p, const std::function<bool(std::uint32_t)>& match)
{
    std::array<int, 4> box{-1, -1, -1, -1};
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            if (match(colourAt(p, x, y))) {
                box[0] = box[0] < 0 ? x : std::min(box[0], x);
                box[1] = box[1] < 0 ? y : std::min(box[1], y);
                box[2] = std::max(box[2], x);
                box[3] = std::max(box[3], y);
            }
    return box;
}

// Runs before a GUI application exists in this process (tests of a suite run
// in order): text is then skipped, without harm to the rest.
TEST(MetafileText, WithoutGuiApplicationTextIsSkipped)
{
    if (QCoreApplication::instance() != nullptr)
        GTEST_SKIP() << "an application object already exists in this process";
    const TBitmap32 p = playWmf(textWmf(false));
    EXPECT_EQ(boxOf(p, [](std::uint32_t c) { return c != kWhitePx; })[0], -1);
}

// The text tests need a GUI application. The first that needs one makes it
// (unless the process has an application already) and it is closed after all
// tests: Qt cannot make a second one after the first, and one left open at
// exit leaves the font library's caches behind.
class GuiForTests : public testing::Environment {
public:
    static bool ready()
    {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            s_app = std::make_unique<QGuiApplication>(s_argc, s_argv);
        }
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    }
    void TearDown() override { s_app.reset(); }

private:
    static inline int s_argc = 1;
    static inline char s_name[] = "formats_test";
    static inline char* s_argv[] = {s_name, nullptr};
    static inline std::unique_ptr<QGuiApplication> s_app;
};

testing::Environment* const g_guiForTests = testing::AddGlobalTestEnvironment(new GuiForTests);

TEST(MetafileText, TextIsDrawnInTheTextColourFromItsTopLeft)
{
    if (!GuiForTests::ready())
        GTEST_SKIP() << "a non-GUI application object exists in this process";
    const TBitmap32 p = playWmf(textWmf(false));
    const auto reddish = [](std::uint32_t c) { return (c >> 16) > 0xC0 && ((c >> 8) & 0xFF) < 0x40; };
    const std::array<int, 4> ink = boxOf(p, reddish);
    ASSERT_GE(ink[0], 0) << "no text drawn";
    // Two bold capitals 24 pixels high with their top-left corner at (10, 8).
    EXPECT_GE(ink[0], 10);
    EXPECT_LE(ink[0], 14);
    EXPECT_GE(ink[1], 8);
    EXPECT_LE(ink[1], 16);
    EXPECT_GE(ink[3] - ink[1], 12);
    EXPECT_GE(ink[2] - ink[0], 20);
    EXPECT_EQ(boxOf(p, [](std::uint32_t c) { return (c & 0xFF) > 0x80 && (c >> 16) < 0x80; })[0], -1);

    // Opaque mode: the text's cell is filled with the background colour.
    const TBitmap32 opaque = playWmf(textWmf(true));
    const std::array<int, 4> cell = boxOf(opaque, [](std::uint32_t c) { return c == kBluePx; });
    ASSERT_GE(cell[0], 0);
    EXPECT_EQ(cell[0], 10);
    EXPECT_EQ(cell[1], 8);
}

TEST(MetafileText, TextInsideAPathBecomesItsOutline)
{
    if (!GuiForTests::ready())
        GTEST_SKIP() << "a non-GUI application object exists in this process";
    const auto build = [](bool fill) {
        std::uint16_t text[] = {'H', 'H', 0};
        std::uint32_t advances[] = {12, 12};
        char* emrText = emrtext_set(U_POINTL{4, 4}, 2, 2, text, U_ETO_NONE, U_RECTL{0, 0, -1, -1}, advances);
        Emf e(U_RECTL{0, 0, 59, 29});
        e.solidBrush(1, rgb(0, 0, 255))
            .select(1)
            .add(U_EMRBEGINPATH_set())
            .add(U_EMREXTTEXTOUTW_set(U_RECTL{0, 0, -1, -1}, 1, 1, 1, reinterpret_cast<PU_EMRTEXT>(emrText)))
            .add(U_EMRENDPATH_set());
        std::free(emrText);
        if (fill)
            e.add(U_EMRFILLPATH_set(U_RECTL{0, 0, 59, 29}));
        return e.bytes();
    };
    // Filled: the letters in the brush's colour; left in the path: nothing.
    const std::array<int, 4> ink = boxOf(playEmf(build(true)), [](std::uint32_t c) { return c == kBluePx; });
    ASSERT_GE(ink[0], 0);
    EXPECT_GE(ink[0], 4);
    EXPECT_GE(ink[1], 4);
    EXPECT_GE(ink[2] - ink[0], 10);
    EXPECT_EQ(boxOf(playEmf(build(false)), [](std::uint32_t c) { return c != kWhitePx; })[0], -1);
}

// Each letter is charged its own box: 200 letters 2000 pixels high piled up
// 10 pixels apart cover the canvas 200 times over (and took minutes to draw),
// though the line they make is hardly wider than one of them.
TEST(MetafileText, PiledUpLargeLettersAreChargedOneByOne)
{
    if (!GuiForTests::ready())
        GTEST_SKIP() << "a non-GUI application object exists in this process";
    U_LOGFONT lf = logfont_set(-2000, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    U_LOGFONT_PANOSE panose = logfont_panose_set(lf, nullptr, nullptr, 0, U_PAN_ALL1);
    std::vector<std::uint16_t> text(200, 'W');
    text.push_back(0);
    std::vector<std::uint32_t> advances(200, 10);
    char* emrText =
        emrtext_set(U_POINTL{0, 0}, 200, 2, text.data(), U_ETO_NONE, U_RECTL{0, 0, -1, -1}, advances.data());
    Emf e(U_RECTL{0, 0, 2047, 2047});
    e.add(U_EMREXTCREATEFONTINDIRECTW_set(1, nullptr, reinterpret_cast<const char*>(&panose)))
        .select(1)
        .add(U_EMREXTTEXTOUTW_set(U_RECTL{0, 0, -1, -1}, 1, 1, 1, reinterpret_cast<PU_EMRTEXT>(emrText)));
    std::free(emrText);
    MetafileWork work;
    playEmf(e.bytes(), work);
    EXPECT_TRUE(work.budgetSpent);
    EXPECT_EQ(work.records, 3u);
    EXPECT_GT(work.finalCharge, 100 * 2048.0 * 2048.0);
}

// Text stored as glyph numbers (ETO_GLYPH_INDEX) of a font of the given face,
// 40 pixels high, with the advances given, at (4, 4) on a 120 x 60 canvas.
Bytes glyphEmf(const std::string& face, std::vector<std::uint16_t> text, std::vector<std::uint32_t> advances,
               bool glyphIndexes)
{
    std::size_t length = 0;
    std::uint16_t* faceName = U_Utf8ToUtf16le(face.c_str(), 0, &length);
    U_LOGFONT lf = logfont_set(-40, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, faceName);
    std::free(faceName);
    U_LOGFONT_PANOSE panose = logfont_panose_set(lf, nullptr, nullptr, 0, U_PAN_ALL1);
    const int count = int(text.size());
    text.push_back(0);
    char* emrText = emrtext_set(U_POINTL{4, 4}, std::uint32_t(count), 2, text.data(),
                                glyphIndexes ? U_ETO_GLYPH_INDEX : U_ETO_NONE, U_RECTL{0, 0, -1, -1}, advances.data());
    Emf e(U_RECTL{0, 0, 119, 59});
    e.add(U_EMREXTCREATEFONTINDIRECTW_set(1, nullptr, reinterpret_cast<const char*>(&panose)))
        .select(1)
        .add(U_EMRSETBKMODE_set(U_TRANSPARENT))
        .add(U_EMREXTTEXTOUTW_set(U_RECTL{0, 0, -1, -1}, 1, 1, 1, reinterpret_cast<PU_EMRTEXT>(emrText)));
    std::free(emrText);
    return e.bytes();
}

// Glyph numbers name glyphs of one font: from that font, installed, they
// draw exactly what its characters draw.
TEST(MetafileText, GlyphNumbersAreDrawnFromTheirFont)
{
    if (!GuiForTests::ready())
        GTEST_SKIP() << "a non-GUI application object exists in this process";
    const QString family = QRawFont::fromFont(QFont()).familyName();
    QFont font(family);
    font.setPixelSize(40);
    const QRawFont raw = QRawFont::fromFont(font);
    ASSERT_TRUE(raw.isValid());
    ASSERT_EQ(raw.familyName(), family);
    const QList<quint32> ids = raw.glyphIndexesForString(QStringLiteral("HEH"));
    ASSERT_EQ(ids.size(), 3);
    const std::vector<std::uint32_t> advances{30, 30, 30};
    const TBitmap32 byCharacter = playEmf(glyphEmf(family.toStdString(), {'H', 'E', 'H'}, advances, false));
    const TBitmap32 byGlyph = playEmf(glyphEmf(
        family.toStdString(), {std::uint16_t(ids[0]), std::uint16_t(ids[1]), std::uint16_t(ids[2])}, advances, true));
    const std::array<int, 4> ink = boxOf(byGlyph, [](std::uint32_t c) { return c == 0; });
    ASSERT_GE(ink[0], 0) << "no text drawn";
    EXPECT_GE(ink[2] - ink[0], 60);
    EXPECT_TRUE(byGlyph == byCharacter);
}

// Without the font, its glyph numbers cannot be known, and another font's
// glyphs of those numbers would be wrong letters: each glyph is drawn as the
// box of a missing glyph, hollow, within its advance.
TEST(MetafileText, GlyphNumbersOfAFontWeLackShowMissingGlyphBoxes)
{
    if (!GuiForTests::ready())
        GTEST_SKIP() << "a non-GUI application object exists in this process";
    const TBitmap32 p = playEmf(glyphEmf("No Such Face Anywhere", {36, 40, 44}, {30, 30, 30}, true));
    const auto dark = [](std::uint32_t c) { return c != kWhitePx; };
    const std::array<int, 4> ink = boxOf(p, dark);
    ASSERT_GE(ink[0], 0) << "the missing glyphs left no trace";
    // Three boxes along the 90 pixels the advances give, from x = 4.
    EXPECT_GE(ink[0], 4);
    EXPECT_LE(ink[2], 4 + 90);
    EXPECT_GE(ink[2] - ink[0], 60);
    EXPECT_GE(ink[3] - ink[1], 15);
    int boxes = 0;
    const int middle = (ink[1] + ink[3]) / 2;
    for (int x = ink[0]; x <= ink[2]; ++x)
        boxes += dark(colourAt(p, x, middle)) && !dark(colourAt(p, x - 1, middle));
    EXPECT_EQ(boxes, 6);  // each box's left and right side
    EXPECT_FALSE(dark(colourAt(p, 4 + 15, middle)));
}

}  // namespace
}  // namespace plumora
