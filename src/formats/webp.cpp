#include "formats/encoders.h"

#include "raster/errors.h"

#include <webp/encode.h>

#include <memory>
#include <string>

namespace plumora {

namespace {

struct PictureDeleter {
    void operator()(WebPPicture* p) const { WebPPictureFree(p); }
};
struct WriterDeleter {
    void operator()(WebPMemoryWriter* w) const { WebPMemoryWriterClear(w); }
};

std::string reason(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "a WebP side is at most 16383 pixels";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
        return "the picture is too large for a lossy WebP at this quality";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
        return "the file would be larger than 4 GB";
    default:
        return "libwebp's error " + std::to_string(int(error));
    }
}

}  // namespace

std::vector<std::uint8_t> encodeWebp(const TBitmap32& picture, int quality, bool lossless)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    if (picture.width() > WEBP_MAX_DIMENSION || picture.height() > WEBP_MAX_DIMENSION)
        throw PlumoraError("The picture could not be encoded as WebP: a WebP side is at most 16383 pixels, and this "
                           "picture is " +
                           std::to_string(picture.width()) + " x " + std::to_string(picture.height()) + ".");
    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw PlumoraError("The picture could not be encoded as WebP: libwebp does not match its header.");
    config.lossless = lossless ? 1 : 0;
    // Lossy: the quality asked for. Lossless: libwebp's default effort.
    if (!lossless)
        config.quality = float(quality);
    if (!WebPValidateConfig(&config))
        throw PlumoraError("The picture could not be encoded as WebP: the quality is out of range.");

    WebPPicture frame;
    if (!WebPPictureInit(&frame))
        throw PlumoraError("The picture could not be encoded as WebP: libwebp does not match its header.");
    std::unique_ptr<WebPPicture, PictureDeleter> owned(&frame);
    frame.width = picture.width();
    frame.height = picture.height();
    // Lossless keeps the colours as they are (ARGB); lossy converts to YUV
    // as it imports. The fourth byte is not taken (BGRX).
    frame.use_argb = lossless ? 1 : 0;
    if (!WebPPictureImportBGRX(&frame, picture.bits(), int(picture.bytesPerLine())))
        throw PlumoraError("The picture could not be encoded as WebP: out of memory.");
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    std::unique_ptr<WebPMemoryWriter, WriterDeleter> written(&writer);
    frame.writer = WebPMemoryWrite;
    frame.custom_ptr = &writer;
    if (!WebPEncode(&config, &frame))
        throw PlumoraError("The picture could not be encoded as WebP: " + reason(frame.error_code) + ".");
    return std::vector<std::uint8_t>(writer.mem, writer.mem + writer.size);
}

}  // namespace plumora
