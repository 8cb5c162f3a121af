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

using Pixel = std::array<std::uint8_t, 4>; // blue, green, red, fourth byte

Pixel pixelOf(const GifColorType& c, std::uint8_t fourth)
{
    return Pixel { c.Blue, c.Green, c.Red, fourth };
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
    constexpr int kStart[4] = { 0, 4, 2, 1 };
    constexpr int kStep[4] = { 8, 8, 4, 2 };
    std::size_t i = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass])
            order[i++] = y;
    return order;
}

// Draws the picture whose descriptor giflib has just read (gif.Image) on its
// canvas. transparentIndex is the index its graphic control block makes
// transparent, or NO_TRANSPARENT_COLOR.
TBitmap32 drawFirstPicture(GifFileType& gif, int transparentIndex)
{
    const GifImageDesc& frame = gif.Image;
    const std::int64_t left = frame.Left, top = frame.Top;
    const std::int64_t width = frame.Width, height = frame.Height;
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

    // The indexes first, before the canvas is allocated: the buffer grows
    // with the rows actually decoded, so a header promising a huge picture
    // over a few bytes of data costs nothing before the data runs out.
    std::vector<GifPixelType> indexes;
    for (std::int64_t i = 0; i < height; ++i) {
        indexes.resize(std::size_t((i + 1) * width));
        if (DGifGetLine(&gif, indexes.data() + i * width, int(width)) == GIF_ERROR)
            cannotRead(gif.Error);
    }

    // Indexes past the palette, or with no palette at all, are black.
    std::array<Pixel, 256> palette;
    palette.fill(Pixel { 0, 0, 0, 255 });
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif.SColorMap;
    if (map != nullptr)
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
            palette[std::size_t(i)] = pixelOf(map->Colors[i], 255);
    Pixel background { 0, 0, 0, 0 };
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

    const std::vector<int> order = rowOrder(int(height), frame.Interlace);
    for (std::int64_t i = 0; i < height; ++i) {
        const GifPixelType* src = indexes.data() + i * width;
        std::uint8_t* dst = canvas.ScanLine(int(top) + order[std::size_t(i)]) + 4 * left;
        for (std::int64_t x = 0; x < width; ++x)
            std::memcpy(dst + 4 * x, palette[src[x]].data(), 4);
    }
    return canvas;
}

} // namespace

TBitmap32 decodeGif(const std::uint8_t* data, std::size_t size)
{
    Source source { data, data == nullptr ? 0 : size, 0 };
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
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
                cannotRead(gif->Error);
            return drawFirstPicture(*gif, transparentIndex);
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
            GraphicsControlBlock control {};
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparentIndex = control.TransparentColor;
        }
        while (block != nullptr)
            if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                cannotRead(gif->Error);
    }
}

} // namespace plumora
