#include "formats/metafile_player.h"

#include "formats/metafile.h"
#include "formats/metafile_work.h"

#include "raster/errors.h"
#include "raster/limits.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

// The player's device context: the record reader's helpers, the GDI objects,
// the mapping from logical coordinates to the canvas, the saved states, the
// clip region, the work budget and the painter's setup for each drawing.
// Drawing, text and bitmaps are in metafile_player_drawing.cpp,
// metafile_player_text.cpp and metafile_player_bitmaps.cpp.

namespace plumora::metafile {

namespace {

// A limit against hostile files that only the device context needs; the
// shared ones are in metafile_player.h.
constexpr std::size_t kMaxSavedStates = 4096;

bool guiPresent()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
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
    o.pen = pen;
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

// --- the work budget ---

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

// --- the painter ---

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
