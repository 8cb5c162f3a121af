#include "formats/metafile_player.h"

#include "formats/metafile_work.h"

#include "formats/bmp.h"
#include "raster/errors.h"

#include <cstring>

// The player's bitmaps: embedded DIBs, pattern brushes' bitmaps and the
// raster operations of the bitmap records.

namespace plumora::metafile {

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

}  // namespace plumora::metafile
