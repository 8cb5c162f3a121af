#pragma once

#include "raster/bitmap32.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plumora {

// The one file of a history whose packed steps go past its memory budget:
// history-<process id>-<n>.bin in the given folder, removed when the last
// step in it goes (at the latest when the document goes). A process that
// ended without removing its files (a crash) leaves them for the next one:
// removeStaleHistoryFiles.
//
// Steps are written into holes that steps let go of, or at the end; a hole
// at the end shortens the file. Any thread may write, read and let go.
class HistoryFile {
public:
    // Creates the folder when it is missing and the file in it, after
    // removing the stale files there. Throws PlumoraError with the reason.
    static std::shared_ptr<HistoryFile> create(const std::filesystem::path& folder);
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes the parts one after the other at a place of their total size and
    // returns where. goOn, when given, is called between parts; false stops
    // (nothing is kept, and the result is empty). Throws PlumoraError when the
    // file cannot take them (a full disk).
    std::optional<std::uint64_t> write(const std::vector<std::pair<const std::uint8_t*, std::size_t>>& parts,
                                       const std::function<bool()>& goOn = {});
    // Reads size bytes at offset. Throws PlumoraError.
    void read(std::uint64_t offset, std::uint8_t* into, std::size_t size) const;
    // The place may be written over again.
    void release(std::uint64_t offset, std::uint64_t size) noexcept;
    // Bytes of steps in the file.
    std::uint64_t usedBytes() const;

private:
    HistoryFile(std::filesystem::path path, int descriptor) : m_path(std::move(path)), m_fd(descriptor) {}
    std::uint64_t place(std::uint64_t size);

    std::filesystem::path m_path;
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::map<std::uint64_t, std::uint64_t> m_holes;  // offset -> size, neither touching another nor the end
    std::uint64_t m_end = 0;
    std::uint64_t m_used = 0;
};

// Removes the history files in folder whose process no longer runs. Never
// throws: what cannot be removed stays.
void removeStaleHistoryFiles(const std::filesystem::path& folder) noexcept;

// Where and from when a history's packed steps go to disk.
struct HistoryStorage {
    // Packed steps held in memory beyond this many bytes go to a file
    // (the ones furthest from the displayed step first).
    std::size_t memoryBudget = defaultBudget();
    // The folder of that file; empty: none, the steps stay in memory.
    std::filesystem::path folder = defaultFolder();

    // An eighth of the machine's memory, at least 512 MiB.
    static std::size_t defaultBudget();
    // $XDG_CACHE_HOME/plumora, or ~/.cache/plumora; empty without either.
    static std::filesystem::path defaultFolder();
};

// A picture kept losslessly compressed, for the undo history: a step that is
// not on screen costs a fraction of its pixels, and unpacking gives back
// every byte, the fourth one included.
//
// The pixels are cut into bands of about 32 rows, each compressed on its own
// with LZ4, so that unpacking runs on all cores and a band never needs its
// neighbours. A band is stored in whichever of two layouts compresses better,
// as its first pixels tell: the pixels as they are (line drawings: long runs
// of whole pixels), or byte planes, the blue, green, red and fourth bytes of
// every 1024 pixels apart (photographs and colour effects, whose bytes of one
// kind repeat far more than whole pixels do). A band that does not shrink is
// kept as it is.
//
// Packing allocates through std::vector only (never new[]), runs in the
// calling thread alone, and is meant for a background thread; unpacking is
// meant for the thread the user waits on.
//
// A packed picture may also lie in a HistoryFile (writtenTo): then it holds
// only its bookkeeping, and readBack() brings its bytes into memory again.
class PackedPicture {
public:
    // Compresses picture. goOn, when given, is called between bands: it may
    // do a little work of its own, and returning false stops packing (work
    // nobody wants any more), which then returns nothing. Throws
    // std::bad_alloc when memory runs out.
    static std::optional<PackedPicture> pack(const TBitmap32& picture, const std::function<bool()>& goOn = {});

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The memory this object holds, its bookkeeping included.
    std::size_t heldBytes() const;

    // The bytes it keeps in a file (0 in memory).
    std::size_t diskBytes() const;
    bool onDisk() const { return m_disk != nullptr; }

    // A new picture with exactly the packed bytes, read back first when on
    // disk. Throws std::bad_alloc when memory runs out, PlumoraError when the
    // file cannot be read.
    TBitmap32 unpack() const;
    // The same into target, a picture of as many pixels whose block is
    // reused (and takes the packed picture's sides). Cannot fail: this is
    // what lets a block be overwritten only once nothing else can go wrong.
    // Only for a packed picture in memory.
    void unpackInto(TBitmap32& target) const noexcept;

    // The same packed picture written to file, holding no bytes in memory;
    // empty when goOn (called between bands) stopped it. Throws PlumoraError
    // when the file cannot take it.
    std::optional<PackedPicture> writtenTo(const std::shared_ptr<HistoryFile>& file,
                                           const std::function<bool()>& goOn = {}) const;
    // A packed picture on disk brought back into memory (one read of its
    // bytes). Throws PlumoraError when the file cannot be read, std::bad_alloc.
    PackedPicture readBack() const;

private:
    enum class Layout : std::uint8_t { Stored, Pixels, Planes };
    struct Band {
        Layout layout = Layout::Stored;
        std::vector<std::uint8_t> bytes;  // empty while on disk or read back
        std::size_t size = 0;             // of the band's bytes, wherever they are
        std::size_t at = 0;               // where they are in m_readBytes
    };
    // Where the bytes lie in the file; the place is let go of with the last
    // packed picture that names it.
    struct DiskPlace {
        std::shared_ptr<HistoryFile> file;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        ~DiskPlace() { file->release(offset, size); }
    };

    PackedPicture() = default;
    void unpackBand(std::size_t band, std::uint8_t* target) const noexcept;

    int m_width = 0;
    int m_height = 0;
    std::int64_t m_bandPixels = 1;
    std::vector<Band> m_bands;
    std::shared_ptr<const DiskPlace> m_disk;
    std::shared_ptr<std::uint8_t[]> m_readBytes;  // all bands' bytes, when read back
};

}  // namespace plumora
