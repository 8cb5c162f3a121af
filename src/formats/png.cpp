#include "formats/encoders.h"

#include "raster/errors.h"
#include "raster/parallel.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

namespace plumora {

namespace {

// libpng reports a failure by jumping back to the setjmp below; its message
// is kept here first. Nothing with a destructor lives between the two.
struct PngWrite {
    std::vector<std::uint8_t>* out;
    char message[200];
};

void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngWrite*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp)
{}

void onWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto* state = static_cast<PngWrite*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        state->out->insert(state->out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    // Outside the catch: libpng leaves by jumping, which must not cross it.
    if (failed)
        png_error(png, "out of memory");
}

void onFlush(png_structp)
{}

// Writes every row, checking between bands of rows for the user's Esc.
// Returns false when libpng failed (state.message says why).
bool writeRows(const TBitmap32& picture, const PictureMetadata& metadata, PngWrite& state, bool& cancelled)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (!png) {
        std::snprintf(state.message, sizeof state.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, &state, onWrite, onFlush);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, png_uint_32(picture.width()), png_uint_32(picture.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // 96 dots an inch, 3780 a metre, whatever the screen.
    png_set_pHYs(png, info, 3780, 3780, PNG_RESOLUTION_METER);
    if (!metadata.icc.empty()) {
        // A profile libpng finds fault with is left out (with a warning,
        // which we ignore) rather than failing the whole save.
        png_set_benign_errors(png, 1);
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                     png_uint_32(metadata.icc.size()));
    }
    if (!metadata.exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(metadata.exif.size()), const_cast<png_bytep>(metadata.exif.data()));
    png_write_info(png, info);
    // Our rows are blue, green, red and a fourth byte: libpng swaps and
    // drops as it writes, so the picture is handed over row by row unchanged.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    constexpr int kBand = 64;
    for (int y = 0; y < picture.height(); ++y) {
        if (y % kBand == 0) {
            try {
                throwIfCancelled();
            } catch (const Cancelled&) {
                cancelled = true;
                png_destroy_write_struct(&png, &info);
                return true;
            }
        }
        png_write_row(png, picture.ScanLine(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodePng(const TBitmap32& picture, const PictureMetadata& metadata)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    std::vector<std::uint8_t> out;
    PngWrite state{&out, {}};
    bool cancelled = false;
    if (!writeRows(picture, metadata, state, cancelled))
        throw PlumoraError(std::string("The picture could not be encoded as PNG: ") + state.message + ".");
    if (cancelled)
        throw Cancelled();
    return out;
}

}  // namespace plumora
