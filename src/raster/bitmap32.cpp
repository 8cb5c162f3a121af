#include "raster/bitmap32.h"

#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
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
// Below this the heap serves blocks from its own free lists without asking
// the kernel (glibc maps only larger ones on their own); from here on a block
// is rounded up to whole pages and kept when freed.
constexpr std::size_t kPooledBlock = std::size_t(128) << 10;
constexpr std::size_t kPage = std::size_t(4) << 10;

std::size_t pooledSize(std::size_t bytes)
{
    const std::size_t unit = bytes >= kLargeBlock ? kHugePage : kPage;
    return (bytes + unit - 1) / unit * unit;
}

// Still through new[] (its aligned form for large blocks), like every pixel
// block, so a failure is std::bad_alloc and the tests that watch new[] see it.
std::uint8_t* systemBlock(std::size_t bytes)
{
    if (bytes < kLargeBlock)
        return static_cast<std::uint8_t*>(::operator new[](bytes));
    auto* block = static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t(kHugePage)));
#ifdef MADV_HUGEPAGE
    madvise(block, bytes, MADV_HUGEPAGE);  // only advice: without it, plain pages
#endif
    return block;
}

void releaseSystemBlock(std::uint8_t* block, std::size_t bytes) noexcept
{
    if (bytes < kLargeBlock)
        ::operator delete[](block);
    else
        ::operator delete[](block, std::align_val_t(kHugePage));
}

std::size_t defaultFreedBlockLimit()
{
    std::size_t limit = std::size_t(512) << 20;
#if defined(__linux__)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        limit = std::min(limit, std::size_t(pages) / 8 * std::size_t(pageSize));
#endif
    return limit;
}

// The pool of freed blocks (see takePixelBlock in the header). Fixed in size,
// so that keeping a block never allocates; blocks go back to the system
// outside the lock, as that takes the process's memory map for a while.
class FreedBlocks {
public:
    static constexpr std::size_t kMaxBlocks = 32;

    std::uint8_t* take(std::size_t bytes)
    {
        Released stale;
        {
            std::lock_guard lock(m_mutex);
            // The one freed last first: its pages are the likeliest to be
            // in the processor's caches still.
            for (std::size_t i = m_count; i-- > 0;)
                if (m_kept[i].bytes == bytes) {
                    std::uint8_t* block = m_kept[i].block;
                    removeAt(i);
                    ++m_reused;
                    return block;
                }
            ++m_fresh;
            // Room for the new block, so that the pool and the pictures
            // together hold no more than the bound over what is in use.
            while (m_count > 0 && m_bytes + bytes > m_limit)
                stale.add(removeAt(0));
        }
        return nullptr;
    }

    // Keeps the block, or gives it back to the system when it is larger
    // than the bound.
    void put(std::uint8_t* block, std::size_t bytes) noexcept
    {
        Released stale;
        {
            std::lock_guard lock(m_mutex);
            if (bytes > m_limit) {
                stale.add({block, bytes});
            } else {
                while (m_count == kMaxBlocks || m_bytes + bytes > m_limit)
                    stale.add(removeAt(0));
                m_kept[m_count++] = {block, bytes};
                m_bytes += bytes;
            }
        }
    }

    std::size_t releaseAll() noexcept
    {
        Released stale;
        std::lock_guard lock(m_mutex);
        const std::size_t bytes = m_bytes;
        while (m_count > 0)
            stale.add(removeAt(0));
        return bytes;
    }

    std::size_t setLimit(std::size_t limit) noexcept
    {
        Released stale;
        std::lock_guard lock(m_mutex);
        const std::size_t before = m_limit;
        m_limit = limit;
        while (m_count > 0 && m_bytes > m_limit)
            stale.add(removeAt(0));
        return before;
    }

    FreedBlockCounts counts()
    {
        std::lock_guard lock(m_mutex);
        return {int(m_count), m_bytes, m_limit, m_reused, m_fresh};
    }

private:
    struct Entry {
        std::uint8_t* block = nullptr;
        std::size_t bytes = 0;
    };
    // Blocks to give back once the lock is released (it is declared before
    // the lock in every function, so it is destroyed after the lock is).
    class Released {
    public:
        Released() = default;
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;
        ~Released()
        {
            for (std::size_t i = 0; i < m_count; ++i)
                releaseSystemBlock(m_blocks[i].block, m_blocks[i].bytes);
        }
        void add(Entry e) noexcept { m_blocks[m_count++] = e; }

    private:
        std::array<Entry, kMaxBlocks + 1> m_blocks{};
        std::size_t m_count = 0;
    };

    Entry removeAt(std::size_t i) noexcept
    {
        const Entry e = m_kept[i];
        std::copy(m_kept.begin() + std::ptrdiff_t(i) + 1, m_kept.begin() + std::ptrdiff_t(m_count),
                  m_kept.begin() + std::ptrdiff_t(i));
        --m_count;
        m_bytes -= e.bytes;
        return e;
    }

    std::mutex m_mutex;
    std::array<Entry, kMaxBlocks> m_kept{};  // oldest first
    std::size_t m_count = 0;
    std::size_t m_bytes = 0;
    std::size_t m_limit = defaultFreedBlockLimit();
    std::uint64_t m_reused = 0;
    std::uint64_t m_fresh = 0;
};

// Never destroyed: pictures held by other static objects may be freed
// after it would have been, and the system takes the blocks back at exit.
FreedBlocks& freedBlocks()
{
    static FreedBlocks* blocks = new FreedBlocks;
    return *blocks;
}

}  // namespace

PixelBlock takePixelBlock(std::size_t bytes)
{
    if (bytes < kPooledBlock)
        return PixelBlock(new std::uint8_t[bytes], PixelBlockDeleter{0});
    const std::size_t rounded = pooledSize(bytes);
    if (std::uint8_t* reused = freedBlocks().take(rounded))
        return PixelBlock(reused, PixelBlockDeleter{rounded});
    std::uint8_t* block = nullptr;
    try {
        block = systemBlock(rounded);
    } catch (const std::bad_alloc&) {
        // The kept blocks are memory too: given back, the request may fit.
        if (freedBlocks().releaseAll() == 0)
            throw;
        block = systemBlock(rounded);
    }
    return PixelBlock(block, PixelBlockDeleter{rounded});
}

void PixelBlockDeleter::operator()(std::uint8_t* block) const noexcept
{
    if (pooledBytes)
        freedBlocks().put(block, pooledBytes);
    else
        delete[] block;
}

FreedBlockCounts freedBlockCounts()
{
    return freedBlocks().counts();
}

std::size_t releaseFreedBlocks() noexcept
{
    return freedBlocks().releaseAll();
}

std::size_t setFreedBlockLimit(std::size_t bytes) noexcept
{
    return freedBlocks().setLimit(bytes);
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
        m_pixels = takePixelBlock(std::size_t(width) * std::size_t(height) * 4);
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
