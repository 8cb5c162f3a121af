#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "effects/paint/brume.h"
#include "raster/bitmap32.h"
#include "raster/errors.h"

namespace plumora {

// The main menus that list effects, in the menu bar's order.
enum class EffectMenu { None, BlackAndWhite, Colour, ColourAdjust, Veins };

struct EffectMenuInfo {
    EffectMenu menu;
    const char* caption;  // an ampersand in it is shown as one, not as a shortcut mark
};
const std::vector<EffectMenuInfo>& effectMenus();

// What kind of value a parameter takes, and so how the command line writes
// it and which control an effect window shows for it.
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

// What an effect takes, as the command line, the Python module and the
// window all see it. How a window lays the parameter out (object names,
// slider steps, the value label's reading, radio captions) is the window's
// business: src/app/effect_windows/window_table.cpp.
struct ParamDeclaration {
    std::string key;      // as on the command line, without the dashes
    std::string caption;  // what the parameter is called, e.g. "Pen Pressure"
    ParamKind kind = ParamKind::Number;

    // Number, Slider, and each box of a Grid: the whole numbers accepted.
    int min = 0;
    int max = 0;
    // The default: a number, a Choice's 0-based place, a Flag's 0 or 1, a
    // Colour's 0xRRGGBB. A Number without one is optional.
    std::optional<int> defaultValue;
    std::vector<int> defaultGrid;  // Grid only

    // Choice and Steps: the words of the command line, in the order of the
    // choices' places.
    std::vector<std::string> words;

    // File: what the file should be, as the command line's lists describe it.
    std::string hint;

    // Its name in the command line's lists.
    const std::string& listedCaption() const { return caption; }
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

struct EffectDeclaration;

// A read of a value that the effect does not declare, or reads as another
// kind than it declares: a fault of the program, which the effects table's
// test finds by running every effect, never the user's.
class UndeclaredParam : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// What an effect's algorithm reads of the values of one run. Every read is
// checked against the effect's declaration: a key it does not declare, or
// a read that does not fit the parameter's kind (a number of a Grid, the
// text of a Slider), throws UndeclaredParam, so that a misspelt key fails
// in the test suite and not in a user's hands.
class EffectValues {
public:
    EffectValues(const EffectDeclaration& effect, const ParamValues& values) : m_effect(effect), m_values(values) {}
    // Whether the run has a value (or a file name) for the parameter.
    bool has(std::string_view key) const;
    // Number, Slider, Choice (the 0-based place), Flag, Colour.
    int get(std::string_view key) const;
    // Flag: given or not.
    bool flag(std::string_view key) const;
    // Grid and Steps.
    const std::vector<int>& list(std::string_view key) const;
    // File: its name.
    const std::string& text(std::string_view key) const;

private:
    const ParamDeclaration& declared(std::string_view key, std::initializer_list<ParamKind> kinds,
                                     const char* read) const;

    const EffectDeclaration& m_effect;
    const ParamValues& m_values;
};

// What an effect is: its command, its words, its parameters and its
// algorithm. Nothing here says how a window shows it; the menu it lives in
// and its menu text are here because the command line's lists name them.
struct EffectDeclaration {
    std::string name;     // the command, e.g. "pen-sketch"
    std::string summary;  // one line for --list
    // The main menu that lists it and its item's text; None: the command
    // line only.
    EffectMenu menu = EffectMenu::None;
    std::string menuText;
    // The text that names the result under the picture; none leaves it.
    std::optional<std::string> historyLabel;
    // Where the text depends on the values: the label of each choice of
    // the parameter labelsByChoice names.
    std::string labelsByChoice;
    std::vector<std::string> choiceLabels;
    ThickAndThin thickAndThin = ThickAndThin::Unchanged;
    // The algorithm draws on the context's random generator, which runs on
    // from one use to the next.
    bool drawsRandom = false;
    std::vector<ParamDeclaration> params;
    // Parameters of which one applies: the one given on the command line or
    // moved last in the window, the first when neither. Only the one that
    // applies is in the values handed to the algorithm.
    std::vector<std::string> alternatives;
    // Checks a combination of values before any picture is read (may be
    // empty); throws ParamError.
    std::function<void(const EffectValues&)> validate;
    // The algorithm, reading its values through the checked view.
    std::function<TBitmap32(const TBitmap32&, const EffectValues&, EffectContext&)> algorithm;

    // Runs the algorithm on a picture with the values of one run; a picture
    // too small for it is named as such where the context asks for that
    // (EffectContext::namesTooSmallPictures).
    TBitmap32 apply(const TBitmap32& picture, const ParamValues& values, EffectContext& context) const;
    // The history label of a run with these values.
    std::optional<std::string> labelFor(const ParamValues& values) const;
    // Whether a main menu lists it (and so a window shows it).
    bool inMenu() const { return menu != EffectMenu::None; }
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
