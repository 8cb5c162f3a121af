#include "raster/interleaved.h"

#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace plumora {
namespace {

// Odd sizes, so that no vector path ends on a whole vector, and tall enough
// for the rows to be shared among threads.
constexpr int kWidth = 37, kHeight = 301;

// Row pointers into samples held row after row, as numpy holds them; the
// rows handed over in reverse order, so that a loop that took the first
// row's pointer for all of them cannot pass.
template <class T>
std::vector<T*> reversedRows(T* samples, int rowBytes)
{
    std::vector<T*> rows(kHeight);
    for (int y = 0; y < kHeight; ++y)
        rows[std::size_t(y)] = samples + std::size_t(kHeight - 1 - y) * std::size_t(rowBytes);
    return rows;
}

std::vector<std::uint8_t> randomSamples(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> samples(count);
    for (std::uint8_t& s : samples)
        s = std::uint8_t(rng());
    return samples;
}

TEST(Interleaved, SamplesInBecomeThePixelsTheySayAtEveryLevel)
{
    for (const int channels : {1, 3, 4})
        for (const bool withAlpha : {false, true}) {
            const std::vector<std::uint8_t> in = randomSamples(std::size_t(kWidth) * kHeight * channels, 7);
            for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
                const SimdLevelCap cap(level);
                TBitmap32 picture(kWidth, kHeight);
                pictureFromRows(reversedRows(in.data(), kWidth * channels).data(), channels, withAlpha, picture);
                for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i) {
                    const std::size_t y = i / kWidth, x = i % kWidth, from = (kHeight - 1 - y) * kWidth + x;
                    const std::uint8_t* s = &in[from * std::size_t(channels)];
                    const std::uint8_t* p = picture.bits() + i * 4;
                    const int step = channels == 1 ? 0 : 1;
                    ASSERT_EQ(p[kRed], s[0]) << name << " " << channels << " pixel " << i;
                    ASSERT_EQ(p[kGreen], s[step]) << name << " " << channels << " pixel " << i;
                    ASSERT_EQ(p[kBlue], s[2 * step]) << name << " " << channels << " pixel " << i;
                    ASSERT_EQ(p[kAlpha], withAlpha && channels == 4 ? s[3] : 255) << name << " pixel " << i;
                }
            }
        }
}

TEST(Interleaved, PixelsOutGiveTheirSamplesAtEveryLevel)
{
    TBitmap32 picture(kWidth, kHeight);
    const std::vector<std::uint8_t> bytes = randomSamples(picture.byteCount(), 8);
    std::copy(bytes.begin(), bytes.end(), picture.bits());
    const std::vector<std::uint8_t> alpha = randomSamples(picture.byteCount(), 9);
    for (const int channels : {1, 3, 4})
        for (const AlphaOut how : {AlphaOut::Own, AlphaOut::Opaque, AlphaOut::From}) {
            for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
                const SimdLevelCap cap(level);
                std::vector<std::uint8_t> out(std::size_t(kWidth) * kHeight * channels, 0xA5);
                rowsFromPicture(picture, channels, how, reversedRows(alpha.data(), kWidth * 4).data(),
                                reversedRows(out.data(), kWidth * channels).data());
                for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i) {
                    const std::size_t y = i / kWidth, x = i % kWidth, to = (kHeight - 1 - y) * kWidth + x;
                    const std::uint8_t* p = picture.bits() + i * 4;
                    const std::uint8_t* s = &out[to * std::size_t(channels)];
                    ASSERT_EQ(s[0], p[kRed]) << name << " " << channels << " pixel " << i;
                    if (channels == 1)
                        continue;
                    ASSERT_EQ(s[1], p[kGreen]) << name << " pixel " << i;
                    ASSERT_EQ(s[2], p[kBlue]) << name << " pixel " << i;
                    if (channels == 4) {
                        const int expected = how == AlphaOut::Own      ? p[kAlpha]
                                             : how == AlphaOut::Opaque ? 255
                                                                       : alpha[to * 4 + 3];
                        ASSERT_EQ(s[3], expected) << name << " pixel " << i;
                    }
                }
            }
        }
}

TEST(Interleaved, AGreyPictureIsOneWhoseThreeColoursAreEqualEverywhere)
{
    TBitmap32 picture(kWidth, kHeight);
    const std::vector<std::uint8_t> greys = randomSamples(std::size_t(kWidth) * kHeight, 10);
    pictureFromRows(reversedRows(greys.data(), kWidth).data(), 1, false, picture);
    picture.bits()[3] = 17;  // the fourth byte does not count
    for (const auto& [level, name] : test::simdLevelsOfThisMachine()) {
        const SimdLevelCap cap(level);
        EXPECT_TRUE(isGreyPicture(picture)) << name;
        // One colour off by one bit in one pixel, in each place it can be:
        // the first, in the last band, and the last.
        for (const std::size_t pixel :
             {std::size_t(0), std::size_t(kWidth) * 250 + 3, std::size_t(kWidth) * kHeight - 1})
            for (const int colour : {kRed, kGreen, kBlue}) {
                std::uint8_t& byte = picture.bits()[pixel * 4 + std::size_t(colour)];
                byte ^= 1;
                EXPECT_FALSE(isGreyPicture(picture)) << name << " pixel " << pixel << " colour " << colour;
                byte ^= 1;
            }
    }
}

}  // namespace
}  // namespace plumora
