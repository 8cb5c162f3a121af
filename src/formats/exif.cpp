#include "formats/exif.h"

#include "raster/geometry.h"

#include <cstring>

namespace plumora {

int exifOrientation(const std::uint8_t* app1, std::size_t size)
{
    // "Exif\0\0", then a TIFF header: byte order, 42, offset of the first IFD.
    constexpr std::size_t kTiff = 6;
    if (size < kTiff + 8 || std::memcmp(app1, "Exif\0\0", 6) != 0)
        return 1;
    const std::uint8_t* tiff = app1 + kTiff;
    const std::size_t length = size - kTiff;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    auto u16 = [&](std::size_t at) -> unsigned {
        return little ? unsigned(tiff[at] | tiff[at + 1] << 8) : unsigned(tiff[at] << 8 | tiff[at + 1]);
    };
    auto u32 = [&](std::size_t at) -> std::uint64_t {
        return little ? std::uint64_t(u16(at)) | std::uint64_t(u16(at + 2)) << 16
                      : std::uint64_t(u16(at)) << 16 | std::uint64_t(u16(at + 2));
    };
    if (u16(2) != 42)
        return 1;
    const std::uint64_t ifd = u32(4);
    if (ifd + 2 > length)
        return 1;
    const unsigned entries = u16(std::size_t(ifd));
    for (unsigned i = 0; i < entries; ++i) {
        const std::uint64_t entry = ifd + 2 + std::uint64_t(i) * 12;
        if (entry + 12 > length)
            return 1;
        const std::size_t at = std::size_t(entry);
        // Orientation: tag 0x0112, type SHORT (3), one value, held in place.
        if (u16(at) == 0x0112) {
            if (u16(at + 2) != 3 || u32(at + 4) != 1)
                return 1;
            const unsigned value = u16(at + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

TBitmap32 orientUpright(TBitmap32 picture, int orientation)
{
    switch (orientation) {
    case 2:
        return mirrorHorizontal(picture);
    case 3:
        return mirrorVertical(mirrorHorizontal(picture));
    case 4:
        return mirrorVertical(picture);
    case 5:  // result(x, y) = picture(y, x)
        return mirrorHorizontal(rotateClockwise(picture));
    case 6:
        return rotateClockwise(picture);
    case 7:  // result(x, y) = picture(W - 1 - y, H - 1 - x)
        return mirrorHorizontal(rotateAnticlockwise(picture));
    case 8:
        return rotateAnticlockwise(picture);
    default:
        return picture;
    }
}

}  // namespace plumora
