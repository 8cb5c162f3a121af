#include "document/document.h"

#include "raster/geometry.h"

#include "raster/errors.h"
#include "support/array_new_watch.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <thread>

#include <cstdio>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <vector>

// Every pixel block goes through new[] (see array_new_watch.h): the tests
// count them and make a chosen one fail.
static std::atomic<long> g_arrayAllocations{0};
static std::atomic<int> g_failCountdown{0};  // n > 0: the n-th next new[] throws
static std::atomic<int> g_failingNext{0};    // n > 0: the next n new[] throw

void onArrayNew(std::size_t)
{
    ++g_arrayAllocations;
    if (g_failCountdown > 0 && --g_failCountdown == 0)
        throw std::bad_alloc();
    if (g_failingNext > 0) {
        --g_failingNext;
        throw std::bad_alloc();
    }
}

namespace plumora {
namespace {

using test::pixelAt;
using test::setPixel;

// A picture that tells which step made it: blue = step, green = x, red = y.
TBitmap32 stepPicture(int step, int width = 4, int height = 3)
{
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setPixel(picture, x, y, 0xFF000000u | std::uint32_t(y) << 16 | std::uint32_t(x) << 8 | std::uint32_t(step));
    return picture;
}

int stepOf(const TBitmap32& picture)
{
    return int(pixelAt(picture, 0, 0) & 0xFF);
}

// Opens step 0, then applies steps 1..count as effects.
void openAndApply(Document& doc, int count)
{
    doc.open(stepPicture(0));
    for (int step = 1; step <= count; ++step)
        doc.applyResult(stepPicture(step), "Effect " + std::to_string(step));
}

// Everything a document holds, to show that a failed operation changed nothing.
struct State {
    TBitmap32 displayed, source, opened;
    std::string label, zoomLabel;
    double zoomFactor;
    ControlSize control;
    int current, undo, redo, allocated;
    EffectDialogId dialog;
    bool thick;
    std::vector<TBitmap32> snapshots;
};

State capture(const Document& d)
{
    State s{d.displayed(),
            d.source(),
            d.opened(),
            d.label(),
            d.zoomLabel(),
            d.zoomFactor(),
            d.controlSize(),
            d.currentIndex(),
            d.undoCount(),
            d.redoCount(),
            d.allocatedSnapshots(),
            d.openDialog(),
            d.thickAndThin(),
            {}};
    for (int i = 1; i <= Document::kSnapshots; ++i)
        s.snapshots.push_back(d.snapshot(i));
    return s;
}

// A half-assigned picture keeps its size but loses its block: say so instead of reading through it.
::testing::AssertionResult samePicture(const TBitmap32& expected, const TBitmap32& actual)
{
    if (!actual.empty() && actual.bits() == nullptr)
        return ::testing::AssertionFailure()
               << "a " << actual.width() << "x" << actual.height() << " picture lost its pixels";
    if (!(expected == actual))
        return ::testing::AssertionFailure() << "pictures differ";
    return ::testing::AssertionSuccess();
}

void expectUnchanged(const State& before, const Document& d, const std::string& what)
{
    SCOPED_TRACE(what);
    EXPECT_TRUE(samePicture(before.displayed, d.displayed()));
    EXPECT_TRUE(samePicture(before.source, d.source()));
    EXPECT_TRUE(samePicture(before.opened, d.opened()));
    EXPECT_EQ(before.label, d.label());
    EXPECT_EQ(before.zoomLabel, d.zoomLabel());
    EXPECT_EQ(before.zoomFactor, d.zoomFactor());
    EXPECT_EQ(before.control, d.controlSize());
    EXPECT_EQ(before.current, d.currentIndex());
    EXPECT_EQ(before.undo, d.undoCount());
    EXPECT_EQ(before.redo, d.redoCount());
    EXPECT_EQ(before.allocated, d.allocatedSnapshots());
    EXPECT_EQ(before.dialog, d.openDialog());
    EXPECT_EQ(before.thick, d.thickAndThin());
    for (int i = 1; i <= Document::kSnapshots; ++i)
        EXPECT_TRUE(samePicture(before.snapshots[std::size_t(i - 1)], d.snapshot(i))) << "snapshot " << i;
}

// ---------------------------------------------------------------------------

// Here rather than with TBitmap32's own tests, as this binary counts the
// blocks taken from the system: the address a block comes back at proves
// nothing, the system's allocator may give the same one again by itself.
TEST(PixelBlocks, AFreedLargeBlockIsKeptAfterARequestForAnotherSize)
{
    // 2000 x 1234 is a size no other test uses: its first request finds
    // nothing kept and lets go of what was, as the size worked on changed.
    const long before = g_arrayAllocations;
    {
        TBitmap32 a(2000, 1234);
    }
    {
        TBitmap32 b(2000, 1234);
    }
    {
        TBitmap32 c(2000, 1234);
    }
    EXPECT_EQ(g_arrayAllocations - before, 1);
}

TEST(DocumentStart, ShowsTheBuiltInPictureAsStoredAndKeepsOpaqueCopiesForEverythingElse)
{
    TBitmap32 builtIn = test::randomPicture(5, 4, 11);
    FillAlpha(builtIn, 0);  // as read from a 24-bit file
    Document doc(builtIn);

    EXPECT_EQ(doc.displayed(), builtIn);
    for (const TBitmap32& p : {doc.source(), doc.opened(), doc.snapshot(1)}) {
        ASSERT_EQ(p.width(), 5);
        ASSERT_EQ(p.height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(pixelAt(p, x, y), pixelAt(builtIn, x, y) | 0xFF000000u) << x << "," << y;
    }
    EXPECT_EQ(doc.label(), "New picture");
    EXPECT_EQ(doc.zoomFactor(), 100.0);
    EXPECT_EQ(doc.zoomLabel(), "100%");
    EXPECT_EQ(doc.controlSize(), (ControlSize{5, 4}));
    EXPECT_EQ(doc.currentIndex(), 1);
    EXPECT_FALSE(doc.canUndo());
    EXPECT_FALSE(doc.canRedo());
    EXPECT_EQ(doc.allocatedSnapshots(), 1);
    EXPECT_EQ(doc.openDialog(), EffectDialogId::None);
    EXPECT_FALSE(doc.thickAndThin());

    // Undoing the first effect brings back the opaque copy, not the stored picture.
    doc.applyResult(stepPicture(1, 5, 4), "Effect");
    doc.undo();
    EXPECT_EQ(doc.displayed(), doc.opened());
}

// ---------------------------------------------------------------------------

TEST(DocumentHistory, AfterTwentyFiveEffectsTwentyUndosReachTheFifthAndStop)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 25);
    EXPECT_EQ(doc.undoCount(), 20);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(doc.canUndo()) << i;
        doc.undo();
        ASSERT_EQ(stepOf(doc.displayed()), 25 - i);
    }
    EXPECT_EQ(doc.displayed(), stepPicture(5));
    EXPECT_EQ(doc.undoCount(), 0);
    EXPECT_FALSE(doc.canUndo());
    EXPECT_EQ(doc.redoCount(), 20);

    const State before = capture(doc);
    doc.undo();
    expectUnchanged(before, doc, "undo with nothing to undo");
}

TEST(DocumentHistory, TwentyEffectsUndoneBringBackTheOpenedPicture)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 20);
    for (int i = 0; i < 20; ++i)
        doc.undo();
    EXPECT_EQ(doc.displayed(), stepPicture(0));
    EXPECT_FALSE(doc.canUndo());
    for (int i = 1; i <= 20; ++i) {
        doc.redo();
        ASSERT_EQ(stepOf(doc.displayed()), i);
    }
    EXPECT_FALSE(doc.canRedo());
}

TEST(DocumentHistory, ANewStepAfterUndoingDropsTheUndoneSteps)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 3);
    doc.undo();
    doc.undo();
    doc.applyResult(stepPicture(9), "Nine");
    EXPECT_FALSE(doc.canRedo());
    EXPECT_EQ(doc.undoCount(), 2);

    doc.undo();
    EXPECT_EQ(stepOf(doc.displayed()), 1);
    doc.undo();
    EXPECT_EQ(stepOf(doc.displayed()), 0);
    EXPECT_FALSE(doc.canUndo());
    doc.redo();
    doc.redo();
    EXPECT_EQ(stepOf(doc.displayed()), 9);
    EXPECT_FALSE(doc.canRedo());
}

TEST(DocumentHistory, BackupOfAnUnchangedPictureAlsoDropsRedo)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 2);
    doc.undo();
    doc.backup();
    EXPECT_FALSE(doc.canRedo());
    doc.undo();
    EXPECT_EQ(stepOf(doc.displayed()), 1);
    EXPECT_EQ(doc.label(), "Undo");
}

TEST(DocumentHistory, RedoAfterUndoShowsThePictureBeforeTheUndo)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 2);
    doc.setZoom(125.0, "125.0%");
    doc.setOpenDialog(EffectDialogId(7));
    doc.setThickAndThin(true);
    doc.undo();
    EXPECT_EQ(doc.label(), "Undo");
    doc.redo();
    EXPECT_EQ(doc.displayed(), stepPicture(2));
    EXPECT_EQ(doc.label(), "Redo");
    EXPECT_EQ(doc.source(), stepPicture(0));
    EXPECT_EQ(doc.zoomFactor(), 125.0);
    EXPECT_EQ(doc.openDialog(), EffectDialogId(7));
    EXPECT_TRUE(doc.thickAndThin());
}

TEST(DocumentHistory, TheRingWrapsFrom21To1AndBack)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 30);
    EXPECT_EQ(doc.currentIndex(), 10);
    std::vector<int> indices;
    for (int i = 1; i <= 20; ++i) {
        doc.undo();
        indices.push_back(doc.currentIndex());
        ASSERT_EQ(stepOf(doc.displayed()), 30 - i);
        ASSERT_EQ(doc.displayed(), doc.snapshot(doc.currentIndex()));
    }
    EXPECT_EQ(indices, (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11}));
    for (int i = 1; i <= 12; ++i)
        doc.redo();
    EXPECT_EQ(doc.currentIndex(), 2);
    EXPECT_EQ(stepOf(doc.displayed()), 22);
}

// ---------------------------------------------------------------------------

TEST(DocumentSizeChange, UndoAndRedoStretchTheSourceFromItsPresentContent)
{
    const TBitmap32 large = stepPicture(0, 8, 6);
    Document doc(stepPicture(0));
    doc.open(large);
    doc.applyResult(stepPicture(1, 4, 3), "Smaller");

    doc.undo();  // same width as the source: left alone
    EXPECT_EQ(doc.displayed(), large);
    EXPECT_EQ(doc.source(), large);

    doc.redo();
    EXPECT_EQ(doc.displayed(), stepPicture(1, 4, 3));
    ASSERT_EQ(doc.source().width(), 4);
    ASSERT_EQ(doc.source().height(), 3);
    EXPECT_EQ(pixelAt(doc.source(), 3, 2), pixelAt(large, 6, 4));

    // Enlarged again from the 4 x 3 source: columns and rows come in pairs.
    doc.undo();
    EXPECT_EQ(doc.displayed(), large);
    ASSERT_EQ(doc.source().width(), 8);
    ASSERT_EQ(doc.source().height(), 6);
    EXPECT_EQ(pixelAt(doc.source(), 1, 1), pixelAt(large, 0, 0));
    EXPECT_EQ(pixelAt(doc.source(), 7, 5), pixelAt(large, 6, 4));
    EXPECT_NE(doc.source(), large);
    EXPECT_EQ(doc.controlSize(), (ControlSize{8, 6}));
}

TEST(DocumentSizeChange, AHeightChangeAloneLeavesTheSourceAlone)
{
    Document doc(stepPicture(0));
    doc.open(stepPicture(0, 8, 6));
    doc.applyResult(stepPicture(1, 8, 3), "Flatter");
    doc.undo();
    doc.redo();
    EXPECT_EQ(doc.displayed(), stepPicture(1, 8, 3));
    EXPECT_EQ(doc.source(), stepPicture(0, 8, 6));
    EXPECT_EQ(doc.controlSize(), (ControlSize{8, 3}));
}

// ---------------------------------------------------------------------------

// 181 x 1.953 = 353.493 and 181 x 1.953125 = 353.516: the label and the factor round apart.
TEST(DocumentControlSize, UndoSizesTheControlFromTheZoomLabelNotTheFactor)
{
    Document doc(stepPicture(0, 181, 3));
    doc.setZoom(195.3125, "195.3%");
    doc.applyResult(stepPicture(1, 181, 3), "Effect");
    doc.setControlSize({1, 1});
    doc.applyResult(stepPicture(2, 181, 3), "Effect");
    EXPECT_EQ(doc.controlSize(), (ControlSize{1, 1})) << "an effect keeps the control's size";
    doc.undo();
    EXPECT_EQ(doc.controlSize(), (ControlSize{353, 6}));
    EXPECT_EQ(doc.zoomFactor(), 195.3125);

    doc.setZoom(195.3125, "195,3%");
    doc.setControlSize({1, 1});
    doc.redo();
    EXPECT_EQ(doc.controlSize(), (ControlSize{353, 6}));

    doc.open(stepPicture(3, 181, 3));  // opening uses the factor
    EXPECT_EQ(doc.controlSize(), (ControlSize{354, 6}));
}

TEST(DocumentControlSize, HalvesRoundToEvenAndSeparatorsOfEitherLocaleAreRead)
{
    Document doc(stepPicture(0, 5, 3));
    doc.applyResult(stepPicture(1, 7, 3), "Wider");
    doc.setZoom(50.0, "50.0%");
    doc.undo();  // 2.5 x 1.5
    EXPECT_EQ(doc.controlSize(), (ControlSize{2, 2}));
    doc.redo();  // 3.5 x 1.5
    EXPECT_EQ(doc.controlSize(), (ControlSize{4, 2}));

    const std::vector<std::pair<std::string, ControlSize>> labels = {
        {"0.0%", {0, 0}},
        {"1,000.0%", {70, 30}},
        {"1.000,0%", {70, 30}},
        {"1000%", {70, 30}},
    };
    for (const auto& [label, expected] : labels) {
        doc.setZoom(1000.0, label);
        doc.undo();
        doc.redo();
        EXPECT_EQ(doc.controlSize(), expected) << label;
    }
}

TEST(DocumentControlSize, AnUnreadableZoomLabelStopsUndoBeforeAnythingChanges)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 2);
    doc.setZoom(100.0, "abc%");
    const State before = capture(doc);
    try {
        doc.undo();
        FAIL() << "undo read an unreadable zoom label";
    } catch (const PlumoraError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
    expectUnchanged(before, doc, "unreadable zoom label");
}

// ---------------------------------------------------------------------------

TEST(DocumentOpenAndRevert, OpeningKeepsTheZoomAndTheLabelAndRestartsTheHistory)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 3);
    doc.undo();
    doc.setZoom(125.0, "125.0%");
    doc.open(stepPicture(7, 5, 3));
    EXPECT_EQ(doc.controlSize(), (ControlSize{6, 4}));  // 6.25 x 3.75
    EXPECT_EQ(doc.zoomLabel(), "125.0%");
    EXPECT_EQ(doc.label(), "Undo");
    EXPECT_EQ(doc.displayed(), stepPicture(7, 5, 3));
    EXPECT_EQ(doc.source(), doc.displayed());
    EXPECT_EQ(doc.opened(), doc.displayed());
    EXPECT_EQ(doc.snapshot(1), doc.displayed());
    EXPECT_EQ(doc.currentIndex(), 1);
    EXPECT_FALSE(doc.canUndo());
    EXPECT_FALSE(doc.canRedo());
}

TEST(DocumentOpenAndRevert, RevertBringsBackTheOpenedPictureAtItsOwnSize)
{
    Document doc(stepPicture(0));
    doc.open(stepPicture(4, 8, 6));
    doc.applyResult(stepPicture(1, 4, 3), "Smaller");
    doc.undo();
    doc.redo();  // the source is now a reduced copy
    doc.resetHistory();
    doc.setZoom(50.0, "50.0%");
    doc.revert();
    EXPECT_EQ(doc.displayed(), stepPicture(4, 8, 6));
    EXPECT_EQ(doc.source(), stepPicture(4, 8, 6));
    EXPECT_EQ(doc.snapshot(1), stepPicture(4, 8, 6));
    EXPECT_EQ(doc.controlSize(), (ControlSize{4, 3}));
    EXPECT_EQ(doc.label(), "Redo");
    EXPECT_EQ(doc.undoCount(), 0);
    EXPECT_EQ(doc.redoCount(), 0);
    EXPECT_EQ(doc.currentIndex(), 1);
}

// ---------------------------------------------------------------------------

TEST(DocumentSnapshots, AreAllocatedOnFirstUseThenReused)
{
    Document doc(stepPicture(0));
    for (int step = 1; step <= 5; ++step)
        doc.backup();
    EXPECT_EQ(doc.allocatedSnapshots(), 6);
    for (int step = 1; step <= 40; ++step) {
        doc.applyResult(stepPicture(step), "Effect");
        ASSERT_LE(doc.allocatedSnapshots(), Document::kSnapshots);
    }
    EXPECT_EQ(doc.allocatedSnapshots(), Document::kSnapshots);

    TBitmap32 next = stepPicture(99);
    g_arrayAllocations = 0;
    doc.applyResult(std::move(next), "Effect");
    doc.backup();
    doc.undo();
    doc.redo();
    doc.resetHistory();
    doc.revert();
    EXPECT_EQ(g_arrayAllocations, 0) << "a full ring of one size takes no new blocks";
}

// ---------------------------------------------------------------------------

// Which operations take a new pixel block. Those that only share blocks (an
// effect's result, a step, opening, restarting the history, undoing to a step
// whose pixels are still at hand) cannot fail for want of one, and must not
// start taking one: that would be a copy of the picture.
enum class Takes { Blocks, NoBlock, BlocksOncePacked };

struct FailureCase {
    const char* name;
    std::function<void(Document&)> setup;
    TBitmap32 argument;  // handed to op, so the test's own copies are made before a failure is armed
    std::function<void(Document&, TBitmap32)> op;
    Takes takes;
};

TEST(DocumentFailures, EachFailedAllocationLeavesTheDocumentAsItWas)
{
    const auto nothing = [](Document&) {};
    const auto resized = [](Document& d) {  // displayed and source 2 x 2, snapshot 1 too
        d.applyResult(stepPicture(1, 2, 2), "Small");
        d.undo();
        d.redo();
        d.resetHistory();
    };
    const std::vector<FailureCase> cases = {
        {"backup into a new slot", nothing, {}, [](Document& d, TBitmap32) { d.backup(); }, Takes::NoBlock},
        {"result into a new slot", nothing, stepPicture(1),
         [](Document& d, TBitmap32 p) { d.applyResult(std::move(p), "One"); }, Takes::NoBlock},
        {"result of another size into a used slot",
         [](Document& d) {
             for (int i = 0; i < 25; ++i)
                 d.backup();
         },
         stepPicture(1, 6, 5), [](Document& d, TBitmap32 p) { d.applyResult(std::move(p), "One"); }, Takes::NoBlock},
        {"redo to another size",
         [](Document& d) {
             d.applyResult(stepPicture(1, 2, 2), "Small");
             d.undo();
         },
         {},
         [](Document& d, TBitmap32) { d.redo(); },
         Takes::Blocks},
        {"undo to another height",
         [](Document& d) { d.applyResult(stepPicture(1, 4, 5), "Taller"); },
         {},
         [](Document& d, TBitmap32) { d.undo(); },
         Takes::NoBlock},  // snapshot 1 is the source's block
        {"open a picture of another size", nothing, stepPicture(5, 6, 5),
         [](Document& d, TBitmap32 p) { d.open(std::move(p)); }, Takes::NoBlock},
        {"revert to another size", resized, {}, [](Document& d, TBitmap32) { d.revert(); }, Takes::BlocksOncePacked},
        {"restart the history at another size",
         [](Document& d) { d.applyResult(stepPicture(1, 2, 2), "Small"); },
         {},
         [](Document& d, TBitmap32) { d.resetHistory(); },
         Takes::NoBlock},
        {"quarter turn", nothing, {}, [](Document& d, TBitmap32) { d.rotate(true); }, Takes::Blocks},
        {"image size", nothing, {}, [](Document& d, TBitmap32) { d.resizePictures(7, 2); }, Takes::Blocks},
    };

    // Each case twice: with the history's steps as they were made (the
    // background compression held back) and with every step compressed.
    for (const FailureCase& c : cases) {
        for (const bool packed : {false, true}) {
            const std::string name = std::string(c.name) + (packed ? ", steps compressed" : ", steps as made");
            int failures = 0;
            for (int k = 1; k < 100; ++k) {
                Document doc(stepPicture(0));
                doc.holdHistoryWork(!packed);
                c.setup(doc);
                doc.waitForHistoryIdle();
                int changes = 0;
                doc.setChangedCallback([&] { ++changes; });
                const State before = capture(doc);
                TBitmap32 argument = c.argument;
                bool threw = false;
                releaseFreedBlocks();  // else a failure would only give kept blocks back
                g_failCountdown = k;
                try {
                    c.op(doc, std::move(argument));
                } catch (const std::bad_alloc&) {
                    threw = true;
                }
                g_failCountdown = 0;
                if (!threw) {
                    EXPECT_EQ(changes, 1) << name;
                    break;
                }
                ++failures;
                expectUnchanged(before, doc, name + ", allocation " + std::to_string(k));
                EXPECT_EQ(changes, 0) << name;
            }
            if (c.takes == Takes::NoBlock || (c.takes == Takes::BlocksOncePacked && !packed))
                EXPECT_EQ(failures, 0) << name << " took a pixel block";
            else
                EXPECT_GE(failures, 1) << name << " never allocated, so the case tests nothing";
        }
    }
}

// When memory runs out, the history gives back the redo steps, then its
// oldest steps, one per failure, before the work is refused.
TEST(DocumentFailures, TheHistoryGivesBackItsOldestStepsBeforeRefusing)
{
    Document doc(stepPicture(0));
    doc.holdHistoryWork(true);
    openAndApply(doc, 3);
    doc.undo();            // step 2 shown: two undo steps (1, 0), one redo step (3)
    releaseFreedBlocks();  // nothing to give back but steps
    g_failingNext = 2;     // the redo step goes, then the oldest step (0)
    doc.resizePictures(2, 2);
    EXPECT_EQ(g_failingNext, 0);
    EXPECT_EQ(doc.undoCount(), 2);
    EXPECT_EQ(doc.redoCount(), 0);
    doc.undo();
    EXPECT_EQ(stepOf(doc.displayed()), 2);
    doc.undo();
    EXPECT_EQ(stepOf(doc.displayed()), 1);
    EXPECT_FALSE(doc.canUndo());
    doc.revert();  // the opened picture was never given back
    EXPECT_EQ(stepOf(doc.displayed()), 0);

    // With nothing left to give back, the failure comes through and the
    // picture stays.
    openAndApply(doc, 1);
    releaseFreedBlocks();
    g_failingNext = 100;
    EXPECT_THROW(doc.rotate(true), std::bad_alloc);
    g_failingNext = 0;
    EXPECT_FALSE(doc.canUndo());
    EXPECT_EQ(stepOf(doc.displayed()), 1);
    EXPECT_EQ(doc.displayed().width(), 4);
}

// A block the system refuses is asked for again once the blocks kept for
// reuse have gone back: they are memory the program holds without needing it.
TEST(PixelBlocks, ARefusedBlockIsTriedAgainWithoutTheKeptBlocks)
{
    releaseFreedBlocks();
    {
        TBitmap32 kept(300, 301);  // kept when freed
    }
    ASSERT_EQ(freedBlockCounts().blocks, 1);
    g_failingNext = 1;
    const TBitmap32 other(300, 300);  // another size: the system's, refused once
    EXPECT_EQ(g_failingNext, 0);
    EXPECT_EQ(other.width(), 300);
    EXPECT_EQ(freedBlockCounts().blocks, 0);

    // With nothing kept, the refusal comes through.
    g_failingNext = 1;
    EXPECT_THROW(TBitmap32(301, 300), std::bad_alloc);
    g_failingNext = 0;
}

// Blocks kept for reuse are memory the program holds without needing it:
// they go back to the system before any step of the history does.
TEST(DocumentFailures, TheKeptBlocksGoBackBeforeAnyStep)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 3);
    releaseFreedBlocks();
    {
        TBitmap32 kept(300, 300);  // 360 KB, kept when freed
    }
    ASSERT_EQ(freedBlockCounts().blocks, 1);
    g_failingNext = 1;
    doc.resizePictures(2, 2);  // small pictures: the heap's own, never kept
    EXPECT_EQ(g_failingNext, 0);
    EXPECT_EQ(freedBlockCounts().blocks, 0);
    EXPECT_EQ(doc.undoCount(), 4);  // three effects and the new size: none given back
    EXPECT_EQ(doc.displayed().width(), 2);
}

// ---------------------------------------------------------------------------

std::string oneDecimal(double factor)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f%%", factor);
    return text;
}

TEST(DocumentZoom, StepsMultiplyTheFactorAndSizeTheControlFromIt)
{
    Document doc(stepPicture(0, 521, 346));
    for (int i = 0; i < 3; ++i)
        doc.zoomBy(1.25, oneDecimal);
    EXPECT_EQ(doc.zoomFactor(), 195.3125);
    EXPECT_EQ(doc.zoomLabel(), "195.3%");
    EXPECT_EQ(doc.controlSize(), (ControlSize{1018, 676}));  // 1017.58 and 675.78 rounded

    // Thirty-five steps out reach a factor shown as 0.0 and a control of
    // nothing; the factor never becomes 0, so zooming in comes back.
    Document small(stepPicture(0, 521, 346));
    for (int i = 0; i < 35; ++i)
        small.zoomBy(0.8, oneDecimal);
    EXPECT_LT(small.zoomFactor(), 0.05);
    EXPECT_GT(small.zoomFactor(), 0.0);
    EXPECT_EQ(small.zoomLabel(), "0.0%");
    EXPECT_EQ(small.controlSize(), (ControlSize{0, 0}));
    for (int i = 0; i < 35; ++i)
        small.zoomBy(1.25, oneDecimal);
    EXPECT_NEAR(small.zoomFactor(), 100.0, 1e-9);
    EXPECT_EQ(small.controlSize(), (ControlSize{521, 346}));
}

TEST(DocumentZoom, ZoomToSetsTheFactorItselfAndUndoKeepsTheControlOfAFittedFactor)
{
    Document doc(stepPicture(0, 521, 346));
    doc.zoomBy(1.25, oneDecimal);
    doc.zoomTo(100.0, oneDecimal);
    EXPECT_EQ(doc.zoomFactor(), 100.0);
    EXPECT_EQ(doc.zoomLabel(), "100.0%");
    EXPECT_EQ(doc.controlSize(), (ControlSize{521, 346}));

    // A fitted factor has one decimal, so undo and redo, which read the
    // label, size the control exactly as the factor did. The exact ratio
    // here, 33.36%, would be shown as 33.4% and come back from undo 3340
    // pixels wide, too wide for the area.
    doc.open(stepPicture(0, 10000, 10));
    doc.applyResult(stepPicture(1, 10000, 10), "Effect");
    const double fit = fitZoomFactor(10000, 10, 3336, 1000);
    EXPECT_EQ(fit, 33.3);
    doc.zoomTo(fit, oneDecimal);
    const ControlSize fitted = doc.controlSize();
    EXPECT_EQ(fitted, (ControlSize{3330, 3}));
    doc.undo();
    EXPECT_EQ(doc.controlSize(), fitted);
    doc.redo();
    EXPECT_EQ(doc.controlSize(), fitted);
}

// Round(side x factor / 100) for a factor in percent, as the control is sized.
int shown(int side, double factor)
{
    return int(std::nearbyint(side * factor / 100));
}

TEST(DocumentZoom, FitIsTheLargestTenthOfAPercentThatShowsTheWholePicture)
{
    // Whichever side limits the fit, the picture fits and one tenth more
    // would not.
    const struct {
        int width, height, areaWidth, areaHeight;
    } cases[] = {{521, 346, 524, 331}, {521, 346, 300, 1000}, {3000, 2000, 524, 331}, {40, 30, 524, 331},
                 {1, 1, 524, 331},     {7, 1000, 524, 331},   {1000, 7, 524, 331},    {4000, 4000, 7, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.areaWidth << "x" << c.areaHeight);
        const double f = fitZoomFactor(c.width, c.height, c.areaWidth, c.areaHeight);
        EXPECT_EQ(f * 10, std::nearbyint(f * 10));  // tenths
        EXPECT_LE(shown(c.width, f), c.areaWidth);
        EXPECT_LE(shown(c.height, f), c.areaHeight);
        const double more = (f * 10 + 1) / 10;
        EXPECT_TRUE(shown(c.width, more) > c.areaWidth || shown(c.height, more) > c.areaHeight);
    }
    // 331 / 346 = 95.66...%, yet the control is a whole number of pixels:
    // 95.8% gives 331.47, still 331 high; 95.9% gives 331.81, 332.
    EXPECT_EQ(fitZoomFactor(521, 346, 524, 331), 95.8);
    // A small picture is enlarged: 40 x 30 by 1104.9% is 442 x 331 (331.47);
    // 1105.0% would be 331.5, rounded to 332 (halves to even).
    EXPECT_EQ(fitZoomFactor(40, 30, 524, 331), 1104.9);
}

TEST(DocumentZoom, FitNeverGoesBelowATenthOfAPercent)
{
    // Too big even at 0.1%, or no area at all: 0.1%, from which zooming in
    // still works (a factor of 0 could never come back).
    EXPECT_EQ(fitZoomFactor(100000, 100000, 20, 20), 0.1);
    EXPECT_EQ(fitZoomFactor(5000, 5000, 0, 0), 0.1);
}

TEST(DocumentRotate, TurnsBothPicturesAndRestartsTheHistory)
{
    Document doc(stepPicture(0));
    doc.open(stepPicture(0, 5, 3));
    doc.applyResult(stepPicture(1, 5, 3), "Effect");
    doc.zoomBy(2.0, oneDecimal);
    const TBitmap32 displayed = doc.displayed();
    const TBitmap32 source = doc.source();
    doc.rotate(true);
    EXPECT_EQ(doc.displayed(), rotateClockwise(displayed));
    EXPECT_EQ(doc.source(), rotateClockwise(source));
    EXPECT_EQ(doc.controlSize(), (ControlSize{6, 10}));
    EXPECT_FALSE(doc.canUndo());
    EXPECT_FALSE(doc.canRedo());
    EXPECT_EQ(doc.snapshot(1), doc.displayed());
    EXPECT_EQ(doc.label(), "Effect");
    doc.rotate(false);
    EXPECT_EQ(doc.displayed(), displayed);
    EXPECT_EQ(doc.opened(), stepPicture(0, 5, 3));  // revert brings back the unturned picture
}

TEST(DocumentRotate, TheTurnAndTheNewSizeAreComputedThroughTheLongWorkRunner)
{
    // The runner sees the computing, and nothing has changed while it runs:
    // the commit comes after, on the calling thread.
    Document doc(stepPicture(0));
    doc.open(stepPicture(0, 5, 3));
    int runs = 0;
    doc.setLongWorkRunner([&](const std::function<void()>& compute, Document::LongWork) {
        ++runs;
        const TBitmap32 before = doc.displayed();
        std::thread worker(compute);
        worker.join();
        EXPECT_EQ(doc.displayed(), before);
    });
    doc.rotate(true);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(doc.displayed(), rotateClockwise(stepPicture(0, 5, 3)));
    doc.resizePictures(6, 10);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(doc.displayed().width(), 6);
    EXPECT_EQ(doc.undoCount(), 1);
}

TEST(DocumentResize, TheTypedSizeIsExactForEverySizeAndUndoable)
{
    // Factor times size must land on the typed size even where the floating
    // point product falls just below it, for the source as much as for the
    // displayed picture.
    for (int w = 1; w <= 40; ++w)
        for (int typed = 1; typed <= 60; ++typed) {
            Document doc(stepPicture(0, w, 3));
            doc.resizePictures(typed, 3);
            ASSERT_EQ(doc.displayed().width(), typed) << w << " -> " << typed;
            ASSERT_EQ(doc.source().width(), typed) << w << " -> " << typed;
        }

    Document doc(stepPicture(0, 10, 10));
    doc.resizePictures(7, 4);
    EXPECT_EQ(doc.displayed(), stretchTo(stepPicture(0, 10, 10), 7, 4));
    EXPECT_EQ(doc.undoCount(), 1);
    EXPECT_EQ(doc.opened().width(), 10);
    doc.undo();
    EXPECT_EQ(doc.displayed().width(), 10);
    EXPECT_EQ(doc.source(), stretchTo(stretchTo(stepPicture(0, 10, 10), 7, 4), 10, 10));
}

TEST(DocumentResize, ASourceOfAnotherSizeFollowsByTheSameFactors)
{
    Document doc(stepPicture(0, 10, 10));
    doc.applyResult(stepPicture(1, 20, 10), "Wide");  // displayed 20 x 10, source still 10 x 10
    doc.resizePictures(7, 5);                         // factors 0.35 and 0.5
    EXPECT_EQ(doc.displayed().width(), 7);
    EXPECT_EQ(doc.source().width(), 3);  // Trunc(3.5)
    EXPECT_EQ(doc.source().height(), 5);
}

// ---------------------------------------------------------------------------

TEST(DocumentApplyEffect, RunsOnTheSourceAndCommitsWithTheEffectsLabelAndFlag)
{
    Document doc(stepPicture(0));
    openAndApply(doc, 1);  // the displayed picture is no longer the source
    EffectDeclaration effect;
    effect.historyLabel = "Inverted";
    effect.thickAndThin = ThickAndThin::SetOnApply;
    effect.params = {{.key = "value", .kind = ParamKind::Number, .min = 0, .max = 255}};
    effect.algorithm = [](const TBitmap32& p, const EffectValues& v, EffectContext& state) {
        state.random.draw(2);
        TBitmap32 r = p;
        r.ScanLine(0)[0] = std::uint8_t(v.get("value"));
        return r;
    };
    ParamValues v;
    v.set("value", 77);
    doc.applyEffect(effect, v);
    TBitmap32 expected = doc.source();
    expected.ScanLine(0)[0] = 77;
    EXPECT_EQ(doc.displayed(), expected);
    EXPECT_EQ(doc.label(), "Inverted");
    EXPECT_EQ(doc.undoCount(), 2);
    EXPECT_TRUE(doc.thickAndThin());
    EXPECT_NE(doc.effectContext().random, BrumeRandom());  // the effect's state moved on with the commit

    // No label keeps the last one; a clearing effect clears the flag.
    effect.historyLabel.reset();
    effect.thickAndThin = ThickAndThin::ClearOnShowAndApply;
    doc.applyEffect(effect, v);
    EXPECT_EQ(doc.label(), "Inverted");
    EXPECT_FALSE(doc.thickAndThin());

    effect.thickAndThin = ThickAndThin::SetOnApply;
    // An effect that fails changes nothing, its state included.
    effect.algorithm = [](const TBitmap32&, const EffectValues&, EffectContext& state) -> TBitmap32 {
        state.random.draw(2);
        throw ScanLineError();
    };
    const State before = capture(doc);
    const BrumeRandom random = doc.effectContext().random;
    EXPECT_THROW(doc.applyEffect(effect, v), ScanLineError);
    expectUnchanged(before, doc, "a failed effect");
    EXPECT_EQ(doc.effectContext().random, random);
}

TEST(DocumentCallback, IsCalledOnceForEachChangeAndNeverForNothing)
{
    Document doc(stepPicture(0));
    int changes = 0;
    doc.setChangedCallback([&] { ++changes; });
    const auto calls = [&](const std::function<void()>& op) {
        const int before = changes;
        op();
        return changes - before;
    };

    EXPECT_EQ(calls([&] { doc.undo(); }), 0);
    EXPECT_EQ(calls([&] { doc.redo(); }), 0);
    EXPECT_EQ(calls([&] { doc.open(stepPicture(1)); }), 1);
    EXPECT_EQ(calls([&] { doc.applyResult(stepPicture(2), std::nullopt); }), 1);
    EXPECT_EQ(doc.label(), "New picture") << "a result without a label keeps the label";
    EXPECT_EQ(calls([&] { doc.backup(); }), 1);
    EXPECT_EQ(calls([&] { doc.undo(); }), 1);
    EXPECT_EQ(calls([&] { doc.redo(); }), 1);
    EXPECT_EQ(calls([&] { doc.resetHistory(); }), 1);
    EXPECT_EQ(calls([&] { doc.revert(); }), 1);
    EXPECT_EQ(calls([&] { doc.setLabel("Emboss"); }), 1);
    EXPECT_EQ(calls([&] { doc.setLabel("Emboss"); }), 0);
    EXPECT_EQ(calls([&] { doc.setZoom(80.0, "80.0%"); }), 1);
    EXPECT_EQ(calls([&] { doc.setControlSize({3, 2}); }), 1);
    EXPECT_EQ(calls([&] { doc.setOpenDialog(EffectDialogId(15)); }), 1);
    EXPECT_EQ(doc.openDialog(), EffectDialogId(15));
    EXPECT_EQ(calls([&] { doc.setThickAndThin(true); }), 1);
    EXPECT_EQ(calls([&] { doc.setThickAndThin(true); }), 0);

    doc.setZoom(80.0, "?%");
    doc.backup();
    EXPECT_EQ(calls([&] { EXPECT_THROW(doc.undo(), PlumoraError); }), 0);
}

// ---------------------------------------------------------------------------
// Unsaved changes: what the program asks about before a picture is dropped.

TEST(DocumentModified, EveryKindOfStepMarksThePictureChangedAndOpeningOrSavingClearsIt)
{
    Document doc(stepPicture(0, 6, 4));
    EXPECT_FALSE(doc.modified());  // the built-in picture
    const std::vector<std::pair<const char*, std::function<void(Document&)>>> steps = {
        {"effect", [](Document& d) { d.applyResult(stepPicture(1, 6, 4), "One"); }},
        {"backup", [](Document& d) { d.backup(); }},
        {"quarter turn", [](Document& d) { d.rotate(true); }},
        {"image size", [](Document& d) { d.resizePictures(3, 2); }},
    };
    for (const auto& [what, step] : steps) {
        doc.open(stepPicture(2, 6, 4));
        EXPECT_FALSE(doc.modified()) << what;
        step(doc);
        EXPECT_TRUE(doc.modified()) << what;
        doc.markSaved();
        EXPECT_FALSE(doc.modified()) << what;
    }
    // Undo and redo change what would be saved, even back to a saved step.
    doc.open(stepPicture(2, 6, 4));
    doc.applyResult(stepPicture(3, 6, 4), "Three");
    doc.markSaved();
    doc.undo();
    EXPECT_TRUE(doc.modified());
    doc.markSaved();
    doc.redo();
    EXPECT_TRUE(doc.modified());
}

TEST(DocumentModified, RevertIsAChangeOnlyWhenSomethingWasSavedSinceOpening)
{
    Document doc(stepPicture(0, 6, 4));
    doc.open(stepPicture(2, 6, 4));
    doc.applyResult(stepPicture(3, 6, 4), "Three");
    doc.revert();
    EXPECT_FALSE(doc.modified());  // the opened file holds what is shown

    doc.applyResult(stepPicture(3, 6, 4), "Three");
    doc.markSaved();
    doc.revert();
    EXPECT_TRUE(doc.modified());  // the file saved last holds step 3
}

TEST(DocumentModified, ChangingTheMarkIsToldToTheView)
{
    Document doc(stepPicture(0, 6, 4));
    doc.applyResult(stepPicture(1, 6, 4), "One");
    int told = 0;
    doc.setChangedCallback([&] { ++told; });
    doc.markSaved();
    EXPECT_EQ(told, 1);
}

}  // namespace
}  // namespace plumora
