#include "formats/metafile.h"

#include "formats/bmp.h"
#include "formats/bytes.h"
#include "raster/errors.h"
#include "raster/limits.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QStringDecoder>
#include <QTransform>

#include <uemf_safe.h>
#include <uwmf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plumora {

namespace {

using bytes::readU16;
using bytes::readU32;
using bytes::writeU16;
using bytes::writeU32;

// Every size and offset read from a file is widened to 64 bits before any
// arithmetic: record sizes are 32-bit counts and a sum of two may not fit.
using u64 = std::uint64_t;

// Limits against hostile files. Real metafiles hold a few thousand records.
constexpr u64 kMaxRecords = 10'000'000;
// WMF objects are addressed by a 16-bit index; EMF tables get the same cap.
constexpr std::size_t kMaxObjects = 65535;
constexpr std::size_t kMaxSavedStates = 4096;
constexpr std::int64_t kMaxSide = 65535;
// Work we accept for one file, counted in canvas pixels touched: each drawing
// record may cover the whole canvas, so a small file could otherwise keep us
// busy for hours. When it is spent, playback stops and what is drawn stays.
// Some seconds of drawing, thousands of fills of a screen-sized canvas: far
// more than drawings need (a detailed map of 100000 shapes on 2000 x 2000
// pixels stays well inside).
constexpr double kBaseWork = double(std::int64_t { 1 } << 33);
constexpr double kWorkPerCanvasPixel = 256;
// A rectangle of a clip region costs about as much to combine or apply as
// filling a few hundred pixels.
constexpr double kWorkPerRegionRect = 256;
// Pixels decoded from embedded bitmaps over a whole file: an RLE bitmap
// declares a large size in a few bytes. Pattern brushes are kept alive as
// objects, so each one gets a much smaller cap.
constexpr std::int64_t kMaxDibPixels = std::int64_t { 1 } << 30;
constexpr std::int64_t kMaxPatternPixels = std::int64_t { 1 } << 20;
// Region data and text are drawn piece by piece; beyond these counts we fall
// back to a coarser drawing instead of spending minutes on one record.
constexpr std::uint32_t kMaxRegionRects = 2000;
constexpr qsizetype kMaxTextLength = 65536;
// An EMF path is built from many records; past this many elements more are ignored.
constexpr int kMaxPathElements = 1 << 22;

constexpr double kScreenDpi = 96.0;
constexpr double kMmPerInch = 25.4;
constexpr double kDefaultFontPixels = 16.0; // the system font at 96 dpi

constexpr std::uint32_t kWmfPlaceableKey = 0x9AC6CDD7;
constexpr std::uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr std::uint32_t kAcSrcAlpha = 1; // ALPHABLEND: the bitmap has its own alpha
constexpr std::uint32_t kModifyWorldSet = 4; // MWT_SET, newer than libuemf's list

[[noreturn]] void damaged()
{
    throw PlumoraError("The metafile is damaged.");
}

// Thrown when the work budget is spent: playback ends quietly.
struct StopPlayback { };

// One record's bytes. Every read checks that the field lies inside the record:
// a record too short for what it claims to hold is a damaged file.
class Record {
public:
    Record(const std::uint8_t* data, u64 size)
        : m_data(data)
        , m_size(size)
    { }

    u64 size() const { return m_size; }
    bool has(u64 offset, u64 bytes) const { return offset <= m_size && bytes <= m_size - offset; }

    std::uint16_t u16(u64 offset) const { return readU16(bytes(offset, 2)); }
    std::int16_t s16(u64 offset) const { return std::int16_t(u16(offset)); }
    std::uint32_t u32(u64 offset) const { return readU32(bytes(offset, 4)); }
    std::int32_t s32(u64 offset) const { return std::int32_t(u32(offset)); }
    std::uint8_t u8(u64 offset) const { return *bytes(offset, 1); }
    float f32(u64 offset) const
    {
        const std::uint32_t v = u32(offset);
        float f;
        std::memcpy(&f, &v, sizeof f);
        return f;
    }
    // A COLORREF: red, green, blue and a flags byte we ignore.
    QRgb colour(u64 offset) const
    {
        const std::uint8_t* p = bytes(offset, 4);
        return qRgb(p[0], p[1], p[2]);
    }
    const std::uint8_t* bytes(u64 offset, u64 count) const
    {
        if (!has(offset, count))
            damaged();
        return m_data + offset;
    }

private:
    const std::uint8_t* m_data;
    u64 m_size;
};

// Rounds a canvas coordinate to an int; values far outside any canvas are
// clamped first so the conversion is always defined.
int roundToInt(double v)
{
    if (std::isnan(v))
        return 0;
    return int(std::lround(std::clamp(v, -1073741824.0, 1073741824.0)));
}

bool guiPresent()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The code page of an 8-bit string written with a font of this character set.
const char* codecForCharset(int charSet)
{
    switch (charSet) {
    case 0:
        return "windows-1252"; // ANSI
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
        return nullptr; // symbol and OEM fonts: bytes are glyph positions
    }
}

// Decodes 8-bit text; Latin-1 when Qt has no such code page.
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

// ---------------------------------------------------------------------------
// Graphics objects and the drawing state.

struct LogPen {
    std::uint32_t style = U_PS_SOLID; // style, end cap and join bits as GDI keeps them
    double width = 0; // logical units; 0 draws one device pixel
    QRgb colour = qRgb(0, 0, 0);
    bool geometric = false; // an extended geometric pen keeps its dashes when wide
};

struct LogBrush {
    std::uint32_t style = U_BS_SOLID;
    QRgb colour = qRgb(255, 255, 255);
    std::uint32_t hatch = 0;
    QImage pattern; // bitmap pattern brushes; null when their bitmap was unusable
};

struct LogFont {
    double height = 0; // logical; negative: character height, positive: cell height, 0: default
    int escapement = 0; // tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charSet = 0;
    int pitchAndFamily = 0;
    QString face;
};

enum class ObjectKind { Pen, Brush, Font, Other };

struct GdiObject {
    ObjectKind kind = ObjectKind::Other;
    LogPen pen;
    LogBrush brush;
    LogFont font;
};

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

// The state SAVEDC keeps and RESTOREDC brings back.
struct DcState {
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QRgb textColour = qRgb(0, 0, 0);
    QRgb bkColour = qRgb(255, 255, 255);
    bool opaqueBackground = true;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    std::uint32_t rop2 = U_R2_COPYPEN;
    std::uint32_t textAlign = U_TA_DEFAULT;
    std::uint32_t stretchMode = 0;
    bool clockwiseArcs = false;
    std::uint32_t mapMode = U_MM_TEXT;
    QPointF windowOrg { 0, 0 };
    QPointF windowExt { 1, 1 };
    QPointF viewportOrg { 0, 0 };
    QPointF viewportExt { 1, 1 };
    QTransform world;
    std::optional<QRegion> clip; // canvas pixels; none: the whole canvas
    QPointF position; // the current position, logical
};

// What a raster operation does with the destination, as far as we follow it.
enum class Blt { Source, Pattern, PatternXor, Black, White, InvertDestination, Nothing };

struct RasterOp {
    Blt kind = Blt::Source;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
};

// Maps a ternary raster operation to what we draw. Operations we do not
// follow exactly become a plain copy of the source, or of the brush when they
// do not use a source.
RasterOp rasterOp(std::uint32_t rop)
{
    using M = QPainter::CompositionMode;
    const std::uint32_t index = (rop >> 16) & 0xFF;
    switch (index) {
    case 0xCC:
        return { Blt::Source, M::CompositionMode_SourceOver }; // SRCCOPY
    case 0xEE:
        return { Blt::Source, M::RasterOp_SourceOrDestination }; // SRCPAINT
    case 0x88:
        return { Blt::Source, M::RasterOp_SourceAndDestination }; // SRCAND
    case 0x66:
        return { Blt::Source, M::RasterOp_SourceXorDestination }; // SRCINVERT
    case 0x44:
        return { Blt::Source, M::RasterOp_SourceAndNotDestination }; // SRCERASE
    case 0x33:
        return { Blt::Source, M::RasterOp_NotSource }; // NOTSRCCOPY
    case 0x11:
        return { Blt::Source, M::RasterOp_NotSourceAndNotDestination }; // NOTSRCERASE
    case 0xBB:
        return { Blt::Source, M::RasterOp_NotSourceOrDestination }; // MERGEPAINT
    case 0x00:
        return { Blt::Black, M::CompositionMode_SourceOver }; // BLACKNESS
    case 0xFF:
        return { Blt::White, M::CompositionMode_SourceOver }; // WHITENESS
    case 0x55:
        return { Blt::InvertDestination, M::RasterOp_NotDestination }; // DSTINVERT
    case 0xF0:
        return { Blt::Pattern, M::CompositionMode_SourceOver }; // PATCOPY
    case 0x5A:
        return { Blt::PatternXor, M::RasterOp_SourceXorDestination }; // PATINVERT
    case 0xAA:
        return { Blt::Nothing, M::CompositionMode_SourceOver }; // the destination as it is
    default:
        break;
    }
    // Bit (p*4 + s*2 + d) of the index is the result for pattern p, source s
    // and destination d: the operation uses the source when flipping s
    // changes some result.
    const bool usesSource = (((index >> 2) ^ index) & 0x33) != 0;
    return { usesSource ? Blt::Source : Blt::Pattern, M::CompositionMode_SourceOver };
}

// A bitmap header's size and row order, read without decoding it.
struct DibShape {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool bottomUp = true;
};

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

// ---------------------------------------------------------------------------
// The player: the drawing state, the canvas and the drawing operations, in
// logical coordinates. Both formats drive it.

enum class ArcKind { Arc, Chord, Pie };

struct Blend {
    double opacity = 1.0;
    bool perPixelAlpha = false;
};

class Player {
public:
    Player(QImage& canvas, QPointF origin, double pxPerMmX, double pxPerMmY)
        : m_painter(&canvas)
        , m_width(canvas.width())
        , m_height(canvas.height())
        , m_origin(origin)
        , m_pxPerMmX(pxPerMmX)
        , m_pxPerMmY(pxPerMmY)
        , m_workLeft(kBaseWork + kWorkPerCanvasPixel * double(canvas.width()) * double(canvas.height()))
        , m_maxExtent(2.0 * (double(canvas.width()) + double(canvas.height())))
        , m_hasGui(guiPresent())
    {
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, true);
    }

    DcState dc;

    // Logical coordinates to canvas pixels: the world transform (EMF), then
    // the window to viewport mapping of the map mode, then the canvas origin.
    QTransform transform() const
    {
        double sx = 1, sy = 1;
        switch (dc.mapMode) {
        case U_MM_LOMETRIC:
            sx = 0.1;
            sy = 0.1;
            break;
        case U_MM_HIMETRIC:
            sx = 0.01;
            sy = 0.01;
            break;
        case U_MM_LOENGLISH:
            sx = sy = 0.01 * kMmPerInch;
            break;
        case U_MM_HIENGLISH:
            sx = sy = 0.001 * kMmPerInch;
            break;
        case U_MM_TWIPS:
            sx = sy = kMmPerInch / 1440;
            break;
        default:
            break;
        }
        if (dc.mapMode >= U_MM_LOMETRIC && dc.mapMode <= U_MM_TWIPS) {
            // Fixed scales in millimetres at the reference resolution; y grows upwards.
            sx *= m_pxPerMmX;
            sy *= -m_pxPerMmY;
        } else if (dc.mapMode == U_MM_ISOTROPIC || dc.mapMode == U_MM_ANISOTROPIC) {
            sx = dc.viewportExt.x() / dc.windowExt.x();
            sy = dc.viewportExt.y() / dc.windowExt.y();
            if (dc.mapMode == U_MM_ISOTROPIC) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
        }
        const QTransform page(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx + m_origin.x(),
            dc.viewportOrg.y() - dc.windowOrg.y() * sy + m_origin.y());
        return dc.world * page;
    }

    QPointF origin() const { return m_origin; }

    // --- state ---

    void setWindowExt(QPointF e)
    {
        if (e.x() != 0 && e.y() != 0) // GDI refuses a zero extent
            dc.windowExt = e;
    }
    void setViewportExt(QPointF e)
    {
        if (e.x() != 0 && e.y() != 0)
            dc.viewportExt = e;
    }
    void scaleExt(QPointF& ext, double xNum, double xDenom, double yNum, double yDenom)
    {
        if (xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0)
            return;
        // Repeated scaling must not wear an extent down to nothing or up to infinity.
        const QPointF scaled(ext.x() * xNum / xDenom, ext.y() * yNum / yDenom);
        const auto sane = [](double v) { return std::abs(v) >= 1e-6 && std::abs(v) <= 1e12; };
        if (sane(scaled.x()) && sane(scaled.y()))
            ext = scaled;
    }

    void setWorld(const QTransform& t, std::uint32_t mode)
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
        const std::array<double, 6> m { next.m11(), next.m12(), next.m21(), next.m22(), next.dx(), next.dy() };
        for (double v : m)
            if (!std::isfinite(v) || std::abs(v) > 1e9)
                return;
        if (std::abs(next.determinant()) < 1e-12)
            return;
        dc.world = next;
    }

    void saveDc()
    {
        if (m_saved.size() < kMaxSavedStates)
            m_saved.push_back(dc);
    }

    // n < 0: that many states back; n > 0: the n-th state saved.
    void restoreDc(std::int64_t n)
    {
        const std::int64_t count = std::int64_t(m_saved.size());
        const std::int64_t target = n < 0 ? count + n : n - 1;
        if (n == 0 || target < 0 || target >= count)
            return;
        dc = m_saved[std::size_t(target)];
        m_saved.resize(std::size_t(target));
    }

    void select(const GdiObject& o)
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

    // A logical rectangle as a region of canvas pixels (right and bottom
    // edges excluded, as GDI does); a rotated rectangle gives its bounds.
    QRegion deviceRegion(const QRectF& logical) const
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

    QRegion currentClip() const { return dc.clip ? *dc.clip : QRegion(0, 0, m_width, m_height); }

    void intersectClip(const QRectF& logical) { setClip(currentClip() & deviceRegion(logical)); }
    void excludeClip(const QRectF& logical) { setClip(currentClip() - deviceRegion(logical)); }

    // Region operations cost in proportion to the rectangles a region holds:
    // a file cutting thousands of holes would otherwise cost more and more per
    // record, so that work is counted too.
    void setClip(QRegion region)
    {
        spend(kWorkPerRegionRect * region.rectCount());
        dc.clip = std::move(region);
    }

    void offsetClip(QPointF logicalOffset)
    {
        if (!dc.clip)
            return;
        const QTransform t = transform();
        const QPointF d = t.map(logicalOffset) - t.map(QPointF(0, 0));
        setClip(dc.clip->translated(roundToInt(d.x()), roundToInt(d.y())));
    }

    // Combines a region in canvas pixels with the clip (RGN_AND .. RGN_COPY).
    void combineClip(const QRegion& region, std::uint32_t mode)
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
    void resetClip() { dc.clip.reset(); }

    // --- paths (EMF) ---

    void beginPath()
    {
        m_path = QPainterPath();
        m_pathOpen = true;
    }
    void endPath() { m_pathOpen = false; }
    void abortPath()
    {
        m_path = QPainterPath();
        m_pathOpen = false;
    }
    void closeFigure()
    {
        if (building())
            m_path.closeSubpath();
    }
    void drawPath(bool fill, bool stroke)
    {
        if (m_pathOpen)
            return;
        const QPainterPath path = std::exchange(m_path, QPainterPath());
        if (!path.isEmpty())
            paint(path, fill, stroke);
    }
    void clipToPath(std::uint32_t mode)
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

    void moveTo(QPointF p)
    {
        dc.position = p;
        if (building())
            m_path.moveTo(transform().map(p));
    }

    void polylineTo(const QPolygonF& points)
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

    void polyBezierTo(const QPolygonF& points)
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
    void polyDraw(const QPolygonF& points, const std::uint8_t* types)
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

    void figure(const QPainterPath& logical, bool fill, bool stroke)
    {
        if (m_pathOpen) {
            if (building())
                m_path.addPath(transform().map(logical));
            return;
        }
        paint(transform().map(logical), fill, stroke);
    }

    void polyline(const QPolygonF& points)
    {
        if (points.size() < 2)
            return;
        QPainterPath path;
        path.addPolygon(points);
        figure(path, false, true);
    }

    void polyBezier(const QPolygonF& points)
    {
        if (points.size() < 4)
            return;
        QPainterPath path(points[0]);
        for (qsizetype i = 1; i + 2 < points.size(); i += 3)
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
        figure(path, false, true);
    }

    void polyPolygon(const std::vector<QPolygonF>& polygons)
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

    void polyPolyline(const std::vector<QPolygonF>& lines)
    {
        QPainterPath path;
        for (const QPolygonF& p : lines)
            if (p.size() >= 2)
                path.addPolygon(p);
        if (!path.isEmpty())
            figure(path, false, true);
    }

    void rectangle(const QRectF& r)
    {
        QPainterPath path;
        path.addRect(r.normalized());
        figure(path, true, true);
    }

    void ellipse(const QRectF& r)
    {
        QPainterPath path;
        path.addEllipse(r.normalized());
        figure(path, true, true);
    }

    void roundRect(const QRectF& r, QPointF corner)
    {
        QPainterPath path;
        path.addRoundedRect(r.normalized(), std::abs(corner.x()) / 2, std::abs(corner.y()) / 2);
        figure(path, true, true);
    }

    // An arc of the ellipse in box from the ray through start to the ray
    // through end, counter-clockwise on the canvas unless the file asks for
    // clockwise arcs.
    void arc(const QRectF& rect, QPointF start, QPointF end, ArcKind kind)
    {
        const QRectF box = rect.normalized();
        if (box.width() <= 0 || box.height() <= 0)
            return;
        const QPointF c = box.center();
        const double a = box.width() / 2, b = box.height() / 2;
        // Qt's angles are those of the ellipse's parametric form, not of the ray.
        const auto angleOf
            = [&](QPointF p) { return std::atan2(-(p.y() - c.y()) / b, (p.x() - c.x()) / a) * 180.0 / M_PI; };
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

    // ANGLEARC and ARCTO: a line from the current position to the arc's start, then the arc.
    void arcTo(const QRectF& box, double fromDegrees, double sweepDegrees)
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

    void setPixel(QPointF p, QRgb colour)
    {
        const QPointF d = transform().map(p);
        spend(1);
        prepare(false);
        m_painter.fillRect(QRect(roundToInt(std::floor(d.x())), roundToInt(std::floor(d.y())), 1, 1), QColor(colour));
    }

    void fillRegion(const QRegion& region, const LogBrush& brush)
    {
        spend(coverage(QRectF(region.boundingRect())));
        prepare(false);
        QPainterPath path;
        path.addRegion(region);
        fillWithBrush(path, brush);
    }

    void invertRegion(const QRegion& region)
    {
        spend(coverage(QRectF(region.boundingRect())));
        prepare(false);
        QPainterPath path;
        path.addRegion(region);
        m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        m_painter.fillPath(path, Qt::white);
    }

    // PATBLT and the bitmap records that have no bitmap.
    void patBlt(const QRectF& logical, Blt kind)
    {
        QPainterPath rect;
        rect.addRect(logical.normalized());
        const QPainterPath path = transform().map(rect);
        spend(coverage(path.controlPointRect()));
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

    // Draws source pixels src (top-down, in bitmap pixels; negative sizes
    // mirror) of a bitmap onto the logical rectangle dst.
    void bitmap(const TBitmap32& picture, QRectF src, const QRectF& dst, std::uint32_t rop, const Blend& blend = {})
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
        spend(coverage(full.mapRect(shown)) + shown.width() * shown.height());
        const QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
            blend.perPixelAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        prepare(false);
        m_painter.setCompositionMode(op.mode);
        m_painter.setOpacity(blend.opacity);
        m_painter.setRenderHint(QPainter::SmoothPixmapTransform, dc.stretchMode == U_HALFTONE);
        m_painter.setWorldTransform(full);
        m_painter.drawImage(shown, image, shown);
    }

    // Text at a logical reference point. dx: the advance of each character in
    // logical units, or empty to let the font decide. The options and rect
    // are those of EXTTEXTOUT.
    void text(QPointF reference, const QString& string, const std::vector<double>& dx, std::uint32_t options,
        const std::optional<QRectF>& rect)
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
        if (string.isEmpty() || !m_hasGui)
            return;
        const QString s = string.left(kMaxTextLength);
        const bool updatePosition = (dc.textAlign & U_TA_UPDATECP) != 0;
        const QPointF anchor = t.map(updatePosition ? dc.position : reference);
        const double xScale = std::hypot(t.m11(), t.m12());
        const double yScale = std::hypot(t.m21(), t.m22());
        const QFont font = makeFont(dc.font, yScale);
        const QFontMetricsF metrics(font);

        std::vector<double> advances;
        double width = 0;
        if (!dx.empty()) {
            for (qsizetype i = 0; i < s.size() && i < qsizetype(dx.size()); ++i) {
                advances.push_back(dx[std::size_t(i)] * xScale);
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
        spend(coverage(placement.mapRect(cell)) + double(s.size()));
        if (updatePosition) {
            bool invertible = false;
            const QTransform back = t.inverted(&invertible);
            if (invertible)
                dc.position = back.map(placement.map(QPointF(x + width, 0)));
        }

        if (m_pathOpen) {
            // Inside a path the glyphs' outlines join it, to be filled or
            // outlined with it (outlined lettering is drawn that way).
            if (building()) {
                QPainterPath glyphs;
                if (advances.empty()) {
                    glyphs.addText(QPointF(x, baseline), font, s);
                } else {
                    double at = x;
                    for (qsizetype i = 0; i < s.size(); ++i) {
                        glyphs.addText(QPointF(at, baseline), font, QString(s[i]));
                        if (i < qsizetype(advances.size()))
                            at += advances[std::size_t(i)];
                    }
                }
                m_path.addPath(placement.map(glyphs));
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
        if (advances.empty()) {
            m_painter.drawText(QPointF(x, baseline), s);
        } else {
            double at = x;
            for (qsizetype i = 0; i < s.size(); ++i) {
                m_painter.drawText(QPointF(at, baseline), QString(s[i]));
                if (i < qsizetype(advances.size()))
                    at += advances[std::size_t(i)];
            }
        }
    }

    // Decodes a DIB held in a record; nothing when it is unusable (we skip
    // the bitmap then, the record itself being whole).
    std::optional<std::pair<TBitmap32, bool>> decodeBitmap(
        const std::uint8_t* dib, u64 size, bool keepFourthByte, std::int64_t maxPixels)
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

    // A pattern brush's bitmap as an image of its own.
    std::optional<QImage> patternImage(const std::uint8_t* dib, u64 size)
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

private:
    // Whether drawing goes into an open path that may still grow.
    bool building() const { return m_pathOpen && m_path.elementCount() < kMaxPathElements; }

    // Continues the open path from the current position.
    void continuePath(const QTransform& t)
    {
        const QPointF here = t.map(dc.position);
        if (m_path.elementCount() == 0 || m_path.currentPosition() != here)
            m_path.moveTo(here);
    }

    void spend(double work)
    {
        m_workLeft -= work;
        if (!(m_workLeft >= 0))
            throw StopPlayback {};
    }

    // Canvas pixels a drawing may touch.
    double coverage(const QRectF& device) const
    {
        const QRectF r = device.normalized() & QRectF(0, 0, m_width, m_height);
        return r.isValid() ? r.width() * r.height() + 1 : 1;
    }

    // Sets the painter up for one drawing in canvas pixels. With the pen's mix
    // mode (lines and shapes), returns false when that mode draws nothing.
    bool prepare(bool withMixMode)
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
            break; // COPYPEN
        }
        return true;
    }

    QPen makePen(const LogPen& from, const QTransform& t) const
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
                dashes = thin ? QList<qreal> { 18, 6 } : QList<qreal> { 3, 1 };
                break;
            case U_PS_DOT:
                dashes = thin ? QList<qreal> { 3, 3 } : QList<qreal> { 1, 1 };
                break;
            case U_PS_DASHDOT:
                dashes = thin ? QList<qreal> { 9, 6, 3, 6 } : QList<qreal> { 3, 1, 1, 1 };
                break;
            case U_PS_DASHDOTDOT:
                dashes = thin ? QList<qreal> { 9, 3, 3, 3, 3, 3 } : QList<qreal> { 3, 1, 1, 1, 1, 1 };
                break;
            case U_PS_ALTERNATE:
                dashes = { 1, 1 };
                break;
            case U_PS_USERSTYLE:
                dashes = thin ? QList<qreal> { 6, 6 } : QList<qreal> { 2, 2 };
                break;
            default:
                break;
            }
            if (!dashes.isEmpty())
                pen.setDashPattern(dashes);
        }
        return pen;
    }

    QBrush makeBrush(const LogBrush& from) const
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
    void fillWithBrush(const QPainterPath& path, const LogBrush& from)
    {
        const QBrush brush = makeBrush(from);
        if (brush.style() == Qt::NoBrush)
            return;
        if (dc.opaqueBackground && from.style == U_BS_HATCHED)
            m_painter.fillPath(path, QColor(m_colourOverride.value_or(dc.bkColour)));
        m_painter.fillPath(path, brush);
    }

    // Pixels a line along the path may touch: its length times its width,
    // at most the area around the path.
    double strokeWork(const QPainterPath& path, double width) const
    {
        const double w = std::max(1.0, width);
        const double longest = 2.0 * (double(m_width) + double(m_height));
        double length = 0;
        for (int i = 1; i < path.elementCount(); ++i) {
            const QPointF a = path.elementAt(i - 1), b = path.elementAt(i);
            length += std::min(longest, std::hypot(b.x() - a.x(), b.y() - a.y()));
        }
        return std::min(length * w, coverage(path.controlPointRect().adjusted(-w, -w, w, w)));
    }

    // Fills and outlines a path in canvas pixels with the current brush and pen.
    void paint(QPainterPath path, bool fill, bool stroke)
    {
        const QTransform t = transform();
        const bool visiblePen = stroke && (dc.pen.style & U_PS_STYLE_MASK) != U_PS_NULL;
        double work = path.elementCount();
        if (fill && dc.brush.style != U_BS_NULL)
            work += coverage(path.controlPointRect());
        if (visiblePen)
            work += strokeWork(path, dc.pen.width * std::hypot(t.m11(), t.m12()));
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

    QFont makeFont(const LogFont& from, double yScale) const
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

    QPainter m_painter;
    const int m_width;
    const int m_height;
    const QPointF m_origin;
    const double m_pxPerMmX;
    const double m_pxPerMmY;
    double m_workLeft;
    const double m_maxExtent; // cap on pen widths and font sizes, in canvas pixels
    const bool m_hasGui;
    std::int64_t m_dibPixelsLeft = kMaxDibPixels;
    std::optional<QRgb> m_colourOverride; // R2_BLACK and R2_WHITE
    std::vector<DcState> m_saved;
    QPainterPath m_path; // canvas pixels
    bool m_pathOpen = false;
};

// Checks a canvas size and makes the canvas, white.
TBitmap32 whiteCanvas(std::int64_t width, std::int64_t height)
{
    if (width > kMaxSide || height > kMaxSide)
        throw ImageTooLargeError("The metafile's picture is too large (" + std::to_string(width) + " x "
            + std::to_string(height) + " pixels).");
    checkPictureSize(width, height);
    TBitmap32 canvas { int(width), int(height) };
    std::memset(canvas.bits(), 0xFF, canvas.byteCount());
    return canvas;
}

// ---------------------------------------------------------------------------
// WMF

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

// An array of points, x before y.
QPolygonF points16(const Record& r, u64 offset, u64 count)
{
    const std::uint8_t* p = r.bytes(offset, count * 4);
    QPolygonF points;
    points.reserve(qsizetype(count));
    for (u64 i = 0; i < count; ++i, p += 4)
        points.append(QPointF(std::int16_t(readU16(p)), std::int16_t(readU16(p + 2))));
    return points;
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
            return; // the table is full: GDI fails the creation too
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
    QRect box; // placeable bounding box, normalized
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
template <class F> void forEachWmfRecord(const std::uint8_t* data, u64 size, u64 pos, F f)
{
    const char* end = reinterpret_cast<const char*>(data + size);
    u64 count = 0;
    while (pos < size) {
        const u64 left = size - pos;
        if (left < U_SIZE_METARECORD)
            damaged();
        const u64 bytes = u64(readU32(data + pos)) * 2;
        if (bytes < U_SIZE_METARECORD || bytes > left
            || U_WMRRECSAFE_get(reinterpret_cast<const char*>(data + pos), end) != bytes)
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

void playWmfRecord(Player& player, WmfObjects& objects, const Record& r, int type)
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
        if (mode >= U_MM_MIN && mode <= U_MM_MAX)
            dc.mapMode = mode == U_MM_TEXT ? U_MM_ANISOTROPIC : mode;
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
    case U_WMR_MOVETO:
        player.moveTo(pointYX(r, 6));
        break;
    case U_WMR_LINETO:
        player.polylineTo(QPolygonF { pointYX(r, 6) });
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
        player.polyPolygon({ points16(r, 8, r.u16(6)) });
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
    case U_WMR_SAVEDC:
        player.saveDc();
        break;
    case U_WMR_RESTOREDC:
        player.restoreDc(r.s16(6));
        break;
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
        objects.add(GdiObject {});
        break;
    default:
        break; // records we do not play
    }
}

// ---------------------------------------------------------------------------
// EMF

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
        polygons.push_back(all.mid(qsizetype(used), qsizetype(n)));
        used += n;
    }
    return polygons;
}

// Region data: a 32-byte header (its count of rectangles at 8, the bounds at
// 16), then the rectangles, in reference device pixels.
QRegion emfRegion(const Record& r, u64 offset, u64 size, QPointF origin)
{
    r.bytes(offset, size);
    if (size < 32)
        damaged();
    const u64 count = r.u32(offset + 8);
    if (count > (size - 32) / 16)
        damaged();
    const int dx = roundToInt(origin.x()), dy = roundToInt(origin.y());
    const auto rectAt = [&](u64 at) {
        const std::int64_t l = r.s32(at), t = r.s32(at + 4), rr = r.s32(at + 8), b = r.s32(at + 12);
        // Canvas coordinates stay well inside int: the rest is clipped away anyway.
        const auto clamp = [](std::int64_t v) { return int(std::clamp<std::int64_t>(v, -(1 << 28), 1 << 28)); };
        return QRect(QPoint(clamp(l + dx), clamp(t + dy)), QPoint(clamp(rr + dx) - 1, clamp(b + dy) - 1));
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

// The EMF object table: the file names each object's index; the stock
// objects have indexes from 0x80000000.
class EmfObjects {
public:
    void add(std::uint32_t index, GdiObject object)
    {
        if (index == 0 || (index & U_STOCK_OBJECT) != 0)
            return; // index 0 is the metafile itself
        if (m_objects.size() >= kMaxObjects && m_objects.find(index) == m_objects.end())
            return;
        m_objects[index] = std::move(object);
    }
    std::optional<GdiObject> get(std::uint32_t index) const
    {
        if (index & U_STOCK_OBJECT)
            return stock(index & ~U_STOCK_OBJECT);
        const auto it = m_objects.find(index);
        if (it == m_objects.end())
            return std::nullopt;
        return it->second;
    }
    void remove(std::uint32_t index) { m_objects.erase(index); }

private:
    static std::optional<GdiObject> stock(std::uint32_t which)
    {
        LogFont font;
        switch (which) {
        case 0:
            return solidBrush(qRgb(255, 255, 255)); // WHITE_BRUSH
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
            return solidPen(qRgb(255, 255, 255)); // WHITE_PEN
        case 7:
            return solidPen(qRgb(0, 0, 0));
        case 8:
            return solidPen(qRgb(0, 0, 0), U_PS_NULL);
        case 10: // OEM_FIXED_FONT
        case 11: // ANSI_FIXED_FONT
        case 16: // SYSTEM_FIXED_FONT
            font.pitchAndFamily = 0x30;
            return fontObject(font);
        case 12:
        case 13:
        case 14:
        case 17:
            return fontObject(font); // the variable-pitch system fonts
        case 18:
            return solidBrush(qRgb(255, 255, 255)); // DC_BRUSH
        case 19:
            return solidPen(qRgb(0, 0, 0)); // DC_PEN
        default:
            return std::nullopt; // palettes and unknown ones
        }
    }

    std::unordered_map<std::uint32_t, GdiObject> m_objects;
};

// The record types we play, checked with libuemf first.
bool playedEmfRecord(std::uint32_t type)
{
    switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYGON:
    case U_EMR_POLYLINE:
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYLINETO:
    case U_EMR_POLYPOLYLINE:
    case U_EMR_POLYPOLYGON:
    case U_EMR_SETWINDOWEXTEX:
    case U_EMR_SETWINDOWORGEX:
    case U_EMR_SETVIEWPORTEXTEX:
    case U_EMR_SETVIEWPORTORGEX:
    case U_EMR_SETPIXELV:
    case U_EMR_SETMAPMODE:
    case U_EMR_SETBKMODE:
    case U_EMR_SETPOLYFILLMODE:
    case U_EMR_SETROP2:
    case U_EMR_SETSTRETCHBLTMODE:
    case U_EMR_SETTEXTALIGN:
    case U_EMR_SETTEXTCOLOR:
    case U_EMR_SETBKCOLOR:
    case U_EMR_OFFSETCLIPRGN:
    case U_EMR_MOVETOEX:
    case U_EMR_EXCLUDECLIPRECT:
    case U_EMR_INTERSECTCLIPRECT:
    case U_EMR_SCALEVIEWPORTEXTEX:
    case U_EMR_SCALEWINDOWEXTEX:
    case U_EMR_SAVEDC:
    case U_EMR_RESTOREDC:
    case U_EMR_SETWORLDTRANSFORM:
    case U_EMR_MODIFYWORLDTRANSFORM:
    case U_EMR_SELECTOBJECT:
    case U_EMR_CREATEPEN:
    case U_EMR_CREATEBRUSHINDIRECT:
    case U_EMR_DELETEOBJECT:
    case U_EMR_ANGLEARC:
    case U_EMR_ELLIPSE:
    case U_EMR_RECTANGLE:
    case U_EMR_ROUNDRECT:
    case U_EMR_ARC:
    case U_EMR_CHORD:
    case U_EMR_PIE:
    case U_EMR_CREATEPALETTE:
    case U_EMR_LINETO:
    case U_EMR_ARCTO:
    case U_EMR_POLYDRAW:
    case U_EMR_SETARCDIRECTION:
    case U_EMR_BEGINPATH:
    case U_EMR_ENDPATH:
    case U_EMR_CLOSEFIGURE:
    case U_EMR_FILLPATH:
    case U_EMR_STROKEANDFILLPATH:
    case U_EMR_STROKEPATH:
    case U_EMR_SELECTCLIPPATH:
    case U_EMR_ABORTPATH:
    case U_EMR_FILLRGN:
    case U_EMR_INVERTRGN:
    case U_EMR_PAINTRGN:
    case U_EMR_EXTSELECTCLIPRGN:
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT:
    case U_EMR_SETDIBITSTODEVICE:
    case U_EMR_STRETCHDIBITS:
    case U_EMR_EXTCREATEFONTINDIRECTW:
    case U_EMR_EXTTEXTOUTA:
    case U_EMR_EXTTEXTOUTW:
    case U_EMR_POLYBEZIER16:
    case U_EMR_POLYGON16:
    case U_EMR_POLYLINE16:
    case U_EMR_POLYBEZIERTO16:
    case U_EMR_POLYLINETO16:
    case U_EMR_POLYPOLYLINE16:
    case U_EMR_POLYPOLYGON16:
    case U_EMR_POLYDRAW16:
    case U_EMR_CREATEMONOBRUSH:
    case U_EMR_CREATEDIBPATTERNBRUSHPT:
    case U_EMR_EXTCREATEPEN:
    case U_EMR_ALPHABLEND:
        return true;
    default:
        return false;
    }
}

// libuemf's checks of some record types read a few bytes past the record's
// fixed shown before comparing with its size, so short records are checked
// in a zero-padded copy; longer records hold those bytes themselves.
void checkEmfRecord(const std::uint8_t* record, u64 size, std::vector<char>& scratch)
{
    constexpr u64 kShort = 4096;
    constexpr u64 kPadding = 256;
    const char* p = reinterpret_cast<const char*>(record);
    if (size < kShort) {
        scratch.assign(std::size_t(size + kPadding), 0);
        std::memcpy(scratch.data(), record, std::size_t(size));
        p = scratch.data();
    }
    if (!U_emf_record_safe(p))
        damaged();
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
    std::uint32_t offBits, std::uint32_t cbBits, QRectF src, bool srcFromBottom, const QRectF& dst, std::uint32_t rop,
    const Blend& blend = {}, std::uint32_t rows = 0)
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
    // Glyph indexes name glyphs of the writer's font, not characters.
    if (!(options & U_ETO_GLYPH_INDEX)) {
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
    player.text(at, string, dx, options, rect);
}

void playEmfRecord(Player& player, EmfObjects& objects, const Record& r, std::uint32_t type)
{
    DcState& dc = player.dc;
    switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYBEZIER16:
        player.polyBezier(emfPoints(r, type == U_EMR_POLYBEZIER16));
        break;
    case U_EMR_POLYGON:
    case U_EMR_POLYGON16:
        player.polyPolygon({ emfPoints(r, type == U_EMR_POLYGON16) });
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
    case U_EMR_SETPIXELV:
        player.setPixel(pointL(r, 8), r.colour(16));
        break;
    case U_EMR_SETMAPMODE: {
        const std::uint32_t mode = r.u32(8);
        if (mode >= U_MM_MIN && mode <= U_MM_MAX)
            dc.mapMode = mode;
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
    case U_EMR_OFFSETCLIPRGN:
        player.offsetClip(pointL(r, 8));
        break;
    case U_EMR_MOVETOEX:
        player.moveTo(pointL(r, 8));
        break;
    case U_EMR_LINETO:
        player.polylineTo(QPolygonF { pointL(r, 8) });
        break;
    case U_EMR_EXCLUDECLIPRECT:
        player.excludeClip(rectL(r, 8));
        break;
    case U_EMR_INTERSECTCLIPRECT:
        player.intersectClip(rectL(r, 8));
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
        objects.add(r.u32(8), GdiObject {});
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
        player.arcTo(
            QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), start, std::clamp(sweep, -3600.0, 3600.0));
        break;
    }
    case U_EMR_SETARCDIRECTION:
        dc.clockwiseArcs = r.u32(8) == U_AD_CLOCKWISE;
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
            player.combineClip(emfRegion(r, 16, size, player.origin()), mode);
        break;
    }
    case U_EMR_FILLRGN:
        if (const std::optional<GdiObject> brush = objects.get(r.u32(28)); brush && brush->kind == ObjectKind::Brush)
            player.fillRegion(emfRegion(r, 32, r.u32(24), player.origin()), brush->brush);
        break;
    case U_EMR_PAINTRGN:
        player.fillRegion(emfRegion(r, 28, r.u32(24), player.origin()), dc.brush);
        break;
    case U_EMR_INVERTRGN:
        player.invertRegion(emfRegion(r, 28, r.u32(24), player.origin()));
        break;
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
        emfDib(
            player, r, r.u32(64), r.u32(48), r.u32(52), r.u32(56), r.u32(60), src, true, dst, U_SRCCOPY, {}, r.u32(72));
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
        blend.perPixelAlpha = ((function >> 24) & 0xFF) == kAcSrcAlpha && r.u32(84) != 0 && r.has(r.u32(84), 16)
            && r.u16(r.u32(84) + 14) == 32;
        emfDib(player, r, r.u32(80), r.u32(84), r.u32(88), r.u32(92), r.u32(96), src, false, dst, U_SRCCOPY, blend);
        break;
    }
    case U_EMR_EXTTEXTOUTA:
    case U_EMR_EXTTEXTOUTW:
        emfText(player, r, type == U_EMR_EXTTEXTOUTW);
        break;
    default:
        break;
    }
}

struct EmfHeader {
    QRect bounds; // reference device pixels, right and bottom included
    QRect frame; // 0.01 mm
    double pxPerMmX = kScreenDpi / kMmPerInch;
    double pxPerMmY = kScreenDpi / kMmPerInch;
    u64 size = 0;
};

EmfHeader readEmfHeader(const std::uint8_t* data, u64 size, std::vector<char>& scratch)
{
    // The header record: bounds, frame, signature, version, file size,
    // record count, handle count, reserved, description, palette size,
    // device size in pixels and in millimetres.
    if (size < 8 || readU32(data) != U_EMR_HEADER)
        throw PlumoraError("This is not an EMF file.");
    if (size < 44 || readU32(data + 40) != kEmfSignature)
        throw PlumoraError("This is not an EMF file.");
    const u64 bytes = readU32(data + 4);
    if (bytes < 88 || bytes > size)
        damaged();
    checkEmfRecord(data, bytes, scratch);
    const Record r(data, bytes);
    EmfHeader h;
    h.size = bytes;
    const auto rect = [&](u64 at) {
        const std::int32_t l = r.s32(at), t = r.s32(at + 4), rr = r.s32(at + 8), b = r.s32(at + 12);
        return std::array<std::int64_t, 4> { l, t, rr, b };
    };
    const auto bounds = rect(8), frame = rect(24);
    const std::int64_t deviceW = r.s32(72), deviceH = r.s32(76), mmW = r.s32(80), mmH = r.s32(84);
    // The reference device's resolution; a nonsensical one is taken as 96 dpi.
    if (deviceW > 0 && mmW > 0 && deviceH > 0 && mmH > 0) {
        const double x = double(deviceW) / double(mmW), y = double(deviceH) / double(mmH);
        if (x > 0.1 && x < 1000 && y > 0.1 && y < 1000) {
            h.pxPerMmX = x;
            h.pxPerMmY = y;
        }
    }
    const std::int64_t boundsW = bounds[2] - bounds[0] + 1, boundsH = bounds[3] - bounds[1] + 1;
    const bool boundsUnset = bounds[0] == 0 && bounds[1] == 0 && bounds[2] == 0 && bounds[3] == 0;
    std::int64_t width, height, left, top;
    if (boundsW >= 1 && boundsH >= 1 && !boundsUnset) {
        width = boundsW;
        height = boundsH;
        left = bounds[0];
        top = bounds[1];
    } else {
        // No drawing bounds: the frame, in hundredths of a millimetre.
        const std::int64_t frameW = frame[2] - frame[0], frameH = frame[3] - frame[1];
        if (frameW <= 0 || frameH <= 0)
            throw PlumoraError("The metafile does not say its size.");
        width = std::max<std::int64_t>(1, std::llround(double(frameW) * h.pxPerMmX / 100));
        height = std::max<std::int64_t>(1, std::llround(double(frameH) * h.pxPerMmY / 100));
        left = std::llround(double(frame[0]) * h.pxPerMmX / 100);
        top = std::llround(double(frame[1]) * h.pxPerMmY / 100);
    }
    if (width > kMaxSide || height > kMaxSide)
        throw ImageTooLargeError("The metafile's picture is too large (" + std::to_string(width) + " x "
            + std::to_string(height) + " pixels).");
    // Where the canvas starts on the reference device; far-off origins are
    // kept inside int (nothing drawn that far away would reach the canvas).
    const auto inInt = [](std::int64_t v) { return int(std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30)); };
    h.bounds = QRect(inInt(left), inInt(top), int(width), int(height));
    return h;
}

// libuemf keeps its state for writing WMFs in globals.
std::mutex g_wmfWriterMutex;

} // namespace

TBitmap32 decodeWmf(const std::uint8_t* data, std::size_t size)
{
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
        QImage image(
            canvas.bits(), canvas.width(), canvas.height(), qsizetype(canvas.bytesPerLine()), QImage::Format_RGB32);
        // The window maps onto the whole canvas; the file's own window and
        // viewport records then change that mapping as they would on screen.
        Player player(image, QPointF(0, 0), kScreenDpi / kMmPerInch, kScreenDpi / kMmPerInch);
        player.dc.mapMode = U_MM_ANISOTROPIC;
        player.dc.windowOrg = windowOrg;
        player.dc.windowExt = windowExt;
        player.dc.viewportExt = QPointF(canvas.width(), canvas.height());
        WmfObjects objects;
        try {
            forEachWmfRecord(data, size, header.recordsStart, [&](const Record& r, int type) {
                playWmfRecord(player, objects, r, type);
                return true;
            });
        } catch (const StopPlayback&) { }
    }
    FillAlpha(canvas, 0);
    return canvas;
}

TBitmap32 decodeEmf(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr)
        size = 0;
    std::vector<char> scratch;
    const EmfHeader header = readEmfHeader(data, size, scratch);
    TBitmap32 canvas = whiteCanvas(header.bounds.width(), header.bounds.height());
    {
        QImage image(
            canvas.bits(), canvas.width(), canvas.height(), qsizetype(canvas.bytesPerLine()), QImage::Format_RGB32);
        // A device context starts with the black pen, the white brush and
        // the system font: DcState's defaults.
        Player player(image, -QPointF(header.bounds.topLeft()), header.pxPerMmX, header.pxPerMmY);
        EmfObjects objects;
        u64 pos = header.size;
        u64 count = 0;
        try {
            while (pos < size) {
                const u64 left = size - pos;
                if (left < 8)
                    damaged();
                const std::uint32_t type = readU32(data + pos);
                const u64 bytes = readU32(data + pos + 4);
                if (bytes < 8 || bytes > left)
                    damaged();
                if (type == U_EMR_EOF || ++count > kMaxRecords)
                    break;
                if (playedEmfRecord(type)) {
                    checkEmfRecord(data + pos, bytes, scratch);
                    playEmfRecord(player, objects, Record(data + pos, bytes), type);
                }
                pos += bytes;
            }
        } catch (const StopPlayback&) { }
    }
    FillAlpha(canvas, 0);
    return canvas;
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
        const std::uint8_t* src = picture.ScanLine(y);
        char* dst = pixels.data() + u64(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = char(src[0]);
            dst[1] = char(src[1]);
            dst[2] = char(src[2]);
        }
    }
    constexpr std::int32_t kPixelsPerMetre = 3780; // 96 dots an inch
    U_BITMAPINFO info {};
    info.bmiHeader = bitmapinfoheader_set(
        width, height, 1, 24, U_BI_RGB, std::uint32_t(pixelBytes), kPixelsPerMetre, kPixelsPerMetre, 0, 0);

    const std::lock_guard<std::mutex> lock(g_wmfWriterMutex);
    // libuemf builds the file in memory and wants a file to write it to in
    // the end; we take the bytes from memory and give it the null device.
    const u64 expected = U_SIZE_WMRPLACEABLE + U_SIZE_WMRHEADER + 8 + 10 + 10 + U_SIZE_WMRSTRETCHDIB
        + U_SIZE_BITMAPINFOHEADER + pixelBytes + U_SIZE_WMREOF + 64;
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
    } release { track };
    const auto fail = [] { throw PlumoraError("The WMF file could not be made."); };

    // The placeable box is the picture's size at 96 units an inch: our reader
    // turns it back into exactly that many pixels.
    U_PAIRF inches { float(width / kScreenDpi), float(height / kScreenDpi) };
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
    char* bitmap = U_WMRSTRETCHDIB_set(
        origin, size, origin, size, U_DIB_RGB_COLORS, U_SRCCOPY, &info, std::uint32_t(pixelBytes), pixels.data());
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

} // namespace plumora
