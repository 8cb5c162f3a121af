#include "formats/metafile.h"

#include "formats/bytes.h"
#include "formats/metafile_player.h"
#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <uwmf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

// The WMF reader, which plays records through the shared player, and the
// WMF writer.

namespace plumora {

// The player's types and helpers are this file's whole vocabulary.
using namespace metafile;

namespace {

using bytes::writeU32;

constexpr std::uint32_t kWmfPlaceableKey = 0x9AC6CDD7;

// Parameters of WMF records are 16-bit and listed last to first: a point is
// y then x, a rectangle bottom, right, top, left.
QPointF pointYX(const Record& r, u64 offset)
{
    return QPointF(r.s16(offset + 2), r.s16(offset));
}

QRectF rectBRTL(const Record& r, u64 offset)
{
    const double bottom = r.s16(offset), right = r.s16(offset + 2);
    const double top = r.s16(offset + 4), left = r.s16(offset + 6);
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

// The WMF object table: a created object takes the lowest free index.
class WmfObjects {
public:
    void add(GdiObject object)
    {
        std::size_t index;
        if (!m_free.empty()) {
            index = *m_free.begin();
            m_free.erase(m_free.begin());
        } else if (m_slots.size() < kMaxObjects) {
            index = m_slots.size();
            m_slots.emplace_back();
        } else {
            return;  // the table is full: GDI fails the creation too
        }
        m_slots[index] = std::move(object);
    }
    const GdiObject* get(u64 index) const
    {
        return index < m_slots.size() && m_slots[index] ? &*m_slots[index] : nullptr;
    }
    void remove(u64 index)
    {
        if (get(index) == nullptr)
            return;
        m_slots[index].reset();
        m_free.insert(std::size_t(index));
    }

private:
    std::vector<std::optional<GdiObject>> m_slots;
    std::set<std::size_t> m_free;
};

struct WmfHeader {
    bool placeable = false;
    QRect box;  // placeable bounding box, normalized
    unsigned unitsPerInch = 0;
    u64 recordsStart = 0;
};

WmfHeader readWmfHeader(const std::uint8_t* data, u64 size)
{
    WmfHeader h;
    u64 pos = 0;
    if (size >= 4 && readU32(data) == kWmfPlaceableKey) {
        // The placeable record: key, handle, box (left, top, right, bottom),
        // units per inch, reserved, checksum.
        if (size < U_SIZE_WMRPLACEABLE)
            damaged();
        h.placeable = true;
        const int left = std::int16_t(readU16(data + 6)), top = std::int16_t(readU16(data + 8));
        const int right = std::int16_t(readU16(data + 10)), bottom = std::int16_t(readU16(data + 12));
        h.box = QRect(QPoint(std::min(left, right), std::min(top, bottom)),
                      QSize(std::abs(right - left), std::abs(bottom - top)));
        h.unitsPerInch = readU16(data + 14);
        pos = U_SIZE_WMRPLACEABLE;
    }
    // The metafile header: type (1 in memory, 2 on disk), its size in words
    // (9), version, file size, object count, largest record, unused.
    if (size - pos < U_SIZE_WMRHEADER) {
        if (h.placeable)
            damaged();
        throw PlumoraError("This is not a WMF file.");
    }
    const unsigned type = readU16(data + pos), words = readU16(data + pos + 2);
    if ((type != 1 && type != 2) || words != U_SIZE_WMRHEADER / 2) {
        if (h.placeable)
            damaged();
        throw PlumoraError("This is not a WMF file.");
    }
    h.recordsStart = pos + U_SIZE_WMRHEADER;
    return h;
}

// Calls f(record, type) for each record up to the end record; a record that
// does not fit the file, or claims less than a record's header, is damage.
template <class F>
void forEachWmfRecord(const std::uint8_t* data, u64 size, u64 pos, F f)
{
    const char* end = reinterpret_cast<const char*>(data + size);
    u64 count = 0;
    while (pos < size) {
        const u64 left = size - pos;
        if (left < U_SIZE_METARECORD)
            damaged();
        const u64 bytes = u64(readU32(data + pos)) * 2;
        if (bytes < U_SIZE_METARECORD || bytes > left ||
            U_WMRRECSAFE_get(reinterpret_cast<const char*>(data + pos), end) != bytes)
            damaged();
        const int type = data[pos + 4];
        if (type == U_WMR_EOF || ++count > kMaxRecords)
            return;
        if (!f(Record(data + pos, bytes), type))
            return;
        pos += bytes;
    }
}

// Draws a DIB held in a WMF record from dibOffset to the record's end.
// srcFromBottom: the source rectangle counts rows from the bottom of a
// bottom-up bitmap, as StretchDIBits and SetDIBitsToDevice do.
void wmfDib(Player& player, const Record& r, u64 dibOffset, std::uint32_t usage, QRectF src, bool srcFromBottom,
            const QRectF& dst, std::uint32_t rop)
{
    const RasterOp op = rasterOp(rop);
    if (op.kind != Blt::Source) {
        player.patBlt(dst, op.kind);
        return;
    }
    // Colour tables of palette indexes refer to a palette we do not keep.
    if (usage != U_DIB_RGB_COLORS)
        return;
    const u64 size = r.size() - std::min(r.size(), dibOffset);
    auto decoded = player.decodeBitmap(r.bytes(dibOffset, size), size, false, kMaxPixels);
    if (!decoded)
        return;
    const TBitmap32& picture = decoded->first;
    if (srcFromBottom && decoded->second)
        src.moveTop(picture.height() - src.top() - src.height());
    player.bitmap(picture, src, dst, rop);
}

LogFont wmfFont(const Record& r)
{
    LogFont f;
    f.height = r.s16(6);
    f.escapement = r.s16(10);
    f.weight = r.s16(14);
    f.italic = r.u8(16) != 0;
    f.underline = r.u8(17) != 0;
    f.strikeOut = r.u8(18) != 0;
    f.charSet = r.u8(19);
    f.pitchAndFamily = r.u8(23);
    if (r.size() > 24) {
        const u64 n = std::min<u64>(32, r.size() - 24);
        const std::uint8_t* face = r.bytes(24, n);
        const u64 length = u64(std::find(face, face + n, 0) - face);
        f.face = decodeAnsi(face, length, f.charSet);
    }
    return f;
}

// Each function below plays the records of one family and returns false
// for a record of another family.

// The device context: mapping, drawing modes, colours, saved states and
// clip rectangles.
bool playWmfState(Player& player, const Record& r, int type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_WMR_SETBKCOLOR:
        dc.bkColour = r.colour(6);
        break;
    case U_WMR_SETBKMODE: {
        const unsigned mode = r.u16(6);
        if (mode == U_TRANSPARENT || mode == U_OPAQUE)
            dc.opaqueBackground = mode == U_OPAQUE;
        break;
    }
    case U_WMR_SETMAPMODE: {
        // The player decides where the picture goes: the window always maps
        // onto the canvas, so MM_TEXT is played like MM_ANISOTROPIC.
        const unsigned mode = r.u16(6);
        player.setMapMode(mode == U_MM_TEXT ? U_MM_ANISOTROPIC : mode);
        break;
    }
    case U_WMR_SETROP2: {
        const unsigned mode = r.u16(6);
        if (mode >= U_R2_BLACK && mode <= U_R2_WHITE)
            dc.rop2 = mode;
        break;
    }
    case U_WMR_SETPOLYFILLMODE: {
        const unsigned mode = r.u16(6);
        if (mode == U_ALTERNATE || mode == U_WINDING)
            dc.fillRule = mode == U_WINDING ? Qt::WindingFill : Qt::OddEvenFill;
        break;
    }
    case U_WMR_SETSTRETCHBLTMODE:
        dc.stretchMode = r.u16(6);
        break;
    case U_WMR_SETTEXTCOLOR:
        dc.textColour = r.colour(6);
        break;
    case U_WMR_SETTEXTALIGN:
        dc.textAlign = r.u16(6);
        break;
    case U_WMR_SETWINDOWORG:
        dc.windowOrg = pointYX(r, 6);
        break;
    case U_WMR_SETWINDOWEXT:
        player.setWindowExt(pointYX(r, 6));
        break;
    case U_WMR_SETVIEWPORTORG:
        dc.viewportOrg = pointYX(r, 6);
        break;
    case U_WMR_SETVIEWPORTEXT:
        player.setViewportExt(pointYX(r, 6));
        break;
    case U_WMR_OFFSETWINDOWORG:
        dc.windowOrg += pointYX(r, 6);
        break;
    case U_WMR_OFFSETVIEWPORTORG:
        dc.viewportOrg += pointYX(r, 6);
        break;
    case U_WMR_SCALEWINDOWEXT:
        player.scaleExt(dc.windowExt, r.s16(12), r.s16(10), r.s16(8), r.s16(6));
        break;
    case U_WMR_SCALEVIEWPORTEXT:
        player.scaleExt(dc.viewportExt, r.s16(12), r.s16(10), r.s16(8), r.s16(6));
        break;
    case U_WMR_EXCLUDECLIPRECT:
        player.excludeClip(rectBRTL(r, 6));
        break;
    case U_WMR_INTERSECTCLIPRECT:
        player.intersectClip(rectBRTL(r, 6));
        break;
    case U_WMR_OFFSETCLIPRGN:
        player.offsetClip(pointYX(r, 6));
        break;
    case U_WMR_SAVEDC:
        player.saveDc();
        break;
    case U_WMR_RESTOREDC:
        player.restoreDc(r.s16(6));
        break;
    default:
        return false;
    }
    return true;
}

// The object table: pens, brushes and fonts made, chosen and deleted.
bool playWmfObject(Player& player, WmfObjects& objects, const Record& r, int type)
{
    switch (type) {
    case U_WMR_SELECTOBJECT:
        if (const GdiObject* o = objects.get(r.u16(6)))
            player.select(*o);
        break;
    case U_WMR_DELETEOBJECT:
        objects.remove(r.u16(6));
        break;
    case U_WMR_CREATEPENINDIRECT: {
        LogPen pen;
        pen.style = r.u16(6);
        pen.width = std::abs(double(r.s16(8)));
        pen.colour = r.colour(12);
        objects.add(penObject(pen));
        break;
    }
    case U_WMR_CREATEBRUSHINDIRECT: {
        LogBrush brush;
        brush.style = r.u16(6);
        brush.colour = r.colour(8);
        brush.hatch = r.u16(12);
        objects.add(brushObject(brush));
        break;
    }
    case U_WMR_DIBCREATEPATTERNBRUSH: {
        LogBrush brush;
        brush.style = U_BS_DIBPATTERNPT;
        const unsigned style = r.u16(6), usage = r.u16(8);
        if (style == U_BS_PATTERN || usage == U_DIB_RGB_COLORS) {
            const u64 size = r.size() - std::min<u64>(r.size(), 10);
            if (std::optional<QImage> image = player.patternImage(r.bytes(10, size), size))
                brush.pattern = *image;
        }
        objects.add(brushObject(brush));
        break;
    }
    case U_WMR_CREATEPATTERNBRUSH: {
        // An old device-dependent pattern we do not decode: it fills nothing.
        LogBrush brush;
        brush.style = U_BS_PATTERN;
        objects.add(brushObject(brush));
        break;
    }
    case U_WMR_CREATEFONTINDIRECT:
        objects.add(fontObject(wmfFont(r)));
        break;
    case U_WMR_CREATEPALETTE:
    case U_WMR_CREATEREGION:
        // Not played, but they take their index in the table.
        objects.add(GdiObject{});
        break;
    default:
        return false;
    }
    return true;
}

// Lines and shapes.
bool playWmfDrawing(Player& player, const Record& r, int type)
{
    switch (type) {
    case U_WMR_MOVETO:
        player.moveTo(pointYX(r, 6));
        break;
    case U_WMR_LINETO:
        player.polylineTo(QPolygonF{pointYX(r, 6)});
        break;
    case U_WMR_ARC:
    case U_WMR_PIE:
    case U_WMR_CHORD: {
        const ArcKind kind = type == U_WMR_ARC ? ArcKind::Arc : type == U_WMR_PIE ? ArcKind::Pie : ArcKind::Chord;
        player.arc(rectBRTL(r, 14), pointYX(r, 10), pointYX(r, 6), kind);
        break;
    }
    case U_WMR_ELLIPSE:
        player.ellipse(rectBRTL(r, 6));
        break;
    case U_WMR_RECTANGLE:
        player.rectangle(rectBRTL(r, 6));
        break;
    case U_WMR_ROUNDRECT:
        player.roundRect(rectBRTL(r, 10), QPointF(r.s16(8), r.s16(6)));
        break;
    case U_WMR_SETPIXEL:
        player.setPixel(pointYX(r, 10), r.colour(6));
        break;
    case U_WMR_POLYGON:
        player.polyPolygon({points16(r, 8, r.u16(6))});
        break;
    case U_WMR_POLYLINE:
        player.polyline(points16(r, 8, r.u16(6)));
        break;
    case U_WMR_POLYPOLYGON: {
        const u64 n = r.u16(6);
        std::vector<u64> counts(n);
        u64 total = 0;
        for (u64 i = 0; i < n; ++i)
            total += counts[i] = r.u16(8 + 2 * i);
        u64 at = 8 + 2 * n;
        r.bytes(at, total * 4);
        std::vector<QPolygonF> polygons;
        for (u64 c : counts) {
            polygons.push_back(points16(r, at, c));
            at += c * 4;
        }
        player.polyPolygon(polygons);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Bitmaps and raster operations.
bool playWmfBitmap(Player& player, const Record& r, int type)
{
    switch (type) {
    case U_WMR_PATBLT:
        player.patBlt(QRectF(r.s16(16), r.s16(14), r.s16(12), r.s16(10)), rasterOp(r.u32(6)).kind);
        break;
    case U_WMR_BITBLT:
    case U_WMR_STRETCHBLT: {
        // Only the forms without a bitmap: those with an old device-dependent
        // bitmap are skipped. The size tells one from the other (a reserved word
        // takes the bitmap's place).
        const bool stretch = type == U_WMR_STRETCHBLT;
        if (r.size() != (stretch ? U_SIZE_WMRSTRETCHBLT_NOPX : U_SIZE_WMRBITBLT_NOPX))
            break;
        const u64 d = stretch ? 20 : 16;
        player.patBlt(QRectF(r.s16(d + 6), r.s16(d + 4), r.s16(d + 2), r.s16(d)), rasterOp(r.u32(6)).kind);
        break;
    }
    case U_WMR_STRETCHDIB: {
        const QRectF src(r.s16(18), r.s16(16), r.s16(14), r.s16(12));
        const QRectF dst(r.s16(26), r.s16(24), r.s16(22), r.s16(20));
        wmfDib(player, r, U_SIZE_WMRSTRETCHDIB, r.u16(10), src, true, dst, r.u32(6));
        break;
    }
    case U_WMR_DIBSTRETCHBLT: {
        if (r.size() == U_SIZE_WMRDIBSTRETCHBLT_NOPX) {
            player.patBlt(QRectF(r.s16(26), r.s16(24), r.s16(22), r.s16(20)), rasterOp(r.u32(6)).kind);
            break;
        }
        const QRectF src(r.s16(16), r.s16(14), r.s16(12), r.s16(10));
        const QRectF dst(r.s16(24), r.s16(22), r.s16(20), r.s16(18));
        wmfDib(player, r, U_SIZE_WMRDIBSTRETCHBLT_PX, U_DIB_RGB_COLORS, src, false, dst, r.u32(6));
        break;
    }
    case U_WMR_DIBBITBLT: {
        if (r.size() == U_SIZE_WMRDIBBITBLT_NOPX) {
            player.patBlt(QRectF(r.s16(22), r.s16(20), r.s16(18), r.s16(16)), rasterOp(r.u32(6)).kind);
            break;
        }
        const double w = r.s16(16), h = r.s16(14);
        const QRectF src(r.s16(12), r.s16(10), w, h);
        const QRectF dst(r.s16(20), r.s16(18), w, h);
        wmfDib(player, r, U_SIZE_WMRDIBBITBLT_PX, U_DIB_RGB_COLORS, src, false, dst, r.u32(6));
        break;
    }
    case U_WMR_SETDIBTODEV: {
        // The whole bitmap is played, one logical unit a pixel; the scan
        // range fields are not followed.
        const double w = r.s16(18), h = r.s16(16);
        const QRectF src(r.s16(14), r.s16(12), w, h);
        const QRectF dst(r.s16(22), r.s16(20), w, h);
        wmfDib(player, r, 24, r.u16(6), src, true, dst, U_SRCCOPY);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Text.
bool playWmfText(Player& player, const Record& r, int type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_WMR_TEXTOUT: {
        const u64 length = r.u16(6);
        const u64 padded = (length + 1) & ~u64(1);
        const std::uint8_t* s = r.bytes(8, length);
        const QPointF at = pointYX(r, 8 + padded);
        player.text(at, decodeAnsi(s, length, dc.font.charSet), {}, 0, std::nullopt);
        break;
    }
    case U_WMR_EXTTEXTOUT: {
        const QPointF at = pointYX(r, 6);
        const std::int64_t length = std::max<std::int16_t>(r.s16(10), 0);
        const std::uint32_t options = r.u16(12);
        u64 off = 14;
        std::optional<QRectF> rect;
        if (options & (U_ETO_OPAQUE | U_ETO_CLIPPED)) {
            // A Rect object: left, top, right, bottom.
            rect = QRectF(QPointF(r.s16(off), r.s16(off + 2)), QPointF(r.s16(off + 4), r.s16(off + 6)));
            off += 8;
        }
        const std::uint8_t* s = r.bytes(off, u64(length));
        off += (u64(length) + 1) & ~u64(1);
        std::vector<double> dx;
        if (length > 0 && r.has(off, u64(length) * 2))
            for (std::int64_t i = 0; i < length; ++i)
                dx.push_back(r.s16(off + 2 * u64(i)));
        player.text(at, decodeAnsi(s, u64(length), dc.font.charSet), dx, options, rect);
        break;
    }
    default:
        return false;
    }
    return true;
}

void playWmfRecord(Player& player, WmfObjects& objects, const Record& r, int type)
{
    // Each family plays the records that are its own; a type belongs to one
    // family only, and records of none are those we do not play.
    if (playWmfState(player, r, type) || playWmfObject(player, objects, r, type) || playWmfDrawing(player, r, type) ||
        playWmfBitmap(player, r, type))
        return;
    playWmfText(player, r, type);
}

// libuemf keeps its state for writing WMFs in globals.
std::mutex g_wmfWriterMutex;

}  // namespace

TBitmap32 decodeWmf(const std::uint8_t* data, std::size_t size)
{
    MetafileWork work;
    TBitmap32 picture = decodeWmfCounted(data, size, work);
    throwIfUnfinished(work);
    return picture;
}

TBitmap32 decodeWmfCounted(const std::uint8_t* data, std::size_t size, MetafileWork& work)
{
    work = {};
    if (data == nullptr)
        size = 0;
    const WmfHeader header = readWmfHeader(data, size);

    // The picture's size: the placeable box at 96 dots an inch, else the
    // first window extent, one unit a pixel.
    std::int64_t width = 0, height = 0;
    QPointF windowOrg(0, 0), windowExt(0, 0);
    if (header.placeable && header.box.width() > 0 && header.box.height() > 0) {
        const double inch = header.unitsPerInch != 0 ? header.unitsPerInch : 1440;
        width = std::max<std::int64_t>(1, std::llround(header.box.width() * kScreenDpi / inch));
        height = std::max<std::int64_t>(1, std::llround(header.box.height() * kScreenDpi / inch));
        windowOrg = header.box.topLeft();
        windowExt = QPointF(header.box.width(), header.box.height());
    } else {
        forEachWmfRecord(data, size, header.recordsStart, [&](const Record& r, int type) {
            if (type != U_WMR_SETWINDOWEXT)
                return true;
            const QPointF ext = pointYX(r, 6);
            if (ext.x() == 0 || ext.y() == 0)
                return true;
            width = std::int64_t(std::abs(ext.x()));
            height = std::int64_t(std::abs(ext.y()));
            windowExt = QPointF(width, height);
            return false;
        });
        if (width == 0)
            throw PlumoraError("The metafile does not say its size.");
    }

    TBitmap32 canvas = whiteCanvas(width, height);
    {
        QImage image(canvas.bits(), canvas.width(), canvas.height(), qsizetype(canvas.bytesPerLine()),
                     QImage::Format_RGB32);
        // The window maps onto the whole canvas; the file's own window and
        // viewport records then change that mapping as they would on screen.
        // The device is the canvas at 96 dots an inch.
        const QSizeF pixels(canvas.width(), canvas.height());
        Player player(image, QTransform(), pixels, pixels * (kMmPerInch / kScreenDpi));
        player.dc.mapMode = U_MM_ANISOTROPIC;
        player.dc.windowOrg = windowOrg;
        player.dc.windowExt = windowExt;
        player.dc.viewportExt = QPointF(canvas.width(), canvas.height());
        WmfObjects objects;
        try {
            forEachWmfRecord(data, size, header.recordsStart, [&](const Record& r, int type) {
                ++work.records;
                playWmfRecord(player, objects, r, type);
                return true;
            });
        } catch (const StopPlayback&) {
            work.budgetSpent = true;
        }
        work.canvas = player.canvasWork();
        work.budget = player.workBudget();
        work.spent = player.workSpent();
        work.finalCharge = player.finalCharge();
    }
    FillAlpha(canvas, 0);
    return canvas;
}

std::uint64_t wmfFileSize(int width, int height)
{
    // The records encodeWmf writes: the placeable header, the metafile
    // header, map mode, window origin and extent, the DIB (record, bitmap
    // header, bottom-up 24-bit rows padded to four bytes) and the end.
    const u64 stride = (u64(std::max(width, 0)) * 3 + 3) / 4 * 4;
    return U_SIZE_WMRPLACEABLE + U_SIZE_WMRHEADER + 8 + 10 + 10 + U_SIZE_WMRSTRETCHDIB + U_SIZE_BITMAPINFOHEADER +
           stride * u64(std::max(height, 0)) + U_SIZE_WMREOF;
}

std::vector<std::uint8_t> encodeWmf(const TBitmap32& picture)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    const int width = picture.width();
    const int height = picture.height();
    // Coordinates are 16-bit and the picture is drawn one unit a pixel.
    if (width > 32767 || height > 32767)
        throw PlumoraError("The picture is too large to be saved as a WMF file.");

    // The pixels as a bottom-up 24-bit DIB. At most 2^28 pixels: the sizes
    // below fit libuemf's int arithmetic.
    const u64 stride = (u64(width) * 3 + 3) / 4 * 4;
    const u64 pixelBytes = stride * u64(height);
    std::vector<char> pixels(std::size_t(pixelBytes), 0);
    for (int y = 0; y < height; ++y) {
        throwIfCancelled();
        const std::uint8_t* src = picture.ScanLine(y);
        char* dst = pixels.data() + u64(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = char(src[0]);
            dst[1] = char(src[1]);
            dst[2] = char(src[2]);
        }
    }
    constexpr std::int32_t kPixelsPerMetre = 3780;  // 96 dots an inch
    U_BITMAPINFO info{};
    info.bmiHeader = bitmapinfoheader_set(width, height, 1, 24, U_BI_RGB, std::uint32_t(pixelBytes), kPixelsPerMetre,
                                          kPixelsPerMetre, 0, 0);

    const std::lock_guard<std::mutex> lock(g_wmfWriterMutex);
    // libuemf builds the file in memory and wants a file to write it to in
    // the end; we take the bytes from memory and give it the null device.
    const u64 expected = U_SIZE_WMRPLACEABLE + U_SIZE_WMRHEADER + 8 + 10 + 10 + U_SIZE_WMRSTRETCHDIB +
                         U_SIZE_BITMAPINFOHEADER + pixelBytes + U_SIZE_WMREOF + 64;
    WMFTRACK* track = nullptr;
    if (wmf_start("/dev/null", std::uint32_t(expected), 4096, &track) != 0)
        throw PlumoraError("The WMF file could not be made.");
    struct Release {
        WMFTRACK*& track;
        ~Release()
        {
            if (track->fp)
                std::fclose(track->fp);
            wmf_free(&track);
        }
    } release{track};
    const auto fail = [] { throw PlumoraError("The WMF file could not be made."); };

    // The placeable box is the picture's size at 96 units an inch: our reader
    // turns it back into exactly that many pixels.
    U_PAIRF inches{float(width / kScreenDpi), float(height / kScreenDpi)};
    char* header = U_WMRHEADER_set(&inches, unsigned(kScreenDpi));
    if (header == nullptr)
        fail();
    {
        // libuemf computes the box from inches in single precision: make sure
        // it holds exactly the pixel size (and fix the checksum if not).
        U_WMRPLACEABLE* placeable = reinterpret_cast<U_WMRPLACEABLE*>(header);
        if (placeable->Dst.right != width || placeable->Dst.bottom != height) {
            placeable->Dst.right = std::int16_t(width);
            placeable->Dst.bottom = std::int16_t(height);
            placeable->Checksum = std::uint16_t(U_16_checksum(reinterpret_cast<std::int16_t*>(header), 10));
        }
    }
    if (wmf_header_append(reinterpret_cast<U_METARECORD*>(header), track, U_REC_FREE) != 0) {
        std::free(header);
        fail();
    }
    // wmf_append frees a record it took, and leaves it to us when it fails.
    const auto append = [&](char* record) {
        if (record == nullptr)
            fail();
        if (wmf_append(reinterpret_cast<U_METARECORD*>(record), track, U_REC_FREE) != 0) {
            std::free(record);
            fail();
        }
    };
    const U_POINT16 origin = point16_set(0, 0);
    const U_POINT16 size = point16_set(std::int16_t(width), std::int16_t(height));
    append(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
    append(U_WMRSETWINDOWORG_set(origin));
    append(U_WMRSETWINDOWEXT_set(size));
    // The record holds a copy of the pixels: ours go before it is appended,
    // so a large picture is held twice at most, not three times.
    char* bitmap = U_WMRSTRETCHDIB_set(origin, size, origin, size, U_DIB_RGB_COLORS, U_SRCCOPY, &info,
                                       std::uint32_t(pixelBytes), pixels.data());
    std::vector<char>().swap(pixels);
    append(bitmap);
    append(U_WMREOF_set());
    // Fills in the header's sizes, then writes to the null device.
    if (wmf_finish(track) != 0)
        fail();

    std::vector<std::uint8_t> file(track->buf, track->buf + track->used);
    // libuemf counts the placeable record in the metafile's size; the size
    // field describes the metafile that follows it.
    if (file.size() >= U_SIZE_WMRPLACEABLE + U_SIZE_WMRHEADER)
        writeU32(file.data() + U_SIZE_WMRPLACEABLE + 6, std::uint32_t((file.size() - U_SIZE_WMRPLACEABLE) / 2));
    return file;
}

}  // namespace plumora
