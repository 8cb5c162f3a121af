#pragma once

#include "raster/bitmap32.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace plumora {

// A picture kept losslessly compressed, for the undo history: a step that is
// not on screen costs a fraction of its pixels, and unpacking gives back
// every byte, the fourth one included.
//
// The pixels are cut into bands of about 32 rows, each compressed on its own
// with LZ4, so that unpacking runs on all cores and a band never needs its
// neighbours. A band is stored in whichever of two layouts compresses better,
// as its first pixels tell: the pixels as they are (line drawings: long runs
// of whole pixels), or byte planes, the blue, green, red and fourth bytes of
// every 1024 pixels apart (photographs and colour effects, whose bytes of one
// kind repeat far more than whole pixels do). A band that does not shrink is
// kept as it is.
//
// Packing allocates through std::vector only (never new[]), runs in the
// calling thread alone, and is meant for a background thread; unpacking is
// meant for the thread the user waits on.
class PackedPicture {
public:
    // Compresses picture. goOn, when given, is called between bands: it may
    // do a little work of its own, and returning false stops packing (work
    // nobody wants any more), which then returns nothing. Throws
    // std::bad_alloc when memory runs out.
    static std::optional<PackedPicture> pack(const TBitmap32& picture, const std::function<bool()>& goOn = {});

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The memory this object holds, its bookkeeping included.
    std::size_t heldBytes() const;

    // A new picture with exactly the packed bytes. Throws std::bad_alloc when
    // memory runs out.
    TBitmap32 unpack() const;
    // The same into target, a picture of as many pixels whose block is
    // reused (and takes the packed picture's sides). Cannot fail: this is
    // what lets a block be overwritten only once nothing else can go wrong.
    void unpackInto(TBitmap32& target) const noexcept;

private:
    enum class Layout : std::uint8_t { Stored, Pixels, Planes };
    struct Band {
        Layout layout = Layout::Stored;
        std::vector<std::uint8_t> bytes;
    };

    PackedPicture() = default;
    void unpackBand(std::size_t band, std::uint8_t* target) const noexcept;

    int m_width = 0;
    int m_height = 0;
    std::int64_t m_bandPixels = 1;
    std::vector<Band> m_bands;
};

}  // namespace plumora
