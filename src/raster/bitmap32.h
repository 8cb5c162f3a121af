#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plumora {

// A block of pixel memory: freed, it goes back to the pool of freed blocks
// (see below) when it is large enough to be kept.
struct PixelBlockDeleter {
    // The size the block was taken with when it belongs to the pool; 0 for a
    // small block from the heap (and for no block).
    std::size_t pooledBytes = 0;
    void operator()(std::uint8_t* block) const noexcept;
};
using PixelBlock = std::unique_ptr<std::uint8_t[], PixelBlockDeleter>;

// bytes of memory whose content is unspecified, from the pool of freed blocks
// when one of that size is kept, else from the system. For pictures and for
// an effect's working planes alike (a byte a pixel, say), so that repeating an
// effect finds its working memory where it left it. Throws std::bad_alloc.
PixelBlock takePixelBlock(std::size_t bytes);

// The pool of freed blocks. A block from the system costs the kernel a zeroed
// page for every page of it, which at 24 megapixels took longer than most
// effects that fill it, and the program keeps making blocks of the sizes it
// works on (each effect's result and working pictures, each step brought
// back). So freed blocks of 128 KiB and more are kept, of any size and as
// many as fit in a bound of bytes, and the next request of the same size
// takes the one freed last. The oldest go back to the system first: when
// the bound would be passed, when a request no kept block fits needs room
// (the pool then never adds to what the program held before), and all of
// them when the system refuses memory.
struct FreedBlockCounts {
    int blocks = 0;            // kept now
    std::size_t bytes = 0;     // kept now
    std::size_t limit = 0;     // at most kept
    std::uint64_t reused = 0;  // requests served from the pool, ever
    std::uint64_t fresh = 0;   // requests of a pooled size served by the system, ever
};
FreedBlockCounts freedBlockCounts();
// Gives every kept block back to the system; returns the bytes given back.
std::size_t releaseFreedBlocks() noexcept;
// The bound (by default an eighth of the machine's memory, at most 512 MiB);
// what is kept beyond it goes back at once. Returns the bound before.
std::size_t setFreedBlockLimit(std::size_t bytes) noexcept;

// Byte offsets of the channels inside one 4-byte pixel.
inline constexpr int kBlue = 0;
inline constexpr int kGreen = 1;
inline constexpr int kRed = 2;
inline constexpr int kAlpha = 3;  // "the fourth byte"

// The one raster type of the program: width x height pixels of 4 bytes
// (blue, green, red, fourth byte), rows top-down with no padding in one block.
// That layout is exactly what QImage::Format_RGB32 / Format_ARGB32 expect on
// a little-endian machine, so the windows wrap a TBitmap32 without copying.
//
// It is a value type: copying copies the pixels, moving steals them.
class TBitmap32 {
public:
    TBitmap32() = default;
    // A width x height picture whose pixels are not initialised: every caller
    // writes all of them. Throws ImageTooLargeError for sizes we refuse.
    TBitmap32(int width, int height);

    TBitmap32(const TBitmap32& other);
    TBitmap32& operator=(const TBitmap32& other);
    TBitmap32(TBitmap32&& other) noexcept;
    TBitmap32& operator=(TBitmap32&& other) noexcept;
    ~TBitmap32() = default;

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool empty() const { return m_width <= 0 || m_height <= 0; }
    std::size_t byteCount() const { return std::size_t(m_width) * std::size_t(m_height) * 4; }
    std::size_t bytesPerLine() const { return std::size_t(m_width) * 4; }

    // Resizes; the content afterwards is unspecified (callers write every pixel).
    // Keeps the block when the pixel count does not change.
    void setSize(int width, int height);

    // The address of row y's first byte; throws ScanLineError ("Scan line index
    // out of range") outside 0..height-1.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;

    // The whole pixel block, row 0 first; rows follow each other at bytesPerLine().
    std::uint8_t* bits() { return m_pixels.get(); }
    const std::uint8_t* bits() const { return m_pixels.get(); }

    // Composites this picture over target with its top-left corner at (x, y)
    // of target, pixel by pixel with BlendPixel; parts outside target are ignored.
    void DrawTo(int x, int y, TBitmap32& target) const;

    // Same size and the same bytes, fourth byte included.
    friend bool operator==(const TBitmap32& a, const TBitmap32& b);

private:
    int m_width = 0;
    int m_height = 0;
    PixelBlock m_pixels;
};

// One source-over step with straight (not premultiplied) alpha in integer
// arithmetic: d is the destination pixel (changed in place), s the source.
void BlendPixel(std::uint8_t* d, const std::uint8_t* s);

// Sets the fourth byte of every pixel; the colour bytes are untouched.
void FillAlpha(TBitmap32& bitmap, std::uint8_t value);

}  // namespace plumora
