#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plumora {

// What a picture file says about its picture besides the pixels: the colour
// profile that says what its values mean, and the camera's data. It travels
// beside the picture, never through its pixels: the effects work on the
// stored values as they always did, and the profile goes with the result.
struct PictureMetadata {
    // An ICC profile of an RGB colour space, as the file held it (a profile
    // for other colours, grey or CMYK, does not describe the picture once
    // read and is not kept).
    std::vector<std::uint8_t> icc;
    // The Exif data as a TIFF structure, from its "II*\0" or "MM\0*" header
    // (without a JPEG's "Exif\0\0"), as the file held it.
    std::vector<std::uint8_t> exif;

    bool empty() const { return icc.empty() && exif.empty(); }
    bool operator==(const PictureMetadata&) const = default;
};

// The profile and Exif data of a picture file held in memory, known by its
// content: JPEG (APP2 "ICC_PROFILE" chunks put back in order, APP1 Exif),
// PNG (iCCP, eXIf), WebP (ICCP, EXIF), TIFF (tag 34675; the camera data of
// the first directory with its Exif and GPS directories), HEIF (colr, the
// Exif item) and JPEG XL (the colour profile of its pixels when it is not
// sRGB). Reads only the file's headers and chunks, never its pixels; what is
// missing or damaged is left empty, as a damaged block never spoils a good
// picture.
PictureMetadata readPictureMetadata(const std::uint8_t* data, std::size_t size);

// The same for a file, of which only the parts holding them are read (it is
// mapped, not copied). Nothing for a file that cannot be read.
PictureMetadata readPictureMetadata(const std::string& name);

// Whether the bytes are an ICC profile of an RGB colour space whose header
// and tag table fit in it: what the writers may embed.
bool isRgbIccProfile(const std::uint8_t* data, std::size_t size);

// The largest Exif block a JPEG's APP1 segment can hold (65535 bytes less
// its length field and "Exif\0\0"): a larger one is not written into a JPEG.
inline constexpr std::size_t kMaxJpegExif = 65535 - 2 - 6;

}  // namespace plumora
