// Times freehand colouring on drawings of 12 and 24 megapixels: a dab of the
// brush and of the rubber at the largest size, which has to keep up with the
// pointer, and one pass of thinline and thickline. The Copy rows of
// raster_bench are the floor to compare with: the arguments 1 and 2 are the
// same sizes, so the ratio table at the end lists these too.
//
//   build/bench/plumora_bench --benchmark_filter='Copy|Dab|line'

#include "freehand/lines.h"
#include "freehand/strokes.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

namespace plumora {
namespace {

struct Size {
    int width;
    int height;
};
// By the arguments raster_bench gives its sizes: 1 is 12 MP, 2 is 24 MP.
constexpr Size kSizes[] = {{1224, 816}, {4240, 2832}, {6000, 4000}};

// A pencil drawing: white paper (about three quarters of it) with straight
// strokes one to four pixels thick in greys and black, crossing here and
// there; the thin ones that step two pixels at a time come out dotted.
const TBitmap32& drawing(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index]) {
        const Size s = kSizes[index];
        auto p = std::make_unique<TBitmap32>(s.width, s.height);
        std::memset(p->bits(), 0xFF, p->byteCount());
        std::mt19937 rng(2024);
        for (int stroke = 0; stroke < s.width * s.height / 4000; ++stroke) {
            const int thickness = 1 + int(rng() % 4);
            const std::uint8_t grey = std::uint8_t(rng() % 170);
            const int length = 40 + int(rng() % 400);
            const int dx = int(rng() % 5) - 2, anyDy = int(rng() % 5) - 2;
            const int dy = dx == 0 && anyDy == 0 ? 1 : anyDy;
            int x = int(rng() % unsigned(s.width)), y = int(rng() % unsigned(s.height));
            for (int step = 0; step < length; ++step, x += dx, y += dy)
                for (int ty = y; ty < y + thickness; ++ty)
                    for (int tx = x; tx < x + thickness; ++tx)
                        if (tx >= 0 && ty >= 0 && tx < s.width && ty < s.height) {
                            std::uint8_t* px = p->ScanLine(ty) + tx * 4;
                            px[0] = px[1] = px[2] = grey;
                        }
        }
        cache[index] = std::move(p);
    }
    return *cache[index];
}

// Dabs all over the picture, as a long stroke would leave them, so that
// they do not all find their rows in the cache.
template <class Dab>
void dabs(benchmark::State& state, Dab&& dab)
{
    TBitmap32 picture = drawing(int(state.range(0)));
    const int radius = 100;
    std::int64_t i = 0;
    for (auto _ : state) {
        const int x = radius + int(i * 977 % (picture.width() - 2 * radius));
        const int y = radius + int(i * 613 % (picture.height() - 2 * radius));
        benchmark::DoNotOptimize(dab(picture, x, y, radius));
        ++i;
    }
}

void BrushDab100(benchmark::State& s)
{
    const BrushColour colour({30, 90, 200});
    dabs(s, [&](TBitmap32& p, int x, int y, int r) { return brush(p, x, y, r, colour); });
}
void RubberDab100(benchmark::State& s)
{
    dabs(s, [](TBitmap32& p, int x, int y, int r) { return rub(p, x, y, r); });
}

// One pass over the drawing as it was: the picture is put back with the
// clock stopped.
template <void (*Pass)(TBitmap32&)>
void pass(benchmark::State& state)
{
    const TBitmap32& source = drawing(int(state.range(0)));
    TBitmap32 picture = source;
    for (auto _ : state) {
        state.PauseTiming();
        picture = source;
        state.ResumeTiming();
        Pass(picture);
        benchmark::DoNotOptimize(picture.bits());
    }
}
void Thinline(benchmark::State& s)
{
    pass<thinline>(s);
}
void Thickline(benchmark::State& s)
{
    pass<thickline>(s);
}

// Milliseconds like every other row: the ratio table divides the figures
// as they are.
BENCHMARK(BrushDab100)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(RubberDab100)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Thinline)->DenseRange(1, 2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Thickline)->DenseRange(1, 2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace plumora
