#include "formats/ico.h"

#include "formats/bmp.h"
#include "formats/bytes.h"
#include "raster/errors.h"
#include "raster/limits.h"

#include <QByteArray>
#include <QImage>

#include <cstring>
#include <string>

namespace plumora {

namespace {

using bytes::readU16;
using bytes::readU32;

// Offsets and lengths are widened to 64 bits before any sum, so a directory
// entry near 4 GiB cannot wrap around and point back into the file.
using u64 = std::uint64_t;

constexpr u64 kHeaderSize = 6;  // reserved, type, count
constexpr u64 kEntrySize = 16;
constexpr std::uint16_t kIconType = 1;
constexpr std::uint16_t kCursorType = 2;  // same layout; the hot spot takes the planes and depth fields
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kPngDepth = 32;  // a PNG picture counts as the deepest kind when choosing
// A picture whose bytes are not all in the file wins any tie of size: choosing
// it fails, where passing it over would show another picture than the whole
// file does, depending on where the file was cut.
constexpr int kUnreadableDepth = 1 << 16;

[[noreturn]] void damaged(const char* why)
{
    throw PlumoraError(std::string("The icon file is damaged: ") + why);
}

std::uint32_t readBigEndianU32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

bool isPng(const std::uint8_t* p, u64 length)
{
    return length >= sizeof kPngSignature && std::memcmp(p, kPngSignature, sizeof kPngSignature) == 0;
}

// One directory entry, with the depth read from the picture's own header:
// the directory's depth field is often 0 in older files and holds the hot
// spot in cursors.
struct Entry {
    u64 area = 0;  // from the directory, 0 standing for 256
    int depth = 0;
    u64 offset = 0;
    u64 length = 0;
};

bool inFile(const Entry& e, u64 size)
{
    return e.offset <= size && e.length <= size - e.offset;
}

int depthOf(const Entry& e, const std::uint8_t* data, u64 size)
{
    if (!inFile(e, size))
        return kUnreadableDepth;
    const std::uint8_t* p = data + e.offset;
    if (isPng(p, e.length))
        return kPngDepth;
    if (e.length >= 12 && readU32(p) == 12)  // core header: the depth is at 10
        return readU16(p + 10);
    if (e.length >= 16)
        return readU16(p + 14);
    return 0;
}

// A PNG picture inside the icon. Its size is checked from its own header
// before Qt sees it, so a hostile header cannot make the decoder allocate.
TBitmap32 decodePngEntry(const std::uint8_t* p, u64 length)
{
    // Signature, then the first chunk: length, "IHDR", width, height.
    if (length < 24 || std::memcmp(p + 12, "IHDR", 4) != 0)
        damaged("a PNG picture in it has no header.");
    const std::uint32_t width = readBigEndianU32(p + 16);
    const std::uint32_t height = readBigEndianU32(p + 20);
    if (width == 0 || height == 0)
        damaged("a PNG picture in it has no size.");
    checkPictureSize(width, height);

    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(p), qsizetype(length));
    const QImage decoded = QImage::fromData(bytes, "PNG");
    if (decoded.isNull())
        damaged("a PNG picture in it cannot be read.");
    if (u64(decoded.width()) != width || u64(decoded.height()) != height)
        damaged("a PNG picture in it does not have the size its header gives.");
    // Straight alpha: premultiplying would change the colour of every
    // partly transparent pixel.
    const QImage image = decoded.convertToFormat(QImage::Format_ARGB32);
    TBitmap32 picture(image.width(), image.height());
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(picture.ScanLine(y), image.constScanLine(y), picture.bytesPerLine());
    return picture;
}

// The 1-bit mask after the picture's rows: a set bit is a transparent pixel.
// Its rows run the same way as the picture's and are padded to 4 bytes.
void applyMask(TBitmap32& picture, const std::uint8_t* p, u64 length, const DibLayout& layout)
{
    const int width = picture.width();
    const int height = picture.height();
    const u64 stride = (u64(width) + 31) / 32 * 4;
    // Like the pixels, the mask may lack its last row's padding.
    const u64 needed = stride * u64(height - 1) + (u64(width) + 7) / 8;
    if (layout.pixelsEnd > length || length - layout.pixelsEnd < needed)
        damaged("the transparency mask of its picture ends early.");
    const std::uint8_t* mask = p + layout.pixelsEnd;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = mask + (layout.topDown ? u64(y) : u64(height - 1 - y)) * stride;
        std::uint8_t* out = picture.ScanLine(y);
        for (int x = 0; x < width; ++x)
            out[4 * x + kAlpha] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
    }
}

bool anyAlpha(const TBitmap32& picture)
{
    const std::uint8_t* p = picture.bits();
    for (std::size_t i = kAlpha; i < picture.byteCount(); i += 4)
        if (p[i] != 0)
            return true;
    return false;
}

TBitmap32 decodeDibEntry(const std::uint8_t* p, u64 length)
{
    DibOptions options;
    options.fileKind = "icon";
    options.heightWithMask = true;
    options.keepFourthByte = true;
    DibLayout layout;
    TBitmap32 picture = decodeDib(p, std::size_t(length), options, &layout);
    // A 32-bit picture carries its own alpha, and then its mask is only there
    // for programs that cannot use alpha (we do not even need it present).
    // Writers that leave every alpha byte 0 rely on the mask instead.
    if (layout.bitCount != 32 || !anyAlpha(picture))
        applyMask(picture, p, length, layout);
    return picture;
}

}  // namespace

TBitmap32 decodeIco(const std::uint8_t* data, std::size_t fileSize)
{
    const u64 size = data == nullptr ? 0 : fileSize;
    if (size < kHeaderSize)
        damaged("the header ends early.");
    const std::uint16_t type = readU16(data + 2);
    if (readU16(data) != 0 || (type != kIconType && type != kCursorType))
        damaged("it does not start with an icon header.");
    const u64 count = readU16(data + 4);
    if (count == 0)
        throw PlumoraError("The icon file holds no picture.");
    const u64 directoryEnd = kHeaderSize + count * kEntrySize;
    if (directoryEnd > size)
        damaged("the directory ends early.");

    // Choose before decoding anything: the largest picture by the directory,
    // then the deepest by its own header, then the first. The chosen picture
    // must be readable; a damaged one is an error even when another picture
    // in the file would decode, so a file always shows the same picture or none.
    Entry best;
    bool haveBest = false;
    for (u64 i = 0; i < count; ++i) {
        const std::uint8_t* d = data + kHeaderSize + i * kEntrySize;
        Entry e;
        const u64 width = d[0] == 0 ? 256 : d[0];
        const u64 height = d[1] == 0 ? 256 : d[1];
        e.area = width * height;
        e.length = readU32(d + 8);
        e.offset = readU32(d + 12);
        e.depth = depthOf(e, data, size);
        if (!haveBest || e.area > best.area || (e.area == best.area && e.depth > best.depth)) {
            best = e;
            haveBest = true;
        }
    }

    if (!inFile(best, size))
        damaged("its picture runs past the end of the file.");
    if (best.offset < directoryEnd)
        damaged("its picture overlaps the directory.");
    const std::uint8_t* p = data + best.offset;
    if (isPng(p, best.length))
        return decodePngEntry(p, best.length);
    return decodeDibEntry(p, best.length);
}

}  // namespace plumora
