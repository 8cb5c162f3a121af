#include "formats/metafile_player.h"

#include "formats/metafile.h"

#include "formats/bmp.h"
#include "raster/errors.h"
#include "raster/limits.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QRawFont>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace plumora::metafile {

namespace {

// Limits against hostile files that only the player needs; the shared ones
// are in metafile_player.h.
constexpr std::size_t kMaxSavedStates = 4096;
// Work we accept for one file. The unit is the time filling one canvas pixel
// with a solid colour takes; every drawing is charged what it costs in that
// unit, measured on QPainter's raster engine (see the constants below). Each
// drawing record may cover the whole canvas, so a small file could otherwise
// keep us busy for hours. When it is spent, playback stops and what is drawn
// stays. About a second of drawing: a thousand fills of a screen-sized
// canvas, or a detailed map of 100000 shapes.
constexpr double kBaseWork = double(std::int64_t{1} << 32);
// The canvas itself is work, charged before anything is drawn: its memory
// is given, cleared to white and passed over once more for the fourth byte.
// That takes about 1.3 ns a pixel here when the system has memory at hand
// (9 units), more when it must first gather pages; a 188-megapixel frame
// costs half the budget. Every canvas we allow keeps a quarter of it for
// the drawing.
constexpr double kWorkPerCanvasPixel = 12;
static_assert(kWorkPerCanvasPixel * double(kMaxPixels) <= 0.75 * kBaseWork);
// Filling more pixels than the processor's cache holds (32 MB) runs at the
// speed of memory, about three times slower a pixel than a fill that stays
// in the cache.
constexpr double kCachedPixels = double(std::int64_t{1} << 23);
constexpr double kUncachedPixelFactor = 3;
// A rectangle of a clip region costs about as much to combine or apply as
// filling a few hundred pixels.
constexpr double kWorkPerRegionRect = 256;
// Every point of a path is transformed, stored and walked by the stroker.
constexpr double kWorkPerPathElement = 16;
// Scan conversion, as QPainter does it without antialiasing, walks every
// edge of an outline on each pixel row it spans, and its cost on a row grows
// with the square of the edges active there: a polygon whose thousand edges
// all cross the canvas takes seconds to fill, though it fills no more pixels
// than a square.
constexpr double kWorkPerEdgeRow = 8;
constexpr double kWorkPerActivePair = 8;
// A one-pixel line is drawn pixel by pixel, several times slower than a fill.
constexpr double kWorkPerLinePixel = 64;
// A wide line's outline has two sides and the arcs of its joins; a dashed
// one an outline of its own for each dash.
constexpr double kWideLineEdges = 4;
constexpr double kDashedLineEdges = 8;
constexpr double kWorkPerDash = 512;
// Laying out and drawing one character, besides the pixels of its box.
// Letters up to this size come from the glyph cache; larger ones are filled
// as antialiased outlines, pixel by pixel several times dearer.
constexpr double kWorkPerGlyph = 1024;
constexpr double kCachedGlyphPixels = 64;
constexpr double kWorkPerOutlineGlyphPixel = 8;
// Pixels of a hatched or bitmap brush are looked up in its pattern, and
// raster operations read the canvas before writing it.
constexpr double kWorkPerPatternPixel = 6;
constexpr double kRasterOpFactor = 3;
// A bitmap drawn through a transform fetches every canvas pixel from the
// bitmap, and its smoothed form interpolates four of them.
constexpr double kWorkPerBitmapPixel = 24;
constexpr double kWorkPerSmoothBitmapPixel = 96;
// An EMF path is built from many records; past this many elements more are ignored.
constexpr int kMaxPathElements = 1 << 22;

constexpr double kDefaultFontPixels = 16.0;  // the system font at 96 dpi

bool guiPresent()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The code page of an 8-bit string written with a font of this character set.
const char* codecForCharset(int charSet)
{
    switch (charSet) {
    case 0:
        return "windows-1252";  // ANSI
    case 128:
        return "Shift_JIS";
    case 129:
        return "windows-949";
    case 134:
        return "GBK";
    case 136:
        return "Big5";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 163:
        return "windows-1258";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    default:
        return nullptr;  // symbol and OEM fonts: bytes are glyph positions
    }
}

}  // namespace

[[noreturn]] void damaged()
{
    throw PlumoraError("The metafile is damaged.");
}

int roundToInt(double v)
{
    if (std::isnan(v))
        return 0;
    return int(std::lround(std::clamp(v, -1073741824.0, 1073741824.0)));
}

QString decodeAnsi(const std::uint8_t* p, u64 n, int charSet)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(p), qsizetype(n));
    if (const char* name = codecForCharset(charSet)) {
        QStringDecoder decoder(name);
        if (decoder.isValid()) {
            QString text = decoder.decode(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    return QString::fromLatin1(bytes);
}

QPolygonF points16(const Record& r, u64 offset, u64 count)
{
    const std::uint8_t* p = r.bytes(offset, count * 4);
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (u64 i = 0; i < count; ++i, p += 4)
        points.append(QPointF(std::int16_t(readU16(p)), std::int16_t(readU16(p + 2))));
    return points;
}

GdiObject penObject(LogPen pen)
{
    GdiObject o;
    o.kind = ObjectKind::Pen;
    o.pen = std::move(pen);
    return o;
}

GdiObject brushObject(LogBrush brush)
{
    GdiObject o;
    o.kind = ObjectKind::Brush;
    o.brush = std::move(brush);
    return o;
}

GdiObject fontObject(LogFont font)
{
    GdiObject o;
    o.kind = ObjectKind::Font;
    o.font = std::move(font);
    return o;
}

RasterOp rasterOp(std::uint32_t rop)
{
    using M = QPainter::CompositionMode;
    const std::uint32_t index = (rop >> 16) & 0xFF;
    switch (index) {
    case 0xCC:
        return {Blt::Source, M::CompositionMode_SourceOver};  // SRCCOPY
    case 0xEE:
        return {Blt::Source, M::RasterOp_SourceOrDestination};  // SRCPAINT
    case 0x88:
        return {Blt::Source, M::RasterOp_SourceAndDestination};  // SRCAND
    case 0x66:
        return {Blt::Source, M::RasterOp_SourceXorDestination};  // SRCINVERT
    case 0x44:
        return {Blt::Source, M::RasterOp_SourceAndNotDestination};  // SRCERASE
    case 0x33:
        return {Blt::Source, M::RasterOp_NotSource};  // NOTSRCCOPY
    case 0x11:
        return {Blt::Source, M::RasterOp_NotSourceAndNotDestination};  // NOTSRCERASE
    case 0xBB:
        return {Blt::Source, M::RasterOp_NotSourceOrDestination};  // MERGEPAINT
    case 0x00:
        return {Blt::Black, M::CompositionMode_SourceOver};  // BLACKNESS
    case 0xFF:
        return {Blt::White, M::CompositionMode_SourceOver};  // WHITENESS
    case 0x55:
        return {Blt::InvertDestination, M::RasterOp_NotDestination};  // DSTINVERT
    case 0xF0:
        return {Blt::Pattern, M::CompositionMode_SourceOver};  // PATCOPY
    case 0x5A:
        return {Blt::PatternXor, M::RasterOp_SourceXorDestination};  // PATINVERT
    case 0xAA:
        return {Blt::Nothing, M::CompositionMode_SourceOver};  // the destination as it is
    default:
        break;
    }
    // Bit (p*4 + s*2 + d) of the index is the result for pattern p, source s
    // and destination d: the operation uses the source when flipping s
    // changes some result.
    const bool usesSource = (((index >> 2) ^ index) & 0x33) != 0;
    return {usesSource ? Blt::Source : Blt::Pattern, M::CompositionMode_SourceOver};
}

std::optional<DibShape> dibShape(const std::uint8_t* p, u64 n)
{
    if (n < 4)
        return std::nullopt;
    const std::uint32_t headerSize = readU32(p);
    DibShape s;
    if (headerSize == 12) {
        if (n < 12)
            return std::nullopt;
        s.width = readU16(p + 4);
        s.height = readU16(p + 6);
        return s;
    }
    if (headerSize < 40 || n < 40)
        return std::nullopt;
    s.width = std::int32_t(readU32(p + 4));
    const std::int64_t h = std::int32_t(readU32(p + 8));
    s.bottomUp = h > 0;
    s.height = h < 0 ? -h : h;
    return s;
}

// ---------------------------------------------------------------------------
// The player.

Player::Player(QImage& canvas, const QTransform& toCanvas, QSizeF devicePixels, QSizeF deviceMillimetres)
    : m_painter(&canvas), m_width(canvas.width()), m_height(canvas.height()), m_toCanvas(toCanvas),
      m_devicePixels(devicePixels), m_deviceMillimetres(deviceMillimetres),
      m_canvasWork(kWorkPerCanvasPixel * double(canvas.width()) * double(canvas.height())),
      m_workBudget(kBaseWork - m_canvasWork), m_workLeft(m_workBudget),
      m_maxExtent(2.0 * (double(canvas.width()) + double(canvas.height()))), m_hasGui(guiPresent())
{
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.setRenderHint(QPainter::TextAntialiasing, true);
}

QTransform Player::transform() const
{
    // Every mapping mode keeps its scale as window and viewport extents (see
    // setMapMode), so one formula serves them all.
    double sx = dc.viewportExt.x() / dc.windowExt.x();
    double sy = dc.viewportExt.y() / dc.windowExt.y();
    if (dc.mapMode == U_MM_ISOTROPIC) {
        // A logical unit is as long along y as along x on the device: the
        // smaller scale wins, each axis keeping its direction.
        const double pxPerMmX = m_devicePixels.width() / m_deviceMillimetres.width();
        const double pxPerMmY = m_devicePixels.height() / m_deviceMillimetres.height();
        const double mm = std::min(std::abs(sx) / pxPerMmX, std::abs(sy) / pxPerMmY);
        sx = std::copysign(mm * pxPerMmX, sx);
        sy = std::copysign(mm * pxPerMmY, sy);
    }
    const QTransform page(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx,
                          dc.viewportOrg.y() - dc.windowOrg.y() * sy);
    return dc.world * page * m_toCanvas;
}

const QTransform& Player::toCanvas() const
{
    return m_toCanvas;
}

// --- state ---

void Player::setMapMode(std::uint32_t mode)
{
    if (mode < U_MM_MIN || mode > U_MM_MAX)
        return;
    // Choosing a scalable mode again keeps the extents the file gave it.
    if (mode == dc.mapMode && scalable())
        return;
    dc.mapMode = mode;
    // The extents GDI gives each mode on the reference device. The fixed
    // modes count y upwards; MM_ISOTROPIC starts from MM_LOMETRIC's extents,
    // so it counts y upwards too until the file sets a viewport; and
    // MM_ANISOTROPIC keeps the extents of the mode before it.
    double unitsPerMm = 0;
    switch (mode) {
    case U_MM_TEXT:
        dc.windowExt = dc.viewportExt = QPointF(1, 1);
        return;
    case U_MM_ANISOTROPIC:
        return;
    case U_MM_HIMETRIC:
        unitsPerMm = 100;
        break;
    case U_MM_LOENGLISH:
        unitsPerMm = 100 / kMmPerInch;
        break;
    case U_MM_HIENGLISH:
        unitsPerMm = 1000 / kMmPerInch;
        break;
    case U_MM_TWIPS:
        unitsPerMm = 1440 / kMmPerInch;
        break;
    default:  // MM_LOMETRIC and MM_ISOTROPIC
        unitsPerMm = 10;
        break;
    }
    dc.windowExt = QPointF(m_deviceMillimetres.width() * unitsPerMm, m_deviceMillimetres.height() * unitsPerMm);
    dc.viewportExt = QPointF(m_devicePixels.width(), -m_devicePixels.height());
}

bool Player::scalable() const
{
    return dc.mapMode == U_MM_ISOTROPIC || dc.mapMode == U_MM_ANISOTROPIC;
}

// GDI ignores extents in the other modes, and refuses a zero extent.
void Player::setWindowExt(QPointF e)
{
    if (scalable() && e.x() != 0 && e.y() != 0)
        dc.windowExt = e;
}

void Player::setViewportExt(QPointF e)
{
    if (scalable() && e.x() != 0 && e.y() != 0)
        dc.viewportExt = e;
}

void Player::scaleExt(QPointF& ext, double xNum, double xDenom, double yNum, double yDenom)
{
    if (!scalable() || xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0)
        return;
    // Repeated scaling must not wear an extent down to nothing or up to infinity.
    const QPointF scaled(ext.x() * xNum / xDenom, ext.y() * yNum / yDenom);
    const auto sane = [](double v) { return std::abs(v) >= 1e-6 && std::abs(v) <= 1e12; };
    if (sane(scaled.x()) && sane(scaled.y()))
        ext = scaled;
}

void Player::setWorld(const QTransform& t, std::uint32_t mode)
{
    QTransform next;
    switch (mode) {
    case U_MWT_IDENTITY:
        break;
    case U_MWT_LEFTMULTIPLY:
        next = t * dc.world;
        break;
    case U_MWT_RIGHTMULTIPLY:
        next = dc.world * t;
        break;
    case kModifyWorldSet:
        next = t;
        break;
    default:
        return;
    }
    // Refuse what GDI refuses (a singular transform) and what would send
    // coordinates beyond any sensible range.
    const std::array<double, 6> m{next.m11(), next.m12(), next.m21(), next.m22(), next.dx(), next.dy()};
    for (double v : m)
        if (!std::isfinite(v) || std::abs(v) > 1e9)
            return;
    if (std::abs(next.determinant()) < 1e-12)
        return;
    dc.world = next;
}

void Player::saveDc()
{
    if (m_saved.size() < kMaxSavedStates)
        m_saved.push_back(dc);
}

void Player::restoreDc(std::int64_t n)
{
    const std::int64_t count = std::int64_t(m_saved.size());
    const std::int64_t target = n < 0 ? count + n : n - 1;
    if (n == 0 || target < 0 || target >= count)
        return;
    dc = m_saved[std::size_t(target)];
    m_saved.resize(std::size_t(target));
}

void Player::select(const GdiObject& o)
{
    switch (o.kind) {
    case ObjectKind::Pen:
        dc.pen = o.pen;
        break;
    case ObjectKind::Brush:
        dc.brush = o.brush;
        break;
    case ObjectKind::Font:
        dc.font = o.font;
        break;
    case ObjectKind::Other:
        break;
    }
}

// --- clipping ---

QRegion Player::deviceRegion(const QRectF& logical) const
{
    const QRectF d = transform().mapRect(logical.normalized()) & QRectF(-1, -1, m_width + 2, m_height + 2);
    if (d.isEmpty())
        return QRegion();
    const int l = roundToInt(d.left()), t = roundToInt(d.top());
    const int r = roundToInt(d.right()), b = roundToInt(d.bottom());
    if (r <= l || b <= t)
        return QRegion();
    return QRegion(l, t, r - l, b - t);
}

QRegion Player::currentClip() const
{
    return dc.clip ? *dc.clip : QRegion(0, 0, m_width, m_height);
}

void Player::intersectClip(const QRectF& logical)
{
    setClip(currentClip() & deviceRegion(logical));
}

void Player::excludeClip(const QRectF& logical)
{
    setClip(currentClip() - deviceRegion(logical));
}

// Region operations cost in proportion to the rectangles a region holds:
// a file cutting thousands of holes would otherwise cost more and more per
// record, so that work is counted too.
void Player::setClip(QRegion region)
{
    spend(kWorkPerRegionRect * region.rectCount());
    dc.clip = std::move(region);
}

void Player::offsetClip(QPointF logicalOffset)
{
    if (!dc.clip)
        return;
    const QTransform t = transform();
    const QPointF d = t.map(logicalOffset) - t.map(QPointF(0, 0));
    setClip(dc.clip->translated(roundToInt(d.x()), roundToInt(d.y())));
}

void Player::combineClip(const QRegion& region, std::uint32_t mode)
{
    switch (mode) {
    case U_RGN_AND:
        setClip(currentClip() & region);
        break;
    case U_RGN_OR:
        setClip(currentClip() | region);
        break;
    case U_RGN_XOR:
        setClip(currentClip() ^ region);
        break;
    case U_RGN_DIFF:
        setClip(currentClip() - region);
        break;
    case U_RGN_COPY:
        setClip(region);
        break;
    default:
        break;
    }
}

void Player::resetClip()
{
    dc.clip.reset();
}

// --- paths (EMF) ---

void Player::beginPath()
{
    m_path = QPainterPath();
    m_pathOpen = true;
}

void Player::endPath()
{
    m_pathOpen = false;
}

void Player::abortPath()
{
    m_path = QPainterPath();
    m_pathOpen = false;
}

void Player::closeFigure()
{
    if (building())
        m_path.closeSubpath();
}

void Player::drawPath(bool fill, bool stroke)
{
    if (m_pathOpen)
        return;
    const QPainterPath path = std::exchange(m_path, QPainterPath());
    if (!path.isEmpty())
        paint(path, fill, stroke);
}

void Player::clipToPath(std::uint32_t mode)
{
    if (m_pathOpen)
        return;
    const QPainterPath path = std::exchange(m_path, QPainterPath());
    QRegion region;
    const QList<QPolygonF> polygons = path.toFillPolygons();
    for (qsizetype i = 0; i < polygons.size() && i < qsizetype(kMaxRegionRects); ++i)
        region |= QRegion(polygons[i].toPolygon(), dc.fillRule);
    combineClip(region, mode);
}

// --- drawing ---

void Player::moveTo(QPointF p)
{
    dc.position = p;
    if (building())
        m_path.moveTo(transform().map(p));
}

void Player::polylineTo(const QPolygonF& points)
{
    if (points.isEmpty())
        return;
    const QTransform t = transform();
    if (building()) {
        continuePath(t);
        for (const QPointF& p : points)
            m_path.lineTo(t.map(p));
    } else if (!m_pathOpen) {
        QPainterPath path(dc.position);
        for (const QPointF& p : points)
            path.lineTo(p);
        paint(t.map(path), false, true);
    }
    dc.position = points.back();
}

void Player::polyBezierTo(const QPolygonF& points)
{
    const qsizetype n = points.size() / 3 * 3;
    if (n == 0)
        return;
    const QTransform t = transform();
    QPainterPath path(dc.position);
    for (qsizetype i = 0; i < n; i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (building()) {
        continuePath(t);
        const QPainterPath mapped = t.map(path);
        for (int i = 1; i < mapped.elementCount(); i += 3)
            m_path.cubicTo(mapped.elementAt(i), mapped.elementAt(i + 1), mapped.elementAt(i + 2));
    } else if (!m_pathOpen) {
        paint(t.map(path), false, true);
    }
    dc.position = points[n - 1];
}

// Point types of POLYDRAW: a move, a line, a Bézier point, and a flag
// closing the figure after the point.
void Player::polyDraw(const QPolygonF& points, const std::uint8_t* types)
{
    QPainterPath path(dc.position);
    QPointF start = dc.position;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const std::uint8_t type = types[i] & ~1u;
        if (type == 6) {
            path.moveTo(points[i]);
            start = points[i];
        } else if (type == 4 && i + 2 < points.size()) {
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
        } else {
            path.lineTo(points[i]);
        }
        if (types[i] & 1) {
            path.closeSubpath();
            path.moveTo(start);
        }
    }
    if (!points.isEmpty())
        dc.position = points.back();
    figure(path, false, true);
}

void Player::figure(const QPainterPath& logical, bool fill, bool stroke)
{
    if (m_pathOpen) {
        if (building())
            m_path.addPath(transform().map(logical));
        return;
    }
    paint(transform().map(logical), fill, stroke);
}

void Player::polyline(const QPolygonF& points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    figure(path, false, true);
}

void Player::polyBezier(const QPolygonF& points)
{
    if (points.size() < 4)
        return;
    QPainterPath path(points[0]);
    for (qsizetype i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    figure(path, false, true);
}

void Player::polyPolygon(const std::vector<QPolygonF>& polygons)
{
    QPainterPath path;
    for (const QPolygonF& p : polygons) {
        if (p.size() < 2)
            continue;
        path.addPolygon(p);
        path.closeSubpath();
    }
    if (!path.isEmpty())
        figure(path, true, true);
}

void Player::polyPolyline(const std::vector<QPolygonF>& lines)
{
    QPainterPath path;
    for (const QPolygonF& p : lines)
        if (p.size() >= 2)
            path.addPolygon(p);
    if (!path.isEmpty())
        figure(path, false, true);
}

void Player::rectangle(const QRectF& r)
{
    QPainterPath path;
    path.addRect(r.normalized());
    figure(path, true, true);
}

void Player::ellipse(const QRectF& r)
{
    QPainterPath path;
    path.addEllipse(r.normalized());
    figure(path, true, true);
}

void Player::roundRect(const QRectF& r, QPointF corner)
{
    QPainterPath path;
    path.addRoundedRect(r.normalized(), std::abs(corner.x()) / 2, std::abs(corner.y()) / 2);
    figure(path, true, true);
}

void Player::arc(const QRectF& rect, QPointF start, QPointF end, ArcKind kind)
{
    const QRectF box = rect.normalized();
    if (box.width() <= 0 || box.height() <= 0)
        return;
    const QPointF c = box.center();
    const double a = box.width() / 2, b = box.height() / 2;
    // Qt's angles are those of the ellipse's parametric form, not of the ray.
    const auto angleOf = [&](QPointF p) {
        return std::atan2(-(p.y() - c.y()) / b, (p.x() - c.x()) / a) * 180.0 / M_PI;
    };
    const double from = angleOf(start), to = angleOf(end);
    // Qt's positive sweep turns counter-clockwise in logical coordinates;
    // a mirroring mapping turns it the other way on the canvas.
    const bool mirrored = transform().determinant() < 0;
    double sweep;
    if (dc.clockwiseArcs == mirrored) {
        sweep = std::fmod(to - from + 720.0, 360.0);
        if (sweep <= 1e-9)
            sweep = 360;
    } else {
        sweep = -std::fmod(from - to + 720.0, 360.0);
        if (sweep >= -1e-9)
            sweep = -360;
    }
    QPainterPath path;
    if (kind == ArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(box, from, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, from);
        path.arcTo(box, from, sweep);
        if (kind == ArcKind::Chord)
            path.closeSubpath();
    }
    figure(path, kind != ArcKind::Arc, true);
}

void Player::arcTo(const QRectF& box, double fromDegrees, double sweepDegrees)
{
    QPainterPath arcPath;
    arcPath.arcMoveTo(box, fromDegrees);
    const QPointF arcStart = arcPath.currentPosition();
    QPainterPath path(dc.position);
    path.lineTo(arcStart);
    path.arcTo(box, fromDegrees, sweepDegrees);
    dc.position = path.currentPosition();
    if (m_pathOpen) {
        const QTransform t = transform();
        if (building()) {
            continuePath(t);
            m_path.connectPath(t.map(path));
        }
        return;
    }
    paint(transform().map(path), false, true);
}

void Player::setPixel(QPointF p, QRgb colour)
{
    const QPointF d = transform().map(p);
    spend(1);
    prepare(false);
    m_painter.fillRect(QRect(roundToInt(std::floor(d.x())), roundToInt(std::floor(d.y())), 1, 1), QColor(colour));
}

void Player::fillRegion(const QRegion& region, const LogBrush& brush)
{
    QPainterPath path;
    path.addRegion(region);
    spend(fillWork(path, brush, false));
    prepare(false);
    fillWithBrush(path, brush);
}

void Player::invertRegion(const QRegion& region)
{
    QPainterPath path;
    path.addRegion(region);
    spend(fillWork(path, LogBrush{}, true));
    prepare(false);
    m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    m_painter.fillPath(path, Qt::white);
}

void Player::patBlt(const QRectF& logical, Blt kind)
{
    QPainterPath rect;
    rect.addRect(logical.normalized());
    const QPainterPath path = transform().map(rect);
    spend(fillWork(path, dc.brush, kind == Blt::PatternXor || kind == Blt::InvertDestination));
    prepare(false);
    switch (kind) {
    case Blt::Pattern:
    case Blt::Source:
        fillWithBrush(path, dc.brush);
        break;
    case Blt::PatternXor:
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter.fillPath(path, makeBrush(dc.brush));
        break;
    case Blt::Black:
        m_painter.fillPath(path, Qt::black);
        break;
    case Blt::White:
        m_painter.fillPath(path, Qt::white);
        break;
    case Blt::InvertDestination:
        m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        m_painter.fillPath(path, Qt::white);
        break;
    case Blt::Nothing:
        break;
    }
}

void Player::bitmap(const TBitmap32& picture, QRectF src, const QRectF& dst, std::uint32_t rop, const Blend& blend)
{
    const RasterOp op = rasterOp(rop);
    if (op.kind != Blt::Source) {
        patBlt(dst, op.kind);
        return;
    }
    if (src.width() == 0 || src.height() == 0 || dst.width() == 0 || dst.height() == 0)
        return;
    const double sx = dst.width() / src.width(), sy = dst.height() / src.height();
    const QTransform toLogical(sx, 0, 0, sy, dst.x() - src.x() * sx, dst.y() - src.y() * sy);
    const QTransform full = toLogical * transform();
    const QRectF shown = src.normalized() & QRectF(0, 0, picture.width(), picture.height());
    if (shown.isEmpty())
        return;
    const bool smooth = dc.stretchMode == U_HALFTONE;
    spend((smooth ? kWorkPerSmoothBitmapPixel : kWorkPerBitmapPixel) * coverage(full.mapRect(shown)) +
          shown.width() * shown.height());
    const QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                       blend.perPixelAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    prepare(false);
    m_painter.setCompositionMode(op.mode);
    m_painter.setOpacity(blend.opacity);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    m_painter.setWorldTransform(full);
    m_painter.drawImage(shown, image, shown);
}

void Player::text(QPointF reference, const QString& string, const std::vector<double>& dx, std::uint32_t options,
                  const std::optional<QRectF>& rect, const std::vector<quint32>& glyphs)
{
    const QTransform t = transform();
    if (rect && (options & U_ETO_OPAQUE) && !m_pathOpen) {
        QPainterPath box;
        box.addRect(rect->normalized());
        const QPainterPath path = t.map(box);
        spend(coverage(path.controlPointRect()));
        prepare(false);
        m_painter.fillPath(path, QColor(dc.bkColour));
    }
    // Fonts need the GUI application; without one there is nothing to draw with.
    if ((string.isEmpty() && glyphs.empty()) || !m_hasGui)
        return;
    const bool byGlyph = !glyphs.empty();
    const QString s = string.left(kMaxTextLength);
    const QList<quint32> ids(glyphs.begin(),
                             glyphs.begin() + std::min<qsizetype>(qsizetype(glyphs.size()), kMaxTextLength));
    const qsizetype count = byGlyph ? ids.size() : s.size();
    const bool updatePosition = (dc.textAlign & U_TA_UPDATECP) != 0;
    const QPointF anchor = t.map(updatePosition ? dc.position : reference);
    const double xScale = std::hypot(t.m11(), t.m12());
    const double yScale = std::hypot(t.m21(), t.m22());
    const QFont font = makeFont(dc.font, yScale);
    const QFontMetricsF metrics(font);
    // Glyph numbers name glyphs of the font the file was written with: they
    // are drawn from that font when it is installed under its own name. A
    // font standing in for it numbers its glyphs differently and would show
    // wrong letters, so then each glyph is drawn as the box fonts themselves
    // draw for a glyph they lack: the text's place and length stay visible,
    // saying that its letters are missing rather than showing other ones.
    QRawFont raw;
    if (byGlyph && !dc.font.face.isEmpty()) {
        raw = QRawFont::fromFont(font);
        if (raw.familyName().compare(dc.font.face, Qt::CaseInsensitive) != 0)
            raw = QRawFont();
    }
    const QList<QPointF> glyphAdvances = raw.isValid() ? raw.advancesForGlyphIndexes(ids) : QList<QPointF>();
    const auto naturalAdvance = [&](qsizetype i) {
        if (!byGlyph)
            return metrics.horizontalAdvance(s[i]);
        return raw.isValid() ? glyphAdvances[i].x() : metrics.averageCharWidth();
    };

    // Where each character or glyph starts, from the reference point.
    std::vector<double> advances;
    double width = 0;
    if (!dx.empty()) {
        for (qsizetype i = 0; i < count && i < qsizetype(dx.size()); ++i) {
            advances.push_back(dx[std::size_t(i)] * xScale);
            width += advances.back();
        }
    } else if (byGlyph) {
        for (qsizetype i = 0; i < count; ++i) {
            advances.push_back(naturalAdvance(i));
            width += advances.back();
        }
    } else {
        width = metrics.horizontalAdvance(s);
    }
    double x = 0;
    if ((dc.textAlign & U_TA_CENTER) == U_TA_CENTER)
        x = -width / 2;
    else if (dc.textAlign & U_TA_RIGHT)
        x = -width;
    double baseline = metrics.ascent();
    if ((dc.textAlign & U_TA_BASELINE) == U_TA_BASELINE)
        baseline = 0;
    else if (dc.textAlign & U_TA_BOTTOM)
        baseline = -metrics.descent();

    // The text runs along the escapement, turned with the world transform.
    const double worldAngle = std::atan2(dc.world.m12(), dc.world.m11()) * 180.0 / M_PI;
    const double angle = worldAngle - dc.font.escapement / 10.0;
    QTransform placement;
    placement.translate(anchor.x(), anchor.y());
    placement.rotate(angle);
    const QRectF cell(x, baseline - metrics.ascent(), std::abs(width), metrics.ascent() + metrics.descent());
    // Each character is charged its own box: with advances of the file's
    // choosing, thousands of large letters can pile up on one spot.
    const double canvasArea = double(m_width) * double(m_height);
    const double glyphPixelCost = cell.height() > kCachedGlyphPixels ? kWorkPerOutlineGlyphPixel : 1;
    double work = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double advance = i < qsizetype(advances.size()) ? std::abs(advances[std::size_t(i)]) : 0;
        const double glyphWidth = std::max(advance, naturalAdvance(i));
        work += kWorkPerGlyph + std::min(canvasArea, glyphWidth * cell.height()) * glyphPixelCost;
    }
    spend(work);
    if (updatePosition) {
        bool invertible = false;
        const QTransform back = t.inverted(&invertible);
        if (invertible)
            dc.position = back.map(placement.map(QPointF(x + width, 0)));
    }

    // Each piece (a character, or a glyph) at its place on the baseline;
    // without advances the string is laid out by the font in one piece.
    std::vector<double> starts;
    double at = x;
    for (qsizetype i = 0; i < count && !advances.empty(); ++i) {
        starts.push_back(at);
        if (i < qsizetype(advances.size()))
            at += advances[std::size_t(i)];
    }
    // A missing glyph's box: the height of a capital, most of its advance wide.
    const double boxHeight = metrics.capHeight() > 0 ? metrics.capHeight() : 0.7 * metrics.ascent();
    const auto missingBox = [&](qsizetype i) {
        const double advance = i < qsizetype(advances.size()) ? advances[std::size_t(i)] : 0;
        const double side = std::abs(advance) > 0 ? std::abs(advance) : metrics.averageCharWidth();
        return QRectF(starts[std::size_t(i)] + 0.1 * side, baseline - boxHeight, 0.8 * side, boxHeight);
    };
    QGlyphRun run;
    if (raw.isValid()) {
        QList<QPointF> positions;
        for (double start : starts)
            positions.append(QPointF(start, baseline));
        run.setRawFont(raw);
        run.setGlyphIndexes(ids);
        run.setPositions(positions);
        run.setUnderline(font.underline());
        run.setStrikeOut(font.strikeOut());
    }

    if (m_pathOpen) {
        // Inside a path the glyphs' outlines join it, to be filled or
        // outlined with it (outlined lettering is drawn that way).
        if (building()) {
            QPainterPath glyphPaths;
            if (advances.empty())
                glyphPaths.addText(QPointF(x, baseline), font, s);
            for (qsizetype i = 0; i < qsizetype(starts.size()); ++i) {
                if (!byGlyph)
                    glyphPaths.addText(QPointF(starts[std::size_t(i)], baseline), font, QString(s[i]));
                else if (raw.isValid())
                    glyphPaths.addPath(raw.pathForGlyph(ids[i]).translated(starts[std::size_t(i)], baseline));
                else
                    glyphPaths.addRect(missingBox(i));
            }
            m_path.addPath(placement.map(glyphPaths));
        }
        return;
    }

    prepare(false);
    if (rect && (options & U_ETO_CLIPPED))
        m_painter.setClipRegion(deviceRegion(*rect), dc.clip ? Qt::IntersectClip : Qt::ReplaceClip);
    m_painter.setWorldTransform(placement);
    if (dc.opaqueBackground)
        m_painter.fillRect(cell, QColor(dc.bkColour));
    m_painter.setPen(QColor(dc.textColour));
    m_painter.setFont(font);
    if (raw.isValid()) {
        m_painter.drawGlyphRun(QPointF(0, 0), run);
    } else if (byGlyph) {
        m_painter.setBrush(Qt::NoBrush);
        for (qsizetype i = 0; i < count; ++i)
            m_painter.drawRect(missingBox(i));
    } else if (advances.empty()) {
        m_painter.drawText(QPointF(x, baseline), s);
    } else {
        for (qsizetype i = 0; i < count; ++i)
            m_painter.drawText(QPointF(starts[std::size_t(i)], baseline), QString(s[i]));
    }
}

std::optional<std::pair<TBitmap32, bool>> Player::decodeBitmap(const std::uint8_t* dib, u64 size, bool keepFourthByte,
                                                               std::int64_t maxPixels)
{
    const std::optional<DibShape> shape = dibShape(dib, size);
    if (!shape || shape->width <= 0 || shape->height <= 0 || shape->width > kMaxSide || shape->height > kMaxSide)
        return std::nullopt;
    const std::int64_t pixels = shape->width * shape->height;
    if (pixels > maxPixels || pixels > m_dibPixelsLeft)
        return std::nullopt;
    m_dibPixelsLeft -= pixels;
    DibOptions options;
    options.fileKind = "metafile";
    options.keepFourthByte = keepFourthByte;
    try {
        return std::make_pair(decodeDib(dib, std::size_t(size), options), shape->bottomUp);
    } catch (const PlumoraError&) {
        return std::nullopt;
    }
}

std::optional<QImage> Player::patternImage(const std::uint8_t* dib, u64 size)
{
    auto decoded = decodeBitmap(dib, size, false, kMaxPatternPixels);
    if (!decoded)
        return std::nullopt;
    const TBitmap32& p = decoded->first;
    QImage image(p.width(), p.height(), QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    for (int y = 0; y < p.height(); ++y)
        std::memcpy(image.scanLine(y), p.ScanLine(y), p.bytesPerLine());
    return image;
}

bool Player::building() const
{
    return m_pathOpen && m_path.elementCount() < kMaxPathElements;
}

void Player::continuePath(const QTransform& t)
{
    const QPointF here = t.map(dc.position);
    if (m_path.elementCount() == 0 || m_path.currentPosition() != here)
        m_path.moveTo(here);
}

void Player::spend(double work)
{
    m_workLeft -= work;
    if (!(m_workLeft >= 0)) {
        m_finalCharge = work;
        throw StopPlayback{};
    }
}

double Player::coverage(const QRectF& device) const
{
    const QRectF r = device.normalized() & QRectF(0, 0, m_width, m_height);
    const double pixels = r.isValid() ? r.width() * r.height() : 0;
    return pixels + (kUncachedPixelFactor - 1) * std::max(0.0, pixels - kCachedPixels) + 1;
}

bool Player::prepare(bool withMixMode)
{
    m_painter.resetTransform();
    m_painter.setOpacity(1.0);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (dc.clip) {
        spend(kWorkPerRegionRect * dc.clip->rectCount());
        m_painter.setClipRegion(*dc.clip);
    } else {
        m_painter.setClipping(false);
    }
    m_colourOverride.reset();
    if (!withMixMode)
        return true;
    using M = QPainter::CompositionMode;
    switch (dc.rop2) {
    case U_R2_NOP:
        return false;
    case U_R2_BLACK:
        m_colourOverride = qRgb(0, 0, 0);
        break;
    case U_R2_WHITE:
        m_colourOverride = qRgb(255, 255, 255);
        break;
    case U_R2_NOTMERGEPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSourceAndNotDestination);
        break;
    case U_R2_MASKNOTPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSourceAndDestination);
        break;
    case U_R2_NOTCOPYPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSource);
        break;
    case U_R2_MASKPENNOT:
        m_painter.setCompositionMode(M::RasterOp_SourceAndNotDestination);
        break;
    case U_R2_NOT:
        m_painter.setCompositionMode(M::RasterOp_NotDestination);
        break;
    case U_R2_XORPEN:
        m_painter.setCompositionMode(M::RasterOp_SourceXorDestination);
        break;
    case U_R2_NOTMASKPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSourceOrNotDestination);
        break;
    case U_R2_MASKPEN:
        m_painter.setCompositionMode(M::RasterOp_SourceAndDestination);
        break;
    case U_R2_NOTXORPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSourceXorDestination);
        break;
    case U_R2_MERGENOTPEN:
        m_painter.setCompositionMode(M::RasterOp_NotSourceOrDestination);
        break;
    case U_R2_MERGEPENNOT:
        m_painter.setCompositionMode(M::RasterOp_SourceOrNotDestination);
        break;
    case U_R2_MERGEPEN:
        m_painter.setCompositionMode(M::RasterOp_SourceOrDestination);
        break;
    default:
        break;  // COPYPEN
    }
    return true;
}

QPen Player::makePen(const LogPen& from, const QTransform& t) const
{
    const std::uint32_t style = from.style & U_PS_STYLE_MASK;
    if (style == U_PS_NULL)
        return QPen(Qt::NoPen);
    const double width = from.width * std::hypot(t.m11(), t.m12());
    const bool thin = !(width > 1.0);
    QPen pen(QColor(m_colourOverride.value_or(from.colour)));
    if (thin) {
        // A one-pixel line, which (like GDI's) leaves out its last pixel.
        pen.setWidth(0);
        pen.setCapStyle(Qt::FlatCap);
    } else {
        pen.setWidthF(std::min(width, m_maxExtent));
        switch (from.style & U_PS_ENDCAP_MASK) {
        case U_PS_ENDCAP_SQUARE:
            pen.setCapStyle(Qt::SquareCap);
            break;
        case U_PS_ENDCAP_FLAT:
            pen.setCapStyle(Qt::FlatCap);
            break;
        default:
            pen.setCapStyle(Qt::RoundCap);
            break;
        }
        switch (from.style & U_PS_JOIN_MASK) {
        case U_PS_JOIN_BEVEL:
            pen.setJoinStyle(Qt::BevelJoin);
            break;
        case U_PS_JOIN_MITER:
            pen.setJoinStyle(Qt::MiterJoin);
            break;
        default:
            pen.setJoinStyle(Qt::RoundJoin);
            break;
        }
    }
    // GDI dashes thin pens and extended geometric ones; a wide plain pen
    // is solid whatever its style. Thin dashes are counted in pixels,
    // wide ones in pen widths.
    if (thin || from.geometric) {
        QList<qreal> dashes;
        switch (style) {
        case U_PS_DASH:
            dashes = thin ? QList<qreal>{18, 6} : QList<qreal>{3, 1};
            break;
        case U_PS_DOT:
            dashes = thin ? QList<qreal>{3, 3} : QList<qreal>{1, 1};
            break;
        case U_PS_DASHDOT:
            dashes = thin ? QList<qreal>{9, 6, 3, 6} : QList<qreal>{3, 1, 1, 1};
            break;
        case U_PS_DASHDOTDOT:
            dashes = thin ? QList<qreal>{9, 3, 3, 3, 3, 3} : QList<qreal>{3, 1, 1, 1, 1, 1};
            break;
        case U_PS_ALTERNATE:
            dashes = {1, 1};
            break;
        case U_PS_USERSTYLE:
            dashes = thin ? QList<qreal>{6, 6} : QList<qreal>{2, 2};
            break;
        default:
            break;
        }
        if (!dashes.isEmpty())
            pen.setDashPattern(dashes);
    }
    return pen;
}

QBrush Player::makeBrush(const LogBrush& from) const
{
    const QColor colour(m_colourOverride.value_or(from.colour));
    switch (from.style) {
    case U_BS_NULL:
        return QBrush(Qt::NoBrush);
    case U_BS_HATCHED:
        switch (from.hatch) {
        case U_HS_HORIZONTAL:
            return QBrush(colour, Qt::HorPattern);
        case U_HS_VERTICAL:
            return QBrush(colour, Qt::VerPattern);
        case U_HS_FDIAGONAL:
            return QBrush(colour, Qt::FDiagPattern);
        case U_HS_BDIAGONAL:
            return QBrush(colour, Qt::BDiagPattern);
        case U_HS_CROSS:
            return QBrush(colour, Qt::CrossPattern);
        case U_HS_DIAGCROSS:
            return QBrush(colour, Qt::DiagCrossPattern);
        default:
            return QBrush(colour);
        }
    case U_BS_PATTERN:
    case U_BS_DIBPATTERN:
    case U_BS_DIBPATTERNPT:
        if (from.pattern.isNull())
            return QBrush(Qt::NoBrush);
        if (m_colourOverride)
            return QBrush(colour);
        return QBrush(from.pattern);
    default:
        return QBrush(colour);
    }
}

// GDI fills the gaps of a hatched brush with the background colour in
// opaque mode.
void Player::fillWithBrush(const QPainterPath& path, const LogBrush& from)
{
    const QBrush brush = makeBrush(from);
    if (brush.style() == Qt::NoBrush)
        return;
    if (dc.opaqueBackground && from.style == U_BS_HATCHED)
        m_painter.fillPath(path, QColor(m_colourOverride.value_or(dc.bkColour)));
    m_painter.fillPath(path, brush);
}

double Player::scanWork(const QPainterPath& path, bool closed, double pad, double edgesPerSegment) const
{
    // Each edge is active from its top row to its bottom row (widened by pad
    // for the outline of a line): a sweep over those events gives, for every
    // run of rows, how many edges are active there.
    std::vector<std::pair<double, double>> events;
    events.reserve(std::size_t(path.elementCount()) * 2 + 2);
    const auto edge = [&](QPointF a, QPointF b) {
        const double top = std::max(0.0, std::min(a.y(), b.y()) - pad);
        const double bottom = std::min(double(m_height), std::max(a.y(), b.y()) + pad);
        if (bottom > top) {  // false for NaN too
            events.emplace_back(top, edgesPerSegment);
            events.emplace_back(bottom, -edgesPerSegment);
        }
    };
    QPointF start, last;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF p = path.elementAt(i);
        if (path.elementAt(i).isMoveTo()) {
            if (closed && i > 0)
                edge(last, start);
            start = p;
        } else {
            edge(last, p);  // a curve's control points bound the lines it is drawn with
        }
        last = p;
    }
    if (closed && path.elementCount() > 0)
        edge(last, start);
    std::sort(events.begin(), events.end());
    double active = 0, at = 0, edgeRows = 0, pairRows = 0;
    for (const auto& [row, change] : events) {
        edgeRows += active * (row - at);
        pairRows += active * active * (row - at);
        active += change;
        at = row;
    }
    return kWorkPerEdgeRow * edgeRows + kWorkPerActivePair * pairRows;
}

double Player::fillWork(const QPainterPath& path, const LogBrush& brush, bool rasterOp) const
{
    double perPixel = brush.style == U_BS_SOLID ? 1 : kWorkPerPatternPixel;
    if (rasterOp)
        perPixel *= kRasterOpFactor;
    return perPixel * coverage(path.controlPointRect()) + scanWork(path, true, 0, 1);
}

double Player::strokeWork(const QPainterPath& path, const QPen& pen) const
{
    if (pen.style() == Qt::NoPen)
        return 0;
    // Parts of a segment beyond the canvas are clipped away before they are drawn.
    const double longest = 2.0 * (double(m_width) + double(m_height));
    double length = 0;
    for (int i = 1; i < path.elementCount(); ++i) {
        const QPointF a = path.elementAt(i - 1), b = path.elementAt(i);
        if (!path.elementAt(i).isMoveTo())
            length += std::min(longest, std::hypot(b.x() - a.x(), b.y() - a.y()));
    }
    if (!(length >= 0))
        length = longest * path.elementCount();  // NaN coordinates
    const double width = pen.widthF();
    if (!(width > 1.0))
        return kWorkPerLinePixel * length;
    // A wide line fills its width along its length, and its outline is scan
    // converted like a polygon's.
    const bool dashed = pen.style() != Qt::SolidLine;
    double work = length * width + scanWork(path, false, width / 2, dashed ? kDashedLineEdges : kWideLineEdges);
    if (dashed) {
        double period = 0;
        for (qreal d : pen.dashPattern())
            period += d;
        work += kWorkPerDash * length / std::max(1.0, period * width);
    }
    return work;
}

void Player::paint(QPainterPath path, bool fill, bool stroke)
{
    const QTransform t = transform();
    const bool visiblePen = stroke && (dc.pen.style & U_PS_STYLE_MASK) != U_PS_NULL;
    double work = kWorkPerPathElement * path.elementCount();
    const bool rasterOp = dc.rop2 != U_R2_COPYPEN;
    if (fill && dc.brush.style != U_BS_NULL)
        work += fillWork(path, dc.brush, rasterOp);
    if (visiblePen)
        work += strokeWork(path, makePen(dc.pen, t)) * (rasterOp ? kRasterOpFactor : 1);
    spend(work);
    if (!prepare(true))
        return;
    path.setFillRule(dc.fillRule);
    if (fill)
        fillWithBrush(path, dc.brush);
    if (!visiblePen)
        return;
    const QPen pen = makePen(dc.pen, t);
    // In opaque mode the gaps of a dashed line show the background colour.
    if (dc.opaqueBackground && pen.style() == Qt::CustomDashLine) {
        QPen back = pen;
        back.setStyle(Qt::SolidLine);
        back.setColor(QColor(m_colourOverride.value_or(dc.bkColour)));
        m_painter.strokePath(path, back);
    }
    m_painter.strokePath(path, pen);
}

QFont Player::makeFont(const LogFont& from, double yScale) const
{
    QFont font;
    if (!from.face.isEmpty())
        font.setFamily(from.face);
    switch (from.pitchAndFamily & 0xF0) {
    case 0x10:
        font.setStyleHint(QFont::Serif);
        break;
    case 0x20:
        font.setStyleHint(QFont::SansSerif);
        break;
    case 0x30:
        font.setStyleHint(QFont::Monospace);
        break;
    case 0x40:
        font.setStyleHint(QFont::Cursive);
        break;
    case 0x50:
        font.setStyleHint(QFont::Decorative);
        break;
    default:
        break;
    }
    double pixels = from.height == 0 ? kDefaultFontPixels : std::abs(from.height) * yScale;
    pixels = std::clamp(std::isfinite(pixels) ? pixels : 1.0, 1.0, std::max(1.0, m_maxExtent));
    font.setPixelSize(std::max(1, roundToInt(pixels)));
    if (from.height > 0) {
        // A positive height is the whole cell, internal leading included:
        // shrink the character size until the cell has that height.
        const QFontMetricsF metrics(font);
        if (metrics.height() > 0)
            font.setPixelSize(std::max(1, roundToInt(pixels * pixels / metrics.height())));
    }
    font.setWeight(QFont::Weight(std::clamp(from.weight == 0 ? 400 : from.weight, 1, 1000)));
    font.setItalic(from.italic);
    font.setUnderline(from.underline);
    font.setStrikeOut(from.strikeOut);
    return font;
}

TBitmap32 whiteCanvas(std::int64_t width, std::int64_t height)
{
    if (width > kMaxSide || height > kMaxSide)
        throw ImageTooLargeError("The metafile's picture is too large (" + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels).");
    checkPictureSize(width, height);
    TBitmap32 canvas{int(width), int(height)};
    std::memset(canvas.bits(), 0xFF, canvas.byteCount());
    return canvas;
}

}  // namespace plumora::metafile

namespace plumora {

void throwIfUnfinished(const MetafileWork& work)
{
    if (work.budgetSpent)
        throw PlumoraError(
            "The metafile cannot be read: drawing it in full would take far longer than any picture needs.");
}

}  // namespace plumora
