#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "effects/paint/brume.h"
#include "raster/bitmap32.h"
#include "raster/errors.h"

namespace plumora {

// The effect windows, numbered as the program counts them: the number of the
// open effect window is one of these, None when no effect window is open.
enum class EffectDialogId : int {
    None = 0,
    PencilSketch = 1,
    PenSketch = 2,
    Dozadir = 3,
    PenAndInk = 4,
    ColorPencil = 5,
    Realism = 6,
    Abstract = 7,
    PopArt = 8,
    WaterColor = 9,
    Brume = 10,
    HslAdjust = 11,
    ColorVariety = 12,
    ColorPanel = 13,
    Texture = 14,
    Emboss = 15,
    ColorFilter = 16,
    Stria = 17,
};
inline constexpr int kEffectDialogCount = 17;

// The main menus that list effects, in the menu bar's order.
enum class EffectMenu { None, BlackAndWhite, Colour, ColourAdjust, Veins };

struct EffectMenuInfo {
    EffectMenu menu;
    const char* objectName;
    const char* caption;  // an ampersand in it is shown as one, not as a shortcut mark
};
const std::vector<EffectMenuInfo>& effectMenus();

// What kind of value a parameter takes, and so which control the dialog
// shows for it and how the command line writes it.
enum class ParamKind {
    Number,  // --key N: a whole number with no control of its own
    Slider,  // --key N: a track bar with a caption and a value label
    Choice,  // --key WORD, or the word's 1-based place: a group of radio buttons
    Steps,   // --key WORD,WORD,...: choices made one after another (colour swatches clicked)
    Flag,    // --key: a check box
    Grid,    // --key a,b,...: a grid of integer edit boxes, in reading order
    Colour,  // --key RRGGBB: a colour swatch
    File,    // --key FILE: a picture file, on the command line only
};

// How a slider's value label reads its position p: p - origin, or with
// percentOf set, Round((p - origin) * 100 / percentOf).
struct SliderReading {
    int origin = 0;
    int percentOf = 0;
};

struct ParamDeclaration {
    std::string key;      // as on the command line, without the dashes
    std::string caption;  // as the dialog writes it, colon included
    // What the command line's lists call it where the window's caption does
    // not name it (a note above number boxes).
    std::string commandLineCaption;
    ParamKind kind = ParamKind::Number;

    // Number, Slider, and each box of a Grid: the whole numbers accepted.
    int min = 0;
    int max = 0;
    // The default: a number, a Choice's 0-based place, a Flag's 0 or 1, a
    // Colour's 0xRRGGBB. A Number without one is optional.
    std::optional<int> defaultValue;
    std::vector<int> defaultGrid;  // Grid only

    // Slider.
    int pageStep = 1;
    int tickInterval = 1;
    SliderReading reading;
    // What the value label says before the slider first moves, when that is
    // not the reading of the default.
    std::optional<std::string> initialReading;

    // Choice: the words of the command line and the captions of the radio
    // buttons, in the same order.
    std::vector<std::string> words;
    std::vector<std::string> captions;

    // The hint of every control of the parameter (a Grid's boxes, a swatch).
    std::string hint;

    // The object names of the dialog's controls: the caption label, the
    // value label, and the controls themselves (a track bar; the radio
    // buttons; a check box; the edit boxes; a swatch). Empty when the
    // dialog has no such control.
    std::string captionLabel;
    std::string valueLabel;
    std::vector<std::string> controls;

    // Showing the dialog puts the default back.
    bool resetOnShow = false;
    // Choice: choosing a radio button applies the effect at once (choosing
    // the one already chosen does nothing); the buttons stand in this many
    // columns (0: all in one row).
    bool appliesAtOnce = false;
    int columns = 0;
    // The window draws this parameter's controls itself (colour swatches,
    // thumbnails); the plain effect window leaves them out.
    bool drawnByWindow = false;
    // The caption is drawn in the colour of a hint's background, as a note
    // rather than a label.
    bool captionAsNote = false;

    // The value label's text for slider position p.
    std::string readingOf(int position) const;
    // The value label's text before the slider first moves.
    std::string initialText() const;
    // Its name in the command line's lists, without a colon.
    std::string listedCaption() const;
};

// A parameter value that is not acceptable: the message names it.
class ParamError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// The parameters of one run, checked against their declarations. A Grid has
// many numbers; every other kind one.
class ParamValues {
public:
    bool has(std::string_view key) const { return m_values.find(key) != m_values.end(); }
    // The one number of a parameter; ParamError when it has none.
    int get(std::string_view key) const;
    const std::vector<int>& list(std::string_view key) const;
    bool flag(std::string_view key) const { return has(key) && get(key) != 0; }
    void set(std::string_view key, int value) { m_values[std::string(key)] = {value}; }
    void set(std::string_view key, std::vector<int> values) { m_values[std::string(key)] = std::move(values); }
    // A File parameter's name.
    void setText(std::string_view key, std::string text) { m_texts[std::string(key)] = std::move(text); }
    bool hasText(std::string_view key) const { return m_texts.find(key) != m_texts.end(); }
    const std::string& text(std::string_view key) const;
    void erase(std::string_view key);

    friend bool operator==(const ParamValues&, const ParamValues&) = default;

private:
    std::map<std::string, std::vector<int>, std::less<>> m_values;
    std::map<std::string, std::string, std::less<>> m_texts;
};

// What a result does to the flag that lets freehand colouring thicken and
// thin lines.
enum class ThickAndThin {
    Unchanged,
    SetOnApply,           // the black-and-white line drawings
    ClearOnShowAndApply,  // the grey pencil drawing
};

// A button of the dialog that applies the effect.
struct ApplyButton {
    std::string objectName;
    std::string caption;
    std::string hint;
    bool restoresDefaults = false;  // puts every parameter's default back first
};

// The window's face colour.
enum class WindowColour { Standard, SkyBlue, InactiveCaption };

// The effect's window and menu item.
struct EffectWindow {
    EffectDialogId id = EffectDialogId::None;
    std::string className;  // the window's object name
    std::string caption;    // its title
    EffectMenu menu = EffectMenu::None;
    std::string menuItem;  // the menu item's object name
    std::string menuText;  // its caption
    // Outer size; 0 makes the dialog as large as its controls need.
    int width = 266;
    int height = 0;
    WindowColour colour = WindowColour::Standard;
    std::vector<ApplyButton> buttons;
    bool colorUp = false;  // a "Color up" button that hands the result to freehand colouring
    // Showing the window records the picture on display as one more
    // history step.
    bool backupOnShow = false;
    // Object names in the order the Tab key visits them; empty: the order of
    // the declaration.
    std::vector<std::string> tabOrder;
};

// What effects take besides the picture and their parameters, owned by
// whoever runs them: the desktop program keeps one for its whole run,
// plumora-cli one a file. It holds what runs on from one use to the next
// and the pictures an effect may ask for, which only the caller can read.
struct EffectContext {
    BrumeRandom random;  // brume's generator: 0 at start, never reseeded
    // The built-in texture tile 1..15.
    std::function<TBitmap32(int)> builtInTile;
    // A picture file named by a parameter.
    std::function<TBitmap32(const std::string&)> readPicture;
    // A picture one pixel high or wide that an effect cannot take: the
    // desktop program keeps the error the row access raises ("Scan line index
    // out of range"); plumora-cli and Python say "The picture is too small
    // for NAME." instead, which tells the user what to change.
    bool namesTooSmallPictures = false;
};

struct EffectDeclaration {
    std::string name;     // the command, e.g. "pen-sketch"
    std::string summary;  // one line for --list
    EffectWindow window;  // id None: the command line only
    // The text that names the result under the picture; none leaves it.
    std::optional<std::string> historyLabel;
    // Where the text depends on the values: the label of each choice of
    // the parameter labelsByChoice names.
    std::string labelsByChoice;
    std::vector<std::string> choiceLabels;
    ThickAndThin thickAndThin = ThickAndThin::Unchanged;
    std::vector<ParamDeclaration> params;
    // Parameters of which one applies: the one given on the command line or
    // moved last in the dialog, the first when neither. Only the one that
    // applies is in the values handed to the algorithm.
    std::vector<std::string> alternatives;
    std::string alternativesSeparator;  // object name of the rule drawn between them
    // Checks a combination of values before any picture is read (may be
    // empty); throws ParamError.
    std::function<void(const ParamValues&)> validate;
    // The algorithm.
    std::function<TBitmap32(const TBitmap32&, const ParamValues&, EffectContext&)> apply;

    // The history label of a run with these values.
    std::optional<std::string> labelFor(const ParamValues& values) const;
    bool hasDialog() const { return window.id != EffectDialogId::None; }
    const ParamDeclaration* findParam(std::string_view key) const;
    bool isAlternative(std::string_view key) const;
    // The defaults of every parameter that has one (of alternatives, the first).
    ParamValues defaults() const;
    // The values of a run from the texts given for some parameters (a
    // flag's text is empty; a key may not come twice): the others take their
    // defaults. Throws ParamError.
    ParamValues parse(const std::vector<std::pair<std::string, std::string>>& given) const;
};

// Every effect and command, in menu order.
const std::vector<EffectDeclaration>& effectTable();
const EffectDeclaration* findEffect(std::string_view name);
const EffectDeclaration& effectFor(EffectDialogId id);

// A whole number as a user types it: digits with an optional minus sign and
// nothing else, within int. ParamError "'abc' is not a valid integer value".
int parseInteger(std::string_view text);

// Converts the command-line text of a value, checking kind and range.
// Throws ParamError: "'abc' is not a valid integer value", "300 is out of
// range for --pressure (0..255, default 128)", ...
std::vector<int> parseParamValue(const ParamDeclaration& param, std::string_view text);

// How the command line writes a value of the parameter ("N", "WORD", ...).
std::string valuePlaceholder(const ParamDeclaration& param);
// A one-line description of a parameter's values: "0..255, default 128".
std::string describeValues(const ParamDeclaration& param);
// The same with what an alternative means for the others.
std::string describeParam(const EffectDeclaration& effect, const ParamDeclaration& param);

// The table of effects as --list --markdown prints it (the README holds a copy).
std::string effectsMarkdown();

}  // namespace plumora
