#pragma once

#include <cstdint>

#include "raster/bitmap32.h"

namespace plumora {

// Scope: how far a pixel may fetch its colour from.
inline constexpr int kBrumeScopeMin = 1;
inline constexpr int kBrumeScopeMax = 10;
inline constexpr int kBrumeScopeDefault = 3;

// The random numbers of the brume effect: a 32-bit linear congruential
// generator that the program keeps for its whole run, starting from state 0
// and never reseeded, so that every use of the effect continues where the
// last one stopped and a second use gives another scattering. The caller
// owns it and passes it in.
class BrumeRandom {
public:
    BrumeRandom() = default;
    explicit BrumeRandom(std::uint32_t state)
        : m_state(state)
    { }

    std::uint32_t state() const { return m_state; }

    // A number 0..below-1: the state steps to state * 134775813 + 1 (mod
    // 2^32), and the number is the upper half of the 64-bit product
    // state * below.
    std::uint32_t draw(std::uint32_t below);

    // Moves the state on by `draws` draws without making them, in
    // O(log draws) steps: what the state would be after that many draws,
    // whatever they were below.
    void skip(std::uint64_t draws);

    friend bool operator==(const BrumeRandom&, const BrumeRandom&) = default;

private:
    std::uint32_t m_state = 0;
};

// How many draws brume makes on a picture of that size: two for every pixel
// outside row 0 and column 0.
std::uint64_t brumeDraws(int width, int height);

// Brume: every pixel outside row 0 and column 0 takes the blue, green and red
// of a random source pixel at most `scope` rows above or 2 below and at most
// `scope` columns left or 2 right of it (clamped to the picture), keeping its
// own fourth byte; row 0 and column 0 stay as they are. Two draws per
// pixel, row offset first, row by row from the top, each row left to right:
// `random` ends brumeDraws(width, height) draws further on. The rows are
// worked out in parallel, each band starting from the generator moved on to
// its first row, which gives the very picture the draws in that order give.
// The dialog's scopes are 1..10; any scope 0..250 is computed the same way,
// others raise std::invalid_argument.
TBitmap32 brume(const TBitmap32& source, int scope, BrumeRandom& random);

}  // namespace plumora
