// Today's formats against their own libraries, timed back to back in this
// process as the JPEG figures are:
//   - opening a 12-megapixel HEIC (the photograph-like picture encoded once
//     by libheif's HEVC encoder at quality 90) against libheif alone
//     decoding the same bytes into its own buffer (heif_decode_image,
//     interleaved RGB): decodeHeif from memory, and readAnyPicture from the
//     file;
//   - writing PNG at compression level 6 against libpng alone at the same
//     level, handed the same rows: encodePicture, and Qt's PNG writer for
//     comparison.
//
//   build/bench/plumora_bench --benchmark_filter='Paired/1$' --benchmark_filter='HeicOpen|PngWrite'
//
// The counters are the medians of the per-iteration ratios, and of the
// milliseconds of each part.

#include "formats/heif.h"
#include "formats/picture_file.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <libheif/heif.h>
#include <png.h>

#include <QBuffer>
#include <QImage>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace plumora {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

void check(const heif_error& error)
{
    if (error.code != heif_error_Ok)
        throw std::runtime_error(error.message);
}

// The photograph as a HEIC, encoded once with libheif's HEVC encoder.
const Bytes& heicOf(int index)
{
    static std::unique_ptr<Bytes> cache[3];
    if (cache[index])
        return *cache[index];
    const TBitmap32& picture = bench::photo(index);
    heif_image* image = nullptr;
    check(
        heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image));
    check(heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), 8));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* in = picture.ScanLine(y) + 4 * x;
            std::uint8_t* out = plane + std::ptrdiff_t(y) * stride + 3 * x;
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder));
    check(heif_encoder_set_lossy_quality(encoder, 90));
    check(heif_context_encode_image(context, image, encoder, nullptr, nullptr));
    heif_encoder_release(encoder);
    heif_image_release(image);
    struct Collect {
        static heif_error write(heif_context*, const void* data, size_t size, void* userdata)
        {
            auto* bytes = static_cast<Bytes*>(userdata);
            bytes->insert(bytes->end(), static_cast<const std::uint8_t*>(data),
                          static_cast<const std::uint8_t*>(data) + size);
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
        }
    };
    auto bytes = std::make_unique<Bytes>();
    heif_writer writer{1, Collect::write};
    check(heif_context_write(context, &writer, bytes.get()));
    heif_context_free(context);
    cache[index] = std::move(bytes);
    return *cache[index];
}

std::string writeTemporary(const std::string& name, const Bytes& bytes)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("plumora-bench-" + std::to_string(::getpid()) + "-" + name))
            .string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        throw std::runtime_error("cannot write " + path);
    std::fclose(f);
    return path;
}

// libheif alone: the file's primary picture decoded into libheif's own
// interleaved RGB buffer.
void decodeHeifBare(const Bytes& file)
{
    heif_context* context = heif_context_alloc();
    check(heif_context_read_from_memory_without_copy(context, file.data(), file.size(), nullptr));
    heif_image_handle* handle = nullptr;
    check(heif_context_get_primary_image_handle(context, &handle));
    heif_image* image = nullptr;
    check(heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr));
    int stride = 0;
    benchmark::DoNotOptimize(heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
}

void HeicOpenPaired(benchmark::State& state)
{
    const int index = int(state.range(0));
    const Bytes& file = heicOf(index);
    const std::string name = writeTemporary("photo.heic", file);
    std::vector<double> bare, decode, readAny, decodeRatio, readAnyRatio;
    for (auto _ : state) {
        const double b = millisecondsOf([&] { decodeHeifBare(file); });
        const double d = millisecondsOf([&] { benchmark::DoNotOptimize(decodeHeif(file.data(), file.size())); });
        const double r = millisecondsOf([&] { benchmark::DoNotOptimize(readAnyPicture(name)); });
        bare.push_back(b);
        decode.push_back(d);
        readAny.push_back(r);
        decodeRatio.push_back(d / b);
        readAnyRatio.push_back(r / b);
    }
    std::filesystem::remove(name);
    state.counters["bare_ms"] = median(bare);
    state.counters["decodeHeif_ms"] = median(decode);
    state.counters["readAnyPicture_ms"] = median(readAny);
    state.counters["decodeHeif/bare"] = median(decodeRatio);
    state.counters["readAnyPicture/bare"] = median(readAnyRatio);
    state.counters["file_MB"] = double(file.size()) / 1e6;
    state.SetLabel(bench::kSizes[index].label);
}

// libpng alone at level 6, handed the picture's rows as they are (it swaps
// and drops the fourth byte as it writes), into memory.
struct BarePng {
    Bytes out;
};

void writeBare(png_structp png, png_bytep data, png_size_t size)
{
    auto* bare = static_cast<BarePng*>(png_get_io_ptr(png));
    bare->out.insert(bare->out.end(), data, data + size);
}

void flushBare(png_structp)
{}

std::size_t encodePngBare(const TBitmap32& picture)
{
    BarePng bare;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng failed");
    }
    png_set_write_fn(png, &bare, writeBare, flushBare);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, png_uint_32(picture.width()), png_uint_32(picture.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < picture.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(picture.ScanLine(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bare.out.size();
}

std::size_t encodePngQt(const TBitmap32& picture)
{
    QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                 QImage::Format_RGB32);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw std::runtime_error("Qt failed");
    return std::size_t(data.size());
}

void PngWritePaired(benchmark::State& state)
{
    const int index = int(state.range(0));
    const TBitmap32& picture = bench::photo(index);
    loadQtImagePlugins();
    std::vector<double> bare, ours, qt, oursRatio, qtRatio;
    std::size_t bareSize = 0, ourSize = 0, qtSize = 0;
    for (auto _ : state) {
        const double b = millisecondsOf([&] { bareSize = encodePngBare(picture); });
        const double o = millisecondsOf([&] { ourSize = encodePicture(picture, SaveFormat::Png).size(); });
        const double q = millisecondsOf([&] { qtSize = encodePngQt(picture); });
        bare.push_back(b);
        ours.push_back(o);
        qt.push_back(q);
        oursRatio.push_back(o / b);
        qtRatio.push_back(q / b);
    }
    state.counters["bare_ms"] = median(bare);
    state.counters["encodePicture_ms"] = median(ours);
    state.counters["qt_ms"] = median(qt);
    state.counters["encodePicture/bare"] = median(oursRatio);
    state.counters["qt/bare"] = median(qtRatio);
    state.counters["bare_MB"] = double(bareSize) / 1e6;
    state.counters["encodePicture_MB"] = double(ourSize) / 1e6;
    state.counters["qt_MB"] = double(qtSize) / 1e6;
    state.SetLabel(bench::kSizes[index].label);
}

BENCHMARK(HeicOpenPaired)->Arg(1)->Iterations(7)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngWritePaired)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace plumora
