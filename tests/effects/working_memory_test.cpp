// Every effect takes its result and working pictures from the pool of freed
// blocks the second time it runs: none pays the kernel's zeroing of fresh
// memory twice in a row. Counted, on a picture whose blocks the pool keeps.

#include "effects/effects.h"

#include "raster/bitmap32.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

TEST(WorkingMemory, NoEffectTakesFreshBlocksWhenItRunsAgain)
{
    // 256 x 200 pixels: 200 KB a picture, and a plane of a byte a pixel
    // (Dozadir's ink) of 51 KB, which the heap serves; the pool keeps the rest.
    const TBitmap32 picture = test::photoLike(256, 200, 3);
    const TBitmap32 tile = test::randomPicture(58, 58, 6);
    releaseFreedBlocks();
    int ran = 0;
    for (const EffectDeclaration& e : effectTable()) {
        SCOPED_TRACE(e.name);
        ParamValues values;
        try {
            values = e.parse({});
        } catch (const ParamError&) {
            continue;  // a value must be given (a new size, a file)
        }
        EffectContext context;
        context.builtInTile = [&](int) { return tile; };
        context.readPicture = [&](const std::string&) { return tile; };
        {
            const TBitmap32 first = e.apply(picture, values, context);
        }
        const std::uint64_t freshBefore = freedBlockCounts().fresh;
        const std::uint64_t reusedBefore = freedBlockCounts().reused;
        {
            const TBitmap32 second = e.apply(picture, values, context);
        }
        EXPECT_EQ(freedBlockCounts().fresh, freshBefore);
        EXPECT_GE(freedBlockCounts().reused, reusedBefore + 1) << "the result itself";
        ++ran;
    }
    EXPECT_GE(ran, 15);
}

TEST(WorkingMemory, WaterColoursTwoWorkingPicturesAndDozadirsPlaneAreReused)
{
    const TBitmap32 picture = test::photoLike(640, 480, 4);  // a plane of 300 KB
    for (const char* name : {"water-color", "dozadir"}) {
        SCOPED_TRACE(name);
        const EffectDeclaration& e = *findEffect(name);
        EffectContext context;
        const ParamValues values = e.parse({});
        releaseFreedBlocks();
        const std::uint64_t freshFirst = freedBlockCounts().fresh;
        {
            const TBitmap32 first = e.apply(picture, values, context);
        }
        // The result and one more block: water colour's second picture, or
        // Dozadir's plane of ink.
        EXPECT_EQ(freedBlockCounts().fresh - freshFirst, 2u);
        const std::uint64_t freshBefore = freedBlockCounts().fresh;
        const std::uint64_t reusedBefore = freedBlockCounts().reused;
        {
            const TBitmap32 second = e.apply(picture, values, context);
        }
        EXPECT_EQ(freedBlockCounts().fresh, freshBefore);
        EXPECT_EQ(freedBlockCounts().reused - reusedBefore, 2u);
    }
}

}  // namespace
}  // namespace plumora
