#include "formats/exif.h"

#include "raster/errors.h"
#include "raster/geometry.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace plumora {

int exifOrientation(const std::uint8_t* app1, std::size_t size)
{
    // "Exif\0\0", then a TIFF header: byte order, 42, offset of the first IFD.
    constexpr std::size_t kTiff = 6;
    if (size < kTiff + 8 || std::memcmp(app1, "Exif\0\0", 6) != 0)
        return 1;
    const std::uint8_t* tiff = app1 + kTiff;
    const std::size_t length = size - kTiff;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    auto u16 = [&](std::size_t at) -> unsigned {
        return little ? unsigned(tiff[at] | tiff[at + 1] << 8) : unsigned(tiff[at] << 8 | tiff[at + 1]);
    };
    auto u32 = [&](std::size_t at) -> std::uint64_t {
        return little ? std::uint64_t(u16(at)) | std::uint64_t(u16(at + 2)) << 16
                      : std::uint64_t(u16(at)) << 16 | std::uint64_t(u16(at + 2));
    };
    if (u16(2) != 42)
        return 1;
    const std::uint64_t ifd = u32(4);
    if (ifd + 2 > length)
        return 1;
    const unsigned entries = u16(std::size_t(ifd));
    for (unsigned i = 0; i < entries; ++i) {
        const std::uint64_t entry = ifd + 2 + std::uint64_t(i) * 12;
        if (entry + 12 > length)
            return 1;
        const std::size_t at = std::size_t(entry);
        // Orientation: tag 0x0112, type SHORT (3), one value, held in place.
        if (u16(at) == 0x0112) {
            if (u16(at + 2) != 3 || u32(at + 4) != 1)
                return 1;
            const unsigned value = u16(at + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

TBitmap32 orientUpright(TBitmap32 picture, int orientation)
{
    switch (orientation) {
    case 2:
        return mirrorHorizontal(picture);
    case 3:
        return mirrorVertical(mirrorHorizontal(picture));
    case 4:
        return mirrorVertical(picture);
    case 5:  // result(x, y) = picture(y, x)
        return mirrorHorizontal(rotateClockwise(picture));
    case 6:
        return rotateClockwise(picture);
    case 7:  // result(x, y) = picture(W - 1 - y, H - 1 - x)
        return mirrorHorizontal(rotateAnticlockwise(picture));
    case 8:
        return rotateAnticlockwise(picture);
    default:
        return picture;
    }
}

}  // namespace plumora

namespace plumora {

namespace {

// The bytes of one number of each TIFF type (0: a type we do not know).
// RATIONAL and SRATIONAL are two LONGs; 13 is an IFD offset, a LONG.
unsigned typeSize(std::uint16_t type)
{
    static constexpr unsigned kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < 14 ? kSizes[type] : 0;
}

// The width of each number inside a value, for turning byte orders.
unsigned elementSize(std::uint16_t type)
{
    return type == 5 || type == 10 ? 4 : typeSize(type);
}

constexpr std::uint16_t kExifPointer = 0x8769;
constexpr std::uint16_t kGpsPointer = 0x8825;
constexpr std::uint16_t kInteropPointer = 0xA005;
constexpr std::uint16_t kOrientation = 0x0112;
constexpr std::uint16_t kPixelXDimension = 0xA002;
constexpr std::uint16_t kPixelYDimension = 0xA003;
constexpr std::uint16_t kMakerNote = 0x927C;
constexpr unsigned kMaxEntries = 1000;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, bool little) : m_data(data), m_size(size), m_little(little) {}
    std::uint32_t u16(std::size_t at) const
    {
        return m_little ? std::uint32_t(m_data[at] | m_data[at + 1] << 8)
                        : std::uint32_t(m_data[at] << 8 | m_data[at + 1]);
    }
    std::uint32_t u32(std::size_t at) const
    {
        return m_little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }
    bool fits(std::uint64_t at, std::uint64_t length) const { return at <= m_size && length <= m_size - at; }

    // Reads the directory at offset; pointer tags are handed back in
    // `pointers`, not kept. False when it does not fit the block.
    bool directory(std::uint64_t offset, ExifDirectory which, ExifTagFilter keep, std::vector<ExifEntry>& entries,
                   std::vector<std::pair<std::uint16_t, std::uint32_t>>& pointers)
    {
        if (!fits(offset, 2))
            return false;
        const unsigned count = u16(std::size_t(offset));
        if (count > kMaxEntries || !fits(offset + 2, std::uint64_t(count) * 12))
            return false;
        for (unsigned i = 0; i < count; ++i) {
            const std::size_t at = std::size_t(offset + 2 + std::uint64_t(i) * 12);
            ExifEntry entry;
            entry.tag = std::uint16_t(u16(at));
            entry.type = std::uint16_t(u16(at + 2));
            entry.count = u32(at + 4);
            const unsigned size = typeSize(entry.type);
            if (size == 0)
                continue;  // a type we cannot move safely
            const bool pointer =
                (which == ExifDirectory::Main && (entry.tag == kExifPointer || entry.tag == kGpsPointer)) ||
                (which == ExifDirectory::Camera && entry.tag == kInteropPointer);
            if (pointer) {
                if ((entry.type == 4 || entry.type == 13) && entry.count == 1)
                    pointers.emplace_back(entry.tag, u32(at + 8));
                continue;
            }
            if (keep && !keep(which, entry.tag))
                continue;
            const std::uint64_t length = std::uint64_t(size) * entry.count;
            const std::uint64_t where = length <= 4 ? at + 8 : u32(at + 8);
            if (!fits(where, length))
                continue;  // a value outside the block is dropped, the rest kept
            // Bounded in all: a block cannot make us copy much more than itself.
            if (length > m_budget)
                return false;
            m_budget -= length;
            entry.value.resize(std::size_t(length));
            const unsigned element = elementSize(entry.type);
            const std::uint8_t* from = m_data + where;
            for (std::size_t b = 0; b < entry.value.size(); b += element)
                for (unsigned k = 0; k < element; ++k)
                    entry.value[b + k] = m_little ? from[b + k] : from[b + element - 1 - k];
            entries.push_back(std::move(entry));
        }
        return true;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    bool m_little;
    std::uint64_t m_budget = std::uint64_t(m_size) * 2 + 4096;
};

std::optional<std::uint32_t> pointerTo(const std::vector<std::pair<std::uint16_t, std::uint32_t>>& pointers,
                                       std::uint16_t tag)
{
    for (const auto& [t, offset] : pointers)
        if (t == tag)
            return offset;
    return std::nullopt;
}

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v, bool little)
{
    out[at] = std::uint8_t(little ? v : v >> 8);
    out[at + 1] = std::uint8_t(little ? v >> 8 : v);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v, bool little)
{
    put16(out, at, little ? v & 0xFFFF : v >> 16, little);
    put16(out, at + 2, little ? v >> 16 : v & 0xFFFF, little);
}

// Where a directory of n entries and its values go: the directory, then
// each value longer than four bytes, each at an even offset.
std::size_t directorySize(const std::vector<ExifEntry>& entries)
{
    std::size_t size = 2 + 12 * entries.size() + 4;
    for (const ExifEntry& e : entries)
        if (e.value.size() > 4)
            size += (e.value.size() + 1) & ~std::size_t(1);
    return size;
}

// Writes the directory at out's end (out's size even); pointer entries are
// given as LONG entries whose value the caller patches through `slots`.
void appendDirectory(std::vector<std::uint8_t>& out, std::vector<ExifEntry> entries, bool little)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
    const std::size_t start = out.size();
    out.resize(start + directorySize(entries), 0);
    put16(out, start, std::uint32_t(entries.size()), little);
    std::size_t values = start + 2 + 12 * entries.size() + 4;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ExifEntry& e = entries[i];
        const std::size_t at = start + 2 + 12 * i;
        put16(out, at, e.tag, little);
        put16(out, at + 2, e.type, little);
        put32(out, at + 4, e.count, little);
        std::size_t where = at + 8;
        if (e.value.size() > 4) {
            put32(out, at + 8, std::uint32_t(values), little);
            where = values;
            values += (e.value.size() + 1) & ~std::size_t(1);
        }
        const unsigned element = elementSize(e.type);
        for (std::size_t b = 0; b < e.value.size(); b += element)
            for (unsigned k = 0; k < element; ++k)
                out[where + b + k] = little ? e.value[b + k] : e.value[b + element - 1 - k];
    }
    // The next directory's offset (no thumbnail's) stays 0.
}

ExifEntry longEntry(std::uint16_t tag, std::uint32_t value)
{
    return {tag,
            4,
            1,
            {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16), std::uint8_t(value >> 24)}};
}

// The offset an appended directory will have once those before it are.
std::uint32_t checkedOffset(std::size_t at)
{
    if (at > 0xFFFFFFF0u)
        throw PlumoraError("The Exif data is too large to write.");
    return std::uint32_t(at);
}

void setEntry(std::vector<ExifEntry>& entries, ExifEntry entry)
{
    for (ExifEntry& e : entries)
        if (e.tag == entry.tag) {
            e = std::move(entry);
            return;
        }
    entries.push_back(std::move(entry));
}

}  // namespace

std::optional<ExifData> parseExif(const std::uint8_t* data, std::size_t size, ExifTagFilter keep)
{
    if (!data || size < 8)
        return std::nullopt;
    ExifData result;
    if (data[0] == 'I' && data[1] == 'I')
        result.littleEndian = true;
    else if (data[0] == 'M' && data[1] == 'M')
        result.littleEndian = false;
    else
        return std::nullopt;
    Reader reader(data, size, result.littleEndian);
    if (reader.u16(2) != 42)
        return std::nullopt;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> pointers, cameraPointers, none;
    if (!reader.directory(reader.u32(4), ExifDirectory::Main, keep, result.main, pointers))
        return std::nullopt;
    // A damaged sub-directory loses only itself. Each is read once: a block
    // pointing back at a directory cannot make us go round.
    if (const auto at = pointerTo(pointers, kExifPointer)) {
        if (!reader.directory(*at, ExifDirectory::Camera, keep, result.camera, cameraPointers))
            result.camera.clear();
        if (const auto interop = pointerTo(cameraPointers, kInteropPointer))
            if (!reader.directory(*interop, ExifDirectory::Interop, keep, result.interop, none))
                result.interop.clear();
    }
    if (const auto at = pointerTo(pointers, kGpsPointer))
        if (!reader.directory(*at, ExifDirectory::Location, keep, result.location, none))
            result.location.clear();
    return result;
}

std::uint32_t appendExifDirectories(std::vector<std::uint8_t>& out, const ExifData& data)
{
    const bool little = data.littleEndian;
    if (out.size() % 2)
        out.push_back(0);
    std::vector<ExifEntry> camera = data.camera;
    std::vector<ExifEntry> main = data.main;
    // The directories go in this order: main, camera, interop, location.
    // Their sizes are known before they are written, so each pointer is
    // written with its directory's final offset.
    const bool hasInterop = !data.interop.empty();
    const bool hasCamera = !camera.empty() || hasInterop;
    const bool hasLocation = !data.location.empty();
    const std::size_t mainSize = directorySize(main) + (hasCamera ? 12 : 0) + (hasLocation ? 12 : 0);
    const std::size_t mainAt = out.size();
    const std::size_t cameraAt = mainAt + mainSize;
    const std::size_t cameraSize = hasCamera ? directorySize(camera) + (hasInterop ? 12 : 0) : 0;
    const std::size_t interopAt = cameraAt + cameraSize;
    const std::size_t locationAt = interopAt + (hasInterop ? directorySize(data.interop) : 0);
    if (hasCamera)
        main.push_back(longEntry(kExifPointer, checkedOffset(cameraAt)));
    if (hasLocation)
        main.push_back(longEntry(kGpsPointer, checkedOffset(locationAt)));
    if (hasInterop)
        camera.push_back(longEntry(kInteropPointer, checkedOffset(interopAt)));
    appendDirectory(out, main, little);
    if (hasCamera)
        appendDirectory(out, camera, little);
    if (hasInterop)
        appendDirectory(out, data.interop, little);
    if (hasLocation)
        appendDirectory(out, data.location, little);
    return checkedOffset(mainAt);
}

std::vector<std::uint8_t> serializeExif(const ExifData& data)
{
    std::vector<std::uint8_t> out(8);
    out[0] = out[1] = data.littleEndian ? 'I' : 'M';
    put16(out, 2, 42, data.littleEndian);
    const std::uint32_t first = appendExifDirectories(out, data);
    put32(out, 4, first, data.littleEndian);
    return out;
}

std::optional<std::uint32_t> exifNumber(const std::vector<ExifEntry>& directory, std::uint16_t tag)
{
    for (const ExifEntry& e : directory) {
        if (e.tag != tag || e.count < 1)
            continue;
        if (e.type == 3 && e.value.size() >= 2)
            return std::uint32_t(e.value[0] | e.value[1] << 8);
        if (e.type == 4 && e.value.size() >= 4)
            return std::uint32_t(e.value[0] | e.value[1] << 8 | e.value[2] << 16 | std::uint32_t(e.value[3]) << 24);
        return std::nullopt;
    }
    return std::nullopt;
}

bool isCameraTag(ExifDirectory directory, std::uint16_t tag)
{
    if (directory == ExifDirectory::Camera)
        return tag != kMakerNote;  // its offsets point into the old block
    if (directory != ExifDirectory::Main)
        return true;
    switch (tag) {
    // How the old file's pixels were laid out and compressed, the thumbnail's
    // place, sub-pictures, and a colour profile or XMP packet of its own (the
    // profile travels beside the Exif; XMP could repeat the location).
    case 0x00FE:
    case 0x00FF:
    case 0x0100:
    case 0x0101:
    case 0x0102:
    case 0x0103:
    case 0x0106:
    case 0x0107:
    case 0x0108:
    case 0x0109:
    case 0x010A:
    case 0x0111:
    case 0x0115:
    case 0x0116:
    case 0x0117:
    case 0x0118:
    case 0x0119:
    case 0x011C:
    case 0x0120:
    case 0x0121:
    case 0x0122:
    case 0x0123:
    case 0x013D:
    case 0x0140:
    case 0x0142:
    case 0x0143:
    case 0x0144:
    case 0x0145:
    case 0x014A:
    case 0x0152:
    case 0x0153:
    case 0x0154:
    case 0x0155:
    case 0x0156:
    case 0x0201:
    case 0x0202:
    case 0x0211:
    case 0x0212:
    case 0x02BC:
    case 0x8773:
    case 0x935C:
        return false;
    default:
        return true;
    }
}

std::vector<std::uint8_t> exifForWriting(const std::vector<std::uint8_t>& exif, bool keepLocation, int width,
                                         int height)
{
    std::optional<ExifData> data = parseExif(exif.data(), exif.size(), isCameraTag);
    if (!data)
        return {};
    setEntry(data->main, {kOrientation, 3, 1, {1, 0}});
    if (exifNumber(data->camera, kPixelXDimension) || exifNumber(data->camera, kPixelYDimension)) {
        setEntry(data->camera, longEntry(kPixelXDimension, std::uint32_t(std::max(width, 0))));
        setEntry(data->camera, longEntry(kPixelYDimension, std::uint32_t(std::max(height, 0))));
    }
    if (!keepLocation)
        data->location.clear();
    return serializeExif(*data);
}

}  // namespace plumora
