#include "document/document.h"

#include "effects/effects.h"
#include "raster/errors.h"
#include "raster/geometry.h"
#include "raster/rounding.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
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

// One assignment `target := picture` cut in two: the constructor does
// everything that can fail (a new block when the target's block cannot take
// the picture), commit() cannot fail. So an operation builds all its copies
// first and commits them only once nothing can throw any more. The picture
// must not change between the two.
class StagedCopy {
public:
    StagedCopy(TBitmap32& target, const TBitmap32& picture)
        : m_target(target)
        , m_picture(picture)
    {
        // A block of the same byte count is reused even when the sides differ
        // (a quarter turn), as TBitmap32::setSize does.
        if (target.empty() || picture.empty() || target.byteCount() != picture.byteCount())
            m_fresh = picture;
    }

    void commit() noexcept
    {
        if (m_fresh) {
            m_target = std::move(*m_fresh);
            return;
        }
        // setSize keeps the block for an equal pixel count and accepts the
        // size, which the picture already holds; a plain memcpy cannot fail
        // (the threaded copy of TBitmap32 could, while setting up).
        m_target.setSize(m_picture.width(), m_picture.height());
        std::memcpy(m_target.bits(), m_picture.bits(), m_picture.byteCount());
    }

private:
    TBitmap32& m_target;
    const TBitmap32& m_picture;
    std::optional<TBitmap32> m_fresh;
};

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

} // namespace

Document::Document(const TBitmap32& builtInPicture)
    : m_displayed(builtInPicture)
{
    // The built-in picture comes from a 24-bit file, so its fourth bytes say
    // nothing; everything effects read or the history restores is opaque,
    // while the screen keeps the picture exactly as stored until it is replaced.
    TBitmap32 opaque(builtInPicture);
    FillAlpha(opaque, 255);
    m_opened = opaque;
    m_source = opaque;
    m_snapshots[0] = std::move(opaque);
    m_controlSize = { builtInPicture.width(), builtInPicture.height() };
}

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
    const ControlSize size { scaledLength(picture.width(), m_zoomFactor),
        scaledLength(picture.height(), m_zoomFactor) };
    StagedCopy source(m_source, picture);
    StagedCopy opened(m_opened, picture);
    StagedCopy first(m_snapshots[0], picture);

    source.commit();
    opened.commit();
    first.commit();
    m_displayed = std::move(picture);
    m_controlSize = size;
    m_current = 1;
    m_undoCount = 0;
    m_redoCount = 0;
    notifyChanged();
}

void Document::revert()
{
    const ControlSize size { scaledLength(m_opened.width(), m_zoomFactor),
        scaledLength(m_opened.height(), m_zoomFactor) };
    StagedCopy displayed(m_displayed, m_opened);
    StagedCopy source(m_source, m_opened);
    StagedCopy first(m_snapshots[0], m_opened);

    displayed.commit();
    source.commit();
    first.commit();
    m_controlSize = size;
    m_current = 1;
    m_undoCount = 0;
    m_redoCount = 0;
    notifyChanged();
}

void Document::zoomBy(double multiplier, const std::function<std::string(double)>& labelFor)
{
    // The factor has always been multiplied in extended precision and then
    // stored as a double; doing the same keeps every label and control size
    // it ever gave.
    const double factor = double(static_cast<long double>(m_zoomFactor) * static_cast<long double>(multiplier));
    std::string label = labelFor(factor);
    const ControlSize size{scaledLength(m_displayed.width(), factor), scaledLength(m_displayed.height(), factor)};
    m_zoomFactor = factor;
    m_zoomLabel = std::move(label);
    m_controlSize = size;
    notifyChanged();
}

void Document::rotate(bool clockwise)
{
    TBitmap32 displayed = clockwise ? rotateClockwise(m_displayed) : rotateAnticlockwise(m_displayed);
    TBitmap32 source = clockwise ? rotateClockwise(m_source) : rotateAnticlockwise(m_source);
    const ControlSize size{scaledLength(displayed.width(), m_zoomFactor),
                           scaledLength(displayed.height(), m_zoomFactor)};
    StagedCopy first(m_snapshots[0], displayed);

    first.commit();
    m_displayed = std::move(displayed);
    m_source = std::move(source);
    m_controlSize = size;
    m_current = 1;
    m_undoCount = 0;
    m_redoCount = 0;
    notifyChanged();
}

namespace {

// Trunc(factor x side), where factor was computed as typed / side: in
// floating point that product can land a hair below the whole number it
// stands for (0.7 x 10 = 6.9999999999999991), and a plain Trunc would lose a
// row. A product within a billionth of a whole number is taken as that number.
int stretchedSide(int side, double factor)
{
    const double exact = factor * side;
    const double nearest = std::nearbyint(exact);
    const double scaled =
        std::fabs(exact - nearest) <= 1e-9 * std::max(1.0, std::fabs(exact)) ? nearest : std::trunc(exact);
    if (!(scaled >= 0) || scaled > double(INT_MAX))
        throw ImageTooLargeError("The picture cannot be stretched to that size.");
    return int(scaled);
}

}  // namespace

void Document::resizePictures(int width, int height)
{
    const double fx = double(width) / m_displayed.width();
    const double fy = double(height) / m_displayed.height();
    TBitmap32 displayed = stretchTo(m_displayed, width, height);
    // The source follows by the same factors; normally it has the displayed
    // picture's size and so becomes exactly width x height too.
    TBitmap32 source = m_source.width() == m_displayed.width() && m_source.height() == m_displayed.height()
                           ? stretchTo(m_source, width, height)
                           : stretchTo(m_source, stretchedSide(m_source.width(), fx),
                                       stretchedSide(m_source.height(), fy));
    const ControlSize size{scaledLength(width, m_zoomFactor), scaledLength(height, m_zoomFactor)};
    const int index = nextIndex(m_current);
    StagedCopy step(m_snapshots[std::size_t(index - 1)], displayed);

    step.commit();
    m_displayed = std::move(displayed);
    m_source = std::move(source);
    m_controlSize = size;
    recordStep(index);
    notifyChanged();
}

void Document::recordStep(int index) noexcept
{
    m_current = index;
    if (m_undoCount < kMaxSteps)
        ++m_undoCount;
    m_redoCount = 0;
}

void Document::backup()
{
    const int index = nextIndex(m_current);
    StagedCopy copy(m_snapshots[std::size_t(index - 1)], m_displayed);
    copy.commit();
    recordStep(index);
    notifyChanged();
}

void Document::applyResult(TBitmap32 result, std::optional<std::string> label)
{
    // The snapshot is taken from the result before it becomes the displayed
    // picture, so a failed copy leaves the old picture on screen.
    const int index = nextIndex(m_current);
    StagedCopy copy(m_snapshots[std::size_t(index - 1)], result);
    copy.commit();
    m_displayed = std::move(result);
    if (label)
        m_label = std::move(*label);
    recordStep(index);
    notifyChanged();
}

void Document::applyEffect(const EffectDeclaration& effect, const ParamValues& values)
{
    commitEffect(runEffect(effect, values));
}

Document::EffectRun Document::runEffect(const EffectDeclaration& effect, const ParamValues& values) const
{
    EffectRun run{TBitmap32(), m_effectContext, effect.labelFor(values), effect.thickAndThin};
    run.result = effect.apply(m_source, values, run.state);
    return run;
}

void Document::commitEffect(EffectRun run)
{
    applyResult(std::move(run.result), std::move(run.label));
    m_effectContext = std::move(run.state);
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
    const TBitmap32& picture = m_snapshots[std::size_t(index - 1)];
    // The control follows the zoom label, not the factor: after zoom steps
    // with more decimals than the label shows, the control is sized with the
    // rounded value.
    const double zoom = zoomFromLabel(m_zoomLabel);
    const ControlSize size { scaledLength(picture.width(), zoom), scaledLength(picture.height(), zoom) };
    // The history holds displayed pictures only. When the restored one has
    // another width (an image size step), the source is stretched from what
    // it is now, so effects keep working at the displayed size. A change of
    // height alone leaves it as it is.
    std::optional<TBitmap32> source;
    if (picture.width() != m_source.width())
        source = stretchTo(m_source, picture.width(), picture.height());
    std::string label(text);
    StagedCopy displayed(m_displayed, picture);

    displayed.commit();
    if (source)
        m_source = std::move(*source);
    m_controlSize = size;
    m_current = index;
    m_undoCount += undoDelta;
    m_redoCount -= undoDelta;
    m_label = std::move(label);
    notifyChanged();
}

void Document::resetHistory()
{
    StagedCopy first(m_snapshots[0], m_displayed);
    first.commit();
    m_current = 1;
    m_undoCount = 0;
    m_redoCount = 0;
    notifyChanged();
}

const TBitmap32& Document::snapshot(int index) const
{
    if (index < 1 || index > kSnapshots)
        throw std::out_of_range(
            "Snapshot index " + std::to_string(index) + " is outside 1.." + std::to_string(kSnapshots));
    return m_snapshots[std::size_t(index - 1)];
}

int Document::allocatedSnapshots() const
{
    int count = 0;
    for (const TBitmap32& s : m_snapshots)
        count += s.bits() != nullptr ? 1 : 0;
    return count;
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

} // namespace plumora
