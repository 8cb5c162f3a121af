#include "document/document.h"

#include "effects/effects.h"
#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/rounding.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <utility>

namespace plumora {

namespace {

int nextIndex(int index)
{
    return index == Document::kSnapshots ? 1 : index + 1;
}

int previousIndex(int index)
{
    return index == 1 ? Document::kSnapshots : index - 1;
}

// Round(length x percent / 100), kept within what a control size can hold: a
// zoom label of 0.0% gives 0, and no zoom has an upper limit.
int scaledLength(int length, double percent)
{
    const double scaled = length * percent / 100;
    if (!(scaled > 0))
        return 0;
    if (scaled >= double(INT_MAX))
        return INT_MAX;
    return int(Round(scaled));
}

// The zoom label reads the factor with one decimal and a percent sign, written
// with the user's decimal separator: "195.3%", or "195,3%" in many locales.
// The separator is whichever of '.' and ',' comes last; the other one, if the
// locale grouped the thousands with it, is dropped.
double zoomFromLabel(const std::string& label)
{
    const std::string text = label.empty() ? label : label.substr(0, label.size() - 1);
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    const std::string trimmed = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);

    const std::size_t decimal = trimmed.find_last_of(".,");
    std::string number;
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        if (i == decimal)
            number += '.';
        else if (decimal != std::string::npos && (c == '.' || c == ',') && c != trimmed[decimal])
            continue;
        else
            number += c;
    }
    const char* begin = number.data();
    const char* end = number.data() + number.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end || !std::isfinite(value))
        throw PlumoraError("'" + text + "' is not a valid floating point value");
    return value;
}

}  // namespace

double fitZoomFactor(int width, int height, int areaWidth, int areaHeight)
{
    const auto fits = [&](long long tenths) {
        const double factor = double(tenths) / 10;
        return scaledLength(width, factor) <= areaWidth && scaledLength(height, factor) <= areaHeight;
    };
    if (width <= 0 || height <= 0)
        return 100.0;  // nothing to fit: the actual size
    // The exact ratio gives a factor that fits or is one tenth too many (the
    // product can land a hair above the whole number); Round then lets it go
    // up to half a pixel beyond the ratio, a few tenths more for a small
    // picture: both sides are walked from there, each a bounded number of
    // steps, as the picture is at least one pixel and the area an int.
    const double ratio = std::min(double(std::max(areaWidth, 0)) / width, double(std::max(areaHeight, 0)) / height);
    long long tenths = std::max(1LL, (long long)std::floor(ratio * 1000));
    while (tenths > 1 && !fits(tenths))
        --tenths;
    while (fits(tenths + 1))
        ++tenths;
    return double(tenths) / 10;
}

static_assert(Document::kSnapshots == PictureStore::kSnapshots);

namespace {

// The built-in picture comes from a 24-bit file, so its fourth bytes say
// nothing; everything effects read or the history restores is opaque, while
// the screen keeps the picture exactly as stored until it is replaced.
PictureBlock opaqueCopy(const TBitmap32& picture)
{
    TBitmap32 opaque(picture);
    FillAlpha(opaque, 255);
    return makeBlock(std::move(opaque));
}

}  // namespace

Document::Document(const TBitmap32& builtInPicture, HistoryStorage storage)
    : m_controlSize{builtInPicture.width(), builtInPicture.height()},
      m_pictures(makeBlock(builtInPicture), opaqueCopy(builtInPicture), std::move(storage))
{}

void Document::setLabel(std::string text)
{
    if (text == m_label)
        return;
    m_label = std::move(text);
    notifyChanged();
}

void Document::setZoom(double factor, std::string labelText)
{
    if (factor == m_zoomFactor && labelText == m_zoomLabel)
        return;
    m_zoomFactor = factor;
    m_zoomLabel = std::move(labelText);
    notifyChanged();
}

void Document::setControlSize(ControlSize size)
{
    if (size == m_controlSize)
        return;
    m_controlSize = size;
    notifyChanged();
}

void Document::open(TBitmap32 picture)
{
    const ControlSize size{scaledLength(picture.width(), m_zoomFactor), scaledLength(picture.height(), m_zoomFactor)};
    // The picture is moved in, not copied: the displayed, source and opened
    // pictures and the first step are one block.
    PictureBlock block = makeBlock(std::move(picture));

    commitRestart({.displayed = block, .source = block, .opened = block}, block, {});
    m_controlSize = size;
    m_modified = false;
    m_savedSinceOpen = false;
    notifyChanged();
}

PictureBlock Document::restoredBlock(const PictureStore::Restoring& restoring) const
{
    if (restoring.block)
        return restoring.block;
    if (restoring.intoDisplayed)
        return m_pictures.displayed();
    return makeBlock(restoring.packed->unpack());
}

void Document::revert()
{
    const PictureStore::ForegroundWork busy(m_pictures);
    const PictureStore::Restoring restoring = m_pictures.restoring(PictureStore::kOpenedIndex);
    const ControlSize size{scaledLength(restoring.width(), m_zoomFactor),
                           scaledLength(restoring.height(), m_zoomFactor)};
    PictureBlock opened = restoredBlock(restoring);

    commitRestart({.unpackIntoDisplayed = restoring.intoDisplayed ? restoring.packed.get() : nullptr,
                   .displayed = opened,
                   .source = opened,
                   .opened = opened,
                   .openedFresh = false},
                  opened, {});
    m_controlSize = size;
    m_modified = m_savedSinceOpen;
    notifyChanged();
}

void Document::zoomBy(double multiplier, const std::function<std::string(double)>& labelFor)
{
    // The factor has always been multiplied in extended precision and then
    // stored as a double; doing the same keeps every label and control size
    // it ever gave.
    zoomTo(double(static_cast<long double>(m_zoomFactor) * static_cast<long double>(multiplier)), labelFor);
}

void Document::zoomTo(double factor, const std::function<std::string(double)>& labelFor)
{
    std::string label = labelFor(factor);
    const ControlSize size{scaledLength(displayed().width(), factor), scaledLength(displayed().height(), factor)};
    m_zoomFactor = factor;
    m_zoomLabel = std::move(label);
    m_controlSize = size;
    notifyChanged();
}

void Document::rotate(bool clockwise)
{
    RecipeState recipe = recipeWith(RecipeTurn{clockwise});
    const auto turn = [clockwise](const TBitmap32& p) {
        return makeBlock(clockwise ? rotateClockwise(p) : rotateAnticlockwise(p));
    };
    PictureBlock displayed, source;
    givingBackHistory([&] {
        runLong([&] {
            const PictureStore::ForegroundWork busy(m_pictures);
            displayed = turn(this->displayed());
            // One block for both turns the pixels once.
            source = m_pictures.source() == m_pictures.displayed() ? displayed : turn(this->source());
        });
    });
    const ControlSize size{scaledLength(displayed->width(), m_zoomFactor),
                           scaledLength(displayed->height(), m_zoomFactor)};

    commitRestart({.displayed = displayed, .source = std::move(source)}, displayed, std::move(recipe));
    m_controlSize = size;
    m_modified = true;
    notifyChanged();
}

void Document::resizePictures(int width, int height, bool proportionsHeld)
{
    const TBitmap32& current = displayed();
    const TBitmap32& from = source();
    const double fx = double(width) / current.width();
    const double fy = double(height) / current.height();
    // Held proportions are a scale in the recipe, so another picture keeps
    // its own; only when the height is what the scale gives it back, or the
    // recipe would give another picture than this one.
    RecipeResize step{width, height, std::nullopt};
    if (proportionsHeld && Round(double(width) * current.height() / current.width()) == height)
        step.scale = fx;
    RecipeState recipe = recipeWith(step);
    PictureBlock displayed, source;
    givingBackHistory([&] {
        runLong([&] {
            const PictureStore::ForegroundWork busy(m_pictures);
            displayed = makeBlock(stretchTo(current, width, height));
            // The source follows by the same factors; normally it has the
            // displayed picture's size and so becomes exactly width x height too
            // (and when it is the displayed picture's very block, it is that
            // same stretch).
            if (m_pictures.source() == m_pictures.displayed())
                source = displayed;
            else if (from.width() == current.width() && from.height() == current.height())
                source = makeBlock(stretchTo(from, width, height));
            else
                source = makeBlock(stretchTo(from, stretchedSide(from.width(), fx), stretchedSide(from.height(), fy)));
        });
    });
    const ControlSize size{scaledLength(width, m_zoomFactor), scaledLength(height, m_zoomFactor)};

    commitStep({.displayed = displayed, .source = std::move(source)}, displayed, std::move(recipe));
    m_controlSize = size;
    notifyChanged();
}

void Document::setLongWorkRunner(LongWorkRunner runner)
{
    m_runLong = std::move(runner);
}

void Document::runLong(const std::function<void()>& compute, LongWork kind) const
{
    if (m_runLong)
        m_runLong(compute, kind);
    else
        compute();
}

Document::RecipeState Document::recipeWith(RecipeStep step) const
{
    RecipeState next = m_recipes[std::size_t(m_current - 1)];
    if (const auto* effect = std::get_if<RecipeEffect>(&step); effect && !effect->forCurrent) {
        // An effect reads the source picture: what the displayed picture
        // held before (effects, colouring by hand) no longer counts. Turns
        // and new sizes stay, as they made the source what it is.
        std::erase_if(next.recipe.steps, [](const RecipeStep& s) { return std::holds_alternative<RecipeEffect>(s); });
        next.byHand = false;
    }
    // A window's "OK" with nothing chosen hands back its base picture.
    if (const auto* effect = std::get_if<RecipeEffect>(&step); effect && !effect->effect)
        return next;
    next.recipe.steps.push_back(std::move(step));
    return next;
}

Document::RecipeState Document::recipeByHand() const
{
    RecipeState next = m_recipes[std::size_t(m_current - 1)];
    next.byHand = true;
    return next;
}

const Recipe& Document::repeatableRecipe() const
{
    if (colouredByHand())
        throw RecipeError("The picture was coloured by hand; a recipe cannot repeat that.");
    return recipe();
}

void Document::commitStep(PictureStore::Change change, PictureBlock block, RecipeState recipe) noexcept
{
    const int index = nextIndex(m_current);
    const int undoCount = std::min(m_undoCount + 1, kMaxSteps);
    change.snapshotIndex = index;
    change.snapshot = std::move(block);
    change.current = index;
    change.undoCount = undoCount;
    change.redoCount = 0;
    change.newStep = true;
    // Fewer undo steps when the history's file failed and the oldest went.
    const int kept = m_pictures.commit(std::move(change));
    ++m_pictureVersion;
    m_recipes[std::size_t(index - 1)] = std::move(recipe);
    m_current = index;
    m_undoCount = kept;
    m_redoCount = 0;
    m_modified = true;
}

void Document::commitRestart(PictureStore::Change change, PictureBlock block, RecipeState recipe) noexcept
{
    change.snapshotIndex = 1;
    change.snapshot = std::move(block);
    change.current = 1;
    change.undoCount = 0;
    change.redoCount = 0;
    m_pictures.commit(std::move(change));
    ++m_pictureVersion;
    m_recipes[0] = std::move(recipe);
    m_current = 1;
    m_undoCount = 0;
    m_redoCount = 0;
}

void Document::givingBackHistory(const std::function<void()>& work)
{
    for (;;) {
        try {
            work();
            return;
        } catch (const std::bad_alloc&) {
            // The freed blocks kept for reuse go back before any step does.
            if (releaseFreedBlocks() == 0 && !giveBackStep())
                throw;
        }
    }
}

bool Document::giveBackStep()
{
    int undoCount = m_undoCount;
    int redoCount = m_redoCount;
    if (redoCount > 0)
        redoCount = 0;
    else if (undoCount > 0)
        --undoCount;
    else
        return false;
    // The ring position stays; the steps no longer reachable are emptied.
    m_pictures.commit({.current = m_current, .undoCount = undoCount, .redoCount = redoCount});
    m_undoCount = undoCount;
    m_redoCount = redoCount;
    // The background thread frees what the change let go of (and stops
    // packing a step that went): the next try needs that memory back.
    m_pictures.waitUntilIdle();
    notifyChanged();
    return true;
}

void Document::backup()
{
    commitStep({}, m_pictures.displayed(), m_recipes[std::size_t(m_current - 1)]);
    notifyChanged();
}

void Document::applyResult(TBitmap32 result, std::optional<std::string> label, std::optional<RecipeEffect> made)
{
    RecipeState recipe = made ? recipeWith(std::move(*made)) : recipeByHand();
    // The result becomes the displayed picture and the new step as it is:
    // no copy, the history compresses it later in the background.
    PictureBlock block = makeBlock(std::move(result));

    commitStep({.displayed = block}, block, std::move(recipe));
    if (label)
        m_label = std::move(*label);
    notifyChanged();
}

void Document::applyEffect(const EffectDeclaration& effect, const ParamValues& values)
{
    commitEffect(runEffect(effect, values));
}

Document::EffectRun Document::runEffect(const EffectDeclaration& effect, const ParamValues& values) const
{
    return runPrepared(prepareEffect(effect, values));
}

Document::EffectJob Document::prepareEffect(const EffectDeclaration& effect, const ParamValues& values) const
{
    return {&effect, values, m_pictures.source(), m_effectContext, m_pictureVersion};
}

Document::EffectRun Document::runPrepared(const EffectJob& job) const
{
    EffectRun run{TBitmap32(), job.state, job.effect->labelFor(job.values), job.effect->thickAndThin,
                  RecipeEffect{job.effect, job.values, false}};
    // The history's compression waits while the effect runs on every core.
    const PictureStore::ForegroundWork busy(m_pictures);
    run.result = job.effect->apply(*job.source, job.values, run.state);
    return run;
}

void Document::commitEffect(EffectRun run)
{
    applyResult(std::move(run.result), std::move(run.label), std::move(run.made));
    m_effectContext = std::move(run.state);
    ++m_pictureVersion;
    if (run.thickAndThin != ThickAndThin::Unchanged)
        setThickAndThin(run.thickAndThin == ThickAndThin::SetOnApply);
}

void Document::setPictureSources(std::function<TBitmap32(int)> builtInTile,
                                 std::function<TBitmap32(const std::string&)> readPicture)
{
    m_effectContext.builtInTile = std::move(builtInTile);
    m_effectContext.readPicture = std::move(readPicture);
}

void Document::undo()
{
    if (m_undoCount > 0)
        restore(previousIndex(m_current), -1, "Undo");
}

void Document::redo()
{
    if (m_redoCount > 0)
        restore(nextIndex(m_current), +1, "Redo");
}

void Document::restore(int index, int undoDelta, const char* text)
{
    // The control follows the zoom label, not the factor: after zoom steps
    // with more decimals than the label shows, the control is sized with the
    // rounded value.
    const double zoom = zoomFromLabel(m_zoomLabel);
    // The history's compression waits while a step is unpacked on every core.
    const PictureStore::ForegroundWork busy(m_pictures);
    PictureStore::Restoring restoring = m_pictures.restoring(index);
    const int width = restoring.width();
    const int height = restoring.height();
    const ControlSize size{scaledLength(width, zoom), scaledLength(height, zoom)};
    // The history holds displayed pictures only. When the restored one has
    // another width (an image size step), the source is stretched from what
    // it is now, so effects keep working at the displayed size. A change of
    // height alone leaves it as it is.
    PictureBlock source;
    PictureBlock picture;
    std::string label(text);
    // A big step takes a moment to unpack: the desktop program shows the
    // busy cursor meanwhile. Once begun, it runs to the end, as it may be
    // writing into the displayed picture's block. A small one is unpacked in
    // a few milliseconds, well before any cursor could show, and in place.
    constexpr std::int64_t kLongStepPixels = 4'000'000;
    const bool slow = std::int64_t(width) * height >= kLongStepPixels;
    const auto unpack = [&](const std::function<void()>& compute) {
        if (slow)
            runLong(compute, LongWork::ToTheEnd);
        else
            compute();
    };
    unpack([&] {
        // A step in the history's file is read back first: one read, and
        // then it unpacks as any other.
        if (!restoring.block && restoring.packed->onDisk())
            restoring.packed = std::make_shared<const PackedPicture>(restoring.packed->readBack());
        if (width != this->source().width())
            source = makeBlock(stretchTo(this->source(), width, height));
        // The step's own block while it is still at hand, else unpacked,
        // into the displayed picture's block when nothing else needs that one.
        picture = restoredBlock(restoring);
        if (restoring.intoDisplayed)
            restoring.packed->unpackInto(const_cast<TBitmap32&>(*picture));
    });

    const int undoCount = m_undoCount + undoDelta;
    const int redoCount = m_redoCount - undoDelta;
    m_pictures.commit({.unpackIntoDisplayed = restoring.intoDisplayed ? restoring.packed.get() : nullptr,
                       .unpacked = true,
                       .displayed = picture,
                       .source = std::move(source),
                       .snapshotIndex = index,
                       .snapshot = picture,
                       .snapshotFresh = false,
                       .current = index,
                       .undoCount = undoCount,
                       .redoCount = redoCount});
    ++m_pictureVersion;
    m_controlSize = size;
    m_current = index;
    m_undoCount = undoCount;
    m_redoCount = redoCount;
    m_label = std::move(label);
    m_modified = true;
    notifyChanged();
}

void Document::markSaved()
{
    m_modified = false;
    m_savedSinceOpen = true;
    notifyChanged();
}

void Document::resetHistory()
{
    commitRestart({}, m_pictures.displayed(), m_recipes[std::size_t(m_current - 1)]);
    notifyChanged();
}

TBitmap32 Document::snapshot(int index) const
{
    if (index < 1 || index > kSnapshots)
        throw std::out_of_range("Snapshot index " + std::to_string(index) + " is outside 1.." +
                                std::to_string(kSnapshots));
    const PictureBlock picture = m_pictures.snapshot(index);
    return picture ? *picture : TBitmap32();
}

TBitmap32 Document::opened() const
{
    return *m_pictures.opened();
}

int Document::allocatedSnapshots() const
{
    return m_pictures.usedSnapshots();
}

void Document::setOpenDialog(EffectDialogId id)
{
    if (id == m_openDialog)
        return;
    m_openDialog = id;
    notifyChanged();
}

void Document::setThickAndThin(bool on)
{
    if (on == m_thickAndThin)
        return;
    m_thickAndThin = on;
    notifyChanged();
}

void Document::setChangedCallback(std::function<void()> callback)
{
    m_changed = std::move(callback);
}

void Document::notifyChanged()
{
    if (m_changed)
        m_changed();
}

}  // namespace plumora
