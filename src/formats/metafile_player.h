#pragma once

// The drawing engine both metafile readers (wmf.cpp and emf.cpp) drive: the
// record reader, the GDI objects, the device context state and the player
// that draws records with QPainter in logical coordinates. Internal to the
// formats library; metafile.h is the public face.
//
// The player is written in four files, one for each family of records:
// metafile_player.cpp (the device context: mapping, saved states, clipping,
// the work budget), metafile_player_drawing.cpp (lines, shapes, fills, paths,
// pens and brushes), metafile_player_text.cpp (text and fonts) and
// metafile_player_bitmaps.cpp (bitmaps and raster operations). What a
// drawing costs is in metafile_work.h.

#include "formats/bytes.h"
#include "raster/bitmap32.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <uemf.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace plumora::metafile {

using bytes::readU16;
using bytes::readU32;

// Every size and offset read from a file is widened to 64 bits before any
// arithmetic: record sizes are 32-bit counts and a sum of two may not fit.
using u64 = std::uint64_t;

// Limits against hostile files. Real metafiles hold a few thousand records.
constexpr u64 kMaxRecords = 10'000'000;
// WMF objects are addressed by a 16-bit index; EMF tables get the same cap.
constexpr std::size_t kMaxObjects = 65535;
constexpr std::int64_t kMaxSide = 65535;
// Pixels decoded from embedded bitmaps over a whole file: an RLE bitmap
// declares a large size in a few bytes. Pattern brushes are kept alive as
// objects, so each one gets a much smaller cap.
constexpr std::int64_t kMaxDibPixels = std::int64_t{1} << 30;
constexpr std::int64_t kMaxPatternPixels = std::int64_t{1} << 20;
// Region data and text are drawn piece by piece; beyond these counts we fall
// back to a coarser drawing instead of spending minutes on one record.
constexpr std::uint32_t kMaxRegionRects = 2000;
constexpr qsizetype kMaxTextLength = 65536;

constexpr double kScreenDpi = 96.0;
constexpr double kMmPerInch = 25.4;

constexpr std::uint32_t kModifyWorldSet = 4;  // MWT_SET, newer than libuemf's list

// Throws the error of a damaged file.
[[noreturn]] void damaged();

// Thrown when the work budget is spent: playback ends quietly.
struct StopPlayback {};

// One record's bytes. Every read checks that the field lies inside the record:
// a record too short for what it claims to hold is a damaged file.
class Record {
public:
    Record(const std::uint8_t* data, u64 size) : m_data(data), m_size(size) {}

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
int roundToInt(double v);

// Decodes 8-bit text; Latin-1 when Qt has no such code page.
QString decodeAnsi(const std::uint8_t* p, u64 n, int charSet);

// An array of 16-bit points, x before y.
QPolygonF points16(const Record& r, u64 offset, u64 count);

// ---------------------------------------------------------------------------
// Graphics objects and the drawing state.

struct LogPen {
    std::uint32_t style = U_PS_SOLID;  // style, end cap and join bits as GDI keeps them
    double width = 0;                  // logical units; 0 draws one device pixel
    QRgb colour = qRgb(0, 0, 0);
    bool geometric = false;  // an extended geometric pen keeps its dashes when wide
};

struct LogBrush {
    std::uint32_t style = U_BS_SOLID;
    QRgb colour = qRgb(255, 255, 255);
    std::uint32_t hatch = 0;
    QImage pattern;  // bitmap pattern brushes; null when their bitmap was unusable
};

struct LogFont {
    double height = 0;   // logical; negative: character height, positive: cell height, 0: default
    int escapement = 0;  // tenths of a degree, counter-clockwise
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

GdiObject penObject(LogPen pen);
GdiObject brushObject(LogBrush brush);
GdiObject fontObject(LogFont font);

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
    QPointF windowOrg{0, 0};
    QPointF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QPointF viewportExt{1, 1};
    QTransform world;
    std::optional<QRegion> clip;  // canvas pixels; none: the whole canvas
    QPointF position;             // the current position, logical
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
RasterOp rasterOp(std::uint32_t rop);

// A bitmap header's size and row order, read without decoding it.
struct DibShape {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool bottomUp = true;
};

std::optional<DibShape> dibShape(const std::uint8_t* p, u64 n);

// A piece of text laid out for drawing (metafile_player_text.cpp).
struct TextLayout;

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
    // toCanvas: the reference device's pixels to canvas pixels. The device's
    // size in pixels and millimetres gives the fixed mapping modes their
    // scale; both sides must be positive.
    Player(QImage& canvas, const QTransform& toCanvas, QSizeF devicePixels, QSizeF deviceMillimetres);

    DcState dc;

    // Logical coordinates to canvas pixels: the world transform (EMF), then
    // the window to viewport mapping of the map mode, then the device to the canvas.
    QTransform transform() const;

    const QTransform& toCanvas() const;

    // --- state ---

    // SETMAPMODE: sets the extents of the mode as GDI does.
    void setMapMode(std::uint32_t mode);

    void setWindowExt(QPointF e);
    void setViewportExt(QPointF e);
    void scaleExt(QPointF& ext, double xNum, double xDenom, double yNum, double yDenom);
    void setWorld(const QTransform& t, std::uint32_t mode);
    void saveDc();

    // n < 0: that many states back; n > 0: the n-th state saved.
    void restoreDc(std::int64_t n);

    void select(const GdiObject& o);

    // --- clipping ---

    // A logical rectangle as a region of canvas pixels (right and bottom
    // edges excluded, as GDI does); a rotated rectangle gives its bounds.
    QRegion deviceRegion(const QRectF& logical) const;

    QRegion currentClip() const;
    void intersectClip(const QRectF& logical);
    void excludeClip(const QRectF& logical);
    void setClip(QRegion region);
    void offsetClip(QPointF logicalOffset);

    // Combines a region in canvas pixels with the clip (RGN_AND .. RGN_COPY).
    void combineClip(const QRegion& region, std::uint32_t mode);
    void resetClip();

    // --- paths (EMF) ---

    void beginPath();
    void endPath();
    void abortPath();
    void closeFigure();
    void drawPath(bool fill, bool stroke);
    void clipToPath(std::uint32_t mode);

    // --- drawing ---

    void moveTo(QPointF p);
    void polylineTo(const QPolygonF& points);
    void polyBezierTo(const QPolygonF& points);
    void polyDraw(const QPolygonF& points, const std::uint8_t* types);
    void figure(const QPainterPath& logical, bool fill, bool stroke);
    void polyline(const QPolygonF& points);
    void polyBezier(const QPolygonF& points);
    void polyPolygon(const std::vector<QPolygonF>& polygons);
    void polyPolyline(const std::vector<QPolygonF>& lines);
    void rectangle(const QRectF& r);
    void ellipse(const QRectF& r);
    void roundRect(const QRectF& r, QPointF corner);

    // An arc of the ellipse in box from the ray through start to the ray
    // through end, counter-clockwise on the canvas unless the file asks for
    // clockwise arcs.
    void arc(const QRectF& rect, QPointF start, QPointF end, ArcKind kind);

    // ANGLEARC and ARCTO: a line from the current position to the arc's start, then the arc.
    void arcTo(const QRectF& box, double fromDegrees, double sweepDegrees);

    void setPixel(QPointF p, QRgb colour);
    void fillRegion(const QRegion& region, const LogBrush& brush);
    void invertRegion(const QRegion& region);

    // PATBLT and the bitmap records that have no bitmap.
    void patBlt(const QRectF& logical, Blt kind);

    // Draws source pixels src (top-down, in bitmap pixels; negative sizes
    // mirror) of a bitmap onto the logical rectangle dst.
    void bitmap(const TBitmap32& picture, QRectF src, const QRectF& dst, std::uint32_t rop, const Blend& blend = {});

    // Text at a logical reference point. dx: the advance of each character in
    // logical units, or empty to let the font decide. The options and rect
    // are those of EXTTEXTOUT. glyphs: the text as glyph numbers of the
    // font (ETO_GLYPH_INDEX), string then empty.
    void text(QPointF reference, const QString& string, const std::vector<double>& dx, std::uint32_t options,
              const std::optional<QRectF>& rect, const std::vector<quint32>& glyphs = {});

    // Decodes a DIB held in a record; nothing when it is unusable (we skip
    // the bitmap then, the record itself being whole).
    std::optional<std::pair<TBitmap32, bool>> decodeBitmap(const std::uint8_t* dib, u64 size, bool keepFourthByte,
                                                           std::int64_t maxPixels);

    // A pattern brush's bitmap as an image of its own.
    std::optional<QImage> patternImage(const std::uint8_t* dib, u64 size);

    // The canvas's own charge, and the work budget left for the drawing.
    double canvasWork() const { return m_canvasWork; }
    // The work budget and what playback charged against it so far.
    double workBudget() const { return m_workBudget; }
    double workSpent() const { return m_workBudget - m_workLeft; }
    // The charge that overdrew the budget and stopped playback; 0 before that.
    double finalCharge() const { return m_finalCharge; }

private:
    // Whether the mapping mode takes window and viewport extents.
    bool scalable() const;

    // Whether drawing goes into an open path that may still grow.
    bool building() const;

    // Continues the open path from the current position.
    void continuePath(const QTransform& t);

    void spend(double work);

    // Canvas pixels a drawing may touch, those beyond what the cache holds
    // charged at memory's speed.
    double coverage(const QRectF& device) const;

    // Sets the painter up for one drawing in canvas pixels. With the pen's mix
    // mode (lines and shapes), returns false when that mode draws nothing.
    bool prepare(bool withMixMode);

    QPen makePen(const LogPen& from, const QTransform& t) const;
    QBrush makeBrush(const LogBrush& from) const;
    void fillWithBrush(const QPainterPath& path, const LogBrush& from);

    // The work of scan converting a path in canvas pixels: its edges on the
    // rows they span, and the pairs of edges active on the same row. closed:
    // each figure is closed, as a fill closes it; pad: rows added above and
    // below each edge (half a line's width), which counts edgesPerSegment
    // times (the sides and joins of a line's outline).
    double scanWork(const QPainterPath& path, bool closed, double pad, double edgesPerSegment) const;

    // What filling a path in canvas pixels with brush costs: its area and
    // its scan conversion; rasterOp: the fill reads the canvas too.
    double fillWork(const QPainterPath& path, const LogBrush& brush, bool rasterOp) const;

    // What drawing a line along a path in canvas pixels with pen costs: a thin
    // line by its length; a wide one by its length times its width, the scan
    // conversion of its outline and its dashes.
    double strokeWork(const QPainterPath& path, const QPen& pen) const;

    // Fills and outlines a path in canvas pixels with the current brush and pen.
    void paint(QPainterPath path, bool fill, bool stroke);

    QFont makeFont(const LogFont& from, double yScale) const;

    // Lays out text whose reference point is anchor on the canvas; t: the
    // logical to canvas transform.
    TextLayout layOutText(QPointF anchor, const QString& string, const std::vector<double>& dx,
                          const std::vector<quint32>& glyphs, const QTransform& t) const;

    // What drawing the text costs: each character or glyph its own box.
    double textWork(const TextLayout& layout) const;

    // Draws laid out text on the canvas with the options and rect of EXTTEXTOUT.
    void paintText(const TextLayout& layout, std::uint32_t options, const std::optional<QRectF>& rect);

    QPainter m_painter;
    const int m_width;
    const int m_height;
    const QTransform m_toCanvas;
    const QSizeF m_devicePixels;
    const QSizeF m_deviceMillimetres;
    const double m_canvasWork;
    const double m_workBudget;
    double m_workLeft;
    double m_finalCharge = 0;
    const double m_maxExtent;  // cap on pen widths and font sizes, in canvas pixels
    const bool m_hasGui;
    std::int64_t m_dibPixelsLeft = kMaxDibPixels;
    std::optional<QRgb> m_colourOverride;  // R2_BLACK and R2_WHITE
    std::vector<DcState> m_saved;
    QPainterPath m_path;  // canvas pixels
    bool m_pathOpen = false;
};

// Checks a canvas size and makes the canvas, white.
TBitmap32 whiteCanvas(std::int64_t width, std::int64_t height);

}  // namespace plumora::metafile
