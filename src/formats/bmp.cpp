#include "formats/bmp.h"

#include "formats/bytes.h"
#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

namespace plumora {

namespace {

using bytes::readU16;
using bytes::readU32;
using bytes::writeU16;
using bytes::writeU32;

// Every figure read from a file is widened to 64 bits before it is used in
// an offset or size computation: the header fields are 32-bit and a sum or
// product of two of them may not fit in 32 bits.
using u64 = std::uint64_t;

constexpr u64 kFileHeaderSize = 14;

// Info header sizes we know. 64 is the OS/2 2.x header: its first 40 bytes
// are laid out like BITMAPINFOHEADER, the rest we do not need.
constexpr std::uint32_t kCoreHeader = 12;
constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint32_t kV2Header = 52;  // + red, green, blue masks
constexpr std::uint32_t kV3Header = 56;  // + alpha mask
constexpr std::uint32_t kOs2Header = 64;
constexpr std::uint32_t kV4Header = 108;
constexpr std::uint32_t kV5Header = 124;

enum Compression : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitfields = 3,  // OS/2 2.x: Huffman 1D
    kJpeg = 4,       // OS/2 2.x: RLE24
    kPng = 5,
    kAlphaBitfields = 6,
};

// The same decoder reads BMP files and the bitmaps icons hold, so messages
// name the kind of file the user opened ("BMP", "icon").
[[noreturn]] void damaged(const char* kind, const std::string& why)
{
    throw PlumoraError(std::string("The ") + kind + " file is damaged: " + why);
}

[[noreturn]] void unsupportedCompression(const char* kind)
{
    throw PlumoraError(std::string("This ") + kind + " file uses a compression Plumora cannot read.");
}

// A pixel as it lies in the picture: blue, green, red, fourth byte.
using Pixel = std::array<std::uint8_t, 4>;

inline void putPixel(std::uint8_t* dst, const Pixel& p)
{
    std::memcpy(dst, p.data(), 4);
}

// One colour field of a 16- or 32-bit pixel, given by its mask and scaled to
// 0..255 with exact rounding, (v * 255 + max / 2) / max, so a 5-bit 31 and a
// 10-bit 1023 both give 255 and a field of 8 bits is taken as it is. Fields up
// to 16 bits wide go through a table; wider ones (rare) are computed. The mask
// must be contiguous (see contiguousMask).
class Channel {
public:
    // Mask 0: the field is always 0.
    Channel() : m_table(1, 0) {}

    explicit Channel(std::uint32_t mask) : m_mask(mask)
    {
        if (mask == 0) {
            m_table.assign(1, 0);
            return;
        }
        m_shift = std::countr_zero(mask);
        const u64 field = u64(mask) >> m_shift;
        m_max = field;
        if (field <= 0xFFFF) {
            m_table.resize(std::size_t(field) + 1);
            for (u64 v = 0; v <= field; ++v)
                m_table[std::size_t(v)] = scale(v);
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        const std::uint32_t v = (pixel & m_mask) >> m_shift;
        return m_table.empty() ? scale(v) : m_table[v];
    }

    bool present() const { return m_mask != 0; }

private:
    std::uint8_t scale(u64 v) const { return std::uint8_t((v * 255 + m_max / 2) / m_max); }

    std::uint32_t m_mask = 0;
    int m_shift = 0;
    u64 m_max = 1;
    std::vector<std::uint8_t> m_table;
};

bool contiguousMask(std::uint32_t mask)
{
    if (mask == 0)
        return true;
    const u64 field = u64(mask) >> std::countr_zero(mask);
    return (field & (field + 1)) == 0;
}

// What the headers tell us, checked.
struct Layout {
    const char* kind = "BMP";     // for messages
    bool keepFourthByte = false;  // 32-bit pixels without masks: the fourth byte as stored, not 0
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // positive; topDown says which way the rows run
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kRgb;
    u64 dataOffset = 0;
    std::array<Pixel, 256> palette{};  // indexes past the file's table stay black
    Channel red, green, blue, alpha;
};

void readMasks(Layout& layout, const std::uint8_t* p, bool withAlpha)
{
    const std::uint32_t limit = layout.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    const std::uint32_t r = readU32(p), g = readU32(p + 4), b = readU32(p + 8);
    if ((r | g | b) & ~limit)
        damaged(layout.kind, "its colour masks do not fit its pixels.");
    const bool alpha = withAlpha && layout.bitCount == 32;
    if (!contiguousMask(r) || !contiguousMask(g) || !contiguousMask(b) || (alpha && !contiguousMask(readU32(p + 12))))
        damaged(layout.kind, "its colour masks are not contiguous.");
    layout.red = Channel(r);
    layout.green = Channel(g);
    layout.blue = Channel(b);
    // Only 32-bit pixels carry an alpha we give back; a 16-bit file's alpha
    // mask is not even looked at.
    if (alpha)
        layout.alpha = Channel(readU32(p + 12));
}

// Where the pixels start when no file header says so: a bare bitmap, as icons
// hold them, has its pixels right after its colour table.
constexpr u64 kPixelsAfterTable = ~u64(0);

// Reads the info header at data[infoStart], then the colour masks and the
// colour table after it. dataOffset is the file header's pixel data offset, or
// kPixelsAfterTable.
Layout readInfo(const std::uint8_t* data, u64 size, u64 infoStart, u64 dataOffset, const DibOptions& options)
{
    Layout layout;
    layout.kind = options.fileKind;
    layout.keepFourthByte = options.keepFourthByte;
    const char* kind = layout.kind;
    if (size < infoStart + 4)
        damaged(kind, "the header ends early.");
    layout.headerSize = readU32(data + infoStart);
    const std::uint32_t hs = layout.headerSize;
    if (hs != kCoreHeader && hs != kInfoHeader && hs != kV2Header && hs != kV3Header && hs != kOs2Header &&
        hs != kV4Header && hs != kV5Header)
        throw PlumoraError(std::string("This ") + kind + " file has a header Plumora does not know (" +
                           std::to_string(hs) + " bytes).");
    if (size < infoStart + hs)
        damaged(kind, "the header ends early.");

    const std::uint8_t* h = data + infoStart;
    u64 paletteStart = infoStart + hs;
    u64 paletteEntrySize = 4;
    u64 declaredColours = 0;  // 0: as many as the depth allows

    if (hs == kCoreHeader) {
        layout.width = readU16(h + 4);
        layout.height = readU16(h + 6);
        layout.bitCount = readU16(h + 10);
        paletteEntrySize = 3;
    } else {
        layout.width = std::int32_t(readU32(h + 4));
        const std::int64_t height = std::int32_t(readU32(h + 8));
        layout.topDown = height < 0;
        layout.height = height < 0 ? -height : height;
        layout.bitCount = readU16(h + 14);
        layout.compression = readU32(h + 16);
        declaredColours = readU32(h + 32);
    }
    // An icon's header counts the picture and its mask; an odd count leaves
    // a row that belongs to neither, which we ignore.
    if (options.heightWithMask)
        layout.height /= 2;

    // The compression first: files holding a JPEG or PNG give 0 bits a pixel.
    const std::uint32_t c = layout.compression;
    if (hs == kOs2Header && (c == kBitfields || c == kJpeg))
        unsupportedCompression(kind);  // OS/2 Huffman 1D and RLE24
    if (c == kJpeg || c == kPng)
        throw PlumoraError(std::string("This ") + kind + " file holds a " + (c == kJpeg ? "JPEG" : "PNG") +
                           " picture inside a bitmap, which Plumora cannot read.");
    if (c != kRgb && c != kRle8 && c != kRle4 && c != kBitfields && c != kAlphaBitfields)
        unsupportedCompression(kind);

    const int bits = layout.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw PlumoraError(std::string("This ") + kind + " file uses " + std::to_string(bits) +
                           " bits a pixel, which Plumora cannot read.");
    if ((c == kRle8 && bits != 8) || (c == kRle4 && bits != 4) ||
        ((c == kBitfields || c == kAlphaBitfields) && bits != 16 && bits != 32))
        damaged(kind, "its compression does not match its bit depth.");

    if (layout.width <= 0)
        damaged(kind, "the picture has no width.");
    if (layout.height == 0)
        damaged(kind, "the picture has no height.");
    if (layout.topDown && (c == kRle8 || c == kRle4))
        damaged(kind, "a compressed picture cannot be stored top-down.");
    // A compressed picture has no known end, so nothing tells where its mask would start.
    if (options.heightWithMask && (c == kRle8 || c == kRle4))
        damaged(kind, "a compressed picture cannot carry a mask.");
    checkPictureSize(layout.width, layout.height);

    if (c == kBitfields || c == kAlphaBitfields) {
        if (hs == kInfoHeader) {
            // The masks follow the header: three, or four with an alpha mask.
            const u64 count = c == kAlphaBitfields ? 4 : 3;
            if (size < paletteStart + 4 * count)
                damaged(kind, "the header ends early.");
            readMasks(layout, data + paletteStart, c == kAlphaBitfields);
            paletteStart += 4 * count;
        } else {
            readMasks(layout, h + 40, hs >= kV3Header);
        }
    } else if (bits == 16) {
        layout.red = Channel(0x7C00);
        layout.green = Channel(0x03E0);
        layout.blue = Channel(0x001F);
    } else if (bits == 32) {
        // Without masks a 32-bit pixel is blue, green, red and an unused byte:
        // the fourth byte is 0 like in every file without an alpha mask.
        layout.red = Channel(0x00FF0000);
        layout.green = Channel(0x0000FF00);
        layout.blue = Channel(0x000000FF);
    }

    // The colours-used field. Up to 8 bits a pixel the table cannot hold
    // more colours than the pixels can index; above, it is an optional hint
    // for displays of 256 colours and holds no more than those. A larger
    // count (305402420 has been seen) is a damaged or hostile header.
    const u64 maxColours = bits <= 8 ? u64(1) << bits : 256;
    if (declaredColours > maxColours)
        damaged(kind, "its colour table declares " + std::to_string(declaredColours) + " colours, more than " +
                          (bits <= 8 ? std::to_string(maxColours) + " for " + std::to_string(bits) + " bits a pixel."
                                     : "the 256 a colour table may hold."));

    if (dataOffset == kPixelsAfterTable) {
        // Without a file header the table holds the colours the header
        // declares, or as many as the depth allows (none above 8 bits), and
        // nothing else tells us its end.
        const u64 entries = declaredColours != 0 ? declaredColours : bits <= 8 ? u64(1) << bits : 0;
        dataOffset = paletteStart + entries * paletteEntrySize;  // at most 2^32 * 4: no overflow
        if (dataOffset > size)
            damaged(kind, "its colour table ends early.");
    }
    layout.dataOffset = dataOffset;
    if (layout.dataOffset < paletteStart || layout.dataOffset > size)
        damaged(kind, "its pixel data offset is invalid.");
    // A table the header declares must lie whole before the pixels. (Without
    // a count the table is as long as the depth allows, and a shorter one is
    // common; see below.)
    if (declaredColours * paletteEntrySize > layout.dataOffset - paletteStart)
        damaged(kind, "its colour table runs into the pixel data.");

    if (bits <= 8) {
        // The table runs from the end of the headers to the pixel data. A table
        // shorter than the depth allows is common (and the only way a core
        // header says so); its missing colours stay black.
        u64 count = u64(1) << bits;
        if (declaredColours != 0)
            count = std::min(count, declaredColours);
        count = std::min(count, (layout.dataOffset - paletteStart) / paletteEntrySize);
        for (u64 i = 0; i < count; ++i) {
            const std::uint8_t* e = data + paletteStart + i * paletteEntrySize;
            layout.palette[std::size_t(i)] = Pixel{e[0], e[1], e[2], 0};
        }
    }
    return layout;
}

Layout readHeaders(const std::uint8_t* data, u64 size)
{
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        throw PlumoraError("This is not a BMP file.");
    if (size < kFileHeaderSize + 4)
        damaged("BMP", "the header ends early.");
    return readInfo(data, size, kFileHeaderSize, readU32(data + 10), DibOptions{});
}

void decodeRow(const Layout& layout, const std::uint8_t* src, std::uint8_t* dst, int width)
{
    switch (layout.bitCount) {
    case 1:
        for (int x = 0; x < width; ++x)
            putPixel(dst + 4 * x, layout.palette[(src[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
    case 4:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t b = src[x >> 1];
            putPixel(dst + 4 * x, layout.palette[(x & 1) ? (b & 15) : (b >> 4)]);
        }
        break;
    case 8:
        for (int x = 0; x < width; ++x)
            putPixel(dst + 4 * x, layout.palette[src[x]]);
        break;
    case 24:
        for (int x = 0; x < width; ++x, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
        break;
    case 16:
        for (int x = 0; x < width; ++x, src += 2, dst += 4) {
            const std::uint32_t v = readU16(src);
            dst[0] = layout.blue(v);
            dst[1] = layout.green(v);
            dst[2] = layout.red(v);
            dst[3] = 0;
        }
        break;
    case 32:
        if (layout.compression == kRgb) {
            // The common case, and the one large files use: bytes as they are.
            const std::uint8_t fourthMask = layout.keepFourthByte ? 0xFF : 0;
            for (int x = 0; x < width; ++x, src += 4, dst += 4) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = src[3] & fourthMask;
            }
        } else {
            for (int x = 0; x < width; ++x, src += 4, dst += 4) {
                const std::uint32_t v = readU32(src);
                dst[0] = layout.blue(v);
                dst[1] = layout.green(v);
                dst[2] = layout.red(v);
                dst[3] = layout.alpha(v);
            }
        }
        break;
    }
}

TBitmap32 decodeUncompressed(const Layout& layout, const std::uint8_t* data, u64 size)
{
    const u64 rowBits = u64(layout.width) * u64(layout.bitCount);
    const u64 rowStride = (rowBits + 31) / 32 * 4;
    // A file cut inside its last row's padding is accepted, as common viewers
    // do: the padding carries nothing and some writers leave it out.
    const u64 needed = rowStride * u64(layout.height - 1) + (rowBits + 7) / 8;
    if (size - layout.dataOffset < needed)
        damaged(layout.kind, "the pixel data ends early.");

    const int width = int(layout.width);
    const int height = int(layout.height);
    TBitmap32 picture(width, height);
    const std::uint8_t* pixels = data + layout.dataOffset;
    std::uint8_t* out = picture.bits();
    const std::size_t outStride = picture.bytesPerLine();
    parallelRows(height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const u64 fileRow = layout.topDown ? u64(y) : u64(height - 1 - y);
            decodeRow(layout, pixels + fileRow * rowStride, out + std::size_t(y) * outStride, width);
        }
    });
    return picture;
}

// RLE8 and RLE4. Pixels the stream never writes (skipped by a delta, by an
// early end of line or end of picture) keep the colour of index 0, as if the
// picture had been decoded into an index buffer cleared to zero.
//
// Runs that go past the end of a row are clipped: the pixels past the right
// edge are dropped, they do not wrap onto the next row, and a delta that moves
// past the last row ends the picture. The stream must end with the end of
// picture code or after the last row's end of line; running out before is a
// truncated file.
//
// walkRle reads the stream and hands each run, clipped to its row, to
// draw(row, x, count, indexOf), rows counted from the bottom as the file
// stores them and indexOf(i) the index of the run's i-th pixel. It returns
// false when the data runs out before the stream ends.
template <typename Draw>
bool walkRle(const Layout& layout, const std::uint8_t* data, u64 size, Draw&& draw)
{
    const int width = int(layout.width);
    const int height = int(layout.height);
    const bool rle4 = layout.compression == kRle4;

    u64 pos = layout.dataOffset;
    int x = 0;
    int row = 0;
    auto put = [&](int count, auto indexOf) {
        const int n = std::min(count, width - x);
        if (n > 0)
            draw(row, x, n, indexOf);
        x = std::min(width, x + count);
    };

    for (;;) {
        if (row >= height)
            return true;
        if (size - pos < 2)
            return false;
        const int count = data[pos];
        const int value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            if (rle4) {
                const int hi = value >> 4, lo = value & 15;
                put(count, [&](int i) { return (i & 1) ? lo : hi; });
            } else {
                put(count, [&](int) { return value; });
            }
        } else if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of picture
            return true;
        } else if (value == 2) {  // delta: move right and up
            if (size - pos < 2)
                return false;
            x = std::min(width, x + data[pos]);
            row += data[pos + 1];
            pos += 2;
        } else {  // absolute run of `value` indexes, padded to a 16-bit boundary
            const u64 bytes = rle4 ? (u64(value) + 1) / 2 : u64(value);
            const u64 padded = (bytes + 1) & ~u64(1);
            if (size - pos < padded)
                return false;
            const std::uint8_t* run = data + pos;
            if (rle4)
                put(value, [&](int i) { return (i & 1) ? (run[i >> 1] & 15) : (run[i >> 1] >> 4); });
            else
                put(value, [&](int i) { return int(run[i]); });
            pos += padded;
        }
    }
}

// A picture larger than this may not leave more than 15 in 16 of its pixels
// to index 0 (see decodeRle).
constexpr u64 kUndrawnAlwaysAllowed = u64(1) << 24;
constexpr u64 kLeastShareDrawn = 16;

TBitmap32 decodeRle(const Layout& layout, const std::uint8_t* data, u64 size)
{
    const int width = int(layout.width);
    const int height = int(layout.height);

    // The stream is read once without drawing, which costs a few steps for
    // each of its codes and nothing for the picture: a file that runs out is
    // refused before the picture is taken (a kilobyte of deltas climbing a
    // picture 16 million rows high took half a gigabyte before), and so is
    // one that draws next to nothing of a large picture. The end of picture
    // code and deltas let a kilobyte declare 8 x 16777215 pixels and leave
    // them all to index 0, costing the picture's half gigabyte to fill and
    // more to write out. Real encoders write every pixel, or stop early on a
    // blank top of the picture; up to kUndrawnAlwaysAllowed pixels (64 MB)
    // any picture is read, and a larger one that draws a sixteenth of it.
    u64 drawn = 0;
    if (!walkRle(layout, data, size, [&](int, int, int count, auto) { drawn += u64(count); }))
        damaged(layout.kind, "the pixel data ends early.");
    const u64 pixels = u64(width) * u64(height);
    if (pixels > kUndrawnAlwaysAllowed && drawn < pixels / kLeastShareDrawn)
        throw PlumoraError(std::string("The ") + layout.kind + " file cannot be read: its compressed data draws only " +
                           std::to_string(drawn) + " of its " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels.");

    TBitmap32 picture(width, height);
    std::uint8_t* out = picture.bits();
    const std::size_t outStride = picture.bytesPerLine();
    for (int x = 0; x < width; ++x)
        putPixel(out + 4 * x, layout.palette[0]);
    for (int y = 1; y < height; ++y)
        std::memcpy(out + y * outStride, out, outStride);
    walkRle(layout, data, size, [&](int row, int x, int count, auto indexOf) {
        std::uint8_t* dst = out + std::size_t(height - 1 - row) * outStride + std::size_t(x) * 4;
        for (int i = 0; i < count; ++i)
            putPixel(dst + 4 * i, layout.palette[indexOf(i)]);
    });
    return picture;
}

TBitmap32 decodePixels(const Layout& layout, const std::uint8_t* data, u64 size)
{
    if (layout.compression == kRle8 || layout.compression == kRle4)
        return decodeRle(layout, data, size);
    return decodeUncompressed(layout, data, size);
}

}  // namespace

TBitmap32 decodeBmp(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr)
        size = 0;
    return decodePixels(readHeaders(data, size), data, size);
}

TBitmap32 decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options, DibLayout* found)
{
    if (data == nullptr)
        size = 0;
    const Layout layout = readInfo(data, size, 0, kPixelsAfterTable, options);
    if (found != nullptr) {
        const u64 rowStride = (u64(layout.width) * u64(layout.bitCount) + 31) / 32 * 4;
        found->bitCount = layout.bitCount;
        found->topDown = layout.topDown;
        found->pixelsEnd = layout.dataOffset + rowStride * u64(layout.height);
    }
    return decodePixels(layout, data, size);
}

namespace {

// A bottom-up BITMAPINFOHEADER file of 24 bits (fourth byte dropped, rows
// padded to 4 bytes) or 32 bits (fourth byte written as 255: the few readers
// that take it as alpha would otherwise show nothing), handed to write in
// pieces: the headers, then bands of rows of about kBandBytes, each converted
// on all cores.
constexpr u64 kBandBytes = u64(1) << 20;
constexpr u64 kHeaders = kFileHeaderSize + kInfoHeader;

struct FileShape {
    u64 rowStride = 0;
    u64 fileSize = 0;
};

FileShape checkEncodable(const TBitmap32& picture, int bitsPerPixel)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    const u64 rowStride = (u64(picture.width()) * u64(bitsPerPixel / 8) + 3) & ~u64(3);
    const u64 fileSize = kHeaders + rowStride * u64(picture.height());
    if (fileSize > 0xFFFFFFFFu)
        throw PlumoraError("The picture is too large to be saved as a BMP file.");
    return {rowStride, fileSize};
}

void writeUncompressed(const TBitmap32& picture, int bitsPerPixel, const ByteSink& write)
{
    const FileShape shape = checkEncodable(picture, bitsPerPixel);
    const int width = picture.width();
    const int height = picture.height();
    const int bytesPerPixel = bitsPerPixel / 8;
    const u64 rowStride = shape.rowStride;

    std::uint8_t h[kHeaders] = {};
    h[0] = 'B';
    h[1] = 'M';
    writeU32(h + 2, std::uint32_t(shape.fileSize));
    writeU32(h + 10, std::uint32_t(kHeaders));
    std::uint8_t* info = h + kFileHeaderSize;
    writeU32(info, kInfoHeader);
    writeU32(info + 4, std::uint32_t(width));
    writeU32(info + 8, std::uint32_t(height));  // positive: bottom-up
    writeU16(info + 12, 1);                     // planes
    writeU16(info + 14, std::uint32_t(bitsPerPixel));
    writeU32(info + 16, kRgb);
    writeU32(info + 20, std::uint32_t(shape.fileSize - kHeaders));
    constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots an inch
    writeU32(info + 24, kPixelsPerMetre);
    writeU32(info + 28, kPixelsPerMetre);
    // Colours used and important stay 0.
    write(h, sizeof h);

    // The file stores the bottom row first: its row r is the picture's row
    // height - 1 - r. A band is rows start to start + rows of the file.
    const int bandRows = int(std::clamp<u64>(kBandBytes / rowStride, 1, u64(height)));
    std::vector<std::uint8_t> band(std::size_t(rowStride) * std::size_t(bandRows), 0);  // padding stays 0
    for (int start = 0; start < height; start += bandRows) {
        const int rows = std::min(bandRows, height - start);
        parallelRows(rows, [&](int r0, int r1) {
            for (int r = r0; r < r1; ++r) {
                const std::uint8_t* src = picture.bits() + std::size_t(height - 1 - start - r) * picture.bytesPerLine();
                std::uint8_t* dst = band.data() + u64(r) * rowStride;
                for (int x = 0; x < width; ++x, src += 4, dst += bytesPerPixel) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                    if (bytesPerPixel == 4)
                        dst[3] = 255;
                }
            }
        });
        write(band.data(), std::size_t(u64(rows) * rowStride));
    }
}

std::vector<std::uint8_t> encodeUncompressed(const TBitmap32& picture, int bitsPerPixel)
{
    std::vector<std::uint8_t> file;
    file.reserve(std::size_t(checkEncodable(picture, bitsPerPixel).fileSize));
    writeUncompressed(picture, bitsPerPixel,
                      [&](const std::uint8_t* data, std::size_t size) { file.insert(file.end(), data, data + size); });
    return file;
}

}  // namespace

std::vector<std::uint8_t> encodeBmp24(const TBitmap32& picture)
{
    return encodeUncompressed(picture, 24);
}

void writeBmp24(const TBitmap32& picture, const ByteSink& write)
{
    writeUncompressed(picture, 24, write);
}

std::vector<std::uint8_t> encodeBmp32(const TBitmap32& picture)
{
    return encodeUncompressed(picture, 32);
}

}  // namespace plumora
