#include "document/packed_picture.h"

#include "raster/errors.h"
#include "raster/parallel.h"

#include <lz4.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace plumora {

namespace {

constexpr const char* kHistoryFilePrefix = "history-";
constexpr const char* kHistoryFileSuffix = ".bin";

// The process id a history file's name carries, or 0 when the name is not
// one of ours.
pid_t historyFileOwner(const std::string& name)
{
    const std::string prefix = kHistoryFilePrefix;
    const std::string suffix = kHistoryFileSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const char* begin = name.data() + prefix.size();
    const char* end = name.data() + name.size() - suffix.size();
    long pid = 0;
    const auto [stop, error] = std::from_chars(begin, end, pid);
    if (error != std::errc() || stop == begin || stop == end || *stop != '-' || pid <= 0)
        return 0;
    return pid_t(pid);
}

bool processRuns(pid_t pid)
{
    // EPERM: it runs, as another user.
    return kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

void removeStaleHistoryFiles(const std::filesystem::path& folder) noexcept
{
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const pid_t owner = historyFileOwner(it->path().filename().string());
        if (owner != 0 && owner != getpid() && !processRuns(owner)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

std::size_t HistoryStorage::defaultBudget()
{
    std::size_t budget = std::size_t(512) << 20;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        budget = std::max(budget, std::size_t(pages) / 8 * std::size_t(pageSize));
    return budget;
}

std::filesystem::path HistoryStorage::defaultFolder()
{
    // A relative XDG_CACHE_HOME is to be ignored, as the XDG rules say.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::filesystem::path(cache) / "plumora";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::filesystem::path(home) / ".cache" / "plumora";
    return {};
}

std::shared_ptr<HistoryFile> HistoryFile::create(const std::filesystem::path& folder)
{
    const auto refuse = [&](const std::string& why) {
        return PlumoraError("The undo history cannot be kept in " + folder.string() + ": " + why);
    };
    if (folder.empty())
        throw PlumoraError("The undo history has no folder to be kept in.");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw refuse(error.message());
    removeStaleHistoryFiles(folder);
    static std::atomic<unsigned> made{0};
    const std::filesystem::path path =
        folder / (kHistoryFilePrefix + std::to_string(getpid()) + "-" + std::to_string(++made) + kHistoryFileSuffix);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw refuse(std::strerror(errno));
    return std::shared_ptr<HistoryFile>(new HistoryFile(path, fd));
}

HistoryFile::~HistoryFile()
{
    close(m_fd);
    unlink(m_path.c_str());
}

std::uint64_t HistoryFile::place(std::uint64_t size)
{
    std::lock_guard lock(m_mutex);
    m_used += size;
    for (auto it = m_holes.begin(); it != m_holes.end(); ++it)
        if (it->second >= size) {
            const std::uint64_t offset = it->first;
            const std::uint64_t rest = it->second - size;
            m_holes.erase(it);
            if (rest > 0)
                m_holes.emplace(offset + size, rest);
            return offset;
        }
    const std::uint64_t offset = m_end;
    m_end += size;
    return offset;
}

void HistoryFile::release(std::uint64_t offset, std::uint64_t size) noexcept
{
    if (size == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_used -= size;
    std::uint64_t end = offset + size;
    // Joined with the holes on either side.
    auto next = m_holes.lower_bound(offset);
    if (next != m_holes.end() && next->first == end) {
        end += next->second;
        next = m_holes.erase(next);
    }
    if (next != m_holes.begin()) {
        const auto before = std::prev(next);
        if (before->first + before->second == offset) {
            offset = before->first;
            m_holes.erase(before);
        }
    }
    if (end == m_end) {
        m_end = offset;
        // Only disk space: a file that keeps its length is as good.
        [[maybe_unused]] const int ignored = ftruncate(m_fd, off_t(m_end));
        return;
    }
    try {
        m_holes.emplace(offset, end - offset);
    } catch (const std::bad_alloc&) {
        // The place is lost until the file goes; nothing else.
    }
}

std::uint64_t HistoryFile::usedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_used;
}

std::optional<std::uint64_t> HistoryFile::write(const std::vector<std::pair<const std::uint8_t*, std::size_t>>& parts,
                                                const std::function<bool()>& goOn)
{
    std::uint64_t size = 0;
    for (const auto& part : parts)
        size += part.second;
    const std::uint64_t offset = place(size);
    std::uint64_t at = offset;
    for (const auto& [bytes, length] : parts) {
        if (goOn && !goOn()) {
            release(offset, size);
            return std::nullopt;
        }
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = pwrite(m_fd, bytes + done, length - done, off_t(at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const std::string why = n < 0 ? std::strerror(errno) : "nothing was written";
                release(offset, size);
                throw PlumoraError("The undo history could not be written to " + m_path.string() + ": " + why);
            }
            done += std::size_t(n);
        }
        at += length;
    }
    return offset;
}

void HistoryFile::read(std::uint64_t offset, std::uint8_t* into, std::size_t size) const
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(m_fd, into + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw PlumoraError("The undo history could not be read back from " + m_path.string() + ": " +
                               (n < 0 ? std::strerror(errno) : "the file is shorter than it was written"));
        done += std::size_t(n);
    }
}

namespace {

// About 32 rows a band: big enough for LZ4 to find its matches (it looks
// 64 KiB back), small enough that a 24-megapixel picture has some 125 bands
// to share out among the cores, and that the background thread, which looks
// between two bands whether it should wait, waits within 2 or 3 ms. Narrow
// pictures get longer bands and very wide ones shorter, so that every band
// stays between 256 KiB and 16 MiB, far inside what one LZ4 block may hold.
constexpr std::int64_t kBandRows = 32;
constexpr std::int64_t kMinBandPixels = std::int64_t(1) << 16;
constexpr std::int64_t kMaxBandPixels = std::int64_t(1) << 22;

// A band whose pixels compress to an eighth or less is a drawing: trying the
// byte planes as well would only cost time.
constexpr std::size_t kGoodEnough = 8;
constexpr std::size_t kSamplePixels = std::size_t(1) << 15;

std::int64_t bandPixelsFor(int width)
{
    return std::clamp(kBandRows * width, kMinBandPixels, kMaxBandPixels);
}

// The byte planes are cut into groups of 1024 pixels (4 KiB): within a group
// come its blue bytes, then its green, red and fourth bytes. That compresses
// as well as whole planes, and a group goes back into pixels in place, through
// a buffer on the stack, so unpacking writes nowhere but into the picture.
constexpr std::size_t kGroupPixels = 1024;

void splitPlanes(const std::uint8_t* source, std::size_t pixels, std::uint8_t* planes)
{
    for (std::size_t first = 0; first < pixels; first += kGroupPixels) {
        const std::size_t n = std::min(kGroupPixels, pixels - first);
        const std::uint8_t* from = source + 4 * first;
        std::uint8_t* blue = planes + 4 * first;
        std::uint8_t* green = blue + n;
        std::uint8_t* red = green + n;
        std::uint8_t* fourth = red + n;
        // Whole pixels are read as one word, so the compiler turns the loop
        // into vector shifts.
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t pixel;
            std::memcpy(&pixel, from + 4 * i, 4);
            blue[i] = std::uint8_t(pixel);
            green[i] = std::uint8_t(pixel >> 8);
            red[i] = std::uint8_t(pixel >> 16);
            fourth[i] = std::uint8_t(pixel >> 24);
        }
    }
}

void joinPlanesInPlace(std::uint8_t* bytes, std::size_t pixels)
{
    std::uint8_t group[4 * kGroupPixels];
    for (std::size_t first = 0; first < pixels; first += kGroupPixels) {
        const std::size_t n = std::min(kGroupPixels, pixels - first);
        std::uint8_t* target = bytes + 4 * first;
        std::memcpy(group, target, 4 * n);
        const std::uint8_t* blue = group;
        const std::uint8_t* green = blue + n;
        const std::uint8_t* red = green + n;
        const std::uint8_t* fourth = red + n;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t pixel = std::uint32_t(blue[i]) | std::uint32_t(green[i]) << 8 |
                                        std::uint32_t(red[i]) << 16 | std::uint32_t(fourth[i]) << 24;
            std::memcpy(target + 4 * i, &pixel, 4);
        }
    }
}

// LZ4 of size bytes into out (resized to its bound); the compressed length,
// or 0 if LZ4 refused.
std::size_t compress(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out)
{
    const int bound = LZ4_compressBound(int(size));
    out.resize(std::size_t(bound));
    const int length = LZ4_compress_default(reinterpret_cast<const char*>(bytes), reinterpret_cast<char*>(out.data()),
                                            int(size), bound);
    return length > 0 ? std::size_t(length) : 0;
}

// Our own bytes that do not unpack to what was packed: memory was
// overwritten behind our back. Never expected; it ends the program (unpacking
// cannot fail otherwise) rather than show a wrong picture.
[[noreturn]] void damaged() noexcept
{
    std::fputs("A picture of the undo history is damaged.\n", stderr);
    std::abort();
}

}  // namespace

std::optional<PackedPicture> PackedPicture::pack(const TBitmap32& picture, const std::function<bool()>& goOn)
{
    PackedPicture packed;
    packed.m_width = picture.width();
    packed.m_height = picture.height();
    if (picture.empty())
        return packed;
    packed.m_bandPixels = bandPixelsFor(picture.width());
    const std::int64_t pixels = std::int64_t(picture.width()) * picture.height();
    const std::int64_t bands = (pixels + packed.m_bandPixels - 1) / packed.m_bandPixels;
    packed.m_bands.reserve(std::size_t(bands));

    std::vector<std::uint8_t> planes;
    std::vector<std::uint8_t> asPixels;
    std::vector<std::uint8_t> asPlanes;
    for (std::int64_t band = 0; band < bands; ++band) {
        if (goOn && !goOn())
            return std::nullopt;
        const std::int64_t first = band * packed.m_bandPixels;
        const std::size_t count = std::size_t(std::min(packed.m_bandPixels, pixels - first));
        const std::size_t size = count * 4;
        const std::uint8_t* bytes = picture.bits() + std::size_t(first) * 4;

        // The layout is chosen on the band's first pixels (an eighth of it,
        // at least 32 Ki pixels), which tell as well as the whole band and
        // spare compressing all of it twice.
        const std::size_t sample = std::max(std::min(count, kSamplePixels), count / 8);
        std::size_t length = compress(bytes, sample * 4, asPixels);
        bool planar = false;
        if (length == 0 || length > sample * 4 / kGoodEnough) {
            planes.resize(size);
            splitPlanes(bytes, sample, planes.data());
            const std::size_t planesLength = compress(planes.data(), sample * 4, asPlanes);
            planar = planesLength != 0 && (length == 0 || planesLength < length);
            if (planar)
                length = planesLength;
        }
        if (sample < count) {
            if (planar) {
                splitPlanes(bytes, count, planes.data());
                length = compress(planes.data(), size, asPlanes);
            } else {
                length = compress(bytes, size, asPixels);
            }
        }
        const std::vector<std::uint8_t>& compressed = planar ? asPlanes : asPixels;

        Band out;
        if (length == 0 || length >= size) {
            out.layout = Layout::Stored;
            out.bytes.assign(bytes, bytes + size);
        } else {
            out.layout = planar ? Layout::Planes : Layout::Pixels;
            out.bytes.assign(compressed.begin(), compressed.begin() + std::ptrdiff_t(length));
        }
        out.size = out.bytes.size();
        packed.m_bands.push_back(std::move(out));
    }
    return packed;
}

std::size_t PackedPicture::heldBytes() const
{
    std::size_t bytes = sizeof(PackedPicture) + m_bands.capacity() * sizeof(Band);
    if (m_readBytes) {
        for (const Band& band : m_bands)
            bytes += band.size;
    }
    for (const Band& band : m_bands)
        bytes += band.bytes.capacity();
    return bytes;
}

std::size_t PackedPicture::diskBytes() const
{
    return m_disk ? std::size_t(m_disk->size) : 0;
}

std::optional<PackedPicture> PackedPicture::writtenTo(const std::shared_ptr<HistoryFile>& file,
                                                      const std::function<bool()>& goOn) const
{
    if (m_disk)
        return *this;
    std::vector<std::pair<const std::uint8_t*, std::size_t>> parts;
    parts.reserve(m_bands.size());
    std::uint64_t size = 0;
    for (const Band& band : m_bands) {
        parts.emplace_back(m_readBytes ? m_readBytes.get() + band.at : band.bytes.data(), band.size);
        size += band.size;
    }
    const std::optional<std::uint64_t> offset = file->write(parts, goOn);
    if (!offset)
        return std::nullopt;
    PackedPicture written;
    written.m_width = m_width;
    written.m_height = m_height;
    written.m_bandPixels = m_bandPixels;
    written.m_bands.reserve(m_bands.size());
    for (const Band& band : m_bands)
        written.m_bands.push_back({band.layout, {}, band.size, 0});
    // Made in place: a copy's end would let go of the place.
    written.m_disk = std::shared_ptr<const DiskPlace>(new DiskPlace{file, *offset, size});
    return written;
}

PackedPicture PackedPicture::readBack() const
{
    if (!m_disk)
        return *this;
    PackedPicture back;
    back.m_width = m_width;
    back.m_height = m_height;
    back.m_bandPixels = m_bandPixels;
    back.m_bands.reserve(m_bands.size());
    // One read of the whole place into one buffer, which the bands then
    // point into: the read and the unpacking, nothing more.
    back.m_readBytes = std::make_shared_for_overwrite<std::uint8_t[]>(std::size_t(m_disk->size));
    m_disk->file->read(m_disk->offset, back.m_readBytes.get(), std::size_t(m_disk->size));
    std::size_t at = 0;
    for (const Band& band : m_bands) {
        back.m_bands.push_back({band.layout, {}, band.size, at});
        at += band.size;
    }
    return back;
}

void PackedPicture::unpackBand(std::size_t band, std::uint8_t* target) const noexcept
{
    const Band& b = m_bands[band];
    const std::uint8_t* bytes = m_readBytes ? m_readBytes.get() + b.at : b.bytes.data();
    const std::int64_t pixels = std::int64_t(m_width) * m_height;
    const std::int64_t first = std::int64_t(band) * m_bandPixels;
    const std::size_t count = std::size_t(std::min(m_bandPixels, pixels - first));
    const std::size_t size = count * 4;
    if (b.layout == Layout::Stored) {
        if (b.size != size)
            damaged();
        std::memcpy(target, bytes, size);
        return;
    }
    const int length = LZ4_decompress_safe(reinterpret_cast<const char*>(bytes), reinterpret_cast<char*>(target),
                                           int(b.size), int(size));
    if (length < 0 || std::size_t(length) != size)
        damaged();
    if (b.layout == Layout::Planes)
        joinPlanesInPlace(target, count);
}

TBitmap32 PackedPicture::unpack() const
{
    if (m_disk)
        return readBack().unpack();
    TBitmap32 picture(m_width, m_height);
    unpackInto(picture);
    return picture;
}

void PackedPicture::unpackInto(TBitmap32& target) const noexcept
{
    if (m_disk)
        damaged();  // the caller reads it back first
    // Same pixel count: the block stays, only the sides change.
    target.setSize(m_width, m_height);
    if (m_bands.empty())
        return;
    // Each slice of rows unpacks the bands that begin in it: band b begins
    // in row b x bandPixels / width, so every band is unpacked exactly once.
    // The loop's state is one reference, which std::function holds without
    // allocating: nothing here may fail.
    struct Loop {
        const PackedPicture& packed;
        std::uint8_t* bits;
        void operator()(int y0, int y1) const noexcept
        {
            const std::int64_t width = packed.m_width;
            const std::int64_t step = packed.m_bandPixels;
            const std::int64_t firstBand = (y0 * width + step - 1) / step;
            const std::int64_t endBand =
                std::min<std::int64_t>(std::int64_t(packed.m_bands.size()), (y1 * width + step - 1) / step);
            for (std::int64_t band = firstBand; band < endBand; ++band)
                packed.unpackBand(std::size_t(band), bits + std::size_t(band * step) * 4);
        }
    } loop{*this, target.bits()};
    parallelRows(m_height, [&loop](int y0, int y1) { loop(y0, y1); });
}

}  // namespace plumora
