#include "formats/emf_records.h"

#include "formats/bytes.h"
#include "raster/limits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

// The EMF records we play, one function for each family of records, all
// drawn through the shared player.

namespace plumora::metafile {

namespace {

using bytes::writeU32;

constexpr std::uint32_t kAcSrcAlpha = 1;  // ALPHABLEND: the bitmap has its own alpha

// The stock objects (EmfObjects below) are made with these.
GdiObject solidBrush(QRgb colour)
{
    LogBrush b;
    b.colour = colour;
    return brushObject(b);
}

GdiObject nullBrush()
{
    LogBrush b;
    b.style = U_BS_NULL;
    return brushObject(b);
}

GdiObject solidPen(QRgb colour, std::uint32_t style = U_PS_SOLID)
{
    LogPen p;
    p.style = style;
    p.colour = colour;
    return penObject(p);
}

// Where a bitmap's colour table ends, counted from its header, following the
// same rule as decodeDib: the masks of a 40-byte header, then the colours the
// header declares or as many as the depth allows.
std::optional<u64> dibTableEnd(const std::uint8_t* p, u64 n)
{
    if (n < 4)
        return std::nullopt;
    const std::uint32_t headerSize = readU32(p);
    if (headerSize == 12) {
        if (n < 12)
            return std::nullopt;
        const unsigned bits = readU16(p + 10);
        return u64(12) + (bits <= 8 ? (u64(1) << bits) * 3 : 0);
    }
    if (headerSize < 40 || n < 40)
        return std::nullopt;
    const unsigned bits = readU16(p + 14);
    const std::uint32_t compression = readU32(p + 16);
    const std::uint32_t used = readU32(p + 32);
    u64 masks = 0;
    if (headerSize == 40)
        masks = compression == 3 ? 12 : compression == 6 ? 16 : 0;
    const u64 entries = used != 0 ? used : bits <= 8 ? u64(1) << bits : 0;
    return u64(headerSize) + masks + entries * 4;
}

QPointF pointL(const Record& r, u64 offset)
{
    return QPointF(r.s32(offset), r.s32(offset + 4));
}

QRectF rectL(const Record& r, u64 offset)
{
    return QRectF(pointL(r, offset), pointL(r, offset + 8));
}

QPolygonF pointsL(const Record& r, u64 offset, u64 count)
{
    if (count > r.size() / 8)
        damaged();
    const std::uint8_t* p = r.bytes(offset, count * 8);
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (u64 i = 0; i < count; ++i, p += 8)
        points.append(QPointF(std::int32_t(readU32(p)), std::int32_t(readU32(p + 4))));
    return points;
}

QPolygonF pointsS(const Record& r, u64 offset, u64 count)
{
    if (count > r.size() / 4)
        damaged();
    return points16(r, offset, count);
}

// POLY...16 and the 32-bit forms: bounds, count, points.
QPolygonF emfPoints(const Record& r, bool small)
{
    const u64 count = r.u32(24);
    return small ? pointsS(r, 28, count) : pointsL(r, 28, count);
}

// POLYPOLYLINE(16) and POLYPOLYGON(16): bounds, figure count, point count,
// the figures' point counts, then the points.
std::vector<QPolygonF> emfPolyPoints(const Record& r, bool small)
{
    const u64 figures = r.u32(24), total = r.u32(28);
    if (figures > r.size() / 4)
        damaged();
    const u64 at = 32 + 4 * figures;
    const QPolygonF all = small ? pointsS(r, at, total) : pointsL(r, at, total);
    std::vector<QPolygonF> polygons;
    u64 used = 0;
    for (u64 i = 0; i < figures; ++i) {
        const u64 n = r.u32(32 + 4 * i);
        if (n > total - used)
            damaged();
        polygons.emplace_back(all.mid(qsizetype(used), qsizetype(n)));
        used += n;
    }
    return polygons;
}

// Region data: a 32-byte header (its count of rectangles at 8, the bounds at
// 16), then the rectangles, in reference device pixels.
QRegion emfRegion(const Record& r, u64 offset, u64 size, const QTransform& toCanvas)
{
    r.bytes(offset, size);
    if (size < 32)
        damaged();
    const u64 count = r.u32(offset + 8);
    if (count > (size - 32) / 16)
        damaged();
    const auto rectAt = [&](u64 at) {
        const QRectF device(QPointF(r.s32(at), r.s32(at + 4)), QPointF(r.s32(at + 8), r.s32(at + 12)));
        const QRectF canvas = toCanvas.mapRect(device);
        // Canvas coordinates stay well inside int: the rest is clipped away anyway.
        const auto clamp = [](double v) { return std::clamp(roundToInt(v), -(1 << 28), 1 << 28); };
        return QRect(QPoint(clamp(canvas.left()), clamp(canvas.top())),
                     QPoint(clamp(canvas.right()) - 1, clamp(canvas.bottom()) - 1));
    };
    if (count > kMaxRegionRects)
        return QRegion(rectAt(offset + 16));
    QRegion region;
    for (u64 i = 0; i < count; ++i) {
        const QRect rect = rectAt(offset + 32 + 16 * i);
        if (rect.isValid())
            region |= rect;
    }
    return region;
}

// An EMF bitmap comes in two pieces, its header with colour table (offBmi,
// cbBmi) and its pixels (offBits, cbBits); decodeDib wants them one after
// the other. rows: for SETDIBITSTODEVICE, the scan lines actually held.
std::vector<std::uint8_t> packDib(const Record& r, std::uint32_t offBmi, std::uint32_t cbBmi, std::uint32_t offBits,
                                  std::uint32_t cbBits, std::uint32_t rows = 0)
{
    const std::uint8_t* bmi = r.bytes(offBmi, cbBmi);
    const std::uint8_t* bits = r.bytes(offBits, cbBits);
    const std::optional<u64> tableEnd = dibTableEnd(bmi, cbBmi);
    // A table a little shorter than the header says is padded with black; a
    // table that does not exist at all makes the bitmap unusable.
    if (!tableEnd || *tableEnd > u64(cbBmi) + 1024)
        return {};
    std::vector<std::uint8_t> dib(std::size_t(*tableEnd + cbBits), 0);
    std::memcpy(dib.data(), bmi, std::size_t(std::min<u64>(cbBmi, *tableEnd)));
    if (cbBits > 0)
        std::memcpy(dib.data() + *tableEnd, bits, cbBits);
    if (rows > 0) {
        const std::optional<DibShape> shape = dibShape(dib.data(), dib.size());
        if (shape && rows < shape->height && readU32(dib.data()) >= 40)
            writeU32(dib.data() + 8, std::uint32_t(shape->bottomUp ? std::int32_t(rows) : -std::int32_t(rows)));
    }
    return dib;
}

void emfDib(Player& player, const Record& r, std::uint32_t usage, std::uint32_t offBmi, std::uint32_t cbBmi,
            std::uint32_t offBits, std::uint32_t cbBits, QRectF src, bool srcFromBottom, const QRectF& dst,
            std::uint32_t rop, const Blend& blend = {}, std::uint32_t rows = 0)
{
    const RasterOp op = rasterOp(rop);
    if (cbBmi == 0 || op.kind != Blt::Source) {
        player.patBlt(dst, op.kind == Blt::Source ? Blt::Pattern : op.kind);
        return;
    }
    if (usage != U_DIB_RGB_COLORS)
        return;
    const std::vector<std::uint8_t> dib = packDib(r, offBmi, cbBmi, offBits, cbBits, rows);
    if (dib.empty())
        return;
    auto decoded = player.decodeBitmap(dib.data(), dib.size(), blend.perPixelAlpha, kMaxPixels);
    if (!decoded)
        return;
    const TBitmap32& picture = decoded->first;
    if (srcFromBottom && decoded->second)
        src.moveTop(picture.height() - src.top() - src.height());
    player.bitmap(picture, src, dst, rop, blend);
}

LogFont emfFont(const Record& r)
{
    // LOGFONTW at 12: height, width, escapement, orientation, weight, then
    // italic, underline, strike-out, character set, three precision bytes,
    // pitch and family, and a 32-character face name.
    LogFont f;
    f.height = r.s32(12);
    f.escapement = r.s32(20);
    f.weight = r.s32(28);
    f.italic = r.u8(32) != 0;
    f.underline = r.u8(33) != 0;
    f.strikeOut = r.u8(34) != 0;
    f.charSet = r.u8(35);
    f.pitchAndFamily = r.u8(39);
    const std::uint8_t* face = r.bytes(40, 64);
    for (int i = 0; i < 32; ++i) {
        const char16_t c = char16_t(readU16(face + 2 * i));
        if (c == 0)
            break;
        f.face.append(QChar(c));
    }
    return f;
}

LogPen emfExtPen(const Record& r)
{
    // EXTLOGPEN at 28: style, width, brush style, colour, hatch, dashes.
    LogPen pen;
    pen.style = r.u32(28);
    pen.geometric = (pen.style & U_PS_TYPE_MASK) == U_PS_GEOMETRIC;
    pen.width = pen.geometric ? double(r.u32(32)) : 0;
    pen.colour = r.colour(40);
    if (r.u32(36) == U_BS_NULL)
        pen.style = (pen.style & ~std::uint32_t(U_PS_STYLE_MASK)) | U_PS_NULL;
    return pen;
}

void emfText(Player& player, const Record& r, bool wide)
{
    // Bounds, graphics mode, scales, then the text: reference point, length,
    // string offset, options, rectangle, offset of the advances.
    const QPointF at = pointL(r, 36);
    const u64 count = r.u32(44);
    const u64 offString = r.u32(48);
    const std::uint32_t options = r.u32(52);
    // The rectangle is left out when the options say so, moving the offset
    // of the advances up.
    std::optional<QRectF> rect;
    if (!(options & U_ETO_NO_RECT))
        rect = rectL(r, 56);
    const u64 offDx = r.u32(rect ? 72 : 56);
    QString string;
    std::vector<quint32> glyphs;
    if (options & U_ETO_GLYPH_INDEX) {
        // Glyph numbers of the writer's font, not characters: 16 bits each,
        // or a byte in the 8-bit record. We used to skip such text without
        // reading it, so numbers outside the record still only skip it.
        const u64 width = wide ? 2 : 1;
        if (count <= r.size() / width && r.has(offString, count * width)) {
            const std::uint8_t* p = r.bytes(offString, count * width);
            glyphs.reserve(std::size_t(count));
            for (u64 i = 0; i < count; ++i)
                glyphs.push_back(wide ? readU16(p + 2 * i) : p[i]);
        }
    } else {
        if (wide) {
            if (count > r.size() / 2)
                damaged();
            const std::uint8_t* p = r.bytes(offString, count * 2);
            string.reserve(qsizetype(count));
            for (u64 i = 0; i < count; ++i)
                string.append(QChar(char16_t(readU16(p + 2 * i))));
        } else {
            string = decodeAnsi(r.bytes(offString, count), count, player.dc.font.charSet);
        }
    }
    std::vector<double> dx;
    const u64 step = (options & U_ETO_PDY) ? 8 : 4;
    if (count > 0 && offDx != 0 && count <= r.size() / step && r.has(offDx, count * step))
        for (u64 i = 0; i < count; ++i)
            dx.push_back(r.s32(offDx + step * i));
    player.text(at, string, dx, options, rect, glyphs);
}

// Each function below plays the records of one family and returns false
// for a record of another family.

// The device context: mapping, drawing modes, colours, saved states and
// the world transform.
bool playEmfState(Player& player, const Record& r, std::uint32_t type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_EMR_SETWINDOWEXTEX:
        player.setWindowExt(pointL(r, 8));
        break;
    case U_EMR_SETWINDOWORGEX:
        dc.windowOrg = pointL(r, 8);
        break;
    case U_EMR_SETVIEWPORTEXTEX:
        player.setViewportExt(pointL(r, 8));
        break;
    case U_EMR_SETVIEWPORTORGEX:
        dc.viewportOrg = pointL(r, 8);
        break;
    case U_EMR_SCALEVIEWPORTEXTEX:
        player.scaleExt(dc.viewportExt, r.s32(8), r.s32(12), r.s32(16), r.s32(20));
        break;
    case U_EMR_SCALEWINDOWEXTEX:
        player.scaleExt(dc.windowExt, r.s32(8), r.s32(12), r.s32(16), r.s32(20));
        break;
    case U_EMR_SETMAPMODE: {
        player.setMapMode(r.u32(8));
        break;
    }
    case U_EMR_SETBKMODE: {
        const std::uint32_t mode = r.u32(8);
        if (mode == U_TRANSPARENT || mode == U_OPAQUE)
            dc.opaqueBackground = mode == U_OPAQUE;
        break;
    }
    case U_EMR_SETPOLYFILLMODE: {
        const std::uint32_t mode = r.u32(8);
        if (mode == U_ALTERNATE || mode == U_WINDING)
            dc.fillRule = mode == U_WINDING ? Qt::WindingFill : Qt::OddEvenFill;
        break;
    }
    case U_EMR_SETROP2: {
        const std::uint32_t mode = r.u32(8);
        if (mode >= U_R2_BLACK && mode <= U_R2_WHITE)
            dc.rop2 = mode;
        break;
    }
    case U_EMR_SETSTRETCHBLTMODE:
        dc.stretchMode = r.u32(8);
        break;
    case U_EMR_SETTEXTALIGN:
        dc.textAlign = r.u32(8);
        break;
    case U_EMR_SETTEXTCOLOR:
        dc.textColour = r.colour(8);
        break;
    case U_EMR_SETBKCOLOR:
        dc.bkColour = r.colour(8);
        break;
    case U_EMR_SAVEDC:
        player.saveDc();
        break;
    case U_EMR_RESTOREDC:
        player.restoreDc(r.s32(8));
        break;
    case U_EMR_SETWORLDTRANSFORM:
    case U_EMR_MODIFYWORLDTRANSFORM: {
        const QTransform t(r.f32(8), r.f32(12), r.f32(16), r.f32(20), r.f32(24), r.f32(28));
        player.setWorld(t, type == U_EMR_SETWORLDTRANSFORM ? kModifyWorldSet : r.u32(32));
        break;
    }
    case U_EMR_SETARCDIRECTION:
        dc.clockwiseArcs = r.u32(8) == U_AD_CLOCKWISE;
        break;
    default:
        return false;
    }
    return true;
}

// The object table: pens, brushes and fonts made, chosen and deleted.
bool playEmfObject(Player& player, EmfObjects& objects, const Record& r, std::uint32_t type)
{
    switch (type) {
    case U_EMR_SELECTOBJECT:
        if (const std::optional<GdiObject> o = objects.get(r.u32(8)))
            player.select(*o);
        break;
    case U_EMR_DELETEOBJECT:
        objects.remove(r.u32(8));
        break;
    case U_EMR_CREATEPEN: {
        // LOGPEN: style, width (a point whose x counts), colour.
        LogPen pen;
        pen.style = r.u32(12);
        pen.width = std::abs(double(r.s32(16)));
        pen.colour = r.colour(24);
        objects.add(r.u32(8), penObject(pen));
        break;
    }
    case U_EMR_EXTCREATEPEN:
        objects.add(r.u32(8), penObject(emfExtPen(r)));
        break;
    case U_EMR_CREATEBRUSHINDIRECT: {
        LogBrush brush;
        brush.style = r.u32(12);
        brush.colour = r.colour(16);
        brush.hatch = r.u32(20);
        objects.add(r.u32(8), brushObject(brush));
        break;
    }
    case U_EMR_CREATEMONOBRUSH:
    case U_EMR_CREATEDIBPATTERNBRUSHPT: {
        LogBrush brush;
        brush.style = U_BS_DIBPATTERNPT;
        if (r.u32(12) == U_DIB_RGB_COLORS) {
            const std::vector<std::uint8_t> dib = packDib(r, r.u32(16), r.u32(20), r.u32(24), r.u32(28));
            if (!dib.empty())
                if (std::optional<QImage> image = player.patternImage(dib.data(), dib.size()))
                    brush.pattern = *image;
        }
        objects.add(r.u32(8), brushObject(brush));
        break;
    }
    case U_EMR_EXTCREATEFONTINDIRECTW:
        objects.add(r.u32(8), fontObject(emfFont(r)));
        break;
    case U_EMR_CREATEPALETTE:
        objects.add(r.u32(8), GdiObject{});
        break;
    default:
        return false;
    }
    return true;
}

// Lines, curves and shapes.
bool playEmfDrawing(Player& player, const Record& r, std::uint32_t type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYBEZIER16:
        player.polyBezier(emfPoints(r, type == U_EMR_POLYBEZIER16));
        break;
    case U_EMR_POLYGON:
    case U_EMR_POLYGON16:
        player.polyPolygon({emfPoints(r, type == U_EMR_POLYGON16)});
        break;
    case U_EMR_POLYLINE:
    case U_EMR_POLYLINE16:
        player.polyline(emfPoints(r, type == U_EMR_POLYLINE16));
        break;
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYBEZIERTO16:
        player.polyBezierTo(emfPoints(r, type == U_EMR_POLYBEZIERTO16));
        break;
    case U_EMR_POLYLINETO:
    case U_EMR_POLYLINETO16:
        player.polylineTo(emfPoints(r, type == U_EMR_POLYLINETO16));
        break;
    case U_EMR_POLYPOLYLINE:
    case U_EMR_POLYPOLYLINE16:
        player.polyPolyline(emfPolyPoints(r, type == U_EMR_POLYPOLYLINE16));
        break;
    case U_EMR_POLYPOLYGON:
    case U_EMR_POLYPOLYGON16:
        player.polyPolygon(emfPolyPoints(r, type == U_EMR_POLYPOLYGON16));
        break;
    case U_EMR_POLYDRAW:
    case U_EMR_POLYDRAW16: {
        const QPolygonF points = emfPoints(r, type == U_EMR_POLYDRAW16);
        const u64 typesAt = 28 + u64(points.size()) * (type == U_EMR_POLYDRAW16 ? 4 : 8);
        player.polyDraw(points, r.bytes(typesAt, u64(points.size())));
        break;
    }
    case U_EMR_SETPIXELV:
        player.setPixel(pointL(r, 8), r.colour(16));
        break;
    case U_EMR_MOVETOEX:
        player.moveTo(pointL(r, 8));
        break;
    case U_EMR_LINETO:
        player.polylineTo(QPolygonF{pointL(r, 8)});
        break;
    case U_EMR_ELLIPSE:
        player.ellipse(rectL(r, 8));
        break;
    case U_EMR_RECTANGLE:
        player.rectangle(rectL(r, 8));
        break;
    case U_EMR_ROUNDRECT:
        player.roundRect(rectL(r, 8), pointL(r, 24));
        break;
    case U_EMR_ARC:
    case U_EMR_CHORD:
    case U_EMR_PIE: {
        const ArcKind kind = type == U_EMR_ARC ? ArcKind::Arc : type == U_EMR_PIE ? ArcKind::Pie : ArcKind::Chord;
        player.arc(rectL(r, 8), pointL(r, 24), pointL(r, 32), kind);
        break;
    }
    case U_EMR_ARCTO: {
        // As ARC, joined to the current position by a line.
        const QRectF box = rectL(r, 8).normalized();
        if (box.width() <= 0 || box.height() <= 0)
            break;
        const QPointF c = box.center(), s = pointL(r, 24), e = pointL(r, 32);
        const double a = box.width() / 2, b = box.height() / 2;
        const double from = std::atan2(-(s.y() - c.y()) / b, (s.x() - c.x()) / a) * 180.0 / M_PI;
        const double to = std::atan2(-(e.y() - c.y()) / b, (e.x() - c.x()) / a) * 180.0 / M_PI;
        double sweep = std::fmod(to - from + 720.0, 360.0);
        if (sweep <= 1e-9)
            sweep = 360;
        if (dc.clockwiseArcs)
            sweep -= 360;
        player.arcTo(box, from, sweep);
        break;
    }
    case U_EMR_ANGLEARC: {
        const QPointF c = pointL(r, 8);
        const double radius = r.u32(16);
        const double start = r.f32(20), sweep = r.f32(24);
        if (!std::isfinite(start) || !std::isfinite(sweep))
            break;
        player.arcTo(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), start,
                     std::clamp(sweep, -3600.0, 3600.0));
        break;
    }
    default:
        return false;
    }
    return true;
}

// Paths, clip regions and the regions drawn with a brush.
bool playEmfPathOrClip(Player& player, EmfObjects& objects, const Record& r, std::uint32_t type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_EMR_OFFSETCLIPRGN:
        player.offsetClip(pointL(r, 8));
        break;
    case U_EMR_EXCLUDECLIPRECT:
        player.excludeClip(rectL(r, 8));
        break;
    case U_EMR_INTERSECTCLIPRECT:
        player.intersectClip(rectL(r, 8));
        break;
    case U_EMR_BEGINPATH:
        player.beginPath();
        break;
    case U_EMR_ENDPATH:
        player.endPath();
        break;
    case U_EMR_CLOSEFIGURE:
        player.closeFigure();
        break;
    case U_EMR_ABORTPATH:
        player.abortPath();
        break;
    case U_EMR_FILLPATH:
        player.drawPath(true, false);
        break;
    case U_EMR_STROKEPATH:
        player.drawPath(false, true);
        break;
    case U_EMR_STROKEANDFILLPATH:
        player.drawPath(true, true);
        break;
    case U_EMR_SELECTCLIPPATH:
        player.clipToPath(r.u32(8));
        break;
    case U_EMR_EXTSELECTCLIPRGN: {
        const std::uint32_t size = r.u32(8), mode = r.u32(12);
        if (mode == U_RGN_COPY && size == 0)
            player.resetClip();
        else if (size != 0)
            player.combineClip(emfRegion(r, 16, size, player.toCanvas()), mode);
        break;
    }
    case U_EMR_FILLRGN:
        if (const std::optional<GdiObject> brush = objects.get(r.u32(28)); brush && brush->kind == ObjectKind::Brush)
            player.fillRegion(emfRegion(r, 32, r.u32(24), player.toCanvas()), brush->brush);
        break;
    case U_EMR_PAINTRGN:
        player.fillRegion(emfRegion(r, 28, r.u32(24), player.toCanvas()), dc.brush);
        break;
    case U_EMR_INVERTRGN:
        player.invertRegion(emfRegion(r, 28, r.u32(24), player.toCanvas()));
        break;
    default:
        return false;
    }
    return true;
}

// Bitmaps and raster operations.
bool playEmfBitmap(Player& player, const Record& r, std::uint32_t type)
{
    switch (type) {
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT: {
        // Bounds, destination x, y, width, height, raster operation, source
        // x, y, source transform (not followed), background colour, colour
        // usage, the bitmap's two pieces, and for STRETCHBLT the source size.
        const QRectF dst(r.s32(24), r.s32(28), r.s32(32), r.s32(36));
        QRectF src(r.s32(44), r.s32(48), dst.width(), dst.height());
        if (type == U_EMR_STRETCHBLT)
            src.setSize(QSizeF(r.s32(100), r.s32(104)));
        emfDib(player, r, r.u32(80), r.u32(84), r.u32(88), r.u32(92), r.u32(96), src, false, dst, r.u32(40));
        break;
    }
    case U_EMR_STRETCHDIBITS: {
        const QRectF dst(r.s32(24), r.s32(28), r.s32(72), r.s32(76));
        const QRectF src(r.s32(32), r.s32(36), r.s32(40), r.s32(44));
        emfDib(player, r, r.u32(64), r.u32(48), r.u32(52), r.u32(56), r.u32(60), src, true, dst, r.u32(68));
        break;
    }
    case U_EMR_SETDIBITSTODEVICE: {
        // One logical unit a pixel; the bitmap holds cScans rows.
        const QRectF src(r.s32(32), r.s32(36), r.s32(40), r.s32(44));
        const QRectF dst(QPointF(r.s32(24), r.s32(28)), src.size());
        emfDib(player, r, r.u32(64), r.u32(48), r.u32(52), r.u32(56), r.u32(60), src, true, dst, U_SRCCOPY, {},
               r.u32(72));
        break;
    }
    case U_EMR_ALPHABLEND: {
        // As STRETCHBLT, the raster operation replaced by the blend function:
        // operation, flags, constant alpha, alpha format.
        const QRectF dst(r.s32(24), r.s32(28), r.s32(32), r.s32(36));
        const QRectF src(r.s32(44), r.s32(48), r.s32(100), r.s32(104));
        const std::uint32_t function = r.u32(40);
        Blend blend;
        blend.opacity = double((function >> 16) & 0xFF) / 255.0;
        blend.perPixelAlpha = ((function >> 24) & 0xFF) == kAcSrcAlpha && r.u32(84) != 0 && r.has(r.u32(84), 16) &&
                              r.u16(r.u32(84) + 14) == 32;
        emfDib(player, r, r.u32(80), r.u32(84), r.u32(88), r.u32(92), r.u32(96), src, false, dst, U_SRCCOPY, blend);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Text.
bool playEmfText(Player& player, const Record& r, std::uint32_t type)
{
    switch (type) {
    case U_EMR_EXTTEXTOUTA:
    case U_EMR_EXTTEXTOUTW:
        emfText(player, r, type == U_EMR_EXTTEXTOUTW);
        break;
    default:
        return false;
    }
    return true;
}

}  // namespace

std::optional<GdiObject> EmfObjects::stock(std::uint32_t which)
{
    LogFont font;
    switch (which) {
    case 0:
        return solidBrush(qRgb(255, 255, 255));  // WHITE_BRUSH
    case 1:
        return solidBrush(qRgb(192, 192, 192));
    case 2:
        return solidBrush(qRgb(128, 128, 128));
    case 3:
        return solidBrush(qRgb(64, 64, 64));
    case 4:
        return solidBrush(qRgb(0, 0, 0));
    case 5:
        return nullBrush();
    case 6:
        return solidPen(qRgb(255, 255, 255));  // WHITE_PEN
    case 7:
        return solidPen(qRgb(0, 0, 0));
    case 8:
        return solidPen(qRgb(0, 0, 0), U_PS_NULL);
    case 10:  // OEM_FIXED_FONT
    case 11:  // ANSI_FIXED_FONT
    case 16:  // SYSTEM_FIXED_FONT
        font.pitchAndFamily = 0x30;
        return fontObject(font);
    case 12:
    case 13:
    case 14:
    case 17:
        return fontObject(font);  // the variable-pitch system fonts
    case 18:
        return solidBrush(qRgb(255, 255, 255));  // DC_BRUSH
    case 19:
        return solidPen(qRgb(0, 0, 0));  // DC_PEN
    default:
        return std::nullopt;  // palettes and unknown ones
    }
}

void playEmfRecord(Player& player, EmfObjects& objects, const Record& r, std::uint32_t type)
{
    // Each family plays the records that are its own; a type belongs to one family only.
    if (playEmfState(player, r, type) || playEmfObject(player, objects, r, type) || playEmfDrawing(player, r, type) ||
        playEmfPathOrClip(player, objects, r, type) || playEmfBitmap(player, r, type))
        return;
    playEmfText(player, r, type);
}

}  // namespace plumora::metafile
