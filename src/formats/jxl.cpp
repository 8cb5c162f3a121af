#include "formats/jxl.h"

#include "formats/picture_file.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <memory>
#include <string>
#include <vector>

namespace plumora {

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct RunnerDeleter {
    void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};

[[noreturn]] void refuse(const std::string& what)
{
    throw NotValidFormatError("The JPEG XL picture cannot be read: " + what);
}

}  // namespace

bool looksLikeJxl(const std::uint8_t* data, std::size_t size)
{
    const JxlSignature signature = JxlSignatureCheck(data, size);
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

std::vector<std::uint8_t> jxlColourProfile(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_COLOR_ENCODING) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(decoder.get());
    // The headers only: the decoder stops at the colour encoding, before
    // any pixel, or gives up.
    if (JxlDecoderProcessInput(decoder.get()) != JXL_DEC_COLOR_ENCODING)
        return {};
    // The profile of the values we are given (the data), which for a file
    // stored in libjxl's own colour space is the one the file names.
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
            JXL_DEC_SUCCESS &&
        encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.white_point == JXL_WHITE_POINT_D65 &&
        encoding.primaries == JXL_PRIMARIES_SRGB && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB)
        return {};  // sRGB: what a picture without a profile means anyway
    std::size_t iccSize = 0;
    if (JxlDecoderGetICCProfileSize(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &iccSize) !=
            JXL_DEC_SUCCESS ||
        iccSize == 0 || iccSize > (std::size_t(16) << 20))
        return {};
    std::vector<std::uint8_t> icc(iccSize);
    if (JxlDecoderGetColorAsICCProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), icc.size()) !=
        JXL_DEC_SUCCESS)
        return {};
    return icc;
}

TBitmap32 decodeJxl(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder)
        refuse("out of memory.");
    // libjxl's own threads, as many as our loops would use here: one in a
    // batch worker, which already runs beside the others.
    std::unique_ptr<void, RunnerDeleter> runner;
    const int threads = threadsForCallingThread();
    if (threads > 1) {
        runner.reset(JxlThreadParallelRunnerCreate(nullptr, std::size_t(threads)));
        if (!runner ||
            JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS)
            refuse("its threads could not be started.");
    }
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
        refuse("the decoder could not be set up.");
    // The input is not closed: libjxl then tells a file that ends early
    // (it asks for more) from a damaged one.

    // Three 8-bit samples a pixel, rows without padding: libjxl converts any
    // depth to 8 bits itself, rounding to the nearest.
    const JxlPixelFormat format = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 1};
    JxlBasicInfo info{};
    std::vector<std::uint8_t> rgb;
    for (;;) {
        throwIfCancelled();
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        switch (status) {
        case JXL_DEC_BASIC_INFO: {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                refuse("its header is damaged.");
            checkPictureSize(info.xsize, info.ysize);
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t bytes = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS)
                refuse("its header is damaged.");
            // The picture as shown: a quarter turn swaps the sides.
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const std::size_t width = turned ? info.ysize : info.xsize;
            const std::size_t height = turned ? info.xsize : info.ysize;
            if (bytes != width * height * 3)
                refuse("its size is not what its header says.");
            rgb.resize(bytes);
            if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, rgb.data(), rgb.size()) != JXL_DEC_SUCCESS)
                refuse("the decoder refused the picture's buffer.");
            break;
        }
        case JXL_DEC_FULL_IMAGE: {
            // The first frame shown; an animation's others are not read.
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const int width = int(turned ? info.ysize : info.xsize);
            const int height = int(turned ? info.xsize : info.ysize);
            if (rgb.size() != std::size_t(width) * std::size_t(height) * 3)
                refuse("the decoder gave no picture.");
            TBitmap32 picture(width, height);
            parallelRows(height, [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) {
                    const std::uint8_t* in = rgb.data() + std::size_t(y) * std::size_t(width) * 3;
                    std::uint8_t* out = picture.ScanLine(y);
                    for (int x = 0; x < width; ++x, in += 3, out += 4) {
                        out[0] = in[2];
                        out[1] = in[1];
                        out[2] = in[0];
                        out[3] = 255;
                    }
                }
            });
            return picture;
        }
        case JXL_DEC_NEED_MORE_INPUT:
            refuse("the file ends early.");
        case JXL_DEC_SUCCESS:
            refuse("the file holds no picture.");
        case JXL_DEC_ERROR:
            refuse("the file is damaged.");
        default:
            refuse("the decoder asked for something unexpected.");
        }
    }
}

}  // namespace plumora
