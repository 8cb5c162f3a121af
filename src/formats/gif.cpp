#include "formats/gif.h"

#include "raster/errors.h"
#include "raster/limits.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace plumora {

namespace {

// The bytes giflib reads from, with how far it has got.
struct Source {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

// giflib's read callback: hands over what is left, up to `wanted`; a short
// count tells giflib the file has ended.
int readFromMemory(GifFileType* gif, GifByteType* out, int wanted)
{
    auto* source = static_cast<Source*>(gif->UserData);
    if (wanted <= 0)
        return 0;
    const std::size_t n = std::min(std::size_t(wanted), source->size - source->position);
    if (n > 0)
        std::memcpy(out, source->data + source->position, n);
    source->position += n;
    return int(n);
}

[[noreturn]] void cannotRead(int code)
{
    const char* why = GifErrorString(code);
    throw PlumoraError(std::string("The GIF file cannot be read: ") + (why != nullptr ? why : "unknown error"));
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

using Pixel = std::array<std::uint8_t, 4>;  // blue, green, red, fourth byte

Pixel pixelOf(const GifColorType& c, std::uint8_t fourth)
{
    return Pixel{c.Blue, c.Green, c.Red, fourth};
}

// The row of the picture that the i-th stored row belongs to. An interlaced
// picture stores every 8th row from row 0, then every 8th from row 4, every
// 4th from row 2 and every 2nd from row 1; giflib hands rows over in stored
// order.
std::vector<int> rowOrder(int height, bool interlaced)
{
    std::vector<int> order(static_cast<std::size_t>(height));
    if (!interlaced) {
        for (int i = 0; i < height; ++i)
            order[std::size_t(i)] = i;
        return order;
    }
    constexpr int kStart[4] = {0, 4, 2, 1};
    constexpr int kStep[4] = {8, 8, 4, 2};
    std::size_t i = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass])
            order[i++] = y;
    return order;
}

// The first picture's place and colours, as its descriptor gives them.
struct Descriptor {
    std::int64_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<GifColorType> colours;  // its own table, else the screen's; may be empty
};

std::vector<GifColorType> coloursOf(const ColorMapObject* map)
{
    if (map == nullptr)
        return {};
    return std::vector<GifColorType>(map->Colors, map->Colors + std::max(0, map->ColorCount));
}

// Index values reach 2047 with the widest codes (see decodeWideLzw).
constexpr std::size_t kMaxIndexes = 4096;

// See drawFirstPicture.
constexpr std::int64_t kScreenAlwaysAllowed = std::int64_t{1} << 24;
constexpr std::int64_t kLeastShareOfScreen = 16;

// Draws the first picture on its canvas. readIndexes gives its indexes, row
// after row in stored order, in a vector of GifPixelType or std::uint16_t;
// it is called once the sizes are known good. transparentIndex is the index
// its graphic control block makes transparent, or NO_TRANSPARENT_COLOR.
template <typename ReadIndexes>
TBitmap32 drawFirstPicture(const GifFileType& gif, const Descriptor& frame, int transparentIndex,
                           ReadIndexes readIndexes)
{
    const std::int64_t left = frame.left, top = frame.top;
    const std::int64_t width = frame.width, height = frame.height;
    if (left < 0 || top < 0 || width < 0 || height < 0)
        cannotRead(D_GIF_ERR_IMAGE_DEFECT);
    // Nothing of such a picture can be shown, and the screen around it
    // alone is not what the file was meant to hold.
    if (height == 0)
        throw PlumoraError("The GIF file cannot be read: its picture is 0 pixels high.");
    if (width == 0)
        throw PlumoraError("The GIF file cannot be read: its picture is 0 pixels wide.");
    checkPictureSize(width, height);
    // A screen too small for the picture (some writers leave the screen size
    // 0 or stale) is grown to hold all of it at its place, rather than cutting
    // the picture.
    const std::int64_t canvasWidth = std::max<std::int64_t>(gif.SWidth, left + width);
    const std::int64_t canvasHeight = std::max<std::int64_t>(gif.SHeight, top + height);
    checkPictureSize(canvasWidth, canvasHeight);
    // The screen around the picture is painted with the background, which
    // costs its every pixel though the file says nothing about them: 35 bytes
    // declaring a screen of 17664 x 15104 around one pixel took a gigabyte and
    // a second and a half. Real files give their first picture most of the
    // screen; a smaller one, as animations cropped to what is not transparent
    // have, is always read on a screen of up to kScreenAlwaysAllowed pixels
    // (4096 x 4096), and on a larger one when it covers a sixteenth of it.
    const std::int64_t canvasPixels = canvasWidth * canvasHeight;
    if (canvasPixels > kScreenAlwaysAllowed && width * height < canvasPixels / kLeastShareOfScreen)
        throw PlumoraError("The GIF file cannot be read: its picture of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels covers too little of its screen of " +
                           std::to_string(canvasWidth) + " x " + std::to_string(canvasHeight) + ".");

    // The indexes first, before the canvas is allocated: the buffer grows
    // with the rows actually decoded, so a header promising a huge picture
    // over a few bytes of data costs nothing before the data runs out.
    const auto indexes = readIndexes();

    // Indexes past the palette, or with no palette at all, are black.
    std::vector<Pixel> palette(kMaxIndexes, Pixel{0, 0, 0, 255});
    for (std::size_t i = 0; i < std::min<std::size_t>(frame.colours.size(), 256); ++i)
        palette[i] = pixelOf(frame.colours[i], 255);
    Pixel background{0, 0, 0, 0};
    const ColorMapObject* global = gif.SColorMap;
    if (global != nullptr && gif.SBackGroundColor >= 0 && gif.SBackGroundColor < global->ColorCount)
        background = pixelOf(global->Colors[gif.SBackGroundColor], 0);
    if (transparentIndex >= 0 && transparentIndex < 256)
        palette[std::size_t(transparentIndex)] = background;

    TBitmap32 canvas(static_cast<int>(canvasWidth), static_cast<int>(canvasHeight));
    std::uint8_t* row0 = canvas.ScanLine(0);
    for (int x = 0; x < canvas.width(); ++x)
        std::memcpy(row0 + 4 * x, background.data(), 4);
    for (int y = 1; y < canvas.height(); ++y)
        std::memcpy(canvas.ScanLine(y), row0, canvas.bytesPerLine());

    const std::vector<int> order = rowOrder(int(height), frame.interlaced);
    for (std::int64_t i = 0; i < height; ++i) {
        const auto* src = indexes.data() + i * width;
        std::uint8_t* dst = canvas.ScanLine(int(top) + order[std::size_t(i)]) + 4 * left;
        for (std::int64_t x = 0; x < width; ++x)
            std::memcpy(dst + 4 * x, palette[src[x]].data(), 4);
    }
    return canvas;
}

// The indexes of the picture whose descriptor giflib has just read, row by row.
std::vector<GifPixelType> readRows(GifFileType& gif, std::int64_t width, std::int64_t height)
{
    std::vector<GifPixelType> indexes;
    for (std::int64_t i = 0; i < height; ++i) {
        indexes.resize(std::size_t((i + 1) * width));
        if (DGifGetLine(&gif, indexes.data() + i * width, int(width)) == GIF_ERROR)
            cannotRead(gif.Error);
    }
    return indexes;
}

// ---- minimum code sizes above 8 ----
//
// giflib refuses a picture whose LZW minimum code size is above 8, since its
// indexes would not fit in a byte. Some encoders write 9 to 11 all the same
// (11 is the largest: its first codes are already the widest, 12 bits), and
// other readers read them, so such a picture is decoded here. Indexes past
// the palette come out black, as they do from giflib's pictures.

[[noreturn]] void pictureDataEndsEarly()
{
    throw PlumoraError("The GIF file cannot be read: its picture data ends early.");
}

[[noreturn]] void pictureDataDamaged()
{
    throw PlumoraError("The GIF file cannot be read: its picture data is damaged.");
}

// Where the minimum code size of the picture whose descriptor starts at
// data[at] lies (after the descriptor and its own colour table), or 0 when
// the file ends before it.
std::size_t codeSizeOffset(const std::uint8_t* data, std::size_t size, std::size_t at)
{
    if (size < 9 || at > size - 9)
        return 0;
    const std::uint8_t flags = data[at + 8];
    const std::size_t table = (flags & 0x80) != 0 ? std::size_t(3) << ((flags & 7) + 1) : 0;
    const std::size_t offset = at + 9 + table;
    return offset < size ? offset : 0;
}

// Reads the descriptor starting at data[at] ourselves, giflib refusing it
// (codeSizeOffset has checked that it is all there).
Descriptor readDescriptor(const GifFileType& gif, const std::uint8_t* data, std::size_t at)
{
    auto word = [&](std::size_t i) { return std::int64_t(data[at + i] | data[at + i + 1] << 8); };
    Descriptor d;
    d.left = word(0);
    d.top = word(2);
    d.width = word(4);
    d.height = word(6);
    const std::uint8_t flags = data[at + 8];
    d.interlaced = (flags & 0x40) != 0;
    if ((flags & 0x80) != 0) {
        const std::uint8_t* c = data + at + 9;
        for (int i = 0; i < 1 << ((flags & 7) + 1); ++i, c += 3)
            d.colours.push_back(GifColorType{c[0], c[1], c[2]});
    } else {
        d.colours = coloursOf(gif.SColorMap);
    }
    return d;
}

// The bits of the data sub-blocks from data[pos], low bits first.
class SubBlockBits {
public:
    SubBlockBits(const std::uint8_t* data, std::size_t size, std::size_t pos)
        : m_data(data), m_size(size), m_pos(pos), m_blockEnd(pos)
    {}

    // The next code of `width` bits; false when the data has ended.
    bool read(int width, int& code)
    {
        while (m_count < width) {
            if (m_pos == m_blockEnd) {
                // A block's length, 0 for the last; a file may end inside a block.
                if (m_ended || m_pos >= m_size || m_data[m_pos] == 0) {
                    m_ended = true;
                    return false;
                }
                m_blockEnd = std::min(m_size, m_pos + 1 + m_data[m_pos]);
                ++m_pos;
                continue;
            }
            m_bits |= std::uint32_t(m_data[m_pos++]) << m_count;
            m_count += 8;
        }
        code = int(m_bits & ((1u << width) - 1));
        m_bits >>= width;
        m_count -= width;
        return true;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos;
    std::size_t m_blockEnd;
    std::uint32_t m_bits = 0;
    int m_count = 0;
    bool m_ended = false;
};

// Decodes `pixels` indexes from the LZW data whose minimum code size is at
// data[at] (9 to 11), the sub-blocks following it. The result grows with the
// pixels decoded, as readRows' does. Pixels past the picture's last are
// ignored, and the data after its last pixel is not read.
std::vector<std::uint16_t> decodeWideLzw(const std::uint8_t* data, std::size_t size, std::size_t at, std::size_t pixels)
{
    constexpr int kMaxWidth = 12;
    constexpr int kTableSize = 1 << kMaxWidth;
    const int codeSize = data[at];
    const int clear = 1 << codeSize, end = clear + 1;
    // Each table entry is an earlier entry (its prefix) and one index more;
    // first and length let a string be written back to front in place.
    std::vector<std::uint16_t> prefix(kTableSize), last(kTableSize), first(kTableSize), length(kTableSize);
    for (int c = 0; c < clear; ++c) {
        last[std::size_t(c)] = first[std::size_t(c)] = std::uint16_t(c);
        length[std::size_t(c)] = 1;
    }
    int width = codeSize + 1, next = clear + 2, previous = -1;

    std::vector<std::uint16_t> out;
    SubBlockBits bits(data, size, at + 1);
    auto emit = [&](int code) {
        // Written whole even past the picture's end, then cut.
        const std::size_t start = out.size();
        out.resize(start + length[std::size_t(code)]);
        for (std::size_t i = out.size(); i-- > start; code = prefix[std::size_t(code)])
            out[i] = last[std::size_t(code)];
    };
    while (out.size() < pixels) {
        int code = 0;
        if (!bits.read(width, code) || code == end)
            pictureDataEndsEarly();
        if (code == clear) {
            width = codeSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code >= clear)
                pictureDataDamaged();  // the first code after a clear is an index
            emit(code);
            previous = code;
            continue;
        }
        // A code for the entry about to be made is the previous string and
        // its own first index.
        if (code > next)
            pictureDataDamaged();
        const std::uint16_t firstOfNew = first[std::size_t(code == next ? previous : code)];
        if (next < kTableSize) {
            prefix[std::size_t(next)] = std::uint16_t(previous);
            last[std::size_t(next)] = firstOfNew;
            first[std::size_t(next)] = first[std::size_t(previous)];
            length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
            ++next;
            if (next == 1 << width && width < kMaxWidth)
                ++width;
        }
        emit(code);
        previous = code;
    }
    out.resize(pixels);
    return out;
}

}  // namespace

TBitmap32 decodeGif(const std::uint8_t* data, std::size_t size)
{
    Source source{data, data == nullptr ? 0 : size, 0};
    int error = D_GIF_SUCCEEDED;
    GifPtr gif(DGifOpen(&source, readFromMemory, &error));
    if (!gif)
        cannotRead(error);
    checkPictureSize(gif->SWidth, gif->SHeight);

    // Only the records up to the first picture are read: an animation's
    // later frames are never shown, and reading them all (as DGifSlurp does)
    // would let a hostile file cost unbounded time and memory.
    int transparentIndex = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
            cannotRead(gif->Error);
        if (record == IMAGE_DESC_RECORD_TYPE) {
            // The descriptor starts where giflib has got to: it reads the
            // file through us, no further than it needs.
            const std::size_t at = source.position;
            const std::size_t codeSizeAt = codeSizeOffset(source.data, source.size, at);
            if (codeSizeAt != 0 && source.data[codeSizeAt] > 8) {
                const int codeSize = source.data[codeSizeAt];
                if (codeSize > 11)
                    throw PlumoraError("The GIF file cannot be read: its picture uses LZW code size " +
                                       std::to_string(codeSize) + ", which is not possible.");
                const Descriptor frame = readDescriptor(*gif, source.data, at);
                return drawFirstPicture(*gif, frame, transparentIndex, [&] {
                    return decodeWideLzw(source.data, source.size, codeSizeAt, std::size_t(frame.width * frame.height));
                });
            }
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
                cannotRead(gif->Error);
            const GifImageDesc& image = gif->Image;
            Descriptor frame{image.Left,      image.Top,
                             image.Width,     image.Height,
                             image.Interlace, coloursOf(image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap)};
            return drawFirstPicture(*gif, frame, transparentIndex,
                                    [&] { return readRows(*gif, frame.width, frame.height); });
        }
        if (record == TERMINATE_RECORD_TYPE)
            throw PlumoraError("The GIF file holds no picture.");
        if (record != EXTENSION_RECORD_TYPE)
            cannotRead(D_GIF_ERR_WRONG_RECORD);

        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
            cannotRead(gif->Error);
        // A graphic control block describes the picture that follows it; of
        // several before the first picture, the last one counts. block[0] is
        // the block's length, its bytes follow.
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] == 4) {
            GraphicsControlBlock control{};
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparentIndex = control.TransparentColor;
        }
        while (block != nullptr)
            if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                cannotRead(gif->Error);
    }
}

}  // namespace plumora
