#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace plumora {

// Shows a picture's values as its colour profile means them: converts
// pixels (blue, green, red, fourth byte, as a TBitmap32 holds them) from
// the profile to sRGB, the colours a screen shows, through lcms2 with the
// perceptual intent. Only what is painted is converted, into a copy; the
// picture's own values are never touched.
class DisplayTransform {
public:
    ~DisplayTransform();
    DisplayTransform(const DisplayTransform&) = delete;
    DisplayTransform& operator=(const DisplayTransform&) = delete;

    // Converts count pixels from `from` into `to` (which may be `from`);
    // the fourth byte is copied.
    void convert(const std::uint8_t* from, std::uint8_t* to, std::size_t count) const;

private:
    friend std::shared_ptr<const DisplayTransform> displayTransformFor(const std::vector<std::uint8_t>& icc);
    explicit DisplayTransform(void* transform) : m_transform(transform) {}
    void* m_transform;  // cmsHTRANSFORM
};

// The transform for a profile, made once per profile and kept (the last
// few profiles used are). Nothing for no profile, or one lcms2 cannot
// use: the values are then shown as they are, as sRGB.
std::shared_ptr<const DisplayTransform> displayTransformFor(const std::vector<std::uint8_t>& icc);

// How many transforms have been made in this run (they are cached per
// profile: showing a picture again, or another with the same profile,
// makes none).
int displayTransformsMade();

}  // namespace plumora
