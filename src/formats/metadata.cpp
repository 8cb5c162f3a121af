#include "formats/metadata.h"

#include "formats/exif.h"
#include "formats/heif.h"
#include "formats/jxl.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plumora {

namespace {

// No real profile comes near this; a larger one is not kept.
constexpr std::size_t kMaxProfile = std::size_t(16) << 20;
// Nor does any real Exif block.
constexpr std::size_t kMaxExif = std::size_t(16) << 20;

std::uint32_t big32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t little32(const std::uint8_t* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

// An Exif block as it is kept: from its TIFF header. Some writers put a
// JPEG's "Exif\0\0" before it in PNG and WebP files too.
std::vector<std::uint8_t> exifBlock(const std::uint8_t* data, std::size_t size)
{
    if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
        data += 6;
        size -= 6;
    }
    if (size < 8 || size > kMaxExif || !parseExif(data, size))
        return {};
    return {data, data + size};
}

std::vector<std::uint8_t> profile(const std::uint8_t* data, std::size_t size)
{
    if (!isRgbIccProfile(data, size))
        return {};
    return {data, data + size};
}

// ---- JPEG: the markers before the first scan ----

PictureMetadata jpegMetadata(const std::uint8_t* data, std::size_t size)
{
    PictureMetadata metadata;
    std::map<int, std::vector<std::uint8_t>> chunks;  // by sequence number, 1..count
    int chunkCount = 0;
    bool chunksBad = false;
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            break;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)  // the end, or the first scan: no more headers
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || length > size - at - 2)
            break;
        const std::uint8_t* body = data + at + 4;
        const std::size_t bodySize = length - 2;
        if (marker == 0xE1 && metadata.exif.empty() && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0)
            metadata.exif = exifBlock(body, bodySize);
        if (marker == 0xE2 && bodySize >= 14 && std::memcmp(body, "ICC_PROFILE\0", 12) == 0) {
            const int sequence = body[12], count = body[13];
            if (sequence < 1 || sequence > count || (chunkCount != 0 && count != chunkCount) ||
                chunks.count(sequence) != 0)
                chunksBad = true;
            chunkCount = count;
            chunks[sequence].assign(body + 14, body + bodySize);
        }
        at += 2 + length;
    }
    if (!chunksBad && chunkCount > 0 && int(chunks.size()) == chunkCount) {
        std::vector<std::uint8_t> whole;
        for (const auto& [sequence, bytes] : chunks)
            whole.insert(whole.end(), bytes.begin(), bytes.end());
        metadata.icc = profile(whole.data(), whole.size());
    }
    return metadata;
}

// ---- PNG: the chunks, whose pixel data is skipped ----

std::vector<std::uint8_t> inflateProfile(const std::uint8_t* data, std::size_t size)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    std::vector<std::uint8_t> out(std::min<std::size_t>(kMaxProfile, std::max<std::size_t>(size * 4, 4096)));
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(std::min<std::size_t>(size, 0xFFFFFFFFu));
    std::size_t produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (produced == out.size()) {
            if (out.size() >= kMaxProfile)
                break;
            out.resize(std::min(kMaxProfile, out.size() * 2));
        }
        stream.next_out = out.data() + produced;
        stream.avail_out = uInt(out.size() - produced);
        status = inflate(&stream, Z_NO_FLUSH);
        produced = out.size() - stream.avail_out;
        if (status == Z_BUF_ERROR && stream.avail_in == 0)
            break;
        if (status == Z_BUF_ERROR)
            status = Z_OK;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return {};
    out.resize(produced);
    return out;
}

PictureMetadata pngMetadata(const std::uint8_t* data, std::size_t size)
{
    PictureMetadata metadata;
    std::size_t at = 8;
    while (at + 12 <= size) {
        const std::uint32_t length = big32(data + at);
        if (length > size - at - 12)
            break;
        const std::uint8_t* type = data + at + 4;
        const std::uint8_t* body = data + at + 8;
        if (std::memcmp(type, "iCCP", 4) == 0 && metadata.icc.empty()) {
            // A name of 1 to 79 bytes, a zero, the compression method (0), then the zlib stream.
            const std::uint8_t* zero =
                static_cast<const std::uint8_t*>(std::memchr(body, 0, std::min<std::size_t>(length, 80)));
            if (zero && zero + 2 <= body + length && zero[1] == 0) {
                const std::vector<std::uint8_t> bytes =
                    inflateProfile(zero + 2, std::size_t(body + length - (zero + 2)));
                metadata.icc = profile(bytes.data(), bytes.size());
            }
        } else if (std::memcmp(type, "eXIf", 4) == 0 && metadata.exif.empty()) {
            metadata.exif = exifBlock(body, length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        at += 12 + std::size_t(length);
    }
    return metadata;
}

// ---- WebP: the RIFF chunks ----

PictureMetadata webpMetadata(const std::uint8_t* data, std::size_t size)
{
    PictureMetadata metadata;
    const std::size_t end = std::min<std::size_t>(size, std::size_t(little32(data + 4)) + 8);
    std::size_t at = 12;
    while (at + 8 <= end) {
        const std::uint32_t length = little32(data + at + 4);
        if (length > end - at - 8)
            break;
        const std::uint8_t* body = data + at + 8;
        if (std::memcmp(data + at, "ICCP", 4) == 0 && metadata.icc.empty())
            metadata.icc = profile(body, length);
        else if (std::memcmp(data + at, "EXIF", 4) == 0 && metadata.exif.empty())
            metadata.exif = exifBlock(body, length);
        at += 8 + std::size_t(length) + (length & 1);
    }
    return metadata;
}

// ---- TIFF: the first directory ----

// Only what an Exif block can carry is copied (not the strips' offsets) and
// the profile.
bool cameraTagOrProfile(ExifDirectory directory, std::uint16_t tag)
{
    return isCameraTag(directory, tag) || (directory == ExifDirectory::Main && tag == 0x8773);
}

PictureMetadata tiffMetadata(const std::uint8_t* data, std::size_t size)
{
    PictureMetadata metadata;
    std::optional<ExifData> exif = parseExif(data, size, cameraTagOrProfile);
    if (!exif)
        return metadata;
    for (auto it = exif->main.begin(); it != exif->main.end(); ++it)
        if (it->tag == 0x8773) {
            if (it->type == 1 || it->type == 7)
                metadata.icc = profile(it->value.data(), it->value.size());
            exif->main.erase(it);
            break;
        }
    // A TIFF always has its own directory; it is camera data only when it
    // says more than the picture's layout: a camera's tags, or a directory
    // of Exif or GPS data.
    const bool camera = !exif->camera.empty() || !exif->location.empty() ||
                        std::any_of(exif->main.begin(), exif->main.end(), [](const ExifEntry& e) {
                            return e.tag == 0x010F || e.tag == 0x0110 || e.tag == 0x0132;  // make, model, date
                        });
    if (camera) {
        std::vector<std::uint8_t> block = serializeExif(*exif);
        if (block.size() <= kMaxExif)
            metadata.exif = std::move(block);
    }
    return metadata;
}

}  // namespace

bool isRgbIccProfile(const std::uint8_t* data, std::size_t size)
{
    // The header is 128 bytes, then the count of tags and 12 bytes each.
    if (!data || size < 132 || size > kMaxProfile || big32(data) != size || std::memcmp(data + 36, "acsp", 4) != 0 ||
        std::memcmp(data + 16, "RGB ", 4) != 0)
        return false;
    const std::uint32_t tags = big32(data + 128);
    if (tags > (size - 132) / 12)
        return false;
    for (std::uint32_t i = 0; i < tags; ++i) {
        const std::uint8_t* tag = data + 132 + std::size_t(i) * 12;
        const std::uint64_t offset = big32(tag + 4), length = big32(tag + 8);
        if (offset > size || length > size - offset)
            return false;
    }
    return true;
}

PictureMetadata readPictureMetadata(const std::uint8_t* data, std::size_t size)
{
    if (!data || size < 12)
        return {};
    if (data[0] == 0xFF && data[1] == 0xD8)
        return jpegMetadata(data, size);
    if (std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return pngMetadata(data, size);
    if (std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return webpMetadata(data, size);
    if ((std::memcmp(data, "II*\0", 4) == 0) || (std::memcmp(data, "MM\0*", 4) == 0))
        return tiffMetadata(data, size);
    if (looksLikeHeif(data, size))
        return heifMetadata(data, size);
    if (looksLikeJxl(data, size)) {
        PictureMetadata metadata;
        const std::vector<std::uint8_t> bytes = jxlColourProfile(data, size);
        metadata.icc = profile(bytes.data(), bytes.size());
        return metadata;
    }
    return {};
}

PictureMetadata readPictureMetadata(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        ::close(fd);
        return {};
    }
    const std::size_t size = std::size_t(info.st_size);
    // Mapped: only the pages holding the headers and chunks looked at are
    // read from the disk, not the pixel data they skip.
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED)
        return {};
    PictureMetadata metadata;
    try {
        metadata = readPictureMetadata(static_cast<const std::uint8_t*>(mapped), size);
    } catch (...) {
        ::munmap(mapped, size);
        throw;
    }
    ::munmap(mapped, size);
    return metadata;
}

}  // namespace plumora
