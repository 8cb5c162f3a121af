// Pictures read and written through Qt's image plugins from threads Qt did not
// start (plumora-cli's batch workers, Python's threads), after which the
// process ends. This is a program of its own, not one test among others: the
// fault it guards against showed only at exit, and only when such a thread
// was the first of the process to use Qt's image plugins. It ran as
// plumora-cli's batch and Python's threads do; the process must end cleanly
// (under the address sanitizer, or valgrind, without a report).

#include "formats/picture_file.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace plumora {
namespace {

namespace fs = std::filesystem;

TEST(QtImageThreads, PngWrittenAndReadOnForeignThreadsThenTheProcessEnds)
{
    const fs::path dir = fs::temp_directory_path() / ("plumora-qt-threads-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    TBitmap32 picture = test::randomPicture(23, 17, 5);
    FillAlpha(picture, 255);  // as read back
    // Several rounds of threads that start, use Qt's image I/O and end, as
    // the batches of a long Python session do; in each round they run side
    // by side, so any of them may be the first to reach the plugins.
    int files = 0;
    for (int round = 0; round < 8; ++round) {
        std::vector<std::thread> threads;
        std::vector<int> same(4, 0);
        for (int t = 0; t < 4; ++t) {
            const std::string name = (dir / ("p" + std::to_string(round) + "-" + std::to_string(t) + ".png")).string();
            threads.emplace_back([&, t, name] {
                savePicture(picture, name);
                same[std::size_t(t)] = readAnyPicture(name) == picture;
            });
            ++files;
        }
        for (std::thread& thread : threads)
            thread.join();
        for (int t = 0; t < 4; ++t)
            EXPECT_TRUE(same[std::size_t(t)]) << "round " << round << " thread " << t;
    }
    EXPECT_EQ(files, 32);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace plumora
