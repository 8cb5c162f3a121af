#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

namespace plumora {

// How many threads whole-picture loops use. By default the machine's core
// count; the environment variable PLUMORA_THREADS or setThreadCount change it
// (the tests use this to show that results do not depend on it).
int threadCount();
void setThreadCount(int count);  // 0 restores the default

// Runs fn(firstRow, endRow) over bands of rows 0..rows-1 that together cover
// every row once. Bands run on several threads when the picture is large
// enough to gain from it; a call made from inside a band (a batch worker, or
// a nested loop) runs in the calling thread. fn must write only its own rows,
// so the result never depends on the number of threads.
// The first exception thrown by a band is rethrown here once all bands ended.
void parallelRows(int rows, const std::function<void(int, int)>& fn);

// Thrown by the whole-picture loops (and by the long serial loops that ask
// throwIfCancelled) of a computation whose cancel flag was set: the work stops
// at the next band. Not an error: nothing was wrong, the user changed his mind.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelled."; }
};

// Makes the loops that the calling thread starts, and the loops nested in
// their bands on any thread, stop with Cancelled once flag is set. Without
// one (plumora-cli, Python, the history's background work) nothing can stop
// them. While a flag is watched, a big picture's loop is cut into more bands
// than its threads need, so that each band, and so the wait for a stop, is
// short; the bands cover the same rows, and a loop's result never depends on
// how they are cut.
class CancelScope {
public:
    explicit CancelScope(const std::atomic<bool>& flag);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    const std::atomic<bool>* m_previous;
};

// Throws Cancelled when the calling thread's work has been cancelled: for
// long loops that do not go through parallelRows (file readers and writers),
// between rows or bands.
void throwIfCancelled();

// For the tests: called on its own thread as each band of work that can be
// cancelled starts, before the band looks at its flag, so that a test can
// hold such work at a known point (and press Esc meanwhile) without waiting
// on the clock. nullptr (the default) calls nothing.
void setCancellableBandHookForTests(void (*hook)());

// How far the whole-picture loops have got, for a progress display while
// the program computes: how many loops have started so far, and the rows done
// and rows of the latest one. Bands add their rows as they end, so reading
// it costs the loops nothing; loops nested in a band, or in a thread marked
// serial, do not count (their band does).
struct LoopProgress {
    std::uint64_t loops = 0;
    int rowsDone = 0;
    int rows = 0;
};
LoopProgress loopProgress();

// Runs first and second at the same time, one of them on a worker of the
// pool, when a worker is free; otherwise (one thread, inside a batch worker
// or a band, the pool busy) first and then second in the calling thread. So
// second may wait for progress that first makes, but first must never wait
// for second. Loops inside either run in their own thread. The first
// exception thrown is rethrown here once both ended.
void runAlongside(const std::function<void()>& first, const std::function<void()>& second);

// How many threads work started on the calling thread may use: 1 inside a
// SerialScope or a band (the caller already runs beside others), else
// threadCount(). For libraries that run threads of their own (libjxl).
int threadsForCallingThread();

// Marks the calling thread as a worker that already runs in parallel with
// others (plumora-cli's batch workers): loops inside it stay on one thread.
class SerialScope {
public:
    SerialScope();
    ~SerialScope();
    SerialScope(const SerialScope&) = delete;
    SerialScope& operator=(const SerialScope&) = delete;

private:
    bool m_previous;
};

}  // namespace plumora
