#include "raster/parallel.h"

#include <algorithm>
#include <atomic>
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

    std::exception_ptr failure;
    std::mutex failureMutex;
    auto runBand = [&](int band) {
        const int y0 = int(std::int64_t(rows) * band / bands);
        const int y1 = int(std::int64_t(rows) * (band + 1) / bands);
        try {
            SerialScope serial;
            fn(y0, y1);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
        }
    };

    std::vector<std::thread> workers;
    workers.reserve(std::size_t(bands - 1));
    for (int band = 1; band < bands; ++band) {
        try {
            workers.emplace_back(runBand, band);
        } catch (...) {
            runBand(band);  // no thread to be had: do the band here
        }
    }
    runBand(0);
    for (auto& worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace plumora
