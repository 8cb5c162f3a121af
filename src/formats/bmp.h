#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// Decodes a BMP file held in memory into a 32-bit picture of its size.
// The fourth byte is the file's alpha where the file has one (32-bit files
// with an alpha mask), 0 otherwise. Throws PlumoraError (or
// ImageTooLargeError) with a message for the user on anything malformed;
// never reads outside data.
TBitmap32 decodeBmp(const std::uint8_t* data, std::size_t size);

// How decodeDib reads a bitmap held inside another file.
struct DibOptions {
    // Names the file in messages: "The <fileKind> file is damaged: ...".
    const char* fileKind = "BMP";
    // The header's height counts the picture and a 1-bit mask of the same size
    // stored after it, as icons and cursors do: only the picture is decoded.
    bool heightWithMask = false;
    // 32-bit pixels without colour masks keep their fourth byte as stored
    // (icons carry alpha there) instead of getting 0.
    bool keepFourthByte = false;
};

// What decodeDib learnt from the header, for callers that read on past the
// pixels (an icon's mask).
struct DibLayout {
    int bitCount = 0;
    bool topDown = false;
    // Offset in data just past the picture's rows, each padded to 4 bytes;
    // it may lie past the end of data when the last row's padding is missing.
    std::uint64_t pixelsEnd = 0;
};

// Decodes a bitmap without the 14-byte file header: an info header, its colour
// masks and colour table, and the pixels right after them. Same decoder,
// checks and messages as decodeBmp.
TBitmap32 decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options = {},
                    DibLayout* found = nullptr);

// Receives a file's bytes in order, a piece at a time.
using ByteSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

// Encodes a picture as a 24-bit BMP (bottom-up, BITMAPINFOHEADER).
std::vector<std::uint8_t> encodeBmp24(const TBitmap32& picture);

// The same bytes as encodeBmp24, handed to write in pieces of about a
// megabyte (the header, then bands of rows), so that saving a large picture
// does not need the whole file in memory as well as the picture.
void writeBmp24(const TBitmap32& picture, const ByteSink& write);

// Encodes a picture as a 32-bit BMP (bottom-up, BITMAPINFOHEADER, no masks),
// the format of the wallpaper file. The fourth byte of every pixel is
// written as 255: with this header it has no defined meaning and most
// readers ignore it, but the few that take it as alpha would show a picture
// whose fourth bytes are 0 as fully transparent.
std::vector<std::uint8_t> encodeBmp32(const TBitmap32& picture);

}  // namespace plumora
