// Times opening JPEG photographs of 12 and 24 megapixels against bare
// libjpeg-turbo decoding the same file into a buffer it already has, and one
// run of plumora-cli on a 24-megapixel JPEG (read, pen sketch, write) against
// the sum of its three parts timed apart. The files are made once, in memory
// from the photograph-like picture at quality 90 as the program saves, and in
// a temporary folder of this run's own that is removed at the end.
//
//   build/bench/plumora_bench --benchmark_filter='Jpeg|Cli' --benchmark_repetitions=5
//
// The ratios are printed after the table; the Paired rows give them again
// from parts timed back to back, steadier on a busy machine.

#include "cli/cli.h"
#include "effects/effects.h"
#include "effects/sketch/pen_sketch.h"
#include "formats/jpeg.h"
#include "formats/picture_file.h"
#include "raster/parallel.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace plumora {
namespace {

namespace fs = std::filesystem;
using bench::kSizes;
using Bytes = std::vector<std::uint8_t>;

// The JPEG file of the photograph of one size, as the program writes it.
const Bytes& jpegOf(int index)
{
    static std::unique_ptr<Bytes> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<Bytes>(encodeJpeg(bench::photo(index), 90));
    return *cache[index];
}

// A folder of this run's own, removed when the run ends.
class Folder {
public:
    Folder() : m_dir(fs::temp_directory_path() / ("plumora-bench-" + std::to_string(::getpid())))
    {
        fs::create_directories(m_dir);
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

private:
    fs::path m_dir;
};

const Folder& folder()
{
    static const Folder f;
    return f;
}

void writeBytes(const std::string& name, const Bytes& bytes)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + name);
    const bool complete = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !complete)
        throw std::runtime_error("cannot write " + name);
}

// The JPEG file of one size in the folder, written once.
const std::string& jpegFile(int index)
{
    static std::string names[3];
    if (names[index].empty()) {
        names[index] = folder().path(std::string("photo-") + kSizes[index].label + ".jpg");
        writeBytes(names[index], jpegOf(index));
    }
    return names[index];
}

void label(benchmark::State& state)
{
    state.SetLabel(kSizes[state.range(0)].label);
}

// ---- opening a JPEG ----

// libjpeg-turbo alone, the whole file into rows it is handed all at once.
void decodeBare(const Bytes& file, std::vector<JSAMPROW>& rows)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline, cinfo.output_height - cinfo.output_scanline);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

// The buffer the floor decodes into, allocated and written once: a picture's
// block, so that memory of the same kind (huge pages where the kernel gives
// them) is written as by the decoder.
struct BareTarget {
    explicit BareTarget(int index) : picture(bench::photo(index)), rows(std::size_t(picture.height()))
    {
        for (int y = 0; y < picture.height(); ++y)
            rows[std::size_t(y)] = picture.ScanLine(y);
    }
    TBitmap32 picture;
    std::vector<JSAMPROW> rows;
};

// (a) The floor.
void JpegDecodeBare(benchmark::State& state)
{
    const Bytes& file = jpegOf(int(state.range(0)));
    BareTarget target(int(state.range(0)));
    for (auto _ : state) {
        decodeBare(file, target.rows);
        benchmark::DoNotOptimize(target.picture.bits());
    }
    label(state);
}

// (b) Our decoder from the same bytes, the picture allocated each time as
// opening does.
void DecodeJpeg(benchmark::State& state)
{
    const Bytes& file = jpegOf(int(state.range(0)));
    for (auto _ : state) {
        TBitmap32 picture = decodeJpeg(file.data(), file.size());
        benchmark::DoNotOptimize(picture.bits());
    }
    label(state);
}

// (b) as a batch worker of plumora-cli runs it, with no other core to map
// the picture's pages meanwhile.
void DecodeJpegSerial(benchmark::State& state)
{
    const Bytes& file = jpegOf(int(state.range(0)));
    SerialScope serial;
    for (auto _ : state) {
        TBitmap32 picture = decodeJpeg(file.data(), file.size());
        benchmark::DoNotOptimize(picture.bits());
    }
    label(state);
}

// (c) The desktop program's load, file read included.
void LoadJpegFile(benchmark::State& state)
{
    const std::string& name = jpegFile(int(state.range(0)));
    for (auto _ : state) {
        std::optional<TBitmap32> picture = LoadPictureFile(name);
        benchmark::DoNotOptimize(picture->bits());
    }
    label(state);
}

// (c) plumora-cli's and the preview's reader, file read included.
void ReadAnyJpegFile(benchmark::State& state)
{
    const std::string& name = jpegFile(int(state.range(0)));
    for (auto _ : state) {
        TBitmap32 picture = readAnyPicture(name);
        benchmark::DoNotOptimize(picture.bits());
    }
    label(state);
}

// ---- one file through plumora-cli: pen-sketch in.jpg out.jpg ----

const EffectDeclaration& penSketchDeclaration()
{
    static const EffectDeclaration* effect = findEffect("pen-sketch");
    if (!effect)
        throw std::runtime_error("no pen-sketch in the effects table");
    return *effect;
}

// The picture the run reads and the sketch it writes, made once.
const TBitmap32& decodedPhoto(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<TBitmap32>(decodeJpeg(jpegOf(index).data(), jpegOf(index).size()));
    return *cache[index];
}

const TBitmap32& sketchOf(int index)
{
    static std::unique_ptr<TBitmap32> cache[3];
    if (!cache[index])
        cache[index] = std::make_unique<TBitmap32>(penSketch(decodedPhoto(index), kPenPressureDefault));
    return *cache[index];
}

// Read: the file into a picture with the program's reader.
void CliRead(benchmark::State& state)
{
    LoadJpegFile(state);
}

// The effect: the pen sketch at its default pressure.
void CliEffect(benchmark::State& state)
{
    const TBitmap32& source = decodedPhoto(int(state.range(0)));
    for (auto _ : state) {
        TBitmap32 result = penSketch(source, kPenPressureDefault);
        benchmark::DoNotOptimize(result.bits());
    }
    label(state);
}

// Write: the picture encoded at quality 90 and its bytes written straight
// into the output file, with no temporary file and no wait for the disk.
void CliWrite(benchmark::State& state)
{
    const TBitmap32& sketch = sketchOf(int(state.range(0)));
    const std::string name = folder().path("plain.jpg");
    for (auto _ : state)
        writeBytes(name, encodeJpeg(sketch, 90));
    label(state);
}

// The same write as the tool does it: into a temporary file in the same
// folder, synced to the disk and renamed over the output.
void CliSave(benchmark::State& state)
{
    const TBitmap32& sketch = sketchOf(int(state.range(0)));
    const std::string name = folder().path("saved.jpg");
    for (auto _ : state)
        savePicture(sketch, name);
    label(state);
}

// The whole run, through the tool's own step for one file.
void CliRun(benchmark::State& state)
{
    const EffectDeclaration& effect = penSketchDeclaration();
    const ParamValues values = effect.defaults();
    const std::string& input = jpegFile(int(state.range(0)));
    const std::string output = folder().path("run.jpg");
    for (auto _ : state)
        if (const std::optional<std::string> failure = processFile(&effect, values, input, output))
            state.SkipWithError(failure->c_str());
    label(state);
}

// ---- the same ratios from parts timed back to back ----
//
// On a machine shared with other work the load drifts over seconds, and the
// ratio of two medians taken a minute apart drifts with it. Here every
// iteration times each part and the whole one after the other, and the
// counters are the medians of the per-iteration ratios.

template <class F>
double millisecondsOf(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void JpegOpenPaired(benchmark::State& state)
{
    const int index = int(state.range(0));
    const Bytes& file = jpegOf(index);
    const std::string& name = jpegFile(index);
    BareTarget target(index);
    std::vector<double> decode, load, readAny;
    for (auto _ : state) {
        const double bare = millisecondsOf([&] { decodeBare(file, target.rows); });
        const double decoded = millisecondsOf([&] { benchmark::DoNotOptimize(decodeJpeg(file.data(), file.size())); });
        decode.push_back(decoded / bare);
        load.push_back(millisecondsOf([&] { benchmark::DoNotOptimize(LoadPictureFile(name)); }) / bare);
        readAny.push_back(millisecondsOf([&] { benchmark::DoNotOptimize(readAnyPicture(name)); }) / bare);
    }
    state.counters["decodeJpeg/bare"] = median(decode);
    state.counters["LoadPictureFile/bare"] = median(load);
    state.counters["readAnyPicture/bare"] = median(readAny);
    label(state);
}

void CliRunPaired(benchmark::State& state)
{
    const int index = int(state.range(0));
    const EffectDeclaration& effect = penSketchDeclaration();
    const ParamValues values = effect.defaults();
    const std::string& input = jpegFile(index);
    const std::string plain = folder().path("paired-plain.jpg"), output = folder().path("paired-run.jpg");
    std::vector<double> whole, safety;
    for (auto _ : state) {
        std::optional<TBitmap32> picture;
        TBitmap32 sketch;
        const double read = millisecondsOf([&] { picture = LoadPictureFile(input); });
        const double apply = millisecondsOf([&] { sketch = penSketch(*picture, kPenPressureDefault); });
        picture.reset();
        const double write = millisecondsOf([&] { writeBytes(plain, encodeJpeg(sketch, 90)); });
        const double save = millisecondsOf([&] { savePicture(sketch, output); });
        sketch = TBitmap32();
        const double run = millisecondsOf([&] { processFile(&effect, values, input, output); });
        whole.push_back(run / (read + apply + write));
        safety.push_back(save / write);
    }
    state.counters["run/(read+effect+write)"] = median(whole);
    state.counters["save/write"] = median(safety);
    label(state);
}

#define PLUMORA_JPEG_BENCH(fn) BENCHMARK(fn)->DenseRange(1, 2)->UseRealTime()->Unit(benchmark::kMillisecond)
PLUMORA_JPEG_BENCH(JpegDecodeBare);
PLUMORA_JPEG_BENCH(DecodeJpeg);
PLUMORA_JPEG_BENCH(DecodeJpegSerial);
PLUMORA_JPEG_BENCH(LoadJpegFile);
PLUMORA_JPEG_BENCH(ReadAnyJpegFile);

#define PLUMORA_CLI_BENCH(fn) BENCHMARK(fn)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)
PLUMORA_CLI_BENCH(CliRead);
PLUMORA_CLI_BENCH(CliEffect);
PLUMORA_CLI_BENCH(CliWrite);
PLUMORA_CLI_BENCH(CliSave);
PLUMORA_CLI_BENCH(CliRun);

BENCHMARK(JpegOpenPaired)->DenseRange(1, 2)->Iterations(15)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(CliRunPaired)->Arg(2)->Iterations(9)->UseRealTime()->Unit(benchmark::kMillisecond);

const bool kRatios[] = {
    bench::addRatioLine({"DecodeJpeg", {"JpegDecodeBare"}, "decodeJpeg against bare libjpeg-turbo"}),
    bench::addRatioLine({"DecodeJpegSerial", {"JpegDecodeBare"}, "the same on one thread"}),
    bench::addRatioLine({"LoadJpegFile", {"JpegDecodeBare"}, "LoadPictureFile, file read included"}),
    bench::addRatioLine({"ReadAnyJpegFile", {"JpegDecodeBare"}, "readAnyPicture, file read included"}),
    bench::addRatioLine({"CliRun", {"CliRead", "CliEffect", "CliWrite"}, "plumora-cli's run against its parts"}),
    bench::addRatioLine({"CliSave", {"CliWrite"}, "the write through a temporary file synced to disk"}),
};

}  // namespace
}  // namespace plumora
