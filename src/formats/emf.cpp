#include "formats/metafile.h"

#include "formats/bytes.h"
#include "formats/emf_records.h"
#include "formats/metafile_player.h"
#include "raster/errors.h"
#include "raster/limits.h"

#include <uemf_safe.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

// The EMF reader: reads the header, sizes the canvas and plays the records
// through the shared player (the records themselves are in emf_records.cpp).

namespace plumora {

// The player's types and helpers are this file's whole vocabulary.
using namespace metafile;

namespace {

constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"

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

struct EmfHeader {
    QSize picture;        // the picture's size in pixels
    QTransform toCanvas;  // reference device pixels to the picture's pixels
    // The reference device, a screen of 1920 x 1080 pixels at 96 dots an inch
    // unless the header names a sensible one.
    QSizeF devicePixels{1920, 1080};
    QSizeF deviceMillimetres{1920 * kMmPerInch / kScreenDpi, 1080 * kMmPerInch / kScreenDpi};
    u64 size = 0;  // the header record's
};

// GDI plays an EMF by mapping its frame onto the place given for it and
// draws every record where its coordinates fall, so a drawing outside the
// frame is cut away. The header's bounds say where the drawing really lies,
// in device pixels. Some writers count y upwards by negating it themselves
// (a UML tool running on a Windows emulation does) but never record a
// mapping that says so: the frame runs from 0 down to the height, the
// drawing from minus the height up to 0, and only a strip along the frame's
// top edge would show. When less than half the bounds lie in the frame but
// more than half of their mirror image about the x axis does, the drawing
// is played upside down, as if the writer had set a viewport extent of -1:
// shapes land in the frame and text stays upright, as GDI draws it in any
// mapping whose y counts upwards. Every other drawing is placed by its
// frame, as GDI places it.
bool drawnUpsideDown(const std::array<std::int64_t, 4>& bounds, const std::array<std::int64_t, 4>& frame,
                     double pxPerMmX, double pxPerMmY)
{
    // Device pixels; the bounds are inclusive.
    const double left = double(bounds[0]), top = double(bounds[1]);
    const double right = double(bounds[2]) + 1, bottom = double(bounds[3]) + 1;
    const double frameLeft = double(frame[0]) * pxPerMmX / 100, frameRight = double(frame[2]) * pxPerMmX / 100;
    const double frameTop = double(frame[1]) * pxPerMmY / 100, frameBottom = double(frame[3]) * pxPerMmY / 100;
    if (!(right > left && bottom > top))
        return false;
    const auto overlap = [](double a0, double a1, double b0, double b1) {
        return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
    };
    const double across = overlap(left, right, frameLeft, frameRight);
    const double area = (right - left) * (bottom - top);
    const double inside = across * overlap(top, bottom, frameTop, frameBottom);
    const double mirrored = across * overlap(-bottom, -top, frameTop, frameBottom);
    return inside < area / 2 && mirrored > area / 2;
}

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
        return std::array<std::int64_t, 4>{l, t, rr, b};
    };
    const auto bounds = rect(8), frame = rect(24);
    const std::int64_t deviceW = r.s32(72), deviceH = r.s32(76), mmW = r.s32(80), mmH = r.s32(84);
    // The reference device's resolution; a nonsensical one is taken as 96 dpi.
    if (deviceW > 0 && mmW > 0 && deviceH > 0 && mmH > 0) {
        const double x = double(deviceW) / double(mmW), y = double(deviceH) / double(mmH);
        if (x > 0.1 && x < 1000 && y > 0.1 && y < 1000) {
            h.devicePixels = QSizeF(double(deviceW), double(deviceH));
            h.deviceMillimetres = QSizeF(double(mmW), double(mmH));
        }
    }
    const double pxPerMmX = h.devicePixels.width() / h.deviceMillimetres.width();
    const double pxPerMmY = h.devicePixels.height() / h.deviceMillimetres.height();
    const auto tooLarge = [](std::int64_t width, std::int64_t height) {
        return width > kMaxSide || height > kMaxSide || width * height > kMaxPixels;
    };

    // The picture's size is its frame (0.01 mm) at 96 dots an inch, as other
    // viewers size it, and the frame, on the reference device, fills the
    // canvas: a drawing made on a printer's device comes out as large as on
    // the screen. A frame under a pixel or beyond what we can hold is not
    // believed.
    const std::int64_t frameW = frame[2] - frame[0], frameH = frame[3] - frame[1];
    const double screenPxPerMm = kScreenDpi / kMmPerInch;
    const std::int64_t frameWidth = std::llround(double(frameW) * screenPxPerMm / 100);
    const std::int64_t frameHeight = std::llround(double(frameH) * screenPxPerMm / 100);
    if (frameWidth >= 1 && frameHeight >= 1 && !tooLarge(frameWidth, frameHeight)) {
        const double sx = double(frameWidth) / (double(frameW) * pxPerMmX / 100);
        const double sy = double(frameHeight) / (double(frameH) * pxPerMmY / 100);
        h.picture = QSize(int(frameWidth), int(frameHeight));
        h.toCanvas =
            QTransform(sx, 0, 0, sy, -double(frame[0]) * pxPerMmX / 100 * sx, -double(frame[1]) * pxPerMmY / 100 * sy);
        if (drawnUpsideDown(bounds, frame, pxPerMmX, pxPerMmY))
            h.toCanvas = QTransform::fromScale(1, -1) * h.toCanvas;
        return h;
    }

    // Otherwise the drawing's bounds in device pixels (inclusive) are the
    // canvas, one device pixel a canvas pixel.
    const std::int64_t boundsW = bounds[2] - bounds[0] + 1, boundsH = bounds[3] - bounds[1] + 1;
    const bool boundsUnset = bounds[0] == 0 && bounds[1] == 0 && bounds[2] == 0 && bounds[3] == 0;
    std::int64_t width = boundsW, height = boundsH;
    if (boundsW < 1 || boundsH < 1 || boundsUnset) {
        if (frameWidth < 1 || frameHeight < 1)
            throw PlumoraError("The metafile does not say its size.");
        width = frameWidth;
        height = frameHeight;
    }
    if (width > kMaxSide || height > kMaxSide)
        throw ImageTooLargeError("The metafile's picture is too large (" + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels).");
    h.picture = QSize(int(width), int(height));
    h.toCanvas = QTransform::fromTranslate(-double(bounds[0]), -double(bounds[1]));
    return h;
}

}  // namespace

TBitmap32 decodeEmf(const std::uint8_t* data, std::size_t size)
{
    MetafileWork work;
    TBitmap32 picture = decodeEmfCounted(data, size, work);
    throwIfUnfinished(work);
    return picture;
}

TBitmap32 decodeEmfCounted(const std::uint8_t* data, std::size_t size, MetafileWork& work)
{
    work = {};
    if (data == nullptr)
        size = 0;
    std::vector<char> scratch;
    const EmfHeader header = readEmfHeader(data, size, scratch);
    TBitmap32 canvas = whiteCanvas(header.picture.width(), header.picture.height());
    {
        QImage image(canvas.bits(), canvas.width(), canvas.height(), qsizetype(canvas.bytesPerLine()),
                     QImage::Format_RGB32);
        // A device context starts with the black pen, the white brush and
        // the system font: DcState's defaults.
        Player player(image, header.toCanvas, header.devicePixels, header.deviceMillimetres);
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
                    ++work.records;
                    playEmfRecord(player, objects, Record(data + pos, bytes), type);
                }
                pos += bytes;
            }
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

}  // namespace plumora
