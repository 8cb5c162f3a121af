#include "document/packed_picture.h"

#include "raster/parallel.h"

#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plumora {

namespace {

// About 32 rows a band: big enough for LZ4 to find its matches (it looks
// 64 KiB back), small enough that a 24-megapixel picture has some 125 bands
// to share out among the cores, and that the background thread, which looks
// between two bands whether it should wait, waits within 2 or 3 ms. Narrow
// pictures get longer bands and very wide ones shorter, so that every band
// stays between 256 KiB and 16 MiB, far inside what one LZ4 block may hold.
constexpr std::int64_t kBandRows = 32;
constexpr std::int64_t kMinBandPixels = std::int64_t(1) << 16;
constexpr std::int64_t kMaxBandPixels = std::int64_t(1) << 22;

// A band whose pixels compress to an eighth or less is a drawing: trying the
// byte planes as well would only cost time.
constexpr std::size_t kGoodEnough = 8;
constexpr std::size_t kSamplePixels = std::size_t(1) << 15;

std::int64_t bandPixelsFor(int width)
{
    return std::clamp(kBandRows * width, kMinBandPixels, kMaxBandPixels);
}

// The byte planes are cut into groups of 1024 pixels (4 KiB): within a group
// come its blue bytes, then its green, red and fourth bytes. That compresses
// as well as whole planes, and a group goes back into pixels in place, through
// a buffer on the stack, so unpacking writes nowhere but into the picture.
constexpr std::size_t kGroupPixels = 1024;

void splitPlanes(const std::uint8_t* source, std::size_t pixels, std::uint8_t* planes)
{
    for (std::size_t first = 0; first < pixels; first += kGroupPixels) {
        const std::size_t n = std::min(kGroupPixels, pixels - first);
        const std::uint8_t* from = source + 4 * first;
        std::uint8_t* blue = planes + 4 * first;
        std::uint8_t* green = blue + n;
        std::uint8_t* red = green + n;
        std::uint8_t* fourth = red + n;
        // Whole pixels are read as one word, so the compiler turns the loop
        // into vector shifts.
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t pixel;
            std::memcpy(&pixel, from + 4 * i, 4);
            blue[i] = std::uint8_t(pixel);
            green[i] = std::uint8_t(pixel >> 8);
            red[i] = std::uint8_t(pixel >> 16);
            fourth[i] = std::uint8_t(pixel >> 24);
        }
    }
}

void joinPlanesInPlace(std::uint8_t* bytes, std::size_t pixels)
{
    std::uint8_t group[4 * kGroupPixels];
    for (std::size_t first = 0; first < pixels; first += kGroupPixels) {
        const std::size_t n = std::min(kGroupPixels, pixels - first);
        std::uint8_t* target = bytes + 4 * first;
        std::memcpy(group, target, 4 * n);
        const std::uint8_t* blue = group;
        const std::uint8_t* green = blue + n;
        const std::uint8_t* red = green + n;
        const std::uint8_t* fourth = red + n;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t pixel = std::uint32_t(blue[i]) | std::uint32_t(green[i]) << 8 |
                                        std::uint32_t(red[i]) << 16 | std::uint32_t(fourth[i]) << 24;
            std::memcpy(target + 4 * i, &pixel, 4);
        }
    }
}

// LZ4 of size bytes into out (resized to its bound); the compressed length,
// or 0 if LZ4 refused.
std::size_t compress(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out)
{
    const int bound = LZ4_compressBound(int(size));
    out.resize(std::size_t(bound));
    const int length = LZ4_compress_default(reinterpret_cast<const char*>(bytes), reinterpret_cast<char*>(out.data()),
                                            int(size), bound);
    return length > 0 ? std::size_t(length) : 0;
}

// Our own bytes that do not unpack to what was packed: memory was
// overwritten behind our back. Never expected; it ends the program (unpacking
// cannot fail otherwise) rather than show a wrong picture.
[[noreturn]] void damaged() noexcept
{
    std::fputs("A picture of the undo history is damaged.\n", stderr);
    std::abort();
}

}  // namespace

std::optional<PackedPicture> PackedPicture::pack(const TBitmap32& picture, const std::function<bool()>& goOn)
{
    PackedPicture packed;
    packed.m_width = picture.width();
    packed.m_height = picture.height();
    if (picture.empty())
        return packed;
    packed.m_bandPixels = bandPixelsFor(picture.width());
    const std::int64_t pixels = std::int64_t(picture.width()) * picture.height();
    const std::int64_t bands = (pixels + packed.m_bandPixels - 1) / packed.m_bandPixels;
    packed.m_bands.reserve(std::size_t(bands));

    std::vector<std::uint8_t> planes;
    std::vector<std::uint8_t> asPixels;
    std::vector<std::uint8_t> asPlanes;
    for (std::int64_t band = 0; band < bands; ++band) {
        if (goOn && !goOn())
            return std::nullopt;
        const std::int64_t first = band * packed.m_bandPixels;
        const std::size_t count = std::size_t(std::min(packed.m_bandPixels, pixels - first));
        const std::size_t size = count * 4;
        const std::uint8_t* bytes = picture.bits() + std::size_t(first) * 4;

        // The layout is chosen on the band's first pixels (an eighth of it,
        // at least 32 Ki pixels), which tell as well as the whole band and
        // spare compressing all of it twice.
        const std::size_t sample = std::max(std::min(count, kSamplePixels), count / 8);
        std::size_t length = compress(bytes, sample * 4, asPixels);
        bool planar = false;
        if (length == 0 || length > sample * 4 / kGoodEnough) {
            planes.resize(size);
            splitPlanes(bytes, sample, planes.data());
            const std::size_t planesLength = compress(planes.data(), sample * 4, asPlanes);
            planar = planesLength != 0 && (length == 0 || planesLength < length);
            if (planar)
                length = planesLength;
        }
        if (sample < count) {
            if (planar) {
                splitPlanes(bytes, count, planes.data());
                length = compress(planes.data(), size, asPlanes);
            } else {
                length = compress(bytes, size, asPixels);
            }
        }
        const std::vector<std::uint8_t>& compressed = planar ? asPlanes : asPixels;

        Band out;
        if (length == 0 || length >= size) {
            out.layout = Layout::Stored;
            out.bytes.assign(bytes, bytes + size);
        } else {
            out.layout = planar ? Layout::Planes : Layout::Pixels;
            out.bytes.assign(compressed.begin(), compressed.begin() + std::ptrdiff_t(length));
        }
        packed.m_bands.push_back(std::move(out));
    }
    return packed;
}

std::size_t PackedPicture::heldBytes() const
{
    std::size_t bytes = sizeof(PackedPicture) + m_bands.capacity() * sizeof(Band);
    for (const Band& band : m_bands)
        bytes += band.bytes.capacity();
    return bytes;
}

void PackedPicture::unpackBand(std::size_t band, std::uint8_t* target) const noexcept
{
    const Band& b = m_bands[band];
    const std::int64_t pixels = std::int64_t(m_width) * m_height;
    const std::int64_t first = std::int64_t(band) * m_bandPixels;
    const std::size_t count = std::size_t(std::min(m_bandPixels, pixels - first));
    const std::size_t size = count * 4;
    if (b.layout == Layout::Stored) {
        if (b.bytes.size() != size)
            damaged();
        std::memcpy(target, b.bytes.data(), size);
        return;
    }
    const int length = LZ4_decompress_safe(reinterpret_cast<const char*>(b.bytes.data()),
                                           reinterpret_cast<char*>(target), int(b.bytes.size()), int(size));
    if (length < 0 || std::size_t(length) != size)
        damaged();
    if (b.layout == Layout::Planes)
        joinPlanesInPlace(target, count);
}

TBitmap32 PackedPicture::unpack() const
{
    TBitmap32 picture(m_width, m_height);
    unpackInto(picture);
    return picture;
}

void PackedPicture::unpackInto(TBitmap32& target) const noexcept
{
    // Same pixel count: the block stays, only the sides change.
    target.setSize(m_width, m_height);
    if (m_bands.empty())
        return;
    // Each slice of rows unpacks the bands that begin in it: band b begins
    // in row b x bandPixels / width, so every band is unpacked exactly once.
    // The loop's state is one reference, which std::function holds without
    // allocating: nothing here may fail.
    struct Loop {
        const PackedPicture& packed;
        std::uint8_t* bits;
        void operator()(int y0, int y1) const noexcept
        {
            const std::int64_t width = packed.m_width;
            const std::int64_t step = packed.m_bandPixels;
            const std::int64_t firstBand = (y0 * width + step - 1) / step;
            const std::int64_t endBand =
                std::min<std::int64_t>(std::int64_t(packed.m_bands.size()), (y1 * width + step - 1) / step);
            for (std::int64_t band = firstBand; band < endBand; ++band)
                packed.unpackBand(std::size_t(band), bits + std::size_t(band * step) * 4);
        }
    } loop{*this, target.bits()};
    parallelRows(m_height, [&loop](int y0, int y1) { loop(y0, y1); });
}

}  // namespace plumora
