#include "formats/encoders.h"

#include "raster/errors.h"

#include <webp/encode.h>

#include <cstring>
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

void putLittle(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size)
{
    out.insert(out.end(), type, type + 4);
    putLittle(out, std::uint32_t(size), 4);
    out.insert(out.end(), data, data + size);
    if (size % 2)
        out.push_back(0);  // chunks start at even offsets
}

// libwebp's simple file (RIFF, then one VP8 or VP8L chunk) made extended:
// a VP8X chunk saying which chunks follow, the ICCP chunk before the
// picture and the EXIF chunk after it, in the order the format asks.
std::vector<std::uint8_t> withMetadata(const std::uint8_t* file, std::size_t size, int width, int height,
                                       const PictureMetadata& metadata)
{
    if (size < 20 || std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WEBP", 4) != 0)
        throw PlumoraError("The picture could not be encoded as WebP: libwebp wrote an unexpected file.");
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'};
    std::uint8_t flags[10] = {};
    flags[0] = std::uint8_t((metadata.icc.empty() ? 0 : 0x20) | (metadata.exif.empty() ? 0 : 0x08));
    for (int i = 0; i < 3; ++i) {
        flags[4 + i] = std::uint8_t((width - 1) >> (8 * i));
        flags[7 + i] = std::uint8_t((height - 1) >> (8 * i));
    }
    putChunk(out, "VP8X", flags, sizeof flags);
    if (!metadata.icc.empty())
        putChunk(out, "ICCP", metadata.icc.data(), metadata.icc.size());
    out.insert(out.end(), file + 12, file + size);  // the picture's chunk as libwebp wrote it
    if (!metadata.exif.empty())
        putChunk(out, "EXIF", metadata.exif.data(), metadata.exif.size());
    if (out.size() - 8 > 0xFFFFFFF0u)
        throw PlumoraError("The picture could not be encoded as WebP: the file would be larger than 4 GB.");
    const std::uint32_t riff = std::uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + std::size_t(i)] = std::uint8_t(riff >> (8 * i));
    return out;
}

}  // namespace

std::vector<std::uint8_t> encodeWebp(const TBitmap32& picture, int quality, bool lossless,
                                     const PictureMetadata& metadata)
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
    if (!metadata.empty())
        return withMetadata(writer.mem, writer.size, picture.width(), picture.height(), metadata);
    return std::vector<std::uint8_t>(writer.mem, writer.mem + writer.size);
}

}  // namespace plumora
