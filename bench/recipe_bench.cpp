// Applying a recipe of three steps (a quarter turn, a resize with the
// proportions held, a pen sketch) against the same three operations called
// one after the other by hand, and against each step timed alone. "Applying a
// recipe costs the sum of its steps plus at most one copy per step": the
// ratio lines at the end put the recipe over the steps alone and over the
// steps plus three copies (at most 1 is the promise kept).
//
//   build/bench/plumora_bench --benchmark_filter='Copy/|Recipe' --benchmark_repetitions=5

#include "document/recipe.h"
#include "effects/sketch/pen_sketch.h"
#include "raster/geometry.h"
#include "raster/rounding.h"

#include <benchmark/benchmark.h>

#include <memory>

#include "bench_support.h"

namespace plumora {
namespace {

using bench::photo;

const Recipe& threeSteps()
{
    static const Recipe recipe = parseRecipe(
        R"({"plumora-recipe": 1, "steps": [{"turn": "clockwise"}, {"resize": {"scale": 0.8}},
            {"effect": "pen-sketch", "pressure": 128}]})");
    return recipe;
}

// The same steps with the effect first: the turn and the resize then change
// the displayed picture alone, since no later effect reads the source.
const Recipe& effectFirst()
{
    static const Recipe recipe = parseRecipe(
        R"({"plumora-recipe": 1, "steps": [{"effect": "pen-sketch", "pressure": 128}, {"turn": "clockwise"},
            {"resize": {"scale": 0.8}}]})");
    return recipe;
}

// The pictures each step of threeSteps() starts from, made once a size.
const TBitmap32& turned(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<TBitmap32>(rotateClockwise(photo(index)));
    return *cache[index];
}

std::pair<int, int> resized(const TBitmap32& p)
{
    const int width = int(Round(0.8 * p.width()));
    return {width, int(Round(double(width) * p.height() / p.width()))};
}

const TBitmap32& turnedAndResized(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index]) {
        const auto [w, h] = resized(turned(index));
        cache[index] = std::make_unique<TBitmap32>(stretchTo(turned(index), w, h));
    }
    return *cache[index];
}

template <class Operation>
void run(benchmark::State& state, Operation operation)
{
    const int index = int(state.range(0));
    for (auto _ : state) {
        TBitmap32 result = operation(index);
        benchmark::DoNotOptimize(result.bits());
    }
    state.SetLabel(bench::kSizes[index].label);
}

void RecipeThreeSteps(benchmark::State& s)
{
    run(s, [](int i) {
        EffectContext context;
        return applyRecipe(threeSteps(), photo(i), context);
    });
}
void RecipeEffectFirst(benchmark::State& s)
{
    run(s, [](int i) {
        EffectContext context;
        return applyRecipe(effectFirst(), photo(i), context);
    });
}
// The three operations called one after the other by hand, each result
// made afresh as the recipe makes it.
void RecipeByHand(benchmark::State& s)
{
    run(s, [](int i) {
        const TBitmap32 turned = rotateClockwise(photo(i));
        const auto [w, h] = resized(turned);
        return penSketch(stretchTo(turned, w, h), 128);
    });
}
void RecipeStepTurn(benchmark::State& s)
{
    run(s, [](int i) { return rotateClockwise(photo(i)); });
}
void RecipeStepResize(benchmark::State& s)
{
    run(s, [](int i) {
        const auto [w, h] = resized(turned(i));
        return stretchTo(turned(i), w, h);
    });
}
void RecipeStepPenSketch(benchmark::State& s)
{
    run(s, [](int i) { return penSketch(turnedAndResized(i), 128); });
}

#define PLUMORA_RECIPE_BENCH(fn) BENCHMARK(fn)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMillisecond)
PLUMORA_RECIPE_BENCH(RecipeThreeSteps);
PLUMORA_RECIPE_BENCH(RecipeEffectFirst);
PLUMORA_RECIPE_BENCH(RecipeByHand);
PLUMORA_RECIPE_BENCH(RecipeStepTurn);
PLUMORA_RECIPE_BENCH(RecipeStepResize);
PLUMORA_RECIPE_BENCH(RecipeStepPenSketch);

[[maybe_unused]] const bool registered[] = {
    bench::addRatioLine({"RecipeThreeSteps", {"RecipeByHand"}, "the recipe / the same calls by hand"}),
    bench::addRatioLine(
        {"RecipeThreeSteps", {"RecipeStepTurn", "RecipeStepResize", "RecipeStepPenSketch"}, "the recipe / its steps"}),
    bench::addRatioLine({"RecipeThreeSteps",
                         {"RecipeStepTurn", "RecipeStepResize", "RecipeStepPenSketch", "Copy", "Copy", "Copy"},
                         "at most 1: within its steps plus one copy a step"}),
    bench::addRatioLine({"RecipeEffectFirst",
                         {"RecipeStepTurn", "RecipeStepResize", "RecipeStepPenSketch"},
                         "the effect first (its steps on other sizes)"}),
};

}  // namespace
}  // namespace plumora
