#pragma once

#include "document/document.h"
#include "effects/effects.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plumora {

// How an effect's window shows its parameters and itself. The effects table
// says what an effect takes; this table says how its window looks, keyed by
// the effect's command name, and nothing else in the program does.

// How a slider's value label reads its position p: p - origin, or with
// percentOf set, Round((p - origin) * 100 / percentOf).
struct SliderReading {
    int origin = 0;
    int percentOf = 0;
};

// The controls of one parameter. A parameter of the effect with no layout
// has no controls in the window (typed on the command line only, or shown
// by a window of its own).
struct ParamLayout {
    std::string key;  // the parameter's key in the effects table

    // The object names of the caption label, the value label, and the
    // controls themselves (a track bar; the radio buttons; a check box; the
    // edit boxes; a swatch). Empty when the window has no such control.
    std::string captionLabel;
    std::string valueLabel;
    std::vector<std::string> controls;
    // The caption label's text where it is not the parameter's caption with
    // a colon (a check box shows the caption as it is).
    std::optional<std::string> caption;
    // The caption is drawn in the colour of a hint's background, as a note
    // rather than a label.
    bool captionAsNote = false;

    // Slider.
    int pageStep = 1;
    int tickInterval = 1;
    SliderReading reading;
    // What the value label says before the slider first moves, when that is
    // not the reading of the default.
    std::optional<std::string> initialReading;

    // Choice: the radio buttons' captions; swatches: their hints. In the
    // order of the parameter's words.
    std::vector<std::string> captions;
    // The hint of every control of the parameter (a Grid's boxes, a swatch).
    std::string hint;

    // Showing the window puts the default back.
    bool resetOnShow = false;
    // Choice: choosing a radio button applies the effect at once (choosing
    // the one already chosen does nothing); the buttons stand in this many
    // columns (0: all in one row).
    bool appliesAtOnce = false;
    int columns = 0;
    // The window draws this parameter's controls itself (colour swatches);
    // the plain effect window leaves them out.
    bool drawnByWindow = false;

    // The caption label's text for the parameter.
    std::string labelText(const ParamDeclaration& param) const;
    // The value label's text for slider position p.
    std::string readingOf(int position) const;
    // The value label's text before the slider first moves.
    std::string initialText(const ParamDeclaration& param) const;
};

// A button of the window that applies the effect.
struct ApplyButton {
    std::string objectName;
    std::string caption;
    std::string hint;
    bool restoresDefaults = false;  // puts every parameter's default back first
};

// The window's face colour.
enum class WindowColour { Standard, SkyBlue, InactiveCaption };

// Which window shows the effect: the plain one built from the declaration
// and the layout, or one of the few that draw what neither can say.
enum class WindowKind {
    Plain,
    Previews,  // two previews and six colour swatches (colour filter, colour variety)
    Texture,   // the texture tiles as thumbnails
};

// An effect's window.
struct EffectWindow {
    std::string command;    // the effect's command name in the effects table
    std::string className;  // the window's object name
    std::string caption;    // its title
    std::string menuItem;   // the object name of the menu item that opens it
    WindowKind kind = WindowKind::Plain;
    // Outer size; 0 makes the window as large as its controls need.
    int width = 266;
    int height = 0;
    WindowColour colour = WindowColour::Standard;
    std::vector<ApplyButton> buttons;
    bool colorUp = false;  // a "Color up" button that hands the result to freehand colouring
    // Showing the window records the picture on display as one more
    // history step.
    bool backupOnShow = false;
    // Object names in the order the Tab key visits them; empty: the order of
    // the parameters.
    std::vector<std::string> tabOrder;
    // The object name of the rule drawn between alternatives; none when empty.
    std::string alternativesSeparator;
    std::vector<ParamLayout> params;

    // The window's number, which the document keeps while it is open: its
    // place in the table, counted from 1. Set by the table, never by hand.
    EffectDialogId id = EffectDialogId::None;

    const ParamLayout* findParam(std::string_view key) const;
};

// Every effect window, in the order of their numbers.
const std::vector<EffectWindow>& effectWindows();
// The window of an effect, by its command name; none for the command line's
// own commands.
const EffectWindow* findWindow(std::string_view command);
// The window with this number; std::out_of_range for None or a number that
// is no window's.
const EffectWindow& windowNumbered(EffectDialogId id);
// The number of an effect's window; None when it has none.
EffectDialogId windowNumber(std::string_view command);

// The object names of the main menus that list effects.
const char* menuObjectName(EffectMenu menu);

}  // namespace plumora
