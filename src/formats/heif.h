#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/metadata.h"
#include "raster/bitmap32.h"

namespace plumora {

// Whether the bytes begin as a HEIF file does (HEIC from phones, AVIF): an
// ISO media "ftyp" box naming a HEIF still-image brand. Only the first
// bytes are looked at; the decoder decides the rest.
bool looksLikeHeif(const std::uint8_t* data, std::size_t size);

// Decodes the primary image of a HEIF file held in memory (libheif, with
// libde265 for HEVC and dav1d or aom for AV1) into an opaque 32-bit picture
// (255 in every fourth byte; an alpha channel is not used). The file's own
// turns and mirrors (irot, imir) are applied; a file that has none but
// carries an Exif orientation is turned as that says, as a JPEG is. Deeper
// samples (10, 12 bits) are reduced to 8 by rounding. The size is checked
// against the program's limit before anything is decoded. Throws
// NotValidFormatError naming what is wrong for a file libheif cannot read.
TBitmap32 decodeHeif(const std::uint8_t* data, std::size_t size);

// The colour profile (an ICC colr box) and Exif item of a HEIF file's
// primary image; its boxes are read, its pictures are not decoded. Empty
// parts for what is missing or cannot be read.
PictureMetadata heifMetadata(const std::uint8_t* data, std::size_t size);

// Whether this machine's libheif has a decoder for HEVC (HEIC) and for AV1
// (AVIF): a file needing a missing one is refused with a message saying so.
bool heifCanDecodeHevc();
bool heifCanDecodeAv1();

}  // namespace plumora
