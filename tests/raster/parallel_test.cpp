#include "raster/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace plumora {
namespace {

// Counts how often each row was handed out.
std::vector<int> rowVisits(int rows)
{
    std::vector<std::atomic<int>> visits(static_cast<std::size_t>(rows));
    parallelRows(rows, [&](int y0, int y1) {
        ASSERT_LE(0, y0);
        ASSERT_LT(y0, y1);
        ASSERT_LE(y1, rows);
        for (int y = y0; y < y1; ++y)
            ++visits[std::size_t(y)];
    });
    std::vector<int> counts;
    for (const auto& v : visits)
        counts.push_back(v.load());
    return counts;
}

struct ThreadCountReset {
    ~ThreadCountReset() { setThreadCount(0); }
};

TEST(ParallelRows, EveryRowExactlyOnceWhateverTheThreadCount)
{
    ThreadCountReset reset;
    for (int threads : {1, 2, 3, 5, 8}) {
        setThreadCount(threads);
        // Many loops in a row: a worker that wakes late for one loop must
        // not run a band of the next one twice, or of a finished one.
        for (int rows : {0, 1, 15, 16, 17, 47, 48, 100, 1000, 4321})
            for (int repeat = 0; repeat < 20; ++repeat)
                ASSERT_EQ(rowVisits(rows), std::vector<int>(std::size_t(rows), 1))
                    << threads << " threads, " << rows << " rows";
    }
}

TEST(ParallelRows, FirstFailureIsRethrownAfterEveryBandEnded)
{
    ThreadCountReset reset;
    setThreadCount(4);
    std::atomic<int> rowsRun{0};
    try {
        parallelRows(400, [&](int y0, int y1) {
            rowsRun += y1 - y0;
            if (y0 == 0)
                throw std::runtime_error("band failed");
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("band failed", e.what());
    }
    EXPECT_EQ(400, rowsRun.load());  // the other bands still ran
    // The pool is usable again afterwards.
    EXPECT_EQ(rowVisits(400), std::vector<int>(400, 1));
}

TEST(ParallelRows, ALoopInsideABandStaysOnItsThread)
{
    ThreadCountReset reset;
    setThreadCount(3);
    std::atomic<int> strayRows{0};
    parallelRows(300, [&](int, int) {
        const auto self = std::this_thread::get_id();
        parallelRows(300, [&](int y0, int y1) {
            if (std::this_thread::get_id() != self)
                strayRows += y1 - y0;
            EXPECT_EQ(0, y0);
            EXPECT_EQ(300, y1);
        });
    });
    EXPECT_EQ(0, strayRows.load());
}

TEST(ParallelRows, SeveralCallersAtOnceEachGetTheirWholeLoop)
{
    ThreadCountReset reset;
    setThreadCount(2);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int repeat = 0; repeat < 200; ++repeat) {
                const int rows = 100 + 37 * c + repeat;
                if (rowVisits(rows) != std::vector<int>(std::size_t(rows), 1))
                    ++wrong;
            }
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(0, wrong.load());
}

TEST(ParallelRows, SerialScopeKeepsLoopsOnTheCallingThread)
{
    ThreadCountReset reset;
    setThreadCount(4);
    SerialScope serial;
    int bands = 0;
    parallelRows(1000, [&](int, int) { ++bands; });  // a plain int: one thread only
    EXPECT_EQ(1, bands);
}

// The decoder's use: second waits for each step first publishes. Whether
// they run at once or one after the other, both finish, each exactly once.
TEST(RunAlongside, SecondMayWaitForFirstInEveryArrangement)
{
    ThreadCountReset reset;
    for (int threads : {1, 2, 4})
        for (bool serial : {false, true}) {
            setThreadCount(threads);
            for (int repeat = 0; repeat < 50; ++repeat) {
                std::atomic<int> progress{0};
                int firstRuns = 0, secondRuns = 0, seen = 0;
                auto run = [&] {
                    runAlongside(
                        [&] {
                            ++firstRuns;
                            for (int step = 1; step <= 20; ++step) {
                                progress.store(step);
                                progress.notify_all();
                            }
                        },
                        [&] {
                            ++secondRuns;
                            for (int v = progress.load(); v < 20; v = progress.load())
                                progress.wait(v);
                            seen = progress.load();
                        });
                };
                if (serial) {
                    SerialScope scope;
                    run();
                } else {
                    run();
                }
                ASSERT_EQ(firstRuns, 1) << threads << " threads, serial " << serial;
                ASSERT_EQ(secondRuns, 1) << threads << " threads, serial " << serial;
                ASSERT_EQ(seen, 20) << threads << " threads, serial " << serial;
            }
        }
}

TEST(RunAlongside, AFailureIsRethrownOnceBothEnded)
{
    ThreadCountReset reset;
    for (int threads : {1, 2}) {
        setThreadCount(threads);
        for (int failing : {0, 1}) {
            std::atomic<int> ended{0};
            auto part = [&](int which) {
                return [&, which] {
                    ++ended;
                    if (which == failing)
                        throw std::runtime_error("part failed");
                };
            };
            EXPECT_THROW(runAlongside(part(0), part(1)), std::runtime_error) << threads << " threads";
            EXPECT_EQ(ended.load(), 2) << threads << " threads, failing " << failing;
        }
    }
}

}  // namespace
}  // namespace plumora

namespace plumora {
namespace {

TEST(LoopProgress, CountsEachLoopAndItsRowsButNotLoopsNestedInABand)
{
    for (const int threads : {1, 3}) {
        setThreadCount(threads);
        const LoopProgress before = loopProgress();
        std::atomic<int> nested{0};
        parallelRows(1000, [&](int y0, int y1) {
            parallelRows(7, [&](int, int) { ++nested; });  // part of its band's work
            const LoopProgress now = loopProgress();
            EXPECT_EQ(now.loops, before.loops + 1);
            EXPECT_EQ(now.rows, 1000);
            EXPECT_LE(now.rowsDone, 1000 - (y1 - y0));  // this band has not ended
        });
        const LoopProgress after = loopProgress();
        EXPECT_EQ(after.loops, before.loops + 1);
        EXPECT_EQ(after.rowsDone, 1000);
        EXPECT_EQ(after.rows, 1000);
        EXPECT_GT(nested.load(), 0);
    }
    setThreadCount(0);
}

}  // namespace
}  // namespace plumora

namespace plumora {
namespace {

// Work started under a cancel flag: the loops stop at the next band once it
// is set, and nothing changes for work whose flag stays clear.

TEST(CancelScope, AClearFlagLeavesEveryRowDoneExactlyOnce)
{
    ThreadCountReset reset;
    const std::atomic<bool> flag{false};
    const CancelScope scope(flag);
    for (int threads : {1, 2, 3, 8})
        for (int rows : {1, 31, 32, 33, 100, 4321, 40000}) {
            setThreadCount(threads);
            ASSERT_EQ(rowVisits(rows), std::vector<int>(std::size_t(rows), 1))
                << threads << " threads, " << rows << " rows";
        }
    EXPECT_NO_THROW(throwIfCancelled());
}

TEST(CancelScope, ASetFlagStopsTheLoopBeforeItsNextBand)
{
    ThreadCountReset reset;
    for (int threads : {1, 2, 4}) {
        setThreadCount(threads);
        std::atomic<bool> flag{false};
        const CancelScope scope(flag);
        std::atomic<int> rowsRun{0};
        std::atomic<bool> first{true};
        // The first band to run sets the flag; only the bands already under
        // way on the other threads still end, a few short bands of the
        // 32000 rows.
        EXPECT_THROW(parallelRows(32000,
                                  [&](int y0, int y1) {
                                      if (first.exchange(false))
                                          flag = true;
                                      rowsRun += y1 - y0;
                                  }),
                     Cancelled);
        EXPECT_GT(rowsRun.load(), 0);
        EXPECT_LE(rowsRun.load(), threads * 128) << threads << " threads";  // one or two bands each
        // Once set, nothing starts any more.
        rowsRun = 0;
        EXPECT_THROW(parallelRows(100, [&](int y0, int y1) { rowsRun += y1 - y0; }), Cancelled);
        EXPECT_THROW(throwIfCancelled(), Cancelled);
        EXPECT_EQ(rowsRun.load(), 0);
    }
}

TEST(CancelScope, LoopsNestedInBandsOnEveryThreadStop)
{
    ThreadCountReset reset;
    setThreadCount(4);
    std::atomic<bool> flag{false};
    const CancelScope scope(flag);
    std::atomic<int> nestedRun{0}, nestedStopped{0}, serialStopped{0};
    EXPECT_THROW(parallelRows(4000,
                              [&](int, int) {
                                  flag = true;
                                  try {
                                      parallelRows(50, [&](int, int) { ++nestedRun; });
                                  } catch (const Cancelled&) {
                                      ++nestedStopped;
                                  }
                                  try {
                                      throwIfCancelled();
                                  } catch (const Cancelled&) {
                                      ++serialStopped;
                                  }
                              }),
                 Cancelled);
    EXPECT_EQ(nestedRun.load(), 0);
    EXPECT_GT(nestedStopped.load(), 0);
    EXPECT_EQ(nestedStopped.load(), serialStopped.load());
}

TEST(CancelScope, OnlyTheThreadsWorkUnderTheScopeStops)
{
    ThreadCountReset reset;
    setThreadCount(2);
    const std::atomic<bool> flag{true};
    std::atomic<int> otherRows{0};
    {
        const CancelScope scope(flag);
        // Another thread of the program (the history's background work)
        // has no flag of its own and keeps going.
        std::thread other([&] { parallelRows(1000, [&](int y0, int y1) { otherRows += y1 - y0; }); });
        other.join();
        EXPECT_THROW(throwIfCancelled(), Cancelled);
    }
    EXPECT_EQ(otherRows.load(), 1000);
    // The scope is left: this thread's loops run again.
    EXPECT_EQ(rowVisits(100), std::vector<int>(100, 1));
}

TEST(CancelScope, RunAlongsideStartsBothButTheirLoopsStop)
{
    ThreadCountReset reset;
    for (int threads : {1, 2}) {
        setThreadCount(threads);
        const std::atomic<bool> flag{true};
        const CancelScope scope(flag);
        // second waits for first, as a reader's helper waits for the reader:
        // skipping first would leave second waiting for ever.
        std::atomic<bool> firstRan{false}, secondRan{false};
        EXPECT_THROW(runAlongside(
                         [&] {
                             firstRan = true;
                             firstRan.notify_all();
                             parallelRows(100, [](int, int) {});
                         },
                         [&] {
                             firstRan.wait(false);
                             secondRan = true;
                         }),
                     Cancelled);
        EXPECT_TRUE(firstRan.load());
        EXPECT_TRUE(secondRan.load());
    }
}

}  // namespace
}  // namespace plumora
