// The history's steps beyond its memory budget, in a file of a folder of the
// test's own (never the user's cache).

#include "document/document.h"

#include "support/pictures.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace plumora {
namespace {

namespace fs = std::filesystem;

using HistoryDisk = test::TempFolderTest;

// Photograph-like steps, each its own; packed they stay some 100 KB.
std::vector<TBitmap32> steps(int count)
{
    std::vector<TBitmap32> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(test::photoLike(320, 240, unsigned(i + 1)));
    return pictures;
}

std::vector<fs::path> filesIn(const fs::path& folder)
{
    std::vector<fs::path> files;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            files.push_back(entry.path().filename());
    return files;
}

TEST_F(HistoryDisk, UndoAndRedoAcrossTheBudgetBringBackEveryByte)
{
    const std::vector<TBitmap32> pictures = steps(8);
    const fs::path folder = m_dir / "cache" / "plumora";
    Document doc(test::photoLike(320, 240, 0), {.memoryBudget = 1, .folder = folder});
    doc.open(pictures[0]);
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        doc.applyResult(pictures[i], "Effect");
        doc.waitForHistoryIdle();
    }
    // Every packed step went to the file, which the folder made for it holds.
    const PictureMemory memory = doc.historyMemory();
    EXPECT_GE(memory.onDisk, 7);
    EXPECT_GT(memory.diskBytes, 0u);
    ASSERT_EQ(filesIn(folder).size(), 1u);
    EXPECT_EQ(doc.historyFile().parent_path(), folder);
    EXPECT_EQ(fs::file_size(doc.historyFile()), memory.diskBytes);

    for (std::size_t i = pictures.size() - 1; i-- > 0;) {
        doc.undo();
        ASSERT_EQ(doc.displayed(), pictures[i]) << "undo to step " << i;
    }
    EXPECT_FALSE(doc.canUndo());
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        doc.redo();
        doc.waitForHistoryIdle();
        ASSERT_EQ(doc.displayed(), pictures[i]) << "redo to step " << i;
    }
    // A new step after undoing drops the redo steps, and their places in the
    // file are written over: the file does not grow.
    for (int round = 0; round < 3; ++round) {
        doc.undo();
        doc.undo();
        doc.applyResult(pictures[std::size_t(round)], "Again");
        doc.waitForHistoryIdle();
        EXPECT_LE(doc.historyMemory().diskBytes, memory.diskBytes);
    }
    // Each round went two back: the steps before are 3, 2, 1 and 0.
    for (int i = 3; i >= 0; --i) {
        doc.undo();
        EXPECT_EQ(doc.displayed(), pictures[std::size_t(i)]);
    }
    EXPECT_FALSE(doc.canUndo());
}

TEST_F(HistoryDisk, WithinTheBudgetNothingGoesToDisk)
{
    const std::vector<TBitmap32> pictures = steps(4);
    Document doc(test::photoLike(320, 240, 0), {.memoryBudget = std::size_t(1) << 30, .folder = m_dir / "plumora"});
    doc.open(pictures[0]);
    for (std::size_t i = 1; i < pictures.size(); ++i)
        doc.applyResult(pictures[i], "Effect");
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().onDisk, 0);
    EXPECT_FALSE(fs::exists(m_dir / "plumora"));
}

TEST_F(HistoryDisk, TheFileGoesWithTheDocument)
{
    const std::vector<TBitmap32> pictures = steps(3);
    {
        Document doc(test::photoLike(320, 240, 0), {.memoryBudget = 1, .folder = m_dir});
        doc.open(pictures[0]);
        doc.applyResult(pictures[1], "Effect");
        doc.applyResult(pictures[2], "Effect");
        doc.waitForHistoryIdle();
        ASSERT_EQ(filesIn(m_dir).size(), 1u);
    }
    EXPECT_TRUE(filesIn(m_dir).empty());
}

// A process that ended without removing its file (a crash) leaves it for the
// next one, which removes it before making its own; the files of processes
// that still run, and files not ours, stay.
TEST_F(HistoryDisk, AStaleFileOfAProcessThatEndedIsRemoved)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);  // it ran and is gone
    const auto make = [&](const std::string& name) { std::ofstream(m_dir / name) << "steps"; };
    const std::string stale = "history-" + std::to_string(child) + "-1.bin";
    const std::string running = "history-" + std::to_string(getppid()) + "-1.bin";
    make(stale);
    make(running);
    make("history-notes.bin");
    make("photo.jpg");

    const std::vector<TBitmap32> pictures = steps(3);
    Document doc(test::photoLike(320, 240, 0), {.memoryBudget = 1, .folder = m_dir});
    doc.open(pictures[0]);
    doc.applyResult(pictures[1], "Effect");
    doc.applyResult(pictures[2], "Effect");
    doc.waitForHistoryIdle();
    EXPECT_FALSE(fs::exists(m_dir / stale));
    EXPECT_TRUE(fs::exists(m_dir / running));
    EXPECT_TRUE(fs::exists(m_dir / "history-notes.bin"));
    EXPECT_TRUE(fs::exists(m_dir / "photo.jpg"));
    EXPECT_EQ(filesIn(m_dir).size(), 4u);  // the three kept and this document's

    // The same at start, without a document.
    make(stale);
    removeStaleHistoryFiles(m_dir);
    EXPECT_FALSE(fs::exists(m_dir / stale));
    EXPECT_EQ(filesIn(m_dir).size(), 4u);
}

// Steps over the budget that cannot go to disk go altogether, the oldest
// first, when the next step comes, as when memory runs out; the ones kept
// come back exactly.
void expectOldestDroppedWithin(Document& doc, const std::vector<TBitmap32>& pictures, std::size_t budget)
{
    doc.open(pictures[0]);
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        doc.applyResult(pictures[i], "Effect");
        doc.waitForHistoryIdle();
    }
    const int kept = doc.undoCount();
    EXPECT_GE(kept, 1);
    EXPECT_LT(kept, int(pictures.size()) - 2);
    EXPECT_EQ(doc.historyMemory().onDisk, 0);
    // Within the budget, but for the newest step, packed since.
    EXPECT_LE(doc.historyMemory().packedBytes, budget + budget / 2);
    for (int back = 1; back <= kept; ++back) {
        doc.undo();
        EXPECT_EQ(doc.displayed(), pictures[pictures.size() - 1 - std::size_t(back)]);
    }
    EXPECT_FALSE(doc.canUndo());
}

std::size_t packedStepBytes(const std::vector<TBitmap32>& pictures)
{
    Document doc(pictures[0], {.memoryBudget = std::size_t(1) << 30, .folder = {}});
    doc.open(pictures[0]);
    doc.applyResult(pictures[1], "Effect");
    doc.applyResult(pictures[2], "Effect");
    doc.waitForHistoryIdle();
    return doc.historyMemory().packedBytes / 3;
}

TEST_F(HistoryDisk, AFolderThatCannotBeMadeDropsTheOldestSteps)
{
    const std::vector<TBitmap32> pictures = steps(10);
    const std::size_t budget = packedStepBytes(pictures) * 5 / 2;
    std::ofstream(m_dir / "cache") << "a file where the folder should be";
    Document doc(test::photoLike(320, 240, 0), {.memoryBudget = budget, .folder = m_dir / "cache" / "plumora"});
    expectOldestDroppedWithin(doc, pictures, budget);
}

TEST_F(HistoryDisk, AFileThatCannotGrowDropsTheOldestSteps)
{
    const std::vector<TBitmap32> pictures = steps(10);
    const std::size_t budget = packedStepBytes(pictures) * 5 / 2;
    // As a full disk does: the first write past 4 KiB fails (with EFBIG,
    // once the signal that would end the process is ignored).
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    {
        Document doc(test::photoLike(320, 240, 0), {.memoryBudget = budget, .folder = m_dir});
        expectOldestDroppedWithin(doc, pictures, budget);
        doc.waitForHistoryIdle();
    }
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(filesIn(m_dir).empty());
}

}  // namespace
}  // namespace plumora
