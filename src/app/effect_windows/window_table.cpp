#include "app/effect_windows/window_table.h"

#include "effects/colour/hsl_adjust.h"
#include "effects/paint/color_pencil.h"
#include "effects/relief/stria.h"
#include "effects/sketch/pencil_sketch.h"
#include "raster/rounding.h"

#include <stdexcept>

namespace plumora {

namespace {

// A slider with its caption label, value label and track bar, as every
// slider window lays it out; a tick every position and a page of one
// unless the entry says otherwise.
ParamLayout slider(std::string key, std::string captionLabel, std::string valueLabel, std::string trackBar,
                   int pageStep = 1, int tickInterval = 1)
{
    return {.key = std::move(key),
            .captionLabel = std::move(captionLabel),
            .valueLabel = std::move(valueLabel),
            .controls = {std::move(trackBar)},
            .pageStep = pageStep,
            .tickInterval = tickInterval};
}

// Object names numbered from `first`: "Edit1", "Edit2", ...
std::vector<std::string> numbered(const std::string& stem, int first, int last)
{
    std::vector<std::string> names;
    for (int i = first; i <= last; ++i)
        names.push_back(stem + std::to_string(i));
    return names;
}

ApplyButton okButton(std::string objectName = "Button1")
{
    return {.objectName = std::move(objectName), .caption = "OK"};
}

// The black-and-white sketches' window: OK beside "Color up".
EffectWindow sketchWindow(std::string command, std::string className, std::string caption, std::string menuItem,
                          std::vector<ParamLayout> params)
{
    return {.command = std::move(command),
            .className = std::move(className),
            .caption = std::move(caption),
            .menuItem = std::move(menuItem),
            .buttons = {okButton()},
            .colorUp = true,
            .params = std::move(params)};
}

// The colour paintings' and HSL adjust's windows: sky blue with one OK button.
EffectWindow skyBlueWindow(std::string command, std::string className, std::string caption, std::string menuItem,
                           std::vector<ParamLayout> params)
{
    return {.command = std::move(command),
            .className = std::move(className),
            .caption = std::move(caption),
            .menuItem = std::move(menuItem),
            .colour = WindowColour::SkyBlue,
            .buttons = {okButton()},
            .params = std::move(params)};
}

// Realism, abstract and pop art: nine number boxes in three rows under a
// note, "Convert" beside the top row and "Default" beside the bottom one.
EffectWindow kernelWindow(std::string command, std::string className, std::string caption, std::string menuItem,
                          std::pair<std::string, std::string> hints, std::vector<std::string> tabOrder)
{
    return {.command = std::move(command),
            .className = std::move(className),
            .caption = std::move(caption),
            .menuItem = std::move(menuItem),
            .colour = WindowColour::InactiveCaption,
            .buttons = {{.objectName = "Button1", .caption = "Convert", .hint = std::move(hints.first)},
                        {.objectName = "Button3",
                         .caption = "Default",
                         .hint = std::move(hints.second),
                         .restoresDefaults = true}},
            .tabOrder = std::move(tabOrder),
            .params = {{.key = "kernel",
                        .captionLabel = "Label1",
                        .controls = numbered("Edit", 1, 9),
                        .caption = "You can change the figures",
                        .captionAsNote = true,
                        .hint = "Change the number to get different effect"}}};
}

// The colour filter's and colour variety's windows: two previews above six
// colour swatches, which the window draws.
EffectWindow previewWindow(std::string command, std::string className, std::string caption, std::string menuItem,
                           int width, int height, std::string key, std::vector<std::string> swatchHints)
{
    return {.command = std::move(command),
            .className = std::move(className),
            .caption = std::move(caption),
            .menuItem = std::move(menuItem),
            .kind = WindowKind::Previews,
            .width = width,
            .height = height,
            .buttons = {okButton()},
            .params = {{.key = std::move(key),
                        .controls = numbered("Panel", 3, 8),
                        .captions = std::move(swatchHints),
                        .drawnByWindow = true}}};
}

// The relief effects' windows: one OK button.
EffectWindow reliefWindow(std::string command, std::string className, std::string caption, std::string menuItem,
                          std::string okName, std::vector<ParamLayout> params)
{
    return {.command = std::move(command),
            .className = std::move(className),
            .caption = std::move(caption),
            .menuItem = std::move(menuItem),
            .buttons = {okButton(std::move(okName))},
            .params = std::move(params)};
}

EffectWindow pencilSketchWindow()
{
    // Both value labels start at "50": the contrast label keeps it until
    // its bar first moves, although position 45 reads 51. One tick a
    // position would be a solid bar on the 256-position lighting bar.
    ParamLayout contrast = slider("contrast", "Label1", "Label4", "TrackBar1", 5);
    contrast.reading.percentOf = kContrastMax;
    contrast.initialReading = "50";
    ParamLayout lighting = slider("lighting", "Label2", "Label3", "TrackBar2", 16, 16);
    lighting.reading.percentOf = kLightingMax;
    EffectWindow w =
        sketchWindow("pencil-sketch", "TBack_and_White_Sketch", "Pencil_Sketch", "Pencilsketch1", {contrast, lighting});
    w.alternativesSeparator = "Label5";
    return w;
}

EffectWindow colourPencilWindow()
{
    // The value label starts at "50", as the pencil sketch's contrast does.
    ParamLayout pressure = slider("pressure", "Label8", "Label9", "TrackBar1", 5);
    pressure.reading.percentOf = kColorPencilPressureMax;
    pressure.initialReading = "50";
    return skyBlueWindow("color-pencil", "TColor_Sketch", "Color_Pencil", "Colorsketch1", {pressure});
}

EffectWindow hslAdjustWindow()
{
    // Every showing starts from the centre positions; the labels read the
    // shift from there, the hue in percent of half a turn. A tick every 30
    // degrees and every 10 points: one a position would be a solid bar on
    // bars of 201 and 361 positions.
    ParamLayout hue = slider("hue", "Label1", "Label4", "TrackBar1", 10, 30);
    hue.reading = {.origin = kHslHueDefault, .percentOf = 180};
    ParamLayout saturation = slider("saturation", "Label2", "Label3", "TrackBar2", 10, 10);
    saturation.reading.origin = kHslSaturationDefault;
    ParamLayout lighting = slider("lighting", "Label8", "Label9", "TrackBar3", 10, 10);
    lighting.reading.origin = kHslLightingDefault;
    for (ParamLayout* p : {&hue, &saturation, &lighting})
        p->resetOnShow = true;
    return skyBlueWindow("hsl-adjust", "THSL_Adjust", "HSL_Adjust", "HSLadjust1", {hue, saturation, lighting});
}

EffectWindow striaWindow()
{
    // The transparency reads in percent; the direction has no caption label,
    // only its two radio buttons.
    ParamLayout transparency = slider("transparency", "Label8", "Label9", "TrackBar1", 10, 16);
    transparency.reading.percentOf = kStriaTransparencyMax;
    return reliefWindow(
        "stria", "TStria", "Stria", "Verticalstria1", "Button1",
        {{.key = "direction", .controls = {"RadioButton1", "RadioButton2"}, .captions = {"Vertical", "Horizontal"}},
         slider("thickness", "Label1", "Label3", "TrackBar3", 1, 10),
         slider("space", "Label2", "Label4", "TrackBar2", 1, 16),
         transparency,
         {.key = "color", .controls = {"ColorPanel"}, .hint = "Select a color from ColorPanel"}});
}

EffectWindow brumeWindow()
{
    EffectWindow w =
        skyBlueWindow("brume", "TBrume", "Brume", "Brume1", {slider("scope", "Label2", "Label3", "TrackBar2")});
    w.backupOnShow = true;
    return w;
}

EffectWindow textureWindow()
{
    // The tiles are thumbnails with a radio button each, which the window
    // draws; only the pressure is a plain control.
    EffectWindow w = reliefWindow("texture", "TTexture", "Texture", "exture1", "Button1",
                                  {slider("pressure", "Label8", "Label9", "TrackBar1", 10, 1)});
    w.kind = WindowKind::Texture;
    return w;
}

// Every window, in the order of their numbers: a window's place here is
// the number the document keeps while it is open (1 for the pencil sketch
// to 17 for the stria), so a new window goes at the end.
std::vector<EffectWindow> buildWindows()
{
    std::vector<EffectWindow> windows = {
        pencilSketchWindow(),
        sketchWindow("pen-sketch", "TPen_Sketch", "Pen_Sketch", "Pensketch1",
                     {slider("pressure", "Label8", "Label9", "TrackBar1", 16, 16)}),
        sketchWindow("dozadir", "TDozadir", "Dozadir", "Dozadir1",
                     {slider("pressure", "Label8", "Label9", "TrackBar1", 10, 16),
                      slider("scope", "Label2", "Label3", "TrackBar2"),
                      // The radio buttons in the order of the directions they stand for.
                      {.key = "direction",
                       .captionLabel = "Label1",
                       .controls = numbered("RadioButton", 1, 4),
                       .captions = {"///", "\\\\\\", "| | |", "=="},
                       .resetOnShow = true}}),
        sketchWindow("pen-and-ink", "TPen_and_Ink", "Pen_and_Ink", "PenInk1",
                     {slider("thread", "Label8", "Label9", "TrackBar1", 16, 16),
                      {.key = "color-ink", .controls = {"CheckBox1"}}}),
        colourPencilWindow(),
        kernelWindow(
            "realism", "TFormOfFringe1", "Setup for Realism", "Realism1", {"Convert with this setup", "Default setup"},
            {"Button1", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9", "Button3"}),
        kernelWindow(
            "abstract", "TFormOfFringe2", "Setup for Abstract", "Abstract1",
            {"Convert with this setup", "Default setup"},
            {"Button1", "Button3", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4", "Edit7", "Edit8", "Edit9"}),
        kernelWindow(
            "pop-art", "TFormOfFringe3", "Setup for Pop art", "Popart1",
            {"Convert with your setup", "Convert with default setup"},
            {"Button1", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4", "Edit7", "Edit8", "Edit9", "Button3"}),
        skyBlueWindow("water-color", "TWater_Color", "Water_Color", "Watercolor1",
                      {slider("scope", "Label2", "Label3", "TrackBar2")}),
        brumeWindow(),
        hslAdjustWindow(),
        previewWindow("color-variety", "TColor_variety", "Color_variety", "Colorvariety1", 318, 300, "steps",
                      {"More red", "More green", "More blue", "More yellow", "More cyan", "More purple"}),
        {.command = "color-panel",
         .className = "TColor_Panel",
         .caption = "Color_Panel",
         .menuItem = "Colorpanel1",
         .width = 230,
         .height = 126,
         .params = {{.key = "layout",
                     .controls = numbered("RadioButton", 1, 6),
                     .captions = {"Panel 2 x 2", "Pane 2 x 2", "Catercorner (4)", "Panel 3 x 3", "Pane 3 x 3",
                                  "Catercorner (16)"},
                     .appliesAtOnce = true,
                     .columns = 2}}},
        textureWindow(),
        reliefWindow("emboss", "TEmboss", "Emboss", "Emboss1", "Button2",
                     {slider("lighting", "Label8", "Label9", "TrackBar1", 10, 10),
                      slider("depth", "Label2", "Label3", "TrackBar2")}),
        previewWindow("color-filter", "TColor_Filter", "Color_Filter", "ColorFilter2", 320, 299, "filter",
                      {"Red", "Green", "Blue", "Yellow", "Cyan", "Purple"}),
        striaWindow(),
    };
    for (std::size_t place = 0; place < windows.size(); ++place)
        windows[place].id = EffectDialogId(int(place) + 1);
    return windows;
}

}  // namespace

std::string ParamLayout::labelText(const ParamDeclaration& param) const
{
    return caption ? *caption : param.caption + ":";
}

std::string ParamLayout::readingOf(int position) const
{
    const int offset = position - reading.origin;
    if (reading.percentOf == 0)
        return std::to_string(offset);
    return std::to_string(Round(offset * 100 / double(reading.percentOf)));
}

std::string ParamLayout::initialText(const ParamDeclaration& param) const
{
    return initialReading ? *initialReading : readingOf(param.defaultValue.value_or(param.min));
}

const ParamLayout* EffectWindow::findParam(std::string_view key) const
{
    for (const ParamLayout& p : params)
        if (p.key == key)
            return &p;
    return nullptr;
}

const std::vector<EffectWindow>& effectWindows()
{
    static const std::vector<EffectWindow> windows = buildWindows();
    return windows;
}

const EffectWindow* findWindow(std::string_view command)
{
    for (const EffectWindow& w : effectWindows())
        if (w.command == command)
            return &w;
    return nullptr;
}

const EffectWindow& windowNumbered(EffectDialogId id)
{
    const std::vector<EffectWindow>& windows = effectWindows();
    const int n = int(id);
    if (n < 1 || n > int(windows.size()))
        throw std::out_of_range("no effect window has that number");
    return windows[std::size_t(n - 1)];
}

EffectDialogId windowNumber(std::string_view command)
{
    const EffectWindow* w = findWindow(command);
    return w ? w->id : EffectDialogId::None;
}

const char* menuObjectName(EffectMenu menu)
{
    switch (menu) {
    case EffectMenu::BlackAndWhite:
        return "BW1";
    case EffectMenu::Colour:
        return "Color1";
    case EffectMenu::ColourAdjust:
        return "ColorAdjust1";
    case EffectMenu::Veins:
        return "Veins1";
    case EffectMenu::None:
        break;
    }
    return "";
}

}  // namespace plumora
