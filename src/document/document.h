#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "document/picture_store.h"
#include "document/recipe.h"
#include "effects/effects.h"
#include "raster/bitmap32.h"

namespace plumora {

// The number of the open effect window: None when no effect window is open,
// otherwise the window's number, 1 and up. The desktop program numbers its
// windows; the document only keeps the number, as the program's protocol
// has it.
enum class EffectDialogId : int { None = 0 };

// The size the picture control is given on screen (the picture is stretched
// into it). It follows the zoom when a picture is opened, reverted, undone or
// redone, and keeps its size when an effect replaces the picture.
struct ControlSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const ControlSize&, const ControlSize&) = default;
};

// The zoom factor, in percent, that shows the whole of a width x height
// picture in an area of areaWidth x areaHeight: the largest factor in tenths
// of a percent for which Round(side x factor / 100) fits on both sides. Tenths,
// because the zoom label shows one decimal and undo and redo size the control
// from that label: a factor with more decimals would come back from them a
// little larger or smaller than it went. Never below 0.1, so that zooming in
// afterwards still works and something of the picture shows however small the
// area (a picture too big for an area even at 0.1% then shows in part).
double fitZoomFactor(int width, int height, int areaWidth, int areaHeight);

// The one open picture and everything that belongs to it, without any
// toolkit: the displayed picture (what the user sees and saves, what effects
// write), the source picture (what effects read), the opened picture (for
// revert), the last-operation label, the zoom, the undo/redo history, the
// open-dialog number and the thick-and-thin flag.
//
// Every operation computes what it needs first and changes the document only
// when nothing can fail any more: an operation that throws leaves the
// document exactly as it was.
//
// The pictures are shared blocks that never change once made (see
// PictureStore): opening, an effect's result or a history step takes no copy,
// and a thread of the document's own compresses the history steps in the
// background, so that twenty steps of a large picture fit in memory. Undo
// brings back exactly the pixels of the step.
class Document {
public:
    static constexpr int kSnapshots = 21;  // history ring, numbered 1..21
    static constexpr int kMaxSteps = 20;   // undo count + redo count never exceed this

    // Starts with the built-in picture: it is displayed as it is, while the
    // source, opened and first history pictures are its opaque copy.
    // storage: how much of the packed history stays in memory, and where
    // the rest goes (see PictureStore).
    explicit Document(const TBitmap32& builtInPicture, HistoryStorage storage = {});

    const TBitmap32& displayed() const { return *m_pictures.displayed(); }
    const TBitmap32& source() const { return *m_pictures.source(); }
    // A copy of the opened picture, which the document may hold compressed.
    TBitmap32 opened() const;

    // The last-operation label under the picture ("New picture" at start).
    const std::string& label() const { return m_label; }
    void setLabel(std::string text);

    // Zoom factor in percent (100 at start) and the zoom label's text ("100%"
    // at start; one decimal after a zoom step).
    double zoomFactor() const { return m_zoomFactor; }
    const std::string& zoomLabel() const { return m_zoomLabel; }
    void setZoom(double factor, std::string labelText);

    ControlSize controlSize() const { return m_controlSize; }
    void setControlSize(ControlSize size);

    // Opens a picture (already opaque): it becomes the displayed, source and
    // opened picture, the history restarts from it and the control takes
    // Round(size x zoom / 100). The label is left alone.
    void open(TBitmap32 picture);

    // Back to the picture as opened: both pictures, control size, history
    // restarted. The label is left alone.
    void revert();

    // Records the displayed picture as a new history step, dropping every
    // redo step (and, after 20 steps, the oldest one).
    void backup();

    // One step back or forward. Each sizes the control from the zoom label's
    // text (one decimal), resamples the source picture to the restored
    // picture's size when their widths differ, and writes "Undo" / "Redo"
    // into the label. Nothing happens when there is no step to take.
    void undo();
    void redo();

    // Restarts the history from the displayed picture.
    void resetHistory();

    // Multiplies the zoom factor, gives the zoom label the text labelFor
    // makes of the new factor, and sizes the control to
    // Round(picture size x factor / 100); its place does not change.
    void zoomBy(double multiplier, const std::function<std::string(double)>& labelFor);
    // The same with the factor itself given ("Actual size", "Fit to window").
    void zoomTo(double factor, const std::function<std::string(double)>& labelFor);

    // A quarter turn of both pictures; the control follows the zoom and the
    // history restarts. The opened picture stays as it was opened.
    void rotate(bool clockwise);

    // Stretches the displayed picture to exactly width x height and the
    // source picture by the same factors, sizes the control by the zoom and
    // records the step with backup. The opened picture keeps its size.
    // proportionsHeld: the size was asked for with the proportions held,
    // which the recipe keeps as a scale when the height follows the width.
    void resizePictures(int width, int height, bool proportionsHeld = false);

    // Runs work that makes new pictures (an effect, a turn, a resize). When
    // memory runs out, memory is given back before the failure is let
    // through: first the freed blocks kept for reuse, then from the history
    // the redo steps (the new step would drop them
    // anyway), then the oldest undo steps one at a time, trying the work
    // again after each. The opened picture stays, so revert still works.
    void givingBackHistory(const std::function<void()>& work);

    // The common end of every effect: the result replaces the displayed
    // picture, the label takes the effect's text when it has one, and the
    // step is recorded with backup. made: the effect and values that made
    // it, for the recipe (with no effect: the base picture as it was, the
    // source, or with forCurrent the displayed picture); without it the
    // picture was made by hand, which no recipe can repeat.
    void applyResult(TBitmap32 result, std::optional<std::string> label, std::optional<RecipeEffect> made = {});

    // What an effect dialog's apply button does: runs the effect on the
    // source picture, commits the result with the effect's history label,
    // and sets or clears the thick-and-thin flag as the effect says. What
    // the effect keeps between runs (brume's generator) moves on only when
    // the result is committed.
    void applyEffect(const EffectDeclaration& effect, const ParamValues& values);
    // The same in two steps, so the computing can run on another thread:
    // runEffect only reads the document (the source picture and what the
    // effects keep), and commitEffect does what applyEffect does with it.
    struct EffectRun {
        TBitmap32 result;
        EffectContext state;
        std::optional<std::string> label;
        ThickAndThin thickAndThin = ThickAndThin::Unchanged;
        RecipeEffect made;  // for the recipe
    };
    EffectRun runEffect(const EffectDeclaration& effect, const ParamValues& values) const;
    void commitEffect(EffectRun run);
    // An effect's run made ready to compute later on any thread without
    // reading the document again: it holds the source picture and what the
    // effects keep as they are when it is made (the live preview computes
    // while the user goes on working). It must not outlive the document.
    struct EffectJob {
        const EffectDeclaration* effect = nullptr;
        ParamValues values;
        PictureBlock source;
        EffectContext state;
        std::uint64_t version = 0;  // pictureVersion() when it was made
    };
    EffectJob prepareEffect(const EffectDeclaration& effect, const ParamValues& values) const;
    // Computes the job: what runEffect gives when the document is still at
    // the job's version. Touches nothing of the document.
    EffectRun runPrepared(const EffectJob& job) const;
    // Moves on whenever something an effect reads or a commit replaces
    // changes: the pictures, the history, what the effects keep. Zooming and
    // the labels leave it alone.
    std::uint64_t pictureVersion() const { return m_pictureVersion; }
    const EffectContext& effectContext() const { return m_effectContext; }
    // Where effects find the pictures they ask for (texture tiles, files).
    void setPictureSources(std::function<TBitmap32(int)> builtInTile,
                           std::function<TBitmap32(const std::string&)> readPicture);

    // The operations that made the displayed picture from the opened one,
    // as far as the picture still depends on them (an effect replaces the
    // effects before it), following undo and redo. When the picture was
    // coloured by hand, recipe() is what came before and after, and
    // repeatableRecipe() refuses: "The picture was coloured by hand; a
    // recipe cannot repeat that."
    const Recipe& recipe() const { return m_recipes[std::size_t(m_current - 1)].recipe; }
    bool colouredByHand() const { return m_recipes[std::size_t(m_current - 1)].byHand; }
    const Recipe& repeatableRecipe() const;

    // History state.
    int currentIndex() const { return m_current; }
    int undoCount() const { return m_undoCount; }
    int redoCount() const { return m_redoCount; }
    bool canUndo() const { return m_undoCount > 0; }
    bool canRedo() const { return m_redoCount > 0; }
    // A copy of snapshot 1..21 as undo or redo would restore it; empty
    // until first used and once no undo or redo can reach it any more. For
    // tests and diagnostics.
    TBitmap32 snapshot(int index) const;
    // How many snapshots have ever held a picture.
    int allocatedSnapshots() const;

    // Bytes held by the pictures and the history, each shared block once.
    std::size_t historyBytes() const { return m_pictures.memory().total(); }
    PictureMemory historyMemory() const { return m_pictures.memory(); }
    // The history's memory budget and folder; a new one applies from the
    // next step the background thread looks at on.
    void setHistoryStorage(HistoryStorage storage) { m_pictures.setStorage(std::move(storage)); }
    HistoryStorage historyStorage() const { return m_pictures.storage(); }
    // The file the history's steps beyond the budget went to, if any.
    std::filesystem::path historyFile() const { return m_pictures.filePath(); }
    // Returns once the background compression has nothing left to do, so
    // that tests and benchmarks do not depend on timing.
    void waitForHistoryIdle() { m_pictures.waitUntilIdle(); }
    // For tests: while held, the background compression starts on no new
    // picture, so that steps stay as they were made.
    void holdHistoryWork(bool held) { m_pictures.hold(held); }

    // Whether the displayed picture differs from the file it was opened from
    // or last saved to: any step since (an effect, a turn, a new size, undo,
    // redo, freehand colouring) counts, even one undone again. Revert is a
    // change only when something was saved since the opening, as the file
    // opened then holds the picture revert brings back.
    bool modified() const { return m_modified; }
    // The displayed picture was written to a file.
    void markSaved();

    // Which effect dialog is open (None when none is).
    EffectDialogId openDialog() const { return m_openDialog; }
    void setOpenDialog(EffectDialogId id);

    // Set by the pen sketch, Dozadir and pen and ink results, cleared by the
    // pencil sketch; read by the freehand colouring.
    bool thickAndThin() const { return m_thickAndThin; }
    void setThickAndThin(bool on);

    // How the computing part of a long operation (a quarter turn, a new
    // size, unpacking an undo or redo step) is run: by default in place; the
    // desktop program runs it on a thread of its own while its windows keep
    // painting, and the document commits the result afterwards on the
    // calling thread. ToTheEnd work must not be stopped halfway: an undo may
    // write into the displayed picture's own block (which a view must then
    // not paint from until the step is committed).
    enum class LongWork { Cancellable, ToTheEnd };
    using LongWorkRunner = std::function<void(const std::function<void()>&, LongWork)>;
    void setLongWorkRunner(LongWorkRunner runner);

    // Called after every change of what the document shows (pictures,
    // labels, zoom, control size, history), so a view can refresh itself.
    void setChangedCallback(std::function<void()> callback);

private:
    // Restores snapshot index as the displayed picture, moving undoDelta steps
    // from the redo side to the undo side (or back), and writes text into the label.
    void restore(int index, int undoDelta, const char* text);
    // The block that brings back what restoring describes: its own, the
    // displayed picture's to be overwritten, or a new one unpacked.
    PictureBlock restoredBlock(const PictureStore::Restoring& restoring) const;
    // What the recipe of a history step holds.
    struct RecipeState {
        Recipe recipe;
        bool byHand = false;
    };
    // The current step's recipe with one more operation; made before
    // anything changes, as it allocates.
    RecipeState recipeWith(RecipeStep step) const;
    RecipeState recipeByHand() const;

    // Records block as a new step after the current one (dropping the redo
    // steps), together with whatever else the change holds and the recipe
    // of the new step (by default the current one's).
    void commitStep(PictureStore::Change change, PictureBlock block, RecipeState recipe) noexcept;
    // Restarts the history from block, together with whatever else the
    // change holds, with the given recipe.
    void commitRestart(PictureStore::Change change, PictureBlock block, RecipeState recipe) noexcept;
    // Drops the redo steps, or else the oldest undo step, and waits until
    // their memory is back. False when there was no step to drop.
    bool giveBackStep();
    void notifyChanged();

    std::string m_label = "New picture";
    double m_zoomFactor = 100.0;
    std::string m_zoomLabel = "100%";
    ControlSize m_controlSize;

    int m_current = 1;
    std::uint64_t m_pictureVersion = 0;
    std::array<RecipeState, kSnapshots> m_recipes;  // by history step
    int m_undoCount = 0;
    int m_redoCount = 0;

    EffectDialogId m_openDialog = EffectDialogId::None;
    bool m_thickAndThin = false;
    bool m_modified = false;
    bool m_savedSinceOpen = false;
    EffectContext m_effectContext;
    std::function<void()> m_changed;
    PictureStore m_pictures;
    LongWorkRunner m_runLong;
    void runLong(const std::function<void()>& compute, LongWork kind = LongWork::Cancellable) const;
};

}  // namespace plumora
