#include "raster/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
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

// One loop's bands, handed out to whoever asks first: the calling thread and
// the pool's workers all take bands until none are left.
struct Loop {
    int rows = 0;
    int bands = 0;
    const std::function<void(int, int)>* fn = nullptr;
    std::atomic<int> nextBand{0};
    std::atomic<int> unfinished{0};
    std::mutex failureMutex;
    std::exception_ptr failure;

    // Runs bands until none are left to take.
    void work()
    {
        for (int band = nextBand.fetch_add(1); band < bands; band = nextBand.fetch_add(1)) {
            const int y0 = int(std::int64_t(rows) * band / bands);
            const int y1 = int(std::int64_t(rows) * (band + 1) / bands);
            try {
                SerialScope serial;
                (*fn)(y0, y1);
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
            }
            unfinished.fetch_sub(1);
        }
    }
};

// Threads kept waiting between loops: starting threads for every loop cost
// more than a small picture's whole effect. One loop runs on the pool at a
// time; a loop that finds it busy (another thread of the program is using it)
// runs its bands in its own thread, which gives the same result.
class Pool {
public:
    ~Pool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
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
        helpers = grow(helpers);
        {
            std::lock_guard lock(m_mutex);
            m_loop = &loop;
            m_helpers = helpers;
            m_joined = 0;
            ++m_generation;
        }
        if (helpers > 0)
            m_wake.notify_all();
        loop.work();
        std::unique_lock lock(m_mutex);
        // The loop lives on the caller's stack: wait until every band has
        // ended and no worker still holds it.
        m_done.wait(lock, [&] { return loop.unfinished.load() == 0 && m_inLoop == 0; });
        m_loop = nullptr;
        m_helpers = 0;  // a worker that wakes late finds nothing to join
        return true;
    }

private:
    // Starts workers until there are `wanted`; returns how many there are
    // (fewer if the system refuses threads).
    int grow(int wanted)
    {
        while (int(m_workers.size()) < wanted) {
            try {
                m_workers.emplace_back([this] { serve(); });
            } catch (...) {
                break;
            }
        }
        return std::min(wanted, int(m_workers.size()));
    }

    void serve()
    {
        std::uint64_t seen = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || (m_generation != seen && m_joined < m_helpers); });
            if (m_stopping)
                return;
            seen = m_generation;
            ++m_joined;
            ++m_inLoop;
            Loop* loop = m_loop;
            lock.unlock();
            loop->work();
            lock.lock();
            if (--m_inLoop == 0)
                m_done.notify_all();
        }
    }

    std::mutex m_busy;  // held by the thread whose loop the pool runs
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_workers;
    Loop* m_loop = nullptr;
    std::uint64_t m_generation = 0;
    int m_helpers = 0;
    int m_joined = 0;
    int m_inLoop = 0;
    bool m_stopping = false;
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

SerialScope::SerialScope() : m_previous(t_serial)
{
    t_serial = true;
}

SerialScope::~SerialScope()
{
    t_serial = m_previous;
}

void parallelRows(int rows, const std::function<void(int, int)>& fn)
{
    if (rows <= 0)
        return;
    const int bands = t_serial ? 1 : std::clamp(rows / kMinRowsPerBand, 1, threadCount());
    if (bands == 1) {
        fn(0, rows);
        return;
    }

    Loop loop;
    loop.rows = rows;
    loop.bands = bands;
    loop.fn = &fn;
    loop.unfinished = bands;
    if (!pool().run(loop, bands - 1))
        loop.work();
    if (loop.failure)
        std::rethrow_exception(loop.failure);
}

}  // namespace plumora
