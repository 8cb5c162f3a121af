// Times the pixel core on photographs of 1, 12 and 24 megapixels and states
// each figure as a multiple of copying the same picture once, the floor any
// whole-picture operation that writes a new picture has to pay.
//
//   build/bench/plumora_bench [--benchmark_repetitions=5]

#include "effects/paint/brume.h"
#include "effects/paint/color_pencil.h"
#include "effects/paint/convolution.h"
#include "effects/paint/water_color.h"
#include "effects/relief/emboss.h"
#include "effects/relief/stria.h"
#include "effects/relief/texture.h"
#include "effects/colour/color_filter.h"
#include "effects/colour/color_panel.h"
#include "effects/colour/color_variety.h"
#include "effects/colour/hsl_adjust.h"
#include "effects/sketch/dozadir.h"
#include "effects/sketch/pen_and_ink.h"
#include "effects/sketch/pen_sketch.h"
#include "effects/sketch/pencil_sketch.h"
#include "raster/geometry.h"
#include "raster/parallel.h"
#include "raster/picsobel.h"
#include "raster/preview.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace plumora {
namespace {

using bench::kSizes;
using bench::photo;
using bench::Size;

// The process's processor time so far, user and system (the kernel's: page
// faults, zeroing fresh memory), in milliseconds, all threads.
std::pair<double, double> processorMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

template <class F>
void run(benchmark::State& state, F&& operation)
{
    const TBitmap32& source = photo(int(state.range(0)));
    const auto [user0, system0] = processorMilliseconds();
    for (auto _ : state) {
        TBitmap32 result = operation(source);
        benchmark::DoNotOptimize(result.bits());
    }
    // Per iteration, over every thread: system time is what the kernel spent
    // for the operation, mostly handing out fresh pages.
    const auto [user1, system1] = processorMilliseconds();
    state.counters["user_ms"] = benchmark::Counter(user1 - user0, benchmark::Counter::kAvgIterations);
    state.counters["sys_ms"] = benchmark::Counter(system1 - system0, benchmark::Counter::kAvgIterations);
    state.SetLabel(kSizes[state.range(0)].label);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(source.byteCount()));
}

void Copy(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return TBitmap32(p); });
}
void Picsobel(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return picsobelOf(p); });
}
void PenSketch(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return penSketch(p, 128); });
}
void PencilSketchContrast(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return pencilSketch(p, PencilMode::Contrast, kContrastDefault); });
}
void PencilSketchLighting(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return pencilSketch(p, PencilMode::Lighting, 150); });
}
// Dozadir's cost grows with the scope: the smallest and the largest.
void DozadirScope1(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return dozadir(p, 128, 1, 1); });
}
void DozadirScope10(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return dozadir(p, 128, 10, 1); });
}
void PenAndInk(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return penAndInk(p, 128, false); });
}
void PenAndInkColour(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return penAndInk(p, 128, true); });
}
// The image size dialog's "+": 125 % both ways.
void Stretch125(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return stretchTo(p, p.width() * 5 / 4, p.height() * 5 / 4); });
}
// The "-": 80 % both ways.
void Stretch80(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return stretchTo(p, p.width() * 4 / 5, p.height() * 4 / 5); });
}
void RotateClockwise(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return rotateClockwise(p); });
}
void ColorPencil(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return colorPencil(p, kColorPencilPressureDefault); });
}
// The steepest line keeps the most colour: every pixel goes through the HSL pair.
void ColorPencil89(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return colorPencil(p, 89); });
}
void Realism(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return realism(p, kRealismDefaultKernel); });
}
// Weights whose sums no longer fit in 16 bits take the 64-bit path.
void RealismLargeWeights(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return realism(p, {100, 200, 100, 0, 1, 0, -100, -200, -100}); });
}
void PopArt(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return popArt(p, kPopArtDefaultKernel); });
}
void Abstract(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return abstractArt(p, kAbstractDefaultKernel); });
}
// One cycle of sharpen, soften, soften; the default runs three.
void WaterColorScope1(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return waterColor(p, 1); });
}
void WaterColorScope3(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return waterColor(p, kWaterColorScopeDefault); });
}
// One generator for the whole run, as in the program.
void Brume(benchmark::State& s)
{
    static BrumeRandom random;
    run(s, [](const TBitmap32& p) { return brume(p, kBrumeScopeDefault, random); });
}
void Emboss(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return emboss(p, kEmbossLightingDefault, kEmbossDepthDefault); });
}
// A grey tile whose lightness spans the whole range, so that every pixel's
// lightness moves and some reach the ends.
const TBitmap32& benchTile()
{
    static const TBitmap32 tile = [] {
        TBitmap32 t(kTextureTileSize, kTextureTileSize);
        for (int y = 0; y < t.height(); ++y)
            for (int x = 0; x < t.width(); ++x) {
                const std::uint8_t v = std::uint8_t((x * 37 + y * 91) % 256);
                std::uint8_t* p = t.ScanLine(y) + x * 4;
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            }
        return t;
    }();
    return tile;
}
void Texture(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return TextureBlend(benchTile(), p, kTexturePressureDefault); });
}
// The defaults (a third of the columns striped), and the widest stripes with
// one-pixel gaps across rows.
void StriaVertical(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) {
        return stria(p, StriaDirection::Vertical, kStriaThicknessDefault, kStriaSpaceDefault, kStriaTransparencyDefault,
                     0x204080);
    });
}
void StriaHorizontal(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) {
        return stria(p, StriaDirection::Horizontal, kStriaThicknessMax, kStriaSpaceMin, kStriaTransparencyDefault,
                     0x204080);
    });
}
// The colour panel's six layouts; the two grids of copies include making
// their reduced copy.
template <ColorPanelLayout Layout>
void ColorPanel(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return colorPanel(p, Layout); });
}
void PanelGrid2x2(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Panel2x2>(s);
}
void PaneGrid2x2(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Pane2x2>(s);
}
void Catercorner4(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Catercorner4>(s);
}
void PanelGrid3x3(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Panel3x3>(s);
}
void PaneGrid3x3(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Pane3x3>(s);
}
void Catercorner16(benchmark::State& s)
{
    ColorPanel<ColorPanelLayout::Catercorner16>(s);
}
// A turned hue with both shifts, and the positions the window opens with.
void HslAdjust(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return hslAdjust(p, 250, 130, 90); });
}
void HslAdjustNeutral(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return hslAdjust(p, kHslHueDefault, kHslSaturationDefault, kHslLightingDefault); });
}
void ColorFilterRed(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) { return colorFilter(p, ColorFilterKind::Red); });
}
// One click of colour variety on a copy of the picture (the window's result
// preview), and four clicks folded into one pass.
void ColorVarietyStep(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) {
        TBitmap32 preview = p;
        colorVarietyStep(preview, ColorVarietyKind::MoreYellow);
        return preview;
    });
}
void ColorVarietyClicks(benchmark::State& s)
{
    using K = ColorVarietyKind;
    run(s, [](const TBitmap32& p) { return colorVariety(p, {K::MoreRed, K::MoreRed, K::MoreCyan, K::MorePurple}); });
}

// A colour filter swatch clicked in its window: the base filtered into the
// result preview, and the result drawn into its 105-pixel frame, as the
// preview control paints it.
void ColorFilterSwatchClick(benchmark::State& s)
{
    run(s, [](const TBitmap32& p) {
        TBitmap32 result = colorFilter(p, ColorFilterKind::Red);
        const PreviewPlace place = DisplayImage(result.width(), result.height());
        QImage frame(place.width, place.height, QImage::Format_RGB32);
        QPainter painter(&frame);
        const QImage image(result.bits(), result.width(), result.height(), qsizetype(result.bytesPerLine()),
                           QImage::Format_RGB32);
        painter.drawImage(QRectF(frame.rect()), image, QRectF(image.rect()));
        painter.end();
        benchmark::DoNotOptimize(frame.constBits());
        return result;
    });
}

#define PLUMORA_BENCH(fn) BENCHMARK(fn)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMillisecond)
PLUMORA_BENCH(Copy);
PLUMORA_BENCH(Picsobel);
PLUMORA_BENCH(PenSketch);
PLUMORA_BENCH(PencilSketchContrast);
PLUMORA_BENCH(PencilSketchLighting);
PLUMORA_BENCH(DozadirScope1);
PLUMORA_BENCH(DozadirScope10);
PLUMORA_BENCH(PenAndInk);
PLUMORA_BENCH(PenAndInkColour);
PLUMORA_BENCH(Stretch125);
PLUMORA_BENCH(Stretch80);
PLUMORA_BENCH(RotateClockwise);
PLUMORA_BENCH(ColorPencil);
PLUMORA_BENCH(ColorPencil89);
PLUMORA_BENCH(Realism);
PLUMORA_BENCH(RealismLargeWeights);
PLUMORA_BENCH(PopArt);
PLUMORA_BENCH(Abstract);
PLUMORA_BENCH(WaterColorScope1);
PLUMORA_BENCH(WaterColorScope3);
PLUMORA_BENCH(Brume);
PLUMORA_BENCH(Emboss);
PLUMORA_BENCH(Texture);
PLUMORA_BENCH(StriaVertical);
PLUMORA_BENCH(StriaHorizontal);
PLUMORA_BENCH(PanelGrid2x2);
PLUMORA_BENCH(PaneGrid2x2);
PLUMORA_BENCH(Catercorner4);
PLUMORA_BENCH(PanelGrid3x3);
PLUMORA_BENCH(PaneGrid3x3);
PLUMORA_BENCH(Catercorner16);
PLUMORA_BENCH(HslAdjust);
PLUMORA_BENCH(HslAdjustNeutral);
PLUMORA_BENCH(ColorFilterSwatchClick);
PLUMORA_BENCH(ColorFilterRed);
PLUMORA_BENCH(ColorVarietyStep);
PLUMORA_BENCH(ColorVarietyClicks);

// Prints, after the usual table, every operation as a multiple of the copy
// of the same size (medians when repetitions were asked for).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type == Run::RT_Iteration || median) {
                const std::string name = r.run_name.function_name;
                const std::string size = kSizes[std::stoi(r.run_name.args)].label;
                if (median || !m_hasMedian[{name, size}])
                    m_seconds[{name, size}] = r.GetAdjustedRealTime();
                if (median)
                    m_hasMedian[{name, size}] = true;
                if (std::find(m_order.begin(), m_order.end(), name) == m_order.end())
                    m_order.push_back(name);
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nTime as a multiple of one copy of the same picture (%d threads):\n", threadCount());
        std::printf("%-18s", "");
        for (const Size& s : kSizes)
            std::printf("%10s", s.label);
        std::printf("\n");
        for (const std::string& name : m_order) {
            std::printf("%-18s", name.c_str());
            for (const Size& s : kSizes) {
                const auto it = m_seconds.find({name, s.label});
                const auto floor = m_seconds.find({"Copy", s.label});
                if (it == m_seconds.end() || floor == m_seconds.end())
                    std::printf("%10s", "-");
                else
                    std::printf("%9.2fx", it->second / floor->second);
            }
            std::printf("\n");
        }
        printRatioLines();
    }

private:
    // The ratios other benchmark files asked for, where every time they
    // need was measured.
    void printRatioLines() const
    {
        bool header = false;
        for (const bench::RatioLine& line : bench::ratioLines())
            for (const bench::Size& s : kSizes) {
                const auto it = m_seconds.find({line.name, s.label});
                if (it == m_seconds.end())
                    continue;
                double floor = 0;
                std::string sum;
                bool complete = true;
                for (const std::string& part : line.floor) {
                    const auto p = m_seconds.find({part, s.label});
                    complete = complete && p != m_seconds.end();
                    if (p != m_seconds.end())
                        floor += p->second;
                    sum += (sum.empty() ? "" : " + ") + part;
                }
                if (!complete)
                    continue;
                if (!header)
                    std::printf("\nRatios:\n");
                header = true;
                std::printf("%-6s %s / (%s) = %.3f  %s\n", s.label, line.name.c_str(), sum.c_str(), it->second / floor,
                            line.meaning.c_str());
            }
    }

    std::map<std::pair<std::string, std::string>, double> m_seconds;
    std::map<std::pair<std::string, std::string>, bool> m_hasMedian;
    std::vector<std::string> m_order;
};

}  // namespace
}  // namespace plumora

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    plumora::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
