// The document's history as it is stored: steps compressed in the
// background, shared blocks, what is held in memory, and what happens when
// memory runs out in the foreground or in the background.

#include "document/document.h"

#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/parallel.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

// Every allocation of this program passes here (new[], std::vector and
// std::make_shared all end in operator new), so that a test can make one
// fail: the n-th next one made by the test's own thread, or every one made by
// any other thread, which is how the document's background compression sees
// memory run out.
namespace {
const std::thread::id g_testThread = std::this_thread::get_id();
std::atomic<int> g_failCountdown{0};
std::atomic<bool> g_failOtherThreads{false};
std::atomic<bool> g_countFrees{false};
std::size_t g_freedByTestThread = 0;  // bytes, while g_countFrees

bool failThisAllocation()
{
    if (std::this_thread::get_id() != g_testThread)
        return g_failOtherThreads.load();
    const int n = g_failCountdown.load();
    if (n <= 0)
        return false;
    g_failCountdown.store(n - 1);
    return n == 1;
}
}  // namespace

void* operator new(std::size_t size)
{
    if (failThisAllocation())
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

// The compiler cannot see that this operator new is malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    if (p && g_countFrees && std::this_thread::get_id() == g_testThread)
        g_freedByTestThread += malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
#pragma GCC diagnostic pop

namespace plumora {
namespace {

// Twenty pictures of every kind the history meets, of several sizes: noise
// with every fourth byte different, drawings, photographs, a single pixel
// and a one-pixel strip taller than a band.
std::vector<TBitmap32> variedPictures()
{
    std::vector<TBitmap32> pictures;
    for (unsigned i = 0; i < 20; ++i) {
        const int width = 40 + int(i) * 37;
        const int height = 30 + int(i % 7) * 29;
        switch (i % 5) {
        case 0:
            pictures.push_back(test::randomPicture(width, height, i));
            break;
        case 1:
            pictures.push_back(test::drawing(width, height, i));
            break;
        case 2:
            pictures.push_back(test::photoLike(width, height, i));
            break;
        case 3:
            pictures.push_back(i == 3 ? test::randomPicture(1, 1, i) : test::randomPicture(1, 70000, i));
            break;
        default:
            pictures.push_back(test::uniformPicture(width, height, 1, 2, 3, 4));
        }
    }
    return pictures;
}

enum class Compression { HeldBack, Finished, Racing };

const char* nameOf(Compression c)
{
    return c == Compression::HeldBack ? "held back" : c == Compression::Finished ? "finished" : "racing";
}

// ---------------------------------------------------------------------------

TEST(HistoryCompression, EveryStepComesBackExactlyWhetherCompressedOrNot)
{
    const std::vector<TBitmap32> steps = variedPictures();
    const TBitmap32 first = test::photoLike(97, 61, 99);
    for (const Compression c : {Compression::HeldBack, Compression::Finished, Compression::Racing}) {
        SCOPED_TRACE(nameOf(c));
        Document doc(first);
        doc.holdHistoryWork(c == Compression::HeldBack);
        doc.open(first);
        for (const TBitmap32& step : steps)
            doc.applyResult(step, "Effect");
        if (c == Compression::Finished)
            doc.waitForHistoryIdle();
        for (int i = int(steps.size()) - 2; i >= 0; --i) {
            doc.undo();
            ASSERT_EQ(doc.displayed(), steps[std::size_t(i)]) << "undo to step " << i;
        }
        doc.undo();
        ASSERT_EQ(doc.displayed(), first);
        EXPECT_FALSE(doc.canUndo());
        for (const TBitmap32& step : steps) {
            doc.redo();
            ASSERT_EQ(doc.displayed(), step);
        }
        EXPECT_FALSE(doc.canRedo());
    }
}

// The ring's bookkeeping does not change with compression: after 30 steps
// (half of them made while the compression was held back) twenty undos walk
// back across the end of the ring, and the redo steps are dropped by a new one.
TEST(HistoryCompression, TheRingWrapsWithStepsPendingAndCompressed)
{
    const auto stepPicture = [](int step) { return test::uniformPicture(6, 4, std::uint8_t(step), 0, 0, 255); };
    Document doc(stepPicture(0));
    doc.holdHistoryWork(true);
    for (int step = 1; step <= 30; ++step) {
        if (step == 16) {
            doc.holdHistoryWork(false);
            doc.waitForHistoryIdle();
        }
        doc.applyResult(stepPicture(step), "Effect");
    }
    EXPECT_EQ(doc.currentIndex(), 10);
    for (int i = 1; i <= 20; ++i) {
        doc.undo();
        ASSERT_EQ(doc.displayed(), stepPicture(30 - i));
        ASSERT_EQ(doc.snapshot(doc.currentIndex()), doc.displayed());
    }
    EXPECT_EQ(doc.currentIndex(), 11);
    EXPECT_FALSE(doc.canUndo());
    for (int i = 0; i < 5; ++i)
        doc.redo();
    doc.applyResult(stepPicture(40), "Effect");
    doc.waitForHistoryIdle();
    EXPECT_FALSE(doc.canRedo());
    EXPECT_EQ(doc.undoCount(), 6);
    for (int i = 0; i < 6; ++i)
        doc.undo();
    EXPECT_EQ(doc.displayed(), stepPicture(10));
}

TEST(HistoryCompression, UndoToAStepNotYetCompressedSharesItsBlock)
{
    Document doc(test::photoLike(50, 40, 1));
    doc.holdHistoryWork(true);
    doc.applyResult(test::photoLike(50, 40, 2), "A");
    const std::uint8_t* a = doc.displayed().bits();
    doc.applyResult(test::photoLike(50, 40, 3), "B");
    const std::uint8_t* b = doc.displayed().bits();
    doc.undo();
    EXPECT_EQ(doc.displayed().bits(), a);
    doc.redo();
    EXPECT_EQ(doc.displayed().bits(), b);
}

// Until the newest step is compressed, the one before it keeps its pixels:
// an undo right after an effect shares them instead of unpacking, and the
// undo after that unpacks into them, since nothing else needs them then.
TEST(HistoryCompression, UndoRightAfterAStepSharesTheBlockOfTheStepBefore)
{
    const TBitmap32 z = test::photoLike(50, 40, 2);
    const TBitmap32 a = test::drawing(50, 40, 3);
    Document doc(test::photoLike(50, 40, 1));
    doc.applyResult(z, "Z");
    doc.applyResult(a, "A");
    doc.waitForHistoryIdle();
    const std::uint8_t* block = doc.displayed().bits();
    doc.holdHistoryWork(true);
    doc.applyResult(test::photoLike(50, 40, 4), "B");
    EXPECT_EQ(doc.historyMemory().blocks, 3) << "the source, A and B";
    doc.undo();
    EXPECT_EQ(doc.displayed().bits(), block);
    EXPECT_EQ(doc.displayed(), a);
    doc.undo();
    EXPECT_EQ(doc.displayed().bits(), block);
    EXPECT_EQ(doc.displayed(), z);

    doc.redo();
    doc.redo();
    doc.holdHistoryWork(false);
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().blocks, 2) << "A's pixels go once B is compressed";
}

// Undo to a compressed step unpacks into the block of the picture it leaves
// when nothing else holds that block (its own step is compressed): no new
// block, so no more memory than before. The source is never overwritten.
TEST(HistoryCompression, UndoToACompressedStepReusesTheBlockItLeaves)
{
    const TBitmap32 a = test::photoLike(64, 48, 2);
    const TBitmap32 b = test::drawing(64, 48, 3);
    Document doc(test::photoLike(64, 48, 1));
    doc.applyResult(a, "A");
    doc.applyResult(b, "B");
    doc.waitForHistoryIdle();
    const std::uint8_t* block = doc.displayed().bits();
    doc.undo();
    EXPECT_EQ(doc.displayed().bits(), block);
    EXPECT_EQ(doc.displayed(), a);
    doc.redo();
    EXPECT_EQ(doc.displayed(), b);
    EXPECT_EQ(doc.historyMemory().blocks, 2);

    // Back to the first step, whose block is the source's: shared, and the
    // redo step it leaves is unpacked into a new block, not into the source.
    doc.undo();
    doc.undo();
    EXPECT_EQ(doc.displayed().bits(), doc.source().bits());
    const TBitmap32 source = doc.source();
    doc.redo();
    EXPECT_EQ(doc.displayed(), a);
    EXPECT_NE(doc.displayed().bits(), doc.source().bits());
    EXPECT_EQ(doc.source(), source);
}

// ---------------------------------------------------------------------------

TEST(HistoryMemory, AfterOpeningOneBlockHoldsEveryPicture)
{
    Document doc(test::photoLike(20, 10, 1));
    TBitmap32 picture = test::photoLike(300, 200, 2);
    const std::size_t bytes = picture.byteCount();
    const std::uint8_t* pixels = picture.bits();
    doc.open(std::move(picture));
    EXPECT_EQ(doc.displayed().bits(), pixels) << "the opened picture was copied";
    EXPECT_EQ(doc.source().bits(), pixels);
    doc.waitForHistoryIdle();
    const PictureMemory memory = doc.historyMemory();
    EXPECT_EQ(memory.blocks, 1);
    EXPECT_EQ(memory.packed, 0);
    EXPECT_EQ(doc.historyBytes(), bytes);
}

TEST(HistoryMemory, OnceIdleOnlyTheSourceAndTheDisplayedPictureStayAsPixels)
{
    const int width = 400, height = 300;
    const std::size_t raw = std::size_t(width) * height * 4;
    Document doc(test::photoLike(20, 10, 1));
    doc.open(test::photoLike(width, height, 2));
    doc.holdHistoryWork(true);
    for (unsigned i = 0; i < 5; ++i)
        doc.applyResult(test::drawing(width, height, i), "Pen Sketch");
    EXPECT_EQ(doc.historyMemory().blocks, 6) << "every step as it was made, and the source";
    EXPECT_EQ(doc.historyMemory().packed, 0);

    doc.holdHistoryWork(false);
    doc.waitForHistoryIdle();
    PictureMemory memory = doc.historyMemory();
    EXPECT_EQ(memory.blocks, 2);
    EXPECT_EQ(memory.packed, 5);
    EXPECT_LT(doc.historyBytes(), 2 * raw + 5 * raw / 8);

    // Undo unpacks a step, and the step it leaves stays packed only.
    doc.undo();
    doc.waitForHistoryIdle();
    memory = doc.historyMemory();
    EXPECT_EQ(memory.blocks, 2);
    EXPECT_EQ(memory.packed, 5);
}

TEST(HistoryMemory, ABackupOfAnUnchangedPictureSharesItsCompressedForm)
{
    Document doc(test::photoLike(20, 10, 1));
    doc.applyResult(test::drawing(200, 100, 1), "Effect");
    doc.waitForHistoryIdle();
    doc.backup();
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().packed, 1);
    doc.undo();
    EXPECT_EQ(doc.displayed(), test::drawing(200, 100, 1));
}

TEST(HistoryMemory, StepsNoUndoCanReachAreReleasedWithTheirPendingWork)
{
    const TBitmap32 next = test::photoLike(64, 64, 9);
    // Held back, so the work is surely still pending; then racing, so it may
    // be under way: either way nothing of the old history may stay.
    for (const bool held : {true, false}) {
        Document doc(test::photoLike(64, 64, 1));
        doc.holdHistoryWork(held);
        for (unsigned i = 0; i < 5; ++i)
            doc.applyResult(test::photoLike(640, 480, i), "Effect");
        doc.open(next);
        doc.holdHistoryWork(false);
        doc.waitForHistoryIdle();
        const PictureMemory memory = doc.historyMemory();
        EXPECT_EQ(memory.blocks, 1) << (held ? "held" : "racing");
        EXPECT_EQ(memory.packed, 0) << (held ? "held" : "racing");
        EXPECT_EQ(doc.historyBytes(), next.byteCount());
    }

    // A new step drops the redo steps.
    Document doc(test::photoLike(64, 64, 1));
    for (unsigned i = 0; i < 3; ++i)
        doc.applyResult(test::photoLike(64, 64, i + 2), "Effect");
    doc.undo();
    doc.undo();
    doc.applyResult(test::photoLike(64, 64, 7), "Effect");
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().packed, 2) << "the first effect and the new one";
    EXPECT_EQ(doc.historyMemory().blocks, 2);
}

// The opened picture is needed for revert only: while the source is that
// very block it costs nothing, once the source moves on it is packed.
TEST(HistoryMemory, TheOpenedPictureIsCompressedOnceNothingElseHoldsIt)
{
    const TBitmap32 opened = test::drawing(300, 200, 3);
    const std::size_t raw = opened.byteCount();
    Document doc(test::photoLike(20, 10, 1));
    doc.open(opened);
    doc.applyResult(test::drawing(300, 200, 4), "Effect");
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().blocks, 2);
    EXPECT_EQ(doc.historyMemory().packed, 1) << "only the effect";

    doc.rotate(false);
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().blocks, 2) << "the turned displayed and source pictures";
    EXPECT_EQ(doc.historyMemory().packed, 2) << "the opened picture and the new first step";
    EXPECT_LT(doc.historyBytes(), 2 * raw + 2 * raw / 8);
    doc.revert();  // unpacked into the turned displayed picture's block
    EXPECT_EQ(doc.displayed(), opened);
    EXPECT_EQ(doc.source(), opened);
    EXPECT_EQ(doc.snapshot(1), opened);
    EXPECT_EQ(doc.historyMemory().blocks, 1);

    // Right after opening, the displayed picture is the source: turned once.
    doc.rotate(true);
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().blocks, 1);
    EXPECT_EQ(doc.historyMemory().packed, 1);
    EXPECT_EQ(doc.source(), rotateClockwise(opened));
}

// ---------------------------------------------------------------------------

TEST(HistoryBackground, WithoutMemoryForCompressionTheStepsStayAsPixels)
{
    const TBitmap32 first = test::photoLike(120, 90, 1);
    Document doc(first);
    g_failOtherThreads = true;
    for (unsigned i = 0; i < 3; ++i)
        doc.applyResult(test::drawing(120, 90, i), "Effect");
    doc.waitForHistoryIdle();
    g_failOtherThreads = false;
    EXPECT_EQ(doc.historyMemory().blocks, 4);
    EXPECT_EQ(doc.historyMemory().packed, 0);
    for (int i = 1; i >= 0; --i) {
        doc.undo();
        EXPECT_EQ(doc.displayed(), test::drawing(120, 90, unsigned(i)));
    }
    doc.undo();
    EXPECT_EQ(doc.displayed(), first);

    // With memory back, new steps are compressed again.
    doc.applyResult(test::drawing(120, 90, 7), "Effect");
    doc.applyResult(test::drawing(120, 90, 8), "Effect");
    doc.waitForHistoryIdle();
    EXPECT_EQ(doc.historyMemory().packed, 2);
}

// Giving a picture's memory back to the system takes milliseconds: the
// background does it, not the click. Twenty-five effects wrap the ring, so
// each one drops the oldest compressed step as well as the picture it
// replaces.
TEST(HistoryBackground, EffectsLeaveFreeingMemoryToTheBackground)
{
    Document doc(test::photoLike(10, 10, 1));
    std::size_t largest = 0;
    for (unsigned i = 0; i < 25; ++i) {
        TBitmap32 result = test::photoLike(300, 200, i);
        doc.waitForHistoryIdle();
        g_freedByTestThread = 0;
        g_countFrees = true;
        doc.applyResult(std::move(result), "Effect");
        g_countFrees = false;
        largest = std::max(largest, g_freedByTestThread);
    }
    EXPECT_LT(largest, std::size_t(300 * 200 * 4) / 10) << "bytes freed by one effect";
}

// Fails by crashing or hanging: the thread must be stopped and joined while
// it packs.
TEST(HistoryBackground, ADocumentMayGoAwayWhileItsStepsAreBeingCompressed)
{
    for (int round = 0; round < 10; ++round) {
        Document doc(test::photoLike(10, 10, 1));
        for (unsigned i = 0; i < 4; ++i)
            doc.applyResult(test::photoLike(800, 600, i), "Effect");
    }
}

// ---------------------------------------------------------------------------

// Everything a document holds, to show that a failed operation changed nothing.
struct State {
    TBitmap32 displayed, source, opened;
    std::string label;
    ControlSize control;
    int current, undo, redo;
    std::vector<TBitmap32> snapshots;
};

State capture(const Document& d)
{
    State s{d.displayed(),    d.source(),    d.opened(),    d.label(), d.controlSize(),
            d.currentIndex(), d.undoCount(), d.redoCount(), {}};
    for (int i = 1; i <= Document::kSnapshots; ++i)
        s.snapshots.push_back(d.snapshot(i));
    return s;
}

void expectUnchanged(const State& before, const Document& d)
{
    EXPECT_EQ(before.displayed, d.displayed());
    EXPECT_EQ(before.source, d.source());
    EXPECT_EQ(before.opened, d.opened());
    EXPECT_EQ(before.label, d.label());
    EXPECT_EQ(before.control, d.controlSize());
    EXPECT_EQ(before.current, d.currentIndex());
    EXPECT_EQ(before.undo, d.undoCount());
    EXPECT_EQ(before.redo, d.redoCount());
    for (int i = 1; i <= Document::kSnapshots; ++i)
        EXPECT_EQ(before.snapshots[std::size_t(i - 1)], d.snapshot(i)) << "snapshot " << i;
}

// Every allocation an operation makes, not just its pixel blocks: the shared
// blocks' bookkeeping, the labels, the unpacking's bands. Each is made to fail
// in turn, with the steps as made and with them compressed. An operation that
// only shares blocks allocates nothing at all, so it cannot fail.
enum class Allocates { Always, Never, OncePacked };

TEST(HistoryFailures, AnyFailedAllocationLeavesTheDocumentAsItWas)
{
    struct Case {
        const char* name;
        TBitmap32 argument;  // made before a failure is armed
        std::function<void(Document&, TBitmap32)> op;
        Allocates allocates;
    };
    const std::vector<Case> cases = {
        {"effect", test::drawing(30, 20, 9), [](Document& d, TBitmap32 p) { d.applyResult(std::move(p), "Effect"); },
         Allocates::Always},
        {"open", test::drawing(25, 20, 9), [](Document& d, TBitmap32 p) { d.open(std::move(p)); }, Allocates::Always},
        {"backup", {}, [](Document& d, TBitmap32) { d.backup(); }, Allocates::Never},
        {"restart", {}, [](Document& d, TBitmap32) { d.resetHistory(); }, Allocates::Never},
        {"undo", {}, [](Document& d, TBitmap32) { d.undo(); }, Allocates::Always},
        {"redo", {}, [](Document& d, TBitmap32) { d.redo(); }, Allocates::Always},
        {"revert", {}, [](Document& d, TBitmap32) { d.revert(); }, Allocates::OncePacked},
        {"rotate", {}, [](Document& d, TBitmap32) { d.rotate(true); }, Allocates::Always},
        {"image size", {}, [](Document& d, TBitmap32) { d.resizePictures(13, 11); }, Allocates::Always},
    };
    // Three steps of other sizes than the opened picture, two undone: undo,
    // redo and revert all change the size, and the source is a block of its own.
    const auto setup = [](Document& d, bool packed) {
        d.holdHistoryWork(!packed);
        d.open(test::photoLike(30, 20, 1));
        d.applyResult(test::drawing(40, 20, 2), "One");
        d.applyResult(test::photoLike(20, 20, 3), "Two");
        d.applyResult(test::drawing(30, 25, 4), "Three");
        d.undo();
        d.undo();
        d.waitForHistoryIdle();
    };
    for (const Case& c : cases) {
        for (const bool packed : {false, true}) {
            const std::string name = std::string(c.name) + (packed ? ", steps compressed" : ", steps as made");
            int failures = 0;
            for (int k = 1; k < 200; ++k) {
                Document doc(test::photoLike(8, 8, 0));
                setup(doc, packed);
                const State before = capture(doc);
                TBitmap32 argument = c.argument;
                bool threw = false;
                g_failCountdown = k;
                try {
                    c.op(doc, std::move(argument));
                } catch (const std::bad_alloc&) {
                    threw = true;
                }
                g_failCountdown = 0;
                if (!threw)
                    break;
                ++failures;
                SCOPED_TRACE(name + ", allocation " + std::to_string(k));
                expectUnchanged(before, doc);
            }
            if (c.allocates == Allocates::Never || (c.allocates == Allocates::OncePacked && !packed))
                EXPECT_EQ(failures, 0) << name << " allocated";
            else
                EXPECT_GE(failures, 1) << name << " never allocated, so the case tests nothing";
        }
    }
}

}  // namespace
}  // namespace plumora
