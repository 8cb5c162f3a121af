#include "raster/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace plumora {

namespace {

std::atomic<int> g_threadOverride{0};
thread_local bool t_serial = false;
// The flag that cancels the calling thread's work, if any (see CancelScope).
thread_local const std::atomic<bool>* t_cancel = nullptr;

std::atomic<void (*)()> g_bandHook{nullptr};

bool cancelled(const std::atomic<bool>* flag)
{
    return flag && flag->load(std::memory_order_relaxed);
}

// A band of work under flag is about to start.
void bandStarts(const std::atomic<bool>* flag)
{
    if (!flag)
        return;
    if (void (*hook)() = g_bandHook.load(std::memory_order_relaxed))
        hook();
    if (flag->load(std::memory_order_relaxed))
        throw Cancelled();
}

// The latest loop's progress (see loopProgress).
std::atomic<std::uint64_t> g_loops{0};
std::atomic<int> g_loopRows{0};
std::atomic<int> g_loopRowsDone{0};

void startReport(int rows)
{
    g_loopRowsDone.store(0, std::memory_order_relaxed);
    g_loopRows.store(rows, std::memory_order_relaxed);
    g_loops.fetch_add(1, std::memory_order_release);
}

int defaultThreadCount()
{
    if (const char* env = std::getenv("PLUMORA_THREADS")) {
        const int n = std::atoi(env);
        if (n > 0)
            return std::min(n, 256);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// Below this many rows a band is not worth a thread.
constexpr int kMinRowsPerBand = 16;

// Bands per thread: a worker that wakes late, or a band that takes longer,
// leaves the other bands to the rest rather than holding them up.
constexpr int kBandsPerThread = 4;

// While work can be cancelled, a loop is cut into bands of about this many
// rows (up to kMaxCancellableBands): the stop waits for at most the bands
// under way, each a small part of a big picture.
constexpr int kCancellableBandRows = 64;
constexpr int kMaxCancellableBands = 1024;

// How long a thread polls for something to do before it sleeps. Effects run
// several loops in a row; waking a sleeping thread takes tens of
// microseconds, as long as a small picture's whole loop.
constexpr auto kSpinTime = std::chrono::microseconds(100);

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Polls until done() for up to kSpinTime; true if it became done.
template <class Done>
bool spinUntil(Done&& done)
{
    const auto deadline = std::chrono::steady_clock::now() + kSpinTime;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done())
                return true;
            cpuRelax();
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
    }
}

void waitForZero(std::atomic<int>& counter)
{
    if (spinUntil([&] { return counter.load() == 0; }))
        return;
    for (int value = counter.load(); value != 0; value = counter.load())
        counter.wait(value);
}

// One loop's bands, handed out to whoever asks first: the calling thread and
// the workers that join take bands until none are left.
struct Loop {
    int rows = 0;
    int bands = 0;
    int helpers = 0;  // how many workers may join
    const std::function<void(int, int)>* fn = nullptr;
    const std::atomic<bool>* cancel = nullptr;  // the caller's cancel flag
    bool stopBeforeBand = true;                 // false: only loops inside a band stop
    std::atomic<int> nextBand{0};
    std::atomic<int> unfinished{0};
    std::atomic<int> joined{0};
    std::mutex failureMutex;
    std::exception_ptr failure;

    void work()
    {
        for (int band = nextBand.fetch_add(1); band < bands; band = nextBand.fetch_add(1)) {
            const int y0 = int(std::int64_t(rows) * band / bands);
            const int y1 = int(std::int64_t(rows) * (band + 1) / bands);
            // Whoever runs the band (a worker of the pool too) runs it
            // under the caller's flag, so loops nested in it stop as well.
            const std::atomic<bool>* const outerCancel = t_cancel;
            t_cancel = cancel;
            try {
                SerialScope serial;
                if (stopBeforeBand)
                    bandStarts(cancel);
                (*fn)(y0, y1);
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
            }
            t_cancel = outerCancel;
            g_loopRowsDone.fetch_add(y1 - y0, std::memory_order_relaxed);
            if (unfinished.fetch_sub(1) == 1)
                unfinished.notify_all();
        }
    }
};

// Threads kept between loops: starting threads for every loop cost more than
// a small picture's whole effect. One loop runs on the pool at a time; a loop
// that finds it busy (another thread of the program is using it) runs its
// bands in its own thread, which gives the same result.
class Pool {
public:
    ~Pool()
    {
        m_stopping = true;
        m_generation.fetch_add(1);
        m_generation.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
    }

    // Runs the loop's bands on the calling thread and up to `helpers`
    // workers; false if the pool is busy with another loop.
    bool run(Loop& loop, int helpers)
    {
        std::unique_lock busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock())
            return false;
        loop.helpers = grow(helpers);
        m_loop.store(&loop);
        m_generation.fetch_add(1);
        m_generation.notify_all();
        loop.work();
        waitForZero(loop.unfinished);
        // The loop lives on the caller's stack: no worker may start on it
        // from here on, and those inside must have left it.
        m_loop.store(nullptr);
        waitForZero(m_inLoop);
        return true;
    }

private:
    // Starts workers until there are `wanted`; returns how many there are
    // (fewer if the system refuses threads).
    int grow(int wanted)
    {
        while (int(m_workers.size()) < wanted) {
            try {
                m_workers.emplace_back([this, seen = m_generation.load()] { serve(seen); });
            } catch (...) {
                break;
            }
        }
        return std::min(wanted, int(m_workers.size()));
    }

    void serve(std::uint32_t seen)
    {
        for (;;) {
            if (!spinUntil([&] { return m_generation.load() != seen; }))
                m_generation.wait(seen);
            if (m_stopping)
                return;
            seen = m_generation.load();
            // Counted in before looking at the loop: the caller clears the
            // loop, then waits until nobody is counted in.
            m_inLoop.fetch_add(1);
            if (Loop* loop = m_loop.load(); loop && loop->joined.fetch_add(1) < loop->helpers)
                loop->work();
            if (m_inLoop.fetch_sub(1) == 1)
                m_inLoop.notify_all();
        }
    }

    std::mutex m_busy;  // held by the thread whose loop the pool runs
    std::vector<std::thread> m_workers;
    std::atomic<std::uint32_t> m_generation{0};
    std::atomic<Loop*> m_loop{nullptr};
    std::atomic<int> m_inLoop{0};
    std::atomic<bool> m_stopping{false};
};

Pool& pool()
{
    static Pool instance;
    return instance;
}

}  // namespace

int threadCount()
{
    const int n = g_threadOverride.load(std::memory_order_relaxed);
    static const int fallback = defaultThreadCount();
    return n > 0 ? n : fallback;
}

void setThreadCount(int count)
{
    g_threadOverride.store(std::max(0, count), std::memory_order_relaxed);
}

LoopProgress loopProgress()
{
    LoopProgress p;
    p.loops = g_loops.load(std::memory_order_acquire);
    p.rows = g_loopRows.load(std::memory_order_relaxed);
    p.rowsDone = std::min(g_loopRowsDone.load(std::memory_order_relaxed), p.rows);
    return p;
}

int threadsForCallingThread()
{
    return t_serial ? 1 : threadCount();
}

SerialScope::SerialScope() : m_previous(t_serial)
{
    t_serial = true;
}

SerialScope::~SerialScope()
{
    t_serial = m_previous;
}

CancelScope::CancelScope(const std::atomic<bool>& flag) : m_previous(t_cancel)
{
    t_cancel = &flag;
}

CancelScope::~CancelScope()
{
    t_cancel = m_previous;
}

void setCancellableBandHookForTests(void (*hook)())
{
    g_bandHook.store(hook);
}

void throwIfCancelled()
{
    if (cancelled(t_cancel))
        throw Cancelled();
}

void parallelRows(int rows, const std::function<void(int, int)>& fn)
{
    if (rows <= 0)
        return;
    if (t_serial) {
        throwIfCancelled();
        fn(0, rows);
        return;
    }
    throwIfCancelled();
    startReport(rows);
    const int threads = threadCount();
    int bands = threads == 1 ? 1 : std::clamp(rows / kMinRowsPerBand, 1, threads * kBandsPerThread);
    if (t_cancel)
        bands = std::max(bands, std::min(rows / kCancellableBandRows, kMaxCancellableBands));
    if (bands == 1) {
        SerialScope serial;  // a loop inside the one band stays in it, as in any band
        bandStarts(t_cancel);
        fn(0, rows);
        g_loopRowsDone.store(rows, std::memory_order_relaxed);
        return;
    }

    Loop loop;
    loop.rows = rows;
    loop.bands = bands;
    loop.fn = &fn;
    loop.cancel = t_cancel;
    loop.unfinished = bands;
    if (threads == 1 || !pool().run(loop, std::min(bands, threads) - 1))
        loop.work();
    if (loop.failure)
        std::rethrow_exception(loop.failure);
}

void runAlongside(const std::function<void()>& first, const std::function<void()>& second)
{
    // Two bands of one row each. Every thread takes bands in increasing
    // order, so whoever takes second's band finds first's already taken:
    // either done or under way on another thread.
    const std::function<void(int, int)> either = [&](int band, int) { band == 0 ? first() : second(); };
    Loop loop;
    loop.rows = 2;
    loop.bands = 2;
    loop.fn = &either;
    // Both always start: second may be waiting for first. Loops inside
    // either still stop.
    loop.cancel = t_cancel;
    loop.stopBeforeBand = false;
    loop.unfinished = 2;
    if (t_serial || threadCount() == 1 || !pool().run(loop, 1))
        loop.work();
    if (loop.failure)
        std::rethrow_exception(loop.failure);
}

}  // namespace plumora
