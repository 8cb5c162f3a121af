// libFuzzer target for the metadata: reading a file's colour profile and
// Exif block, and rewriting an Exif block for a saved picture, must never
// crash, read out of bounds or hang, whatever the bytes. The input is tried
// both as a whole file and as an Exif block; a block the rewriter gives
// back must read again.
//
//   fuzz/run.sh [SECONDS] metadata

#include "formats/exif.h"
#include "formats/metadata.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const plumora::PictureMetadata metadata = plumora::readPictureMetadata(data, size);
    if (!metadata.icc.empty() && !plumora::isRgbIccProfile(metadata.icc.data(), metadata.icc.size()))
        std::abort();
    const std::vector<std::uint8_t> block(data, data + size);
    for (const bool keepLocation : {false, true}) {
        const std::vector<std::uint8_t> written = plumora::exifForWriting(block, keepLocation, 640, 480);
        if (!written.empty() && !plumora::parseExif(written.data(), written.size()))
            std::abort();
    }
    return 0;
}
