// Times the document's history on photographs of 12 and 24 megapixels:
// opening, committing an effect's result, undo and redo of steps already
// compressed, not yet compressed, or right after an effect while its step is
// being compressed, and the background compression of one step. The arguments 1
// and 2 are raster_bench's sizes, so the ratio table at the end lists these
// as multiples of one copy. The DocumentTwenty... rows report what twenty effects
// leave in memory (counters, in MB):
//   open_MB    the document right after opening (historyBytes)
//   held_MB    the document after twenty effects, compression finished
//   steps      the twenty compressed steps as a share of twenty pictures
//   rss_MB     how much the process grew over the twenty effects
//
//   build/bench/plumora_bench --benchmark_filter='Copy/[12]|Document' --benchmark_repetitions=5

#include "document/document.h"
#include "effects/colour/hsl_adjust.h"
#include "effects/paint/color_pencil.h"
#include "effects/sketch/pen_sketch.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "bench_support.h"

namespace plumora {
namespace {

using bench::photo;
using bench::residentBytes;

// The results history steps hold: a pen sketch (black and white) and the
// colour pencil (colour), made once a size.
const TBitmap32& sketchOf(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<TBitmap32>(penSketch(photo(index), kPenPressureDefault));
    return *cache[index];
}

const TBitmap32& colourOf(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<TBitmap32>(colorPencil(photo(index), kColorPencilPressureDefault));
    return *cache[index];
}

double megabytes(std::size_t bytes)
{
    return double(bytes) / 1e6;
}

// A document that opened the photograph (the built-in picture is tiny).
std::unique_ptr<Document> openedDocument(int index)
{
    auto doc = std::make_unique<Document>(TBitmap32(1, 1));
    doc->open(TBitmap32(photo(index)));
    return doc;
}

void label(benchmark::State& state)
{
    state.SetLabel(bench::kSizes[state.range(0)].label);
}

// ---------------------------------------------------------------------------

// The picture arrives moved, as the open command hands it over; what the
// previous picture's history gives back counts too.
void DocumentOpen(benchmark::State& state)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    for (auto _ : state) {
        state.PauseTiming();
        TBitmap32 picture(photo(index));
        doc->applyResult(TBitmap32(colourOf(index)), "Effect");
        doc->waitForHistoryIdle();
        state.ResumeTiming();
        doc->open(std::move(picture));
    }
    label(state);
}

// The end of every effect: the result becomes the displayed picture and a
// history step. The previous step is compressed already, as it is when the
// user takes a moment between two effects.
void DocumentApplyResult(benchmark::State& state)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    for (auto _ : state) {
        state.PauseTiming();
        TBitmap32 result(colourOf(index));
        doc->waitForHistoryIdle();
        state.ResumeTiming();
        doc->applyResult(std::move(result), "Effect");
    }
    label(state);
}

// Undo and redo between two compressed steps: each unpacks a whole picture.
template <const TBitmap32& (*Step)(int)>
void undoRedo(benchmark::State& state, bool undo)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    doc->applyResult(TBitmap32(Step(index)), "One");
    doc->applyResult(TBitmap32(Step(index)), "Two");
    doc->waitForHistoryIdle();
    for (auto _ : state) {
        if (undo) {
            doc->undo();
            state.PauseTiming();
            doc->redo();
        } else {
            state.PauseTiming();
            doc->undo();
            doc->waitForHistoryIdle();
            state.ResumeTiming();
            doc->redo();
            state.PauseTiming();
        }
        doc->waitForHistoryIdle();
        state.ResumeTiming();
    }
    label(state);
}

void DocumentUndoColour(benchmark::State& s)
{
    undoRedo<colourOf>(s, true);
}
void DocumentRedoColour(benchmark::State& s)
{
    undoRedo<colourOf>(s, false);
}
void DocumentUndoSketch(benchmark::State& s)
{
    undoRedo<sketchOf>(s, true);
}
void DocumentRedoSketch(benchmark::State& s)
{
    undoRedo<sketchOf>(s, false);
}

// Undo and redo right after the steps were made, before the background has
// compressed them: the steps' own blocks are shared.
void DocumentUndoRedoUncompressed(benchmark::State& state)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    doc->holdHistoryWork(true);
    doc->applyResult(TBitmap32(colourOf(index)), "One");
    doc->applyResult(TBitmap32(colourOf(index)), "Two");
    for (auto _ : state) {
        doc->undo();
        doc->redo();
    }
    label(state);
}

// Undo at once after an effect, while the background compresses the new
// step: the step before it still has its pixels and is shared.
void DocumentUndoRightAfterStep(benchmark::State& state)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    doc->applyResult(TBitmap32(colourOf(index)), "One");
    for (auto _ : state) {
        state.PauseTiming();
        TBitmap32 result(colourOf(index));
        doc->waitForHistoryIdle();
        doc->applyResult(std::move(result), "Two");  // drops the previous redo step
        state.ResumeTiming();
        doc->undo();
    }
    label(state);
}

// The undo after that one, still while the new step is being compressed:
// a compressed step is unpacked, competing with the background.
void DocumentSecondUndoRightAfterStep(benchmark::State& state)
{
    const int index = int(state.range(0));
    auto doc = openedDocument(index);
    doc->applyResult(TBitmap32(colourOf(index)), "One");
    doc->applyResult(TBitmap32(colourOf(index)), "Two");
    for (auto _ : state) {
        state.PauseTiming();
        TBitmap32 result(colourOf(index));
        doc->waitForHistoryIdle();
        doc->applyResult(std::move(result), "Three");  // drops the previous redo step
        doc->undo();
        state.ResumeTiming();
        doc->undo();
        state.PauseTiming();
        doc->redo();
        state.ResumeTiming();
    }
    label(state);
}

// What the background thread spends on one step, on its one core.
template <const TBitmap32& (*Step)(int)>
void pack(benchmark::State& state)
{
    const TBitmap32& picture = Step(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PackedPicture::pack(picture));
    label(state);
}

void DocumentPackColour(benchmark::State& s)
{
    pack<colourOf>(s);
}
void DocumentPackSketch(benchmark::State& s)
{
    pack<sketchOf>(s);
}

// ---------------------------------------------------------------------------

// Opens the photograph and applies twenty effects made as the program makes
// them (each computed while the previous step is being compressed), then
// reports memory. Sketches: the pen sketch at twenty pressures. Colours: the
// colour pencil at ten pressures and HSL adjust at ten hues, alternately.
TBitmap32 sketchStep(int index, int step)
{
    return penSketch(photo(index), 40 + 8 * step);
}

TBitmap32 colourStep(int index, int step)
{
    return step % 2 == 0 ? colorPencil(photo(index), 4 + 4 * step) : hslAdjust(photo(index), 18 * step, 130, 90);
}

template <TBitmap32 (*Step)(int, int)>
void twentySteps(benchmark::State& state)
{
    const int index = int(state.range(0));
    const std::size_t raw = photo(index).byteCount();
    for (auto _ : state) {
        auto doc = openedDocument(index);
        doc->waitForHistoryIdle();
        const std::size_t afterOpen = doc->historyBytes();
        const std::size_t residentBefore = residentBytes();
        for (int step = 0; step < 20; ++step)
            doc->applyResult(Step(index, step), "Effect");
        doc->waitForHistoryIdle();
        const PictureMemory memory = doc->historyMemory();
        state.counters["open_MB"] = megabytes(afterOpen);
        state.counters["held_MB"] = megabytes(memory.total());
        state.counters["steps"] = double(memory.packedBytes) / double(20 * raw);
        state.counters["rss_MB"] = megabytes(residentBytes() - residentBefore);
    }
    label(state);
}

void DocumentTwentySketches(benchmark::State& s)
{
    twentySteps<sketchStep>(s);
}
void DocumentTwentyColours(benchmark::State& s)
{
    twentySteps<colourStep>(s);
}

#define PLUMORA_DOCUMENT_BENCH(fn) BENCHMARK(fn)->DenseRange(1, 2)->UseRealTime()->Unit(benchmark::kMillisecond)
// Each of these waits, untimed, for a step to be compressed before what it
// times: a fixed count keeps the benchmark library from running a thousand.
PLUMORA_DOCUMENT_BENCH(DocumentOpen)->Iterations(10);
PLUMORA_DOCUMENT_BENCH(DocumentApplyResult)->Iterations(10);
PLUMORA_DOCUMENT_BENCH(DocumentUndoColour);
PLUMORA_DOCUMENT_BENCH(DocumentRedoColour);
PLUMORA_DOCUMENT_BENCH(DocumentUndoSketch);
PLUMORA_DOCUMENT_BENCH(DocumentRedoSketch);
PLUMORA_DOCUMENT_BENCH(DocumentUndoRedoUncompressed);
PLUMORA_DOCUMENT_BENCH(DocumentUndoRightAfterStep)->Iterations(10);
PLUMORA_DOCUMENT_BENCH(DocumentSecondUndoRightAfterStep)->Iterations(10);
PLUMORA_DOCUMENT_BENCH(DocumentPackColour);
PLUMORA_DOCUMENT_BENCH(DocumentPackSketch);
PLUMORA_DOCUMENT_BENCH(DocumentTwentySketches)->Iterations(1);
PLUMORA_DOCUMENT_BENCH(DocumentTwentyColours)->Iterations(1);

}  // namespace
}  // namespace plumora
