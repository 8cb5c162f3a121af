#include "app/colour_display.h"

#include <lcms2.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace plumora {

namespace {

// A photographer opens a few pictures at a time, mostly with one or two
// profiles; making a transform costs a few milliseconds.
constexpr std::size_t kCachedProfiles = 8;

std::mutex g_cacheMutex;
std::vector<std::pair<std::vector<std::uint8_t>, std::shared_ptr<const DisplayTransform>>> g_cache;  // newest last
std::atomic<int> g_made{0};

}  // namespace

DisplayTransform::~DisplayTransform()
{
    cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
}

void DisplayTransform::convert(const std::uint8_t* from, std::uint8_t* to, std::size_t count) const
{
    while (count > 0) {
        const auto n = static_cast<cmsUInt32Number>(std::min<std::size_t>(count, 1u << 30));
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), from, to, n);
        from += std::size_t(n) * 4;
        to += std::size_t(n) * 4;
        count -= n;
    }
}

std::shared_ptr<const DisplayTransform> displayTransformFor(const std::vector<std::uint8_t>& icc)
{
    if (icc.empty())
        return nullptr;
    const std::lock_guard lock(g_cacheMutex);
    for (auto it = g_cache.begin(); it != g_cache.end(); ++it)
        if (it->first == icc) {
            auto entry = std::move(*it);
            g_cache.erase(it);
            g_cache.push_back(std::move(entry));
            return g_cache.back().second;
        }
    std::shared_ptr<const DisplayTransform> made;
    cmsHPROFILE input = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE screen = cmsCreate_sRGBProfile();
    if (input && screen && cmsGetColorSpace(input) == cmsSigRgbData) {
        // The fourth byte is copied, as the view always passed it on.
        cmsHTRANSFORM transform =
            cmsCreateTransform(input, TYPE_BGRA_8, screen, TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
        if (transform) {
            made.reset(new DisplayTransform(transform));
            ++g_made;
        }
    }
    if (input)
        cmsCloseProfile(input);
    if (screen)
        cmsCloseProfile(screen);
    // A profile lcms2 refused is remembered too, so it is not tried at every paint.
    g_cache.emplace_back(icc, made);
    if (g_cache.size() > kCachedProfiles)
        g_cache.erase(g_cache.begin());
    return made;
}

int displayTransformsMade()
{
    return g_made.load();
}

}  // namespace plumora
