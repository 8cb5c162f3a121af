#include "formats/heif.h"

#include "formats/exif.h"
#include "formats/picture_file.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plumora {

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The brands of HEIF still pictures: HEVC ("heic" and its kin), AV1
// ("avif"), and the structural brands ("mif1", "msf1") that both declare.
bool isHeifBrand(const std::uint8_t* brand)
{
    static constexpr std::array<const char*, 10> kBrands = {"heic", "heix", "heim", "heis", "hevc",
                                                            "hevx", "mif1", "msf1", "avif", "avis"};
    for (const char* b : kBrands)
        if (std::memcmp(brand, b, 4) == 0)
            return true;
    return false;
}

// An ISO media box: where its contents start and end within the bytes.
struct Box {
    char type[4];
    std::size_t body;
    std::size_t end;
};

// The boxes laid end to end in [begin, end). A box whose size runs past the
// end, or cannot be a size, ends the list: libheif decides what is wrong.
std::vector<Box> boxesIn(const std::uint8_t* data, std::size_t begin, std::size_t end)
{
    std::vector<Box> boxes;
    std::size_t at = begin;
    while (at + 8 <= end) {
        std::uint64_t size = bigEndian32(data + at);
        std::size_t header = 8;
        if (size == 1) {
            if (at + 16 > end)
                break;
            size = std::uint64_t(bigEndian32(data + at + 8)) << 32 | bigEndian32(data + at + 12);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at)
            break;
        Box box{};
        std::memcpy(box.type, data + at + 4, 4);
        box.body = at + header;
        box.end = at + std::size_t(size);
        boxes.push_back(box);
        at = box.end;
    }
    return boxes;
}

// The first box of the type among the boxes laid end to end in [begin,
// end), by value (the list it came from is gone when this returns).
std::optional<Box> find(const std::uint8_t* data, std::size_t begin, std::size_t end, const char* type)
{
    for (const Box& box : boxesIn(data, begin, end))
        if (std::memcmp(box.type, type, 4) == 0)
            return box;
    return std::nullopt;
}

// Whether the file says how its pictures are turned or mirrored itself: a
// rotation ("irot") or mirror ("imir") among the item properties of its
// "meta" box. libheif applies those as it decodes, and a phone that writes
// them also writes the same turn as the Exif orientation, which must then
// not be applied a second time. A file without them (some encoders keep
// only the Exif block of the JPEG they started from) is turned by its Exif
// orientation, as a JPEG is.
bool declaresTransformations(const std::uint8_t* data, std::size_t size)
{
    const std::optional<Box> meta = find(data, 0, size, "meta");
    if (!meta || meta->end - meta->body < 4)
        return false;
    const std::optional<Box> iprp = find(data, meta->body + 4, meta->end, "iprp");  // meta has version and flags
    if (!iprp)
        return false;
    const std::optional<Box> ipco = find(data, iprp->body, iprp->end, "ipco");
    if (!ipco)
        return false;
    return find(data, ipco->body, ipco->end, "irot") || find(data, ipco->body, ipco->end, "imir");
}

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

[[noreturn]] void refuse(const std::string& what)
{
    throw NotValidFormatError("The HEIF picture cannot be read: " + what);
}

void check(const heif_error& error)
{
    if (error.code == heif_error_Ok)
        return;
    if (error.code == heif_error_Unsupported_feature && error.subcode == heif_suberror_Unsupported_codec)
        refuse("this libheif has no decoder for its kind of compression.");
    refuse(std::string(error.message ? error.message : "unknown error") + ".");
}

// The Exif orientation of the handle's Exif block, or 1. In HEIF the block
// starts with the offset of its TIFF header.
int heifExifOrientation(heif_image_handle* handle)
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return 1;
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 4 || size > (std::size_t(1) << 20))
        return 1;
    std::vector<std::uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return 1;
    const std::uint64_t offset = std::uint64_t(4) + bigEndian32(block.data());
    if (offset >= size)
        return 1;
    std::vector<std::uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), block.begin() + std::ptrdiff_t(offset), block.end());
    return exifOrientation(app1.data(), app1.size());
}

}  // namespace

bool looksLikeHeif(const std::uint8_t* data, std::size_t size)
{
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    const std::size_t boxSize = bigEndian32(data);
    if (boxSize < 16 || boxSize > size)
        return false;
    if (isHeifBrand(data + 8))
        return true;
    // Compatible brands follow the major brand and its version.
    for (std::size_t at = 16; at + 4 <= boxSize; at += 4)
        if (isHeifBrand(data + at))
            return true;
    return false;
}

PictureMetadata heifMetadata(const std::uint8_t* data, std::size_t size)
{
    PictureMetadata metadata;
    if (size > std::size_t(INT_MAX))
        return metadata;
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        return metadata;
    heif_context_set_maximum_image_size_limit(context.get(), int(kMaxPixels >> 12));
    if (heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code != heif_error_Ok)
        return metadata;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return metadata;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    // An ICC profile ("prof", or "rICC" for a restricted one); a colour
    // space given by numbers ("nclx") has no profile to carry.
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle.get());
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        const std::size_t profileSize = heif_image_handle_get_raw_color_profile_size(handle.get());
        if (profileSize > 0 && profileSize <= (std::size_t(16) << 20)) {
            std::vector<std::uint8_t> icc(profileSize);
            if (heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok &&
                isRgbIccProfile(icc.data(), icc.size()))
                metadata.icc = std::move(icc);
        }
    }
    // The Exif item begins with the offset of its TIFF header.
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) == 1) {
        const std::size_t blockSize = heif_image_handle_get_metadata_size(handle.get(), id);
        if (blockSize >= 4 + 8 && blockSize <= (std::size_t(16) << 20)) {
            std::vector<std::uint8_t> block(blockSize);
            if (heif_image_handle_get_metadata(handle.get(), id, block.data()).code == heif_error_Ok) {
                const std::uint64_t offset = std::uint64_t(4) + bigEndian32(block.data());
                if (offset + 8 <= blockSize && parseExif(block.data() + offset, blockSize - std::size_t(offset)))
                    metadata.exif.assign(block.begin() + std::ptrdiff_t(offset), block.end());
            }
        }
    }
    return metadata;
}

bool heifCanDecodeHevc()
{
    return heif_have_decoder_for_format(heif_compression_HEVC) != 0;
}

bool heifCanDecodeAv1()
{
    return heif_have_decoder_for_format(heif_compression_AV1) != 0;
}

TBitmap32 decodeHeif(const std::uint8_t* data, std::size_t size)
{
    if (size > std::size_t(INT_MAX))
        refuse("the file is too large.");
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        refuse("out of memory.");
    // libheif refuses an image whose side reaches this before it allocates
    // (tightened below, once the picture's size is known); the pixel count
    // is ours to check, before anything is decoded.
    heif_context_set_maximum_image_size_limit(context.get(), int(kMaxPixels >> 12));
    // A batch worker already runs beside others: its tiles are decoded on its
    // own thread.
    if (threadsForCallingThread() == 1)
        heif_context_set_max_decoding_threads(context.get(), 0);
    check(heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr));

    heif_image_handle* rawHandle = nullptr;
    check(heif_context_get_primary_image_handle(context.get(), &rawHandle));
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    // Both the stored size and the size once cropped and turned are
    // checked: libheif decodes the stored one first. A crop ("clap") can
    // only make a picture smaller; libheif 1.15 would make one larger than
    // what is stored (a damaged 3 KB file gave 197 million pixels, seconds
    // of work), so a file saying so is refused before anything is decoded.
    const std::int64_t storedWidth = heif_image_handle_get_ispe_width(handle.get());
    const std::int64_t storedHeight = heif_image_handle_get_ispe_height(handle.get());
    const std::int64_t shownWidth = heif_image_handle_get_width(handle.get());
    const std::int64_t shownHeight = heif_image_handle_get_height(handle.get());
    checkPictureSize(storedWidth, storedHeight);
    checkPictureSize(shownWidth, shownHeight);
    if (std::max(shownWidth, shownHeight) > std::max(storedWidth, storedHeight) ||
        std::min(shownWidth, shownHeight) > std::min(storedWidth, storedHeight))
        refuse("its crop is larger than the picture it crops.");
    // A picture stored as a grid of tiles is decoded at the size its grid
    // says, which need not be the size checked above: a damaged 3 KB file
    // said 17152 x 11520 (seconds of work) for a 67 x 45 picture. libheif
    // refuses any picture or tile with a side this long; tiles may overhang
    // the picture's edge by up to a tile, hence the room.
    const std::int64_t longest = std::max({storedWidth, storedHeight, shownWidth, shownHeight});
    heif_context_set_maximum_image_size_limit(context.get(), int(std::min<std::int64_t>(2 * longest + 1024, INT_MAX)));

    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
    const bool deep = bits > 8;
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    heif_image* rawImage = nullptr;
    check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                            deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB, options.get()));
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    throwIfCancelled();

    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    checkPictureSize(width, height);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0 || stride < width * (deep ? 6 : 3))
        refuse("the decoder gave no picture.");
    const int depth = deep ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
    if (depth < 8 || depth > 16)
        refuse("samples of " + std::to_string(depth) + " bits are not supported.");

    TBitmap32 picture(width, height);
    const std::uint32_t maximum = (std::uint32_t(1) << depth) - 1;
    parallelRows(height, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* in = plane + std::ptrdiff_t(y) * stride;
            std::uint8_t* out = picture.ScanLine(y);
            if (!deep) {
                for (int x = 0; x < width; ++x, in += 3, out += 4) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                    out[3] = 255;
                }
                continue;
            }
            // Deeper samples to 8 bits, to the nearest: v * 255 / max.
            for (int x = 0; x < width; ++x, in += 6, out += 4) {
                for (int c = 0; c < 3; ++c) {
                    const std::uint32_t v = std::min<std::uint32_t>(in[2 * c] | in[2 * c + 1] << 8, maximum);
                    out[2 - c] = std::uint8_t((v * 255 + maximum / 2) / maximum);
                }
                out[3] = 255;
            }
        }
    });
    if (!declaresTransformations(data, size)) {
        const int orientation = heifExifOrientation(handle.get());
        if (orientation != 1)
            return orientUpright(std::move(picture), orientation);
    }
    return picture;
}

}  // namespace plumora
