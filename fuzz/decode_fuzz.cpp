// libFuzzer target: every reader must either decode a file or throw
// PlumoraError; nothing may crash, read out of bounds or hang.
//
//   fuzz/run.sh [SECONDS] [READER...]     (builds with clang, ASan and UBSan, then runs)

#include "formats/bmp.h"
#include "formats/gif.h"
#include "formats/heif.h"
#include "formats/ico.h"
#include "formats/jpeg.h"
#include "formats/jxl.h"
#include "formats/metafile.h"
#include "raster/errors.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const plumora::TBitmap32 picture = PLUMORA_DECODE(data, size);
        // Touch every pixel so that a short buffer shows up under the sanitizers.
        volatile std::uint8_t sink = 0;
        for (std::size_t i = 0; i < picture.byteCount(); i += 61)
            sink = sink ^ picture.bits()[i];
    } catch (const plumora::PlumoraError&) {
    }
    return 0;
}
