#include "document/picture_store.h"

#include <algorithm>
#include <functional>
#include <new>
#include <system_error>
#include <utility>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace plumora {

void PictureStore::Released::takeFrom(Released& other) noexcept
{
    while (other.m_blockCount > 0 && std::size_t(m_blockCount) < kCapacity)
        m_blocks[std::size_t(m_blockCount++)] = std::move(other.m_blocks[std::size_t(--other.m_blockCount)]);
    while (other.m_packedCount > 0 && std::size_t(m_packedCount) < kCapacity)
        m_packed[std::size_t(m_packedCount++)] = std::move(other.m_packed[std::size_t(--other.m_packedCount)]);
}

void PictureStore::Released::clear() noexcept
{
    for (int i = 0; i < m_blockCount; ++i)
        m_blocks[std::size_t(i)].reset();
    for (int i = 0; i < m_packedCount; ++i)
        m_packed[std::size_t(i)].reset();
    m_blockCount = m_packedCount = 0;
}

PictureStore::PictureStore(PictureBlock displayed, PictureBlock source, HistoryStorage storage)
    : m_displayed(std::move(displayed)), m_source(std::move(source)), m_storage(std::move(storage))
{
    for (Slot* slot : {&m_slots[0], &m_slots[kOpened]}) {
        slot->block = m_source;
        slot->order = ++m_order;
        slot->used = true;
    }
}

PictureStore::~PictureStore()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_cancel = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void PictureStore::setStorage(HistoryStorage storage)
{
    {
        std::lock_guard lock(m_mutex);
        if (storage.folder != m_storage.folder)
            m_file.reset();  // steps already in the old file keep it
        m_storage = std::move(storage);
        m_diskFailed = false;
    }
    startWorker();
    m_wake.notify_all();
}

HistoryStorage PictureStore::storage() const
{
    std::lock_guard lock(m_mutex);
    return m_storage;
}

std::filesystem::path PictureStore::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_file ? m_file->path() : std::filesystem::path();
}

PictureBlock PictureStore::snapshot(int index) const
{
    PictureBlock block;
    std::shared_ptr<const PackedPicture> packed;
    {
        std::lock_guard lock(m_mutex);
        const Slot& slot = m_slots[std::size_t(index - 1)];
        block = slot.block;
        packed = slot.packed;
    }
    if (block || !packed)
        return block;
    return makeBlock(packed->unpack());
}

PictureBlock PictureStore::opened() const
{
    return snapshot(kOpenedIndex);
}

PictureStore::Restoring PictureStore::restoring(int index) const
{
    std::lock_guard lock(m_mutex);
    const Slot& slot = m_slots[std::size_t(index - 1)];
    Restoring r{slot.block, slot.packed, false};
    if (!r.block)
        r.intoDisplayed = displayedIsSpare(*r.packed);
    return r;
}

bool PictureStore::displayedIsSpare(const PackedPicture& packed) const
{
    // Only the owner's thread makes or hands out references to blocks that
    // are neither wanted nor the source, and none is made between this test
    // and the commit: the answer holds until then.
    if (m_displayed == m_source || m_displayed == m_job)
        return false;
    if (std::int64_t(m_displayed->width()) * m_displayed->height() != std::int64_t(packed.width()) * packed.height())
        return false;
    long holders = 1;
    for (const Slot& slot : m_slots) {
        if (slot.block != m_displayed)
            continue;
        if (!slot.packed)
            return false;
        ++holders;
    }
    return m_displayed.use_count() == holders;
}

int PictureStore::usedSnapshots() const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (int i = 0; i < kSnapshots; ++i)
        count += m_slots[std::size_t(i)].used ? 1 : 0;
    return count;
}

void PictureStore::place(Slot& slot, PictureBlock block, bool fresh, Released& released)
{
    if (!fresh) {
        // The same pixels as an own block again: the packed form stays good.
        released.add(std::exchange(slot.block, std::move(block)));
        return;
    }
    // Another slot may hold these very pixels packed already (a backup of an
    // unchanged picture, a revert): share that instead of packing again.
    std::shared_ptr<const PackedPicture> packed;
    for (const Slot& other : m_slots)
        if (other.block == block && other.packed)
            packed = other.packed;
    released.add(std::exchange(slot.block, std::move(block)));
    released.add(std::exchange(slot.packed, std::move(packed)));
    slot.order = ++m_order;
    slot.unpackable = false;
    slot.used = true;
}

void PictureStore::empty(Slot& slot, Released& released)
{
    released.add(std::move(slot.block));
    released.add(std::move(slot.packed));
    slot.block.reset();
    slot.packed.reset();
}

void PictureStore::keepOnlyReachable(int current, int undoCount, int redoCount, Released& released)
{
    // No undo or redo can reach a snapshot outside current - undoCount ..
    // current + redoCount, and the next step that gets there overwrites it.
    for (int index = 1; index <= kSnapshots; ++index) {
        const int back = (current - index + kSnapshots) % kSnapshots;
        const int forward = (index - current + kSnapshots) % kSnapshots;
        if (back > undoCount && forward > redoCount)
            empty(m_slots[std::size_t(index - 1)], released);
    }
}

void PictureStore::dropUnneededBlocks(Released& released)
{
    // Until the newest step is packed, the step before it keeps its block
    // too: an undo right after an effect then only shares it, where it would
    // have to unpack into fresh memory (the displayed block is still needed).
    const int previous = (m_current + kSnapshots - 2) % kSnapshots;
    const bool keepPrevious = wanted(m_slots[std::size_t(m_current - 1)]);
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        if (!slot.block || !slot.packed || slot.block == m_displayed || slot.block == m_source)
            continue;
        if (keepPrevious && i == std::size_t(previous))
            continue;
        released.add(std::move(slot.block));
    }
}

bool PictureStore::wanted(const Slot& slot) const
{
    return slot.block && !slot.packed && !slot.unpackable && slot.block != m_source;
}

bool PictureStore::wantedBlock(const TBitmap32* block) const
{
    for (const Slot& slot : m_slots)
        if (slot.block.get() == block && wanted(slot))
            return true;
    return false;
}

PictureStore::Slot* PictureStore::nextToPack()
{
    if (m_held || m_stop)
        return nullptr;
    Slot* next = nullptr;
    for (Slot& slot : m_slots)
        if (wanted(slot) && (!next || slot.order < next->order))
            next = &slot;
    return next;
}

bool PictureStore::idle() const
{
    if (m_job || m_spillJob || !m_dead.empty())
        return false;
    if (m_held || !m_worker.joinable())
        return true;
    for (const Slot& slot : m_slots)
        if (wanted(slot))
            return false;
    return nextToSpill() == nullptr;
}

std::size_t PictureStore::packedInMemory() const
{
    std::array<const PackedPicture*, kSnapshots> seen{};
    std::size_t seenCount = 0;
    std::size_t bytes = 0;
    for (int i = 0; i < kSnapshots; ++i) {
        const PackedPicture* packed = m_slots[std::size_t(i)].packed.get();
        if (!packed || packed->onDisk() ||
            std::find(seen.begin(), seen.begin() + seenCount, packed) != seen.begin() + std::ptrdiff_t(seenCount))
            continue;
        seen[seenCount++] = packed;
        bytes += packed->heldBytes();
    }
    return bytes;
}

std::shared_ptr<const PackedPicture> PictureStore::nextToSpill() const
{
    if (m_held || m_stop || m_diskFailed || m_storage.folder.empty() || packedInMemory() <= m_storage.memoryBudget)
        return nullptr;
    // The step furthest from the displayed one, which an undo or redo
    // reaches last. The opened picture's packed form stays in memory, as a
    // revert unpacks it where nothing may fail.
    const PackedPicture* opened = m_slots[kOpened].packed.get();
    std::shared_ptr<const PackedPicture> furthest;
    int furthestDistance = -1;
    for (int index = 1; index <= kSnapshots; ++index) {
        const Slot& slot = m_slots[std::size_t(index - 1)];
        if (!slot.packed || slot.packed->onDisk() || slot.packed.get() == opened)
            continue;
        const int back = (m_current - index + kSnapshots) % kSnapshots;
        const int forward = (index - m_current + kSnapshots) % kSnapshots;
        const int distance = back <= m_undoCount ? back : forward;
        if (distance > furthestDistance) {
            furthestDistance = distance;
            furthest = slot.packed;
        }
    }
    return furthest;
}

int PictureStore::undoStepsWithinBudget(int current, int undoCount) const
{
    std::array<const PackedPicture*, kSnapshots> seen{};
    std::size_t seenCount = 0;
    std::size_t bytes = 0;
    for (int back = 1; back <= undoCount; ++back) {
        const PackedPicture* packed =
            m_slots[std::size_t((current - 1 - back + 2 * kSnapshots) % kSnapshots)].packed.get();
        if (!packed || packed->onDisk() ||
            std::find(seen.begin(), seen.begin() + seenCount, packed) != seen.begin() + std::ptrdiff_t(seenCount))
            continue;
        seen[seenCount++] = packed;
        bytes += packed->heldBytes();
        if (bytes > m_storage.memoryBudget)
            return back - 1;
    }
    return undoCount;
}

int PictureStore::commit(Change change) noexcept
{
    if (change.unpackIntoDisplayed && !change.unpacked) {
        // The worker never reads a block that is neither wanted nor the
        // source, so this needs no lock; the snapshots that still name the
        // block let go of it below, before anyone else can look.
        change.unpackIntoDisplayed->unpackInto(const_cast<TBitmap32&>(*m_displayed));
    }
    Released released;  // freed after the lock is released
    bool work = false;
    {
        std::lock_guard lock(m_mutex);
        if (change.unpackIntoDisplayed)
            for (Slot& slot : m_slots)
                if (slot.block == m_displayed)
                    slot.block.reset();  // packed: the old pixels live on there
        if (change.displayed)
            released.add(std::exchange(m_displayed, std::move(change.displayed)));
        if (change.source)
            released.add(std::exchange(m_source, std::move(change.source)));
        // The opened picture first: a snapshot taking the same pixels then
        // finds its packed form.
        if (change.opened)
            place(m_slots[kOpened], std::move(change.opened), change.openedFresh, released);
        if (change.snapshotIndex != 0)
            place(m_slots[std::size_t(change.snapshotIndex - 1)], std::move(change.snapshot), change.snapshotFresh,
                  released);
        if (change.newStep) {
            // The file failed since the last step: the steps that would
            // have gone there go altogether, the oldest first. The next
            // step tries the file again.
            if (m_diskFailed)
                change.undoCount = undoStepsWithinBudget(change.current, change.undoCount);
            m_diskFailed = false;
        }
        m_current = change.current;
        m_undoCount = change.undoCount;
        m_redoCount = change.redoCount;
        keepOnlyReachable(change.current, change.undoCount, change.redoCount, released);
        dropUnneededBlocks(released);
        const bool cancel = m_job && !wantedBlock(m_job.get());
        if (cancel)
            m_cancel = true;
        // Once the worker runs, it frees what the change let go of: a click
        // does not wait for pictures to go back to the system.
        if (m_worker.joinable()) {
            m_dead.takeFrom(released);
            m_hasDead = !m_dead.empty();
        }
        work = cancel || m_hasDead || nextToPack() != nullptr || nextToSpill() != nullptr;
    }
    if (work) {
        startWorker();
        m_wake.notify_all();
    }
    return change.undoCount;
}

PictureMemory PictureStore::memory() const
{
    std::lock_guard lock(m_mutex);
    PictureMemory memory;
    std::array<const void*, kSnapshots + 4> seen{};
    std::size_t seenCount = 0;
    const auto firstTime = [&](const void* p) {
        for (std::size_t i = 0; i < seenCount; ++i)
            if (seen[i] == p)
                return false;
        seen[seenCount++] = p;
        return true;
    };
    const auto countBlock = [&](const PictureBlock& block) {
        if (block && firstTime(block.get())) {
            ++memory.blocks;
            memory.blockBytes += block->byteCount();
        }
    };
    countBlock(m_displayed);
    countBlock(m_source);
    countBlock(m_job);
    for (const Slot& slot : m_slots)
        countBlock(slot.block);
    seenCount = 0;
    for (const Slot& slot : m_slots)
        if (slot.packed && firstTime(slot.packed.get())) {
            ++(slot.packed->onDisk() ? memory.onDisk : memory.packed);
            memory.packedBytes += slot.packed->heldBytes();
            memory.diskBytes += slot.packed->diskBytes();
        }
    return memory;
}

void PictureStore::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [&] { return idle(); });
}

void PictureStore::hold(bool held)
{
    bool work = false;
    {
        std::lock_guard lock(m_mutex);
        m_held = held;
        work = nextToPack() != nullptr || nextToSpill() != nullptr;
    }
    if (work) {
        startWorker();
        m_wake.notify_one();
    }
}

void PictureStore::startWorker() noexcept
{
    if (m_worker.joinable())
        return;
    // Without a thread the pictures simply stay unpacked; the next change
    // tries again.
    try {
        m_worker = std::thread([this] { work(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
}

PictureStore::ForegroundWork::ForegroundWork(const PictureStore& store) : m_store(store)
{
    std::lock_guard lock(m_store.m_mutex);
    ++m_store.m_foreground;
}

PictureStore::ForegroundWork::~ForegroundWork()
{
    {
        std::lock_guard lock(m_store.m_mutex);
        --m_store.m_foreground;
    }
    m_store.m_wake.notify_all();
}

void PictureStore::freeTheDead()
{
    if (!m_hasDead)
        return;
    Released dead;
    {
        std::lock_guard lock(m_mutex);
        dead.takeFrom(m_dead);
        m_hasDead = false;
    }
    dead.clear();
}

void PictureStore::spill(std::unique_lock<std::mutex>& lock, std::shared_ptr<const PackedPicture> job,
                         const std::function<bool()>& goOn)
{
    m_spillJob = job;
    m_cancel = false;
    std::shared_ptr<HistoryFile> file = m_file;
    const std::filesystem::path folder = m_storage.folder;
    lock.unlock();

    std::shared_ptr<const PackedPicture> written;
    bool failed = false;
    try {
        if (!file)
            file = HistoryFile::create(folder);
        if (std::optional<PackedPicture> w = job->writtenTo(file, goOn))
            written = std::make_shared<const PackedPicture>(std::move(*w));
    } catch (const std::exception&) {
        // A full disk, a folder that cannot be made or written: the step
        // stays in memory until the next new step drops the oldest.
        failed = true;
    }

    Released released;
    lock.lock();
    if (file && !m_file && folder == m_storage.folder)
        m_file = file;
    if (written)
        for (int i = 0; i < kSnapshots; ++i) {
            Slot& s = m_slots[std::size_t(i)];
            if (s.packed == job)
                released.add(std::exchange(s.packed, written));
        }
    if (failed)
        m_diskFailed = true;
    m_spillJob.reset();
    released.add(std::move(job));
    released.add(std::move(written));
    lock.unlock();
    released.clear();
    file.reset();
    lock.lock();
}

void PictureStore::work()
{
#if defined(__linux__)
    // Below the foreground's threads: when they want both cores, this one
    // gets a tenth of one (Linux gives every thread its own nice value). Only
    // advice: without it the thread runs as it is.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
#endif
    // Between two bands of a picture the worker frees what the owner let go
    // of meanwhile, so that memory comes back without waiting for the picture.
    // It also waits there while the owner's thread does foreground work.
    const std::function<bool()> goOn = [this] {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_foreground == 0 || m_cancel; });
        }
        freeTheDead();
        return !m_cancel;
    };
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        // Nothing starts during foreground work, freeing included: giving
        // memory back holds the process's memory map, which the foreground
        // needs for every new page it touches.
        if (m_foreground > 0) {
            m_wake.wait(lock);
            continue;
        }
        if (!m_dead.empty()) {
            lock.unlock();
            freeTheDead();
            lock.lock();
            continue;
        }
        Slot* slot = nextToPack();
        if (!slot) {
            if (std::shared_ptr<const PackedPicture> job = nextToSpill()) {
                spill(lock, std::move(job), goOn);
                continue;
            }
            m_idle.notify_all();
            m_wake.wait(lock);
            continue;
        }
        m_job = slot->block;
        m_cancel = false;
        PictureBlock job = m_job;
        lock.unlock();

        std::shared_ptr<const PackedPicture> packed;
        bool failed = false;
        try {
            if (std::optional<PackedPicture> p = PackedPicture::pack(*job, goOn))
                packed = std::make_shared<const PackedPicture>(std::move(*p));
        } catch (const std::exception&) {
            // Out of memory: the pixels stay as they are, which is what the
            // history held before packing existed.
            failed = true;
        }

        Released released;
        lock.lock();
        for (Slot& s : m_slots) {
            if (s.block != job || s.packed)
                continue;
            if (packed)
                s.packed = packed;
            else if (failed)
                s.unpackable = true;
        }
        dropUnneededBlocks(released);
        m_job.reset();
        released.add(std::move(job));
        released.add(std::move(packed));
        lock.unlock();
        released.clear();
        lock.lock();
    }
    m_idle.notify_all();
}

}  // namespace plumora
