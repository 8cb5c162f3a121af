#include "effects/sketch/pencil_sketch.h"

#include "effects/sketch_pictures.h"
#include "raster/colour.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

#include <cmath>

namespace plumora {
namespace {

using test::pixelAt;

std::uint32_t opaque(int r, int g, int b)
{
    return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

// ContrastAdjust on one colour, step by step as defined.
std::uint32_t referenceContrast(int r, int g, int b, int a)
{
    const IntHSL hsl = IntRGBtoHSL(r, g, b);
    const double t = std::tan(a * 3.141592653589793 / 180);
    const std::int64_t l = a < 45 ? Round(t * (hsl.l - 55)) + (100 - a) : Round(t * (hsl.l - a - 5)) + 50;
    const IntRGB c = IntHSLtoRGB(hsl.h, hsl.s, int(std::clamp<std::int64_t>(l, 0, 100)));
    return opaque(c.r, c.g, c.b);
}

std::uint32_t referenceLighting(int grey, int p)
{
    const int v = clampByte(grey + 2 * (p - 128));
    return opaque(v, v, v);
}

// The pencil sketch as defined: the edge picture; in contrast mode its grey
// copy through ContrastAdjust, in lighting mode LightingAdjust of the edges.
TBitmap32 referencePencilSketch(const TBitmap32& source, PencilMode mode, int position)
{
    TBitmap32 work = source;
    picsobel(work);
    for (int y = 0; y < work.height(); ++y)
        for (int x = 0; x < work.width(); ++x) {
            const std::uint8_t* p = work.ScanLine(y) + x * 4;
            const int g = greyValue(p[2], p[1], p[0]);
            test::setPixel(work, x, y, opaque(g, g, g));  // the grey copy
            test::setPixel(work, x, y,
                           mode == PencilMode::Contrast ? referenceContrast(g, g, g, position)
                                                        : referenceLighting(g, position));
        }
    return work;
}

TEST(PencilSketch, EqualsTheStepsOfItsDefinitionInBothModes)
{
    const std::pair<int, int> sizes[] = {{1, 3}, {2, 5}, {5, 2}, {3, 3}, {97, 61}, {1100, 21}, {40, 130}};
    int run = 0;
    for (const auto& [w, h] : sizes)
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const TBitmap32 source = seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed);
            for (const PencilMode mode : {PencilMode::Contrast, PencilMode::Lighting})
                for (int position : {0, 1, 44, 45, 46, 88, 89, 127, 128, 129, 255}) {
                    if (mode == PencilMode::Contrast && position > kContrastMax)
                        continue;
                    setThreadCount(run % 3 + 1);
                    const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                    ASSERT_EQ(pencilSketch(source, mode, position), referencePencilSketch(source, mode, position))
                        << w << "x" << h << " mode " << int(mode) << " position " << position;
                }
        }
    setThreadCount(0);
}

// The adjustments look greys up in tables: every grey at every position of
// the dialog's ranges is compared with the formula.
TEST(PencilSketch, AdjustmentsEqualTheirFormulasForEveryGreyAtEveryPosition)
{
    for (int a = kContrastMin; a <= kContrastMax; ++a) {
        const auto table = pencilGreyPixels(PencilMode::Contrast, a);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(table[std::size_t(v)], referenceContrast(v, v, v, a)) << v << " position " << a;
    }
    for (int position = kLightingMin; position <= kLightingMax; ++position) {
        const auto table = pencilGreyPixels(PencilMode::Lighting, position);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(table[std::size_t(v)], referenceLighting(v, position)) << v << " position " << position;
    }
}

TEST(PencilSketch, TellingPositions)
{
    // Contrast 0 is white; at 45 (tan 45 degrees is 0.9999999999999999 in
    // double) every lightness comes back; at 89 only 94 stays in the middle.
    EXPECT_EQ(pencilSketch(test::randomPicture(30, 20, 3), PencilMode::Contrast, 0),
              test::uniformPicture(30, 20, 255, 255, 255, 255));
    for (int l = 0; l <= 100; ++l) {
        EXPECT_EQ(contrastLightness(l, 45), l);
        EXPECT_EQ(contrastLightness(l, 89), l < 94 ? 0 : (l == 94 ? 50 : 100));
    }
    EXPECT_EQ(contrastLightness(100, 30), 96);  // Round(tan 30 * 45) + 70

    // A black picture with one white pixel: grey 0 in its middle, 255 around.
    TBitmap32 source = test::uniformPicture(5, 5, 0, 0, 0, 255);
    test::setPixel(source, 2, 2, 0xFFFFFFFFu);
    EXPECT_EQ(pixelAt(pencilSketch(source, PencilMode::Lighting, 128), 2, 2), 0xFF000000u);
    EXPECT_EQ(pixelAt(pencilSketch(source, PencilMode::Lighting, 255), 2, 2), 0xFFFEFEFEu);  // adds 254
    EXPECT_EQ(pencilSketch(source, PencilMode::Lighting, 0), test::uniformPicture(5, 5, 0, 0, 0, 255));

    const TBitmap32 uniform = test::uniformPicture(8, 6, 10, 200, 90, 0);  // no edges: white
    EXPECT_EQ(pencilSketch(uniform, PencilMode::Contrast, 45), test::uniformPicture(8, 6, 255, 255, 255, 255));
    EXPECT_THROW(pencilSketch(test::randomPicture(12, 1, 4), PencilMode::Lighting, 128), ScanLineError);
}

}  // namespace
}  // namespace plumora
