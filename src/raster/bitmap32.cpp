#include "raster/bitmap32.h"

#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <string>

namespace plumora {

void checkPictureSize(std::int64_t width, std::int64_t height)
{
    if (width < 0 || height < 0 || (height != 0 && width > kMaxPixels / height))
        throw ImageTooLargeError("The picture is too large (" + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels); Plumora handles at most " + std::to_string(kMaxPixels) + " pixels.");
}

namespace {

// Large blocks are copied by bands of rows on all cores: a single core does
// not saturate the memory bus, and page faults on a new block then happen in
// parallel too.
void copyPixels(std::uint8_t* dst, const std::uint8_t* src, int width, int height)
{
    const std::size_t line = std::size_t(width) * 4;
    parallelRows(height,
                 [&](int y0, int y1) { std::memcpy(dst + line * y0, src + line * y0, line * std::size_t(y1 - y0)); });
}

}  // namespace

namespace {

// A block this large is mapped afresh by the allocator each time, and every
// 4 KiB page of it then costs a fault on first touch: on a 24-megapixel
// picture that was most of the time of any effect. Such blocks are aligned
// to 2 MiB and offered to the kernel for huge pages, 512 times fewer faults.
constexpr std::size_t kLargeBlock = std::size_t(8) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

}  // namespace

namespace {

// Large blocks freed lately, kept for the next picture of the same size. A
// block fresh from the system costs the kernel a zeroed page for every page
// of it, which on a 24-megapixel picture took longer than most effects that
// fill it; and the program keeps making pictures of the size it works on
// (each effect's result, each step brought back). At most two blocks and
// 1 GiB are kept; a request for a size none of them has releases them all,
// since the size worked on has changed.
class FreedBlocks {
public:
    static constexpr std::size_t kMaxBlocks = 2;
    static constexpr std::size_t kMaxBytes = std::size_t(1) << 30;

    std::uint8_t* take(std::size_t bytes)
    {
        // Copied out and cleared, not swapped with an empty vector: the list
        // keeps the capacity put() counts on, or nothing would be kept after
        // the first change of size.
        std::array<Entry, kMaxBlocks> stale{};
        {
            std::lock_guard lock(m_mutex);
            // The one freed last first: its pages are the likeliest to be
            // in the processor's caches still.
            for (auto it = m_blocks.rbegin(); it != m_blocks.rend(); ++it)
                if (it->bytes == bytes) {
                    std::uint8_t* block = it->block;
                    m_blocks.erase(std::next(it).base());
                    return block;
                }
            std::copy(m_blocks.begin(), m_blocks.end(), stale.begin());
            m_blocks.clear();
        }
        for (const Entry& e : stale)
            if (e.block)
                release(e.block);
        return nullptr;
    }

    // Keeps the block, or gives it back to the system when it is too large.
    void put(std::uint8_t* block, std::size_t bytes) noexcept
    {
        Entry oldest{};
        bool kept = false;
        {
            std::lock_guard lock(m_mutex);
            if (bytes <= kMaxBytes / kMaxBlocks && m_blocks.size() < m_blocks.capacity()) {
                if (m_blocks.size() == kMaxBlocks) {
                    oldest = m_blocks.front();
                    m_blocks.erase(m_blocks.begin());
                }
                m_blocks.push_back({block, bytes});
                kept = true;
            }
        }
        if (oldest.block)
            release(oldest.block);
        if (!kept)
            release(block);
    }

    FreedBlocks() { m_blocks.reserve(kMaxBlocks); }

    static void release(std::uint8_t* block) noexcept { ::operator delete[](block, std::align_val_t(kHugePage)); }

private:
    struct Entry {
        std::uint8_t* block = nullptr;
        std::size_t bytes = 0;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_blocks;  // capacity reserved, so keeping one never allocates
};

// Never destroyed: pictures held by other static objects may be freed
// after it would have been, and the system takes the blocks back at exit.
FreedBlocks& freedBlocks()
{
    static FreedBlocks* blocks = new FreedBlocks;
    return *blocks;
}

}  // namespace

TBitmap32::Block TBitmap32::allocatePixels(std::size_t bytes)
{
    if (bytes < kLargeBlock)
        return Block(new std::uint8_t[bytes], BlockDeleter{0});
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (std::uint8_t* reused = freedBlocks().take(rounded))
        return Block(reused, BlockDeleter{rounded});
    // Still through new[] (its aligned form), like every pixel block, so a
    // failure is std::bad_alloc and the tests that watch new[] see it.
    auto* block = static_cast<std::uint8_t*>(::operator new[](rounded, std::align_val_t(kHugePage)));
#ifdef MADV_HUGEPAGE
    madvise(block, rounded, MADV_HUGEPAGE);  // only advice: without it, plain pages
#endif
    return Block(block, BlockDeleter{rounded});
}

void TBitmap32::BlockDeleter::operator()(std::uint8_t* block) const noexcept
{
    if (largeBytes)
        freedBlocks().put(block, largeBytes);
    else
        delete[] block;
}

TBitmap32::TBitmap32(int width, int height)
{
    setSize(width, height);
}

TBitmap32::TBitmap32(const TBitmap32& other) : TBitmap32(other.m_width, other.m_height)
{
    if (!empty())
        copyPixels(m_pixels.get(), other.m_pixels.get(), m_width, m_height);
}

TBitmap32& TBitmap32::operator=(const TBitmap32& other)
{
    if (this != &other) {
        setSize(other.m_width, other.m_height);
        if (!empty())
            copyPixels(m_pixels.get(), other.m_pixels.get(), m_width, m_height);
    }
    return *this;
}

TBitmap32::TBitmap32(TBitmap32&& other) noexcept
    : m_width(other.m_width), m_height(other.m_height), m_pixels(std::move(other.m_pixels))
{
    other.m_width = other.m_height = 0;
}

TBitmap32& TBitmap32::operator=(TBitmap32&& other) noexcept
{
    if (this != &other) {
        m_width = other.m_width;
        m_height = other.m_height;
        m_pixels = std::move(other.m_pixels);
        other.m_width = other.m_height = 0;
    }
    return *this;
}

void TBitmap32::setSize(int width, int height)
{
    checkPictureSize(width, height);
    if (width == 0 || height == 0) {
        // An empty picture keeps its other dimension, as a toolkit bitmap does,
        // but owns no pixels.
        m_pixels.reset();
    } else if (std::int64_t(width) * height != std::int64_t(m_width) * m_height || !m_pixels) {
        // The new block first: if it cannot be had, the picture stays as it was.
        m_pixels = allocatePixels(std::size_t(width) * std::size_t(height) * 4);
    }
    m_width = width;
    m_height = height;
}

std::uint8_t* TBitmap32::ScanLine(int y)
{
    if (y < 0 || y >= m_height)
        throw ScanLineError();
    return m_pixels.get() + std::size_t(y) * bytesPerLine();
}

const std::uint8_t* TBitmap32::ScanLine(int y) const
{
    if (y < 0 || y >= m_height)
        throw ScanLineError();
    return m_pixels.get() + std::size_t(y) * bytesPerLine();
}

bool operator==(const TBitmap32& a, const TBitmap32& b)
{
    if (a.m_width != b.m_width || a.m_height != b.m_height)
        return false;
    return a.empty() || std::memcmp(a.bits(), b.bits(), a.byteCount()) == 0;
}

void BlendPixel(std::uint8_t* d, const std::uint8_t* s)
{
    const int sa = s[kAlpha];
    const int da = d[kAlpha];
    if (sa == 0 && da == 0) {
        // Two transparent pixels give transparent white.
        d[kBlue] = d[kGreen] = d[kRed] = 255;
        d[kAlpha] = 0;
        return;
    }
    if (sa == 0)
        return;
    if (da == 0 || sa == 255) {
        std::memcpy(d, s, 4);
        return;
    }
    const int f = 255 * sa + 255 * da - sa * da;
    for (int c = kBlue; c <= kRed; ++c)
        d[c] = std::uint8_t((d[c] * da * (255 - sa) + s[c] * sa * 255) / f);
    d[kAlpha] = std::uint8_t(f / 255);
}

void TBitmap32::DrawTo(int x, int y, TBitmap32& target) const
{
    // Intersect in 64 bits: x + width may not fit in an int.
    const std::int64_t left = std::max<std::int64_t>(0, x);
    const std::int64_t top = std::max<std::int64_t>(0, y);
    const std::int64_t right = std::min<std::int64_t>(target.width(), std::int64_t(x) + m_width);
    const std::int64_t bottom = std::min<std::int64_t>(target.height(), std::int64_t(y) + m_height);
    if (left >= right || top >= bottom)
        return;
    for (std::int64_t ty = top; ty < bottom; ++ty) {
        std::uint8_t* d = target.ScanLine(int(ty));
        const std::uint8_t* s = ScanLine(int(ty - y));
        for (std::int64_t tx = left; tx < right; ++tx)
            BlendPixel(d + tx * 4, s + (tx - x) * 4);
    }
}

void FillAlpha(TBitmap32& bitmap, std::uint8_t value)
{
    const int w = bitmap.width();
    parallelRows(bitmap.height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < w; ++x)
                row[x * 4 + kAlpha] = value;
        }
    });
}

}  // namespace plumora
