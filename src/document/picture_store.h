#pragma once

#include "document/packed_picture.h"
#include "raster/bitmap32.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace plumora {

// A picture that nobody changes any more, shared by everything that holds
// the same pixels: after opening a file, the displayed, source and opened
// pictures and the first history step are one block.
using PictureBlock = std::shared_ptr<const TBitmap32>;

// Blocks are made as pictures that may change (and handed out as ones that
// may not): the store may then overwrite a block that it alone holds.
inline PictureBlock makeBlock(TBitmap32 picture)
{
    return std::make_shared<TBitmap32>(std::move(picture));
}

// What a document's pictures take in memory, each block counted once.
struct PictureMemory {
    int blocks = 0;  // pictures held as pixels
    std::size_t blockBytes = 0;
    int packed = 0;  // pictures held compressed in memory
    std::size_t packedBytes = 0;
    int onDisk = 0;  // pictures held compressed in the history's file
    std::size_t diskBytes = 0;
    std::size_t total() const { return blockBytes + packedBytes; }  // in memory
};

// The pictures of a document: the displayed and the source picture, the
// opened picture, and the ring of history snapshots, with a thread of its
// own that compresses what is not on screen.
//
// A snapshot or the opened picture is held as a block, as a packed picture,
// or as both while the block is also displayed or is the source (then the
// block costs nothing extra, and undoing to it or reverting to it takes no
// unpacking). The thread packs one block at a time, oldest first, and then
// lets go of the block wherever only the packed form is still needed. A
// block that is the source picture is not packed: the source stays in
// memory anyway. Until the newest step is packed, the step before it keeps
// its block as well, so that an undo right after an effect takes nothing.
//
// Packed steps beyond the storage's memory budget go to a file (see
// HistoryFile), the ones furthest from the displayed step first, written by
// the same thread; the opened picture stays in memory. When the file cannot
// be made or written (a full disk), the next new step drops the oldest steps
// until those in memory fit the budget again, as when memory runs out.
//
// Every change is prepared by the caller (which may fail) and then handed
// to commit(), which cannot fail and holds the lock only to swap pointers;
// blocks let go of are freed after the lock is released.
class PictureStore {
public:
    static constexpr int kSnapshots = 21;

    // The opened picture and snapshot 1 are the source.
    PictureStore(PictureBlock displayed, PictureBlock source, HistoryStorage storage = {});
    ~PictureStore();
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;

    // A new budget or folder, from the next step the thread looks at on.
    void setStorage(HistoryStorage storage);
    HistoryStorage storage() const;
    // The history's file, when one was made (for tests).
    std::filesystem::path filePath() const;

    const PictureBlock& displayed() const { return m_displayed; }
    const PictureBlock& source() const { return m_source; }

    // Snapshot index (1..kSnapshots) or the opened picture: the block itself
    // when it is held, else a new block unpacked on all cores (which may
    // throw std::bad_alloc). A snapshot that holds nothing gives null.
    PictureBlock snapshot(int index) const;
    PictureBlock opened() const;
    // How many snapshots have ever held a picture.
    int usedSnapshots() const;

    // What bringing back snapshot index (1..kSnapshots, or kOpenedIndex)
    // takes: its own block when it is held; else its packed form, and whether
    // the displayed picture's block may simply be overwritten with it (the
    // block is not the source and nothing else holds it but snapshots that
    // are packed too). That saves the new block's memory, and the time the
    // system takes to hand out fresh pages.
    static constexpr int kOpenedIndex = kSnapshots + 1;
    struct Restoring {
        PictureBlock block;
        std::shared_ptr<const PackedPicture> packed;
        bool intoDisplayed = false;
        int width() const { return block ? block->width() : packed->width(); }
        int height() const { return block ? block->height() : packed->height(); }
    };
    Restoring restoring(int index) const;

    // Everything one operation changes. A null block leaves that picture as
    // it is. `fresh` says that a snapshot or the opened picture takes new
    // content; otherwise the block holds the pixels it already had (an undo,
    // a revert) and its packed form stays. The ring position says which
    // snapshots stay reachable: the others are emptied.
    //
    // With unpackIntoDisplayed (see restoring()), the displayed picture's
    // block first takes those pixels in place, and the blocks of the change
    // that are the displayed one stand for its new content.
    struct Change {
        const PackedPicture* unpackIntoDisplayed = nullptr;
        bool unpacked = false;  // the caller has unpacked it there already
        PictureBlock displayed;
        PictureBlock source;
        PictureBlock opened;
        bool openedFresh = true;
        int snapshotIndex = 0;  // 0: no snapshot changes
        PictureBlock snapshot;
        bool snapshotFresh = true;
        int current = 1;
        int undoCount = 0;
        int redoCount = 0;
        // A new step: if the history's file has failed since the last one,
        // the oldest undo steps go until those in memory fit the budget.
        bool newStep = false;
    };
    // Returns the undo count kept (change.undoCount unless steps went).
    int commit(Change change) noexcept;

    PictureMemory memory() const;

    // Returns once the thread has nothing left to do (or is held back and
    // between two pictures), so that tests and benchmarks never depend on
    // timing.
    void waitUntilIdle();
    // While held, the thread starts no new picture; for tests.
    void hold(bool held);

    // While one lives, the thread waits between two bands: the owner's
    // thread is computing on every core (an effect, an undo), and packing
    // can wait for it instead of slowing it down.
    class ForegroundWork {
    public:
        explicit ForegroundWork(const PictureStore& store);
        ~ForegroundWork();
        ForegroundWork(const ForegroundWork&) = delete;
        ForegroundWork& operator=(const ForegroundWork&) = delete;

    private:
        const PictureStore& m_store;
    };

private:
    struct Slot {
        PictureBlock block;
        std::shared_ptr<const PackedPicture> packed;
        std::uint64_t order = 0;  // when the block came: older blocks are packed first
        bool unpackable = false;  // packing failed for want of memory: keep the block
        bool used = false;
    };
    static constexpr int kOpened = kOpenedIndex - 1;  // m_slots[kOpened] is the opened picture

    // What a change lets go of, kept until the lock is released: the last
    // reference to a picture gives its memory back to the system, which
    // takes milliseconds and should happen neither under the lock nor, when
    // the worker runs, in the owner's thread. Fixed in size, so that
    // collecting cannot fail; one change lets go of at most two pictures and
    // what every slot held.
    class Released {
    public:
        Released() = default;
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;
        ~Released() { clear(); }

        void add(PictureBlock block) noexcept { put(m_blocks, m_blockCount, std::move(block)); }
        void add(std::shared_ptr<const PackedPicture> packed) noexcept
        {
            put(m_packed, m_packedCount, std::move(packed));
        }
        // Moves in as much of other as there is room for.
        void takeFrom(Released& other) noexcept;
        bool empty() const { return m_blockCount == 0 && m_packedCount == 0; }
        void clear() noexcept;

    private:
        static constexpr std::size_t kCapacity = 2 * (kSnapshots + 3);

        // Only a last reference is kept: one that others still share is
        // just dropped, so that nothing is held on to longer than it has to
        // be (a block in a snapshot must not look shared when an undo asks
        // whether it may overwrite it). Should the array ever be full, the
        // reference is dropped on the spot, which is only slower.
        template <class T>
        static void put(std::array<T, kCapacity>& into, int& count, T item) noexcept
        {
            if (item && item.use_count() == 1 && std::size_t(count) < kCapacity)
                into[std::size_t(count++)] = std::move(item);
        }

        std::array<PictureBlock, kCapacity> m_blocks;
        std::array<std::shared_ptr<const PackedPicture>, kCapacity> m_packed;
        int m_blockCount = 0;
        int m_packedCount = 0;
    };

    void place(Slot& slot, PictureBlock block, bool fresh, Released& released);
    void empty(Slot& slot, Released& released);
    void keepOnlyReachable(int current, int undoCount, int redoCount, Released& released);
    void dropUnneededBlocks(Released& released);
    bool wanted(const Slot& slot) const;
    bool wantedBlock(const TBitmap32* block) const;
    bool displayedIsSpare(const PackedPicture& packed) const;
    Slot* nextToPack();
    std::shared_ptr<const PackedPicture> nextToSpill() const;
    std::size_t packedInMemory() const;
    int undoStepsWithinBudget(int current, int undoCount) const;
    void spill(std::unique_lock<std::mutex>& lock, std::shared_ptr<const PackedPicture> job,
               const std::function<bool()>& goOn);
    bool idle() const;
    void startWorker() noexcept;
    void work();
    void freeTheDead();

    // m_displayed and m_source are written only by the owner's thread, under
    // the lock; the owner reads them without it, the worker only under it.
    PictureBlock m_displayed;
    PictureBlock m_source;
    std::array<Slot, kSnapshots + 1> m_slots;
    int m_current = 1;  // the snapshot that is displayed
    int m_undoCount = 0;
    int m_redoCount = 0;
    std::uint64_t m_order = 0;
    HistoryStorage m_storage;
    std::shared_ptr<HistoryFile> m_file;
    bool m_diskFailed = false;  // since the last new step

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;           // to the worker: something to do, go on, or stop
    std::condition_variable m_idle;                   // from the worker: nothing to do
    PictureBlock m_job;                               // the block being packed
    std::shared_ptr<const PackedPicture> m_spillJob;  // the packed picture being written
    std::atomic<bool> m_cancel{false};
    Released m_dead;  // for the worker to free
    std::atomic<bool> m_hasDead{false};
    bool m_held = false;
    mutable int m_foreground = 0;  // ForegroundWork alive
    bool m_stop = false;
    std::thread m_worker;
};

}  // namespace plumora
