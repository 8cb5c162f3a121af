#include "formats/encoders.h"

#include "formats/exif.h"
#include "raster/errors.h"
#include "raster/parallel.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace plumora {

namespace {

// The file grows in memory; libtiff seeks back to write its directory.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    std::uint64_t at = 0;
    std::string error;
};

tmsize_t readNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

tmsize_t writeBytes(thandle_t handle, void* data, tmsize_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (size < 0)
        return -1;
    try {
        const std::uint64_t end = file->at + std::uint64_t(size);
        if (end > file->bytes.size())
            file->bytes.resize(std::size_t(end));
        std::memcpy(file->bytes.data() + file->at, data, std::size_t(size));
        file->at = end;
        return size;
    } catch (const std::bad_alloc&) {
        file->error = "out of memory";
        return -1;
    }
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    const std::uint64_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? file->bytes.size() : 0;
    file->at = base + offset;
    return file->at;
}

int closeNothing(thandle_t)
{
    return 0;
}

toff_t sizeOf(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->bytes.size();
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t)
{}

// libtiff's messages go to the file's error, not to the terminal.
int onError(TIFF*, void* user, const char*, const char* format, va_list args)
{
    auto* file = static_cast<MemoryFile*>(user);
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    if (file->error.empty())
        file->error = text;
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffDeleter {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// The Exif block's camera data moved into libtiff's file: a new first
// directory at the end holding libtiff's tags and the block's (libtiff's
// win where both have one: they describe this file), followed by the Exif
// and GPS directories, and the header pointed at it. The strips stay where
// libtiff put them, so their offsets hold; libtiff's own directory is left
// behind unused.
void addExif(std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& exif)
{
    std::optional<ExifData> written = parseExif(file.data(), file.size());
    std::optional<ExifData> camera = parseExif(exif.data(), exif.size(), isCameraTag);
    if (!written || !camera)
        throw PlumoraError("The picture could not be encoded as TIFF: its directory could not be extended.");
    for (ExifEntry& entry : camera->main) {
        const bool taken = std::any_of(written->main.begin(), written->main.end(),
                                       [&](const ExifEntry& e) { return e.tag == entry.tag; });
        if (!taken)
            written->main.push_back(std::move(entry));
    }
    written->camera = std::move(camera->camera);
    written->interop = std::move(camera->interop);
    written->location = std::move(camera->location);
    const std::uint32_t first = appendExifDirectories(file, *written);
    const bool little = written->littleEndian;
    for (int i = 0; i < 4; ++i)
        file[4 + std::size_t(i)] = std::uint8_t(first >> (little ? 8 * i : 8 * (3 - i)));
}

}  // namespace

std::vector<std::uint8_t> encodeTiff(const TBitmap32& picture, const PictureMetadata& metadata)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    MemoryFile file;
    const auto failed = [&] {
        return PlumoraError("The picture could not be encoded as TIFF: " +
                            (file.error.empty() ? std::string("libtiff failed") : file.error) + ".");
    };
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw PlumoraError("The picture could not be encoded as TIFF: out of memory.");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &file);
    std::unique_ptr<TIFF, TiffDeleter> tiff(TIFFClientOpenExt("picture.tif", "w", &file, readNothing, writeBytes,
                                                              seekTo, closeNothing, sizeOf, mapNothing, unmapNothing,
                                                              options.get()));
    if (!tiff)
        throw failed();
    const int width = picture.width(), height = picture.height();
    TIFF* t = tiff.get();
    const bool tagged =
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(width)) &&
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(height)) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) &&
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) && TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6) &&
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 96.0) && TIFFSetField(t, TIFFTAG_YRESOLUTION, 96.0) &&
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (!tagged || (!metadata.icc.empty() &&
                    !TIFFSetField(t, TIFFTAG_ICCPROFILE, std::uint32_t(metadata.icc.size()), metadata.icc.data())))
        throw failed();
    // Each row as red, green, blue: libtiff compresses what it is given.
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (y % 64 == 0)
            throwIfCancelled();
        const std::uint8_t* in = picture.ScanLine(y);
        std::uint8_t* out = row.data();
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        if (TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) < 0)
            throw failed();
    }
    if (!TIFFWriteDirectory(t))
        throw failed();
    tiff.reset();  // flushes
    if (!file.error.empty())
        throw failed();
    if (!metadata.exif.empty())
        addExif(file.bytes, metadata.exif);
    return std::move(file.bytes);
}

}  // namespace plumora
