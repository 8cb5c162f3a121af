#include "effects/sketch/dozadir.h"

#include "effects/sketch/pen_sketch.h"
#include "effects/sketch_pictures.h"
#include "raster/errors.h"
#include "raster/parallel.h"
#include "support/simd_levels.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

using test::colourZero;
using test::drawing;
using test::fromDrawing;

// One growth step as defined: neighbours read from a copy taken at the
// start, the pixel's own test and the writes on the picture, interior only.
void referenceDilate(TBitmap32& bitmap, int direction)
{
    const int dx[] = {0, -1, -1, 0, -1, 0}, dy[] = {0, 1, -1, 1, 0, 0};  // the first neighbour of 1..4
    if (bitmap.width() < 3 || bitmap.height() < 3 || direction < 1 || direction > 4)
        return;
    const TBitmap32 copy = bitmap;
    const int ux = dx[direction], uy = dy[direction];
    for (int y = 1; y <= bitmap.height() - 2; ++y)
        for (int x = 1; x <= bitmap.width() - 2; ++x) {
            std::uint8_t* p = bitmap.ScanLine(y) + x * 4;
            if (p[0] != 0 && p[1] != 0 && p[2] != 0 &&
                (colourZero(copy, x + ux, y + uy) || colourZero(copy, x - ux, y - uy)))
                p[0] = p[1] = p[2] = 0;
        }
}

TBitmap32 referenceDozadir(const TBitmap32& source, int pressure, int scope, int direction)
{
    TBitmap32 work = penSketch(source, pressure);  // the edge picture cut, tested with the pen sketch
    for (int step = 0; step < scope; ++step)
        referenceDilate(work, direction);
    return work;
}

TEST(Dozadir, EqualsThePenSketchGrownStepByStep)
{
    // A white pixel near one end of a black picture draws a small mark that
    // has the picture's whole length to grow along, past any scope's reach.
    TBitmap32 wide = test::uniformPicture(40, 5, 0, 0, 0, 255), tall = test::uniformPicture(5, 40, 0, 0, 0, 255);
    test::setPixel(wide, 1, 2, 0xFFFFFFFFu);
    test::setPixel(tall, 2, 1, 0xFFFFFFFFu);
    std::vector<TBitmap32> sources = {wide, tall};
    for (const auto& [w, h] : {std::pair{1, 4}, {2, 6}, {6, 2}, {3, 3}, {23, 17}, {90, 70}, {1100, 20}})
        for (unsigned seed = 1; seed <= 2; ++seed)
            sources.push_back(seed == 1 ? test::sketchPicture(w, h, seed) : test::randomPicture(w, h, seed));
    int run = 0;
    for (const TBitmap32& source : sources)
        for (int direction = 0; direction <= 5; ++direction)
            for (int scope : {0, 1, 2, 3, 10, 40}) {
                const int pressure = (run * 37) % 256;
                setThreadCount(run % 3 + 1);
                const SimdLevelCap cap(test::cycledSimdLevel(run++ / 3));
                ASSERT_EQ(dozadir(source, pressure, scope, direction),
                          referenceDozadir(source, pressure, scope, direction))
                    << source.width() << "x" << source.height() << " direction " << direction << " scope " << scope;
            }
    setThreadCount(0);
    EXPECT_THROW(dozadir(test::randomPicture(10, 1, 1), 128, 3, 1), ScanLineError);
}

TEST(Dozadir, OneStepGrowsAlongItsDirectionButNeverOnTheBorder)
{
    const std::vector<std::string> dot = {"......", "......", "..#...", "......", "#....."};
    const std::vector<std::string> grown[] = {
        {"......", "...#..", "..#...", ".#....", "#....."},  // "///"
        {"......", ".#....", "..#...", "...#..", "#....."},  // "\\\"
        {"......", "..#...", "..#...", "..#...", "#....."},  // "| | |"
        {"......", "......", ".###..", "......", "#....."},  // "==": the corner's neighbours are border pixels
    };
    for (int direction = 1; direction <= 4; ++direction) {
        TBitmap32 p = fromDrawing(dot);
        referenceDilate(p, direction);
        EXPECT_EQ(drawing(p), grown[direction - 1]) << direction;
    }
    // A border pixel passes its black inward.
    TBitmap32 edge = fromDrawing({".....", ".....", "#....", ".....", "....."});
    referenceDilate(edge, 4);
    referenceDilate(edge, 4);
    EXPECT_EQ(drawing(edge), (std::vector<std::string>{".....", ".....", "###..", ".....", "....."}));
}

TEST(Dozadir, FullPressureIsBlackAndAUniformPictureWhite)
{
    EXPECT_EQ(dozadir(test::sketchPicture(20, 10, 1), 255, 3, 2), test::uniformPicture(20, 10, 0, 0, 0, 255));
    EXPECT_EQ(dozadir(test::uniformPicture(20, 10, 1, 2, 3, 4), 254, 10, 4),
              test::uniformPicture(20, 10, 255, 255, 255, 255));
}

}  // namespace
}  // namespace plumora
