#include "formats/metafile_player.h"

#include "formats/metafile_work.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QRawFont>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

// The player's text: 8-bit strings in their code pages, fonts, and text laid
// out and drawn along its baseline.

namespace plumora::metafile {

namespace {

constexpr double kDefaultFontPixels = 16.0;  // the system font at 96 dpi

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

// A piece of text laid out in its own frame: x runs along the baseline from
// the reference point, y down from it; placement puts that frame on the
// canvas, turned along the escapement.
struct TextLayout {
    explicit TextLayout(const QFont& f) : font(f), metrics(f) {}

    // The width of piece i as the font sets it.
    double naturalAdvance(qsizetype i) const
    {
        if (!byGlyph)
            return metrics.horizontalAdvance(s[i]);
        return raw.isValid() ? glyphAdvances[i].x() : metrics.averageCharWidth();
    }

    // A missing glyph's box: the height of a capital, most of its advance wide.
    QRectF missingBox(qsizetype i) const
    {
        const double advance = i < qsizetype(advances.size()) ? advances[std::size_t(i)] : 0;
        const double side = std::abs(advance) > 0 ? std::abs(advance) : metrics.averageCharWidth();
        return QRectF(starts[std::size_t(i)] + 0.1 * side, baseline - boxHeight, 0.8 * side, boxHeight);
    }

    // The outlines of the pieces, as they join a path being built.
    QPainterPath outlines() const
    {
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
        return glyphPaths;
    }

    QFont font;
    QFontMetricsF metrics;
    bool byGlyph = false;
    QString s;           // the text as characters, or empty
    QList<quint32> ids;  // the text as glyph numbers, or empty
    qsizetype count = 0;
    QRawFont raw;  // the file's own font for glyph numbers; invalid when we lack it
    QList<QPointF> glyphAdvances;
    std::vector<double> advances;  // canvas pixels; empty: the font lays the string out in one piece
    std::vector<double> starts;    // where each piece starts, with advances
    double width = 0;
    double x = 0;  // where the text starts, by its alignment
    double baseline = 0;
    double boxHeight = 0;
    QTransform placement;
    QRectF cell;
};

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
    const bool updatePosition = (dc.textAlign & U_TA_UPDATECP) != 0;
    const TextLayout layout = layOutText(t.map(updatePosition ? dc.position : reference), string, dx, glyphs, t);
    spend(textWork(layout));
    if (updatePosition) {
        bool invertible = false;
        const QTransform back = t.inverted(&invertible);
        if (invertible)
            dc.position = back.map(layout.placement.map(QPointF(layout.x + layout.width, 0)));
    }
    if (m_pathOpen) {
        // Inside a path the glyphs' outlines join it, to be filled or
        // outlined with it (outlined lettering is drawn that way).
        if (building())
            m_path.addPath(layout.placement.map(layout.outlines()));
        return;
    }
    paintText(layout, options, rect);
}

TextLayout Player::layOutText(QPointF anchor, const QString& string, const std::vector<double>& dx,
                              const std::vector<quint32>& glyphs, const QTransform& t) const
{
    const double xScale = std::hypot(t.m11(), t.m12());
    const double yScale = std::hypot(t.m21(), t.m22());
    TextLayout l(makeFont(dc.font, yScale));
    l.byGlyph = !glyphs.empty();
    l.s = string.left(kMaxTextLength);
    l.ids =
        QList<quint32>(glyphs.begin(), glyphs.begin() + std::min<qsizetype>(qsizetype(glyphs.size()), kMaxTextLength));
    l.count = l.byGlyph ? l.ids.size() : l.s.size();
    // Glyph numbers name glyphs of the font the file was written with: they
    // are drawn from that font when it is installed under its own name. A
    // font standing in for it numbers its glyphs differently and would show
    // wrong letters, so then each glyph is drawn as the box fonts themselves
    // draw for a glyph they lack: the text's place and length stay visible,
    // saying that its letters are missing rather than showing other ones.
    if (l.byGlyph && !dc.font.face.isEmpty()) {
        l.raw = QRawFont::fromFont(l.font);
        if (l.raw.familyName().compare(dc.font.face, Qt::CaseInsensitive) != 0)
            l.raw = QRawFont();
    }
    if (l.raw.isValid())
        l.glyphAdvances = l.raw.advancesForGlyphIndexes(l.ids);

    // Where each character or glyph starts, from the reference point.
    if (!dx.empty()) {
        for (qsizetype i = 0; i < l.count && i < qsizetype(dx.size()); ++i) {
            l.advances.push_back(dx[std::size_t(i)] * xScale);
            l.width += l.advances.back();
        }
    } else if (l.byGlyph) {
        for (qsizetype i = 0; i < l.count; ++i) {
            l.advances.push_back(l.naturalAdvance(i));
            l.width += l.advances.back();
        }
    } else {
        l.width = l.metrics.horizontalAdvance(l.s);
    }
    if ((dc.textAlign & U_TA_CENTER) == U_TA_CENTER)
        l.x = -l.width / 2;
    else if (dc.textAlign & U_TA_RIGHT)
        l.x = -l.width;
    l.baseline = l.metrics.ascent();
    if ((dc.textAlign & U_TA_BASELINE) == U_TA_BASELINE)
        l.baseline = 0;
    else if (dc.textAlign & U_TA_BOTTOM)
        l.baseline = -l.metrics.descent();

    // The text runs along the escapement, turned with the world transform.
    const double worldAngle = std::atan2(dc.world.m12(), dc.world.m11()) * 180.0 / M_PI;
    const double angle = worldAngle - dc.font.escapement / 10.0;
    l.placement.translate(anchor.x(), anchor.y());
    l.placement.rotate(angle);
    l.cell = QRectF(l.x, l.baseline - l.metrics.ascent(), std::abs(l.width), l.metrics.ascent() + l.metrics.descent());

    // Each piece (a character, or a glyph) at its place on the baseline;
    // without advances the string is laid out by the font in one piece.
    double at = l.x;
    for (qsizetype i = 0; i < l.count && !l.advances.empty(); ++i) {
        l.starts.push_back(at);
        if (i < qsizetype(l.advances.size()))
            at += l.advances[std::size_t(i)];
    }
    l.boxHeight = l.metrics.capHeight() > 0 ? l.metrics.capHeight() : 0.7 * l.metrics.ascent();
    return l;
}

double Player::textWork(const TextLayout& layout) const
{
    // Each character is charged its own box: with advances of the file's
    // choosing, thousands of large letters can pile up on one spot.
    const double canvasArea = double(m_width) * double(m_height);
    const double glyphPixelCost = layout.cell.height() > kCachedGlyphPixels ? kWorkPerOutlineGlyphPixel : 1;
    double work = 0;
    for (qsizetype i = 0; i < layout.count; ++i) {
        const double advance = i < qsizetype(layout.advances.size()) ? std::abs(layout.advances[std::size_t(i)]) : 0;
        const double glyphWidth = std::max(advance, layout.naturalAdvance(i));
        work += kWorkPerGlyph + std::min(canvasArea, glyphWidth * layout.cell.height()) * glyphPixelCost;
    }
    return work;
}

void Player::paintText(const TextLayout& layout, std::uint32_t options, const std::optional<QRectF>& rect)
{
    prepare(false);
    if (rect && (options & U_ETO_CLIPPED))
        m_painter.setClipRegion(deviceRegion(*rect), dc.clip ? Qt::IntersectClip : Qt::ReplaceClip);
    m_painter.setWorldTransform(layout.placement);
    if (dc.opaqueBackground)
        m_painter.fillRect(layout.cell, QColor(dc.bkColour));
    m_painter.setPen(QColor(dc.textColour));
    m_painter.setFont(layout.font);
    if (layout.raw.isValid()) {
        QList<QPointF> positions;
        for (double start : layout.starts)
            positions.append(QPointF(start, layout.baseline));
        QGlyphRun run;
        run.setRawFont(layout.raw);
        run.setGlyphIndexes(layout.ids);
        run.setPositions(positions);
        run.setUnderline(layout.font.underline());
        run.setStrikeOut(layout.font.strikeOut());
        m_painter.drawGlyphRun(QPointF(0, 0), run);
    } else if (layout.byGlyph) {
        m_painter.setBrush(Qt::NoBrush);
        for (qsizetype i = 0; i < layout.count; ++i)
            m_painter.drawRect(layout.missingBox(i));
    } else if (layout.advances.empty()) {
        m_painter.drawText(QPointF(layout.x, layout.baseline), layout.s);
    } else {
        for (qsizetype i = 0; i < layout.count; ++i)
            m_painter.drawText(QPointF(layout.starts[std::size_t(i)], layout.baseline), QString(layout.s[i]));
    }
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

}  // namespace plumora::metafile
