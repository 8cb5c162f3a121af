#pragma once

#include <cstdint>

namespace plumora {

// The largest picture Plumora accepts, in pixels (1 GiB at 4 bytes a pixel).
// Every reader and every size computation checks against this one figure
// before it allocates, so a hostile header cannot make us ask for gigabytes.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

// Throws ImageTooLargeError unless width x height is a size we can hold
// (both non-negative, product at most kMaxPixels).
void checkPictureSize(std::int64_t width, std::int64_t height);

}  // namespace plumora
