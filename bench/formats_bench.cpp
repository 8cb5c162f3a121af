// Times opening JPEG photographs of 12 and 24 megapixels against bare
// libjpeg-turbo decoding the same file into a buffer it already has, and one
// run of plumora-cli on a 24-megapixel JPEG (read, pen sketch, write) against
// the sum of its three parts timed apart. The files are made once, in memory
// from the photograph-like picture at quality 90 as the program saves, and in
// a temporary folder of this run's own that is removed at the end.
//
//   build/bench/plumora_bench --benchmark_filter='Jpeg|Cli' --benchmark_repetitions=5
//
// The ratios are printed after the table.

#include "cli/cli.h"
#include "effects/effects.h"
#include "effects/sketch/pen_sketch.h"
#include "formats/jpeg.h"
#include "formats/picture_file.h"
#include "raster/parallel.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

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

// (a) The floor: libjpeg-turbo alone, the whole file into a buffer allocated
// and written once before the loop, every row handed over at once. The
// buffer is a picture's block, so that memory of the same kind (huge pages
// where the kernel gives them) is written in (a) as in (b) and (c).
void JpegDecodeBare(benchmark::State& state)
{
    const Bytes& file = jpegOf(int(state.range(0)));
    const bench::Size size = kSizes[state.range(0)];
    TBitmap32 buffer(bench::photo(int(state.range(0))));
    std::vector<JSAMPROW> rows(std::size_t(size.height));
    for (int y = 0; y < size.height; ++y)
        rows[std::size_t(y)] = buffer.ScanLine(y);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height)
            jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                                cinfo.output_height - cinfo.output_scanline);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(buffer.bits());
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
