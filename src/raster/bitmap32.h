#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plumora {

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
    // Frees a block the way it was taken (see allocatePixels).
    struct BlockDeleter {
        // The size of a large block, which goes back to a cache of freed
        // blocks; 0 for a small one (and in an empty picture).
        std::size_t largeBytes;
        void operator()(std::uint8_t* block) const noexcept;
    };
    using Block = std::unique_ptr<std::uint8_t[], BlockDeleter>;
    static Block allocatePixels(std::size_t bytes);

    int m_width = 0;
    int m_height = 0;
    Block m_pixels;
};

// One source-over step with straight (not premultiplied) alpha in integer
// arithmetic: d is the destination pixel (changed in place), s the source.
void BlendPixel(std::uint8_t* d, const std::uint8_t* s);

// Sets the fourth byte of every pixel; the colour bytes are untouched.
void FillAlpha(TBitmap32& bitmap, std::uint8_t value);

}  // namespace plumora
