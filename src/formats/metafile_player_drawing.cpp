#include "formats/metafile_player.h"

#include "formats/metafile_work.h"

#include <algorithm>
#include <cmath>
#include <utility>

// The player's lines, shapes, fills and EMF paths, and the pens and brushes
// they are drawn with.

namespace plumora::metafile {

namespace {

// An EMF path is built from many records; past this many elements more are ignored.
constexpr int kMaxPathElements = 1 << 22;

}  // namespace

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

// --- pens and brushes ---

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

}  // namespace plumora::metafile
