// libFuzzer target: every reader must either decode a file or throw
// PlumoraError; nothing may crash, read out of bounds or hang.
//
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPLUMORA_BUILD_FUZZ=ON
//   ninja -C build-fuzz bmp_fuzz && build-fuzz/fuzz/bmp_fuzz -max_len=2048 corpus-bmp fuzz/seeds/bmp

#include "formats/bmp.h"
#include "formats/jpeg.h"
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
