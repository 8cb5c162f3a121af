#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "raster/bitmap32.h"

namespace plumora {

// The orientation a camera recorded in an Exif block (the body of a JPEG
// APP1 segment, starting with "Exif\0\0"): 1..8 as Exif defines them, or 1
// when the block has none or cannot be read. A damaged block is ignored
// rather than refused: the picture itself is still good.
int exifOrientation(const std::uint8_t* app1, std::size_t size);

// Turns or mirrors a picture as the orientation says, so that it shows
// upright: 6 is a quarter turn clockwise, 8 anticlockwise, 3 a half turn,
// 2 and 4 mirror, 5 and 7 mirror across a diagonal.
TBitmap32 orientUpright(TBitmap32 picture, int orientation);

// ---- Exif as a structure ----
//
// Exif is a little TIFF file of its own: a header (byte order, 42, where the
// first directory starts) and directories of tagged values. The camera's
// data sits in the first directory (make, model, date), in the Exif
// directory it points to (exposure, lens), in that one's interoperability
// directory and in the GPS directory; a second top-level directory holds
// the thumbnail. Parsed, each value is held with its numbers in little-endian
// order whatever the block's order, so that it can be written in either.

// One tagged value: its TIFF type (1..13), how many of that type, and the
// bytes of them all (little-endian numbers).
struct ExifEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> value;
    bool operator==(const ExifEntry&) const = default;
};

// The directories of an Exif block without their pointers (the pointer tags
// 0x8769, 0x8825 and 0xA005 are written from whether a directory has
// entries) and without the thumbnail's.
struct ExifData {
    bool littleEndian = true;
    std::vector<ExifEntry> main;      // the first directory
    std::vector<ExifEntry> camera;    // the Exif directory (0x8769)
    std::vector<ExifEntry> interop;   // its interoperability directory (0xA005)
    std::vector<ExifEntry> location;  // the GPS directory (0x8825)
    bool operator==(const ExifData&) const = default;
};

// Which tags a parse keeps (a TIFF file's first directory is also its
// picture's: its strip offsets need not be copied to find its camera data).
enum class ExifDirectory { Main, Camera, Interop, Location };
using ExifTagFilter = bool (*)(ExifDirectory directory, std::uint16_t tag);

// Parses a TIFF-structured block (from "II*\0" or "MM\0*"). Every offset and
// count is checked against the block, a directory has at most 1000 entries
// and the values copied are bounded by the block's size, so a hostile block
// costs little and is refused (nothing) rather than read past. Entries of
// an unknown type are skipped. With a filter, only the entries it keeps are
// copied.
std::optional<ExifData> parseExif(const std::uint8_t* data, std::size_t size, ExifTagFilter keep = nullptr);

// Appends the directories to out, their offsets counted from out's start
// (where the TIFF header is), in the data's byte order; returns the first
// directory's offset. Entries are written sorted by tag, as TIFF readers
// expect; a directory without entries (and its pointer) is left out.
std::uint32_t appendExifDirectories(std::vector<std::uint8_t>& out, const ExifData& data);

// The block as a whole: the header, then the directories.
std::vector<std::uint8_t> serializeExif(const ExifData& data);

// The value of a SHORT or LONG entry, if the directory has the tag.
std::optional<std::uint32_t> exifNumber(const std::vector<ExifEntry>& directory, std::uint16_t tag);

// The Exif block to write with a picture of width x height made from one
// that came with `exif` (TIFF-structured): the orientation is 1 (the picture
// is upright already), the pixel sizes the picture's, the thumbnail gone,
// and the tags that describe the old file's pixels (strips, compression,
// sample layout) or that hold offsets into it (the maker's note) gone. The
// location (GPS) stays only with keepLocation. Empty when the block cannot
// be read.
std::vector<std::uint8_t> exifForWriting(const std::vector<std::uint8_t>& exif, bool keepLocation, int width,
                                         int height);

// Whether a tag of a picture file's first directory is camera data that an
// Exif block may carry (not the layout of that file's pixels).
bool isCameraTag(ExifDirectory directory, std::uint16_t tag);

}  // namespace plumora
