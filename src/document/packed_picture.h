#pragma once

#include "raster/bitmap32.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace plumora {

// A picture kept losslessly compressed, for the undo history: a step that is
// not on screen costs a fraction of its pixels, and unpacking gives back
// every byte, the fourth one included.
//
// The pixels are cut into bands of about 64 rows, each compressed on its own
// with LZ4, so that unpacking runs on all cores and a band never needs its
// neighbours. A band is stored in whichever of two layouts compresses better:
// the pixels as they are (line drawings: long runs of whole pixels), or the
// four byte planes one after the other (photographs and colour effects, whose
// blue, green, red and fourth bytes each repeat on their own far more than
// whole pixels do). A band that does not shrink is kept as it is.
//
// Packing allocates through std::vector only (never new[]), runs in the
// calling thread alone, and is meant for a background thread; unpacking is
// meant for the thread the user waits on.
class PackedPicture {
public:
    // Compresses picture. Returns nothing when stop becomes true, which is
    // looked at between bands, so that work nobody wants any more ends soon.
    // Throws std::bad_alloc when memory runs out.
    static std::optional<PackedPicture> pack(const TBitmap32& picture, const std::atomic<bool>* stop = nullptr);

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The memory this object holds, its bookkeeping included.
    std::size_t heldBytes() const;

    // A new picture with exactly the packed bytes. Throws std::bad_alloc when
    // memory runs out.
    TBitmap32 unpack() const;

private:
    enum class Layout : std::uint8_t { Stored, Pixels, Planes };
    struct Band {
        Layout layout = Layout::Stored;
        std::vector<std::uint8_t> bytes;
    };

    PackedPicture() = default;
    void unpackBand(std::size_t band, std::uint8_t* target, std::vector<std::uint8_t>& planes) const;

    int m_width = 0;
    int m_height = 0;
    std::int64_t m_bandPixels = 1;
    std::vector<Band> m_bands;
};

}  // namespace plumora
