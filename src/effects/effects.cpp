#include "effects/effects.h"

#include "effects/colour/color_filter.h"
#include "effects/colour/color_panel.h"
#include "effects/colour/color_variety.h"
#include "effects/colour/hsl_adjust.h"
#include "effects/paint/brume.h"
#include "effects/paint/color_pencil.h"
#include "effects/paint/convolution.h"
#include "effects/paint/water_color.h"
#include "effects/relief/emboss.h"
#include "effects/relief/stria.h"
#include "effects/relief/texture.h"
#include "effects/sketch/dozadir.h"
#include "effects/sketch/pen_and_ink.h"
#include "effects/sketch/pen_sketch.h"
#include "effects/sketch/pencil_sketch.h"
#include "raster/geometry.h"
#include "raster/limits.h"
#include "raster/rounding.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <stdexcept>

namespace plumora {

namespace {

// A slider with its caption and value label, as every slider dialog lays it out.
ParamDeclaration slider(std::string key, std::string caption, int min, int max, int defaultValue,
                        std::vector<std::string> names)
{
    ParamDeclaration p;
    p.key = std::move(key);
    p.caption = std::move(caption);
    p.kind = ParamKind::Slider;
    p.min = min;
    p.max = max;
    p.defaultValue = defaultValue;
    p.captionLabel = names.at(0);
    p.valueLabel = names.at(1);
    p.controls = {names.at(2)};
    return p;
}

ParamDeclaration steps(ParamDeclaration p, int pageStep, int tickInterval)
{
    p.pageStep = pageStep;
    p.tickInterval = tickInterval;
    return p;
}

ParamDeclaration number(std::string key, std::string caption, int min, int max)
{
    ParamDeclaration p;
    p.key = std::move(key);
    p.caption = std::move(caption);
    p.kind = ParamKind::Number;
    p.min = min;
    p.max = max;
    return p;
}

ApplyButton okButton(std::string objectName = "Button1")
{
    return {.objectName = std::move(objectName), .caption = "OK"};
}

// The black-and-white sketches' window: OK beside "Color up".
EffectWindow sketchWindow(EffectDialogId id, std::string className, std::string caption, std::string menuItem,
                          std::string menuText)
{
    return {.id = id,
            .className = std::move(className),
            .caption = std::move(caption),
            .menu = EffectMenu::BlackAndWhite,
            .menuItem = std::move(menuItem),
            .menuText = std::move(menuText),
            .buttons = {okButton()},
            .colorUp = true};
}

EffectDeclaration pencilSketchEffect()
{
    // Both value labels start at "50": the contrast label keeps it until
    // its bar first moves, although position 45 reads 51.
    ParamDeclaration contrast = slider("contrast", "Contrast:", kContrastMin, kContrastMax, kContrastDefault,
                                       {"Label1", "Label4", "TrackBar1"});
    contrast.pageStep = 5;
    contrast.reading.percentOf = kContrastMax;
    contrast.initialReading = "50";
    // One tick a position would be a solid bar on the 256-position bar.
    ParamDeclaration lighting = steps(slider("lighting", "Lighting:", kLightingMin, kLightingMax, kLightingDefault,
                                             {"Label2", "Label3", "TrackBar2"}),
                                      16, 16);
    lighting.reading.percentOf = kLightingMax;
    return {
        .name = "pencil-sketch",
        .summary = "grey pencil lines on white, finished by a contrast or a lighting adjustment",
        .window = sketchWindow(EffectDialogId::PencilSketch, "TBack_and_White_Sketch", "Pencil_Sketch", "Pencilsketch1",
                               "Pencil sketch"),
        .historyLabel = "Pencil Sketch",
        .thickAndThin = ThickAndThin::ClearOnShowAndApply,
        .params = {contrast, lighting},
        .alternatives = {"contrast", "lighting"},
        .alternativesSeparator = "Label5",
        .apply =
            [](const TBitmap32& p, const ParamValues& v, EffectContext&) {
                return v.has("lighting") ? pencilSketch(p, PencilMode::Lighting, v.get("lighting"))
                                         : pencilSketch(p, PencilMode::Contrast, v.get("contrast"));
            },
    };
}

EffectDeclaration penSketchEffect()
{
    return {
        .name = "pen-sketch",
        .summary = "black lines on white, from the edges of the picture",
        .window = sketchWindow(EffectDialogId::PenSketch, "TPen_Sketch", "Pen_Sketch", "Pensketch1", "Pen sketch"),
        .historyLabel = "Pen Sketch",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {steps(slider("pressure", "Pen Pressure:", kPenPressureMin, kPenPressureMax, kPenPressureDefault,
                                {"Label8", "Label9", "TrackBar1"}),
                         16, 16)},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return penSketch(p, v.get("pressure")); },
    };
}

EffectDeclaration dozadirEffect()
{
    ParamDeclaration direction;
    direction.key = "direction";
    direction.caption = "Direction:";
    direction.kind = ParamKind::Choice;
    direction.defaultValue = 0;
    direction.words = {"rising", "falling", "vertical", "horizontal"};
    direction.captions = {"///", "\\\\\\", "| | |", "=="};
    direction.captionLabel = "Label1";
    direction.controls = {"RadioButton1", "RadioButton2", "RadioButton3", "RadioButton4"};
    direction.resetOnShow = true;
    return {
        .name = "dozadir",
        .summary = "the pen sketch with its lines grown along one direction, for a hatched, engraved look",
        .window = sketchWindow(EffectDialogId::Dozadir, "TDozadir", "Dozadir", "Dozadir1", "Dozadir"),
        .historyLabel = "Dozadir",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {steps(slider("pressure", "Dozadir Pressure:", kDozadirPressureMin, kDozadirPressureMax,
                                kDozadirPressureDefault, {"Label8", "Label9", "TrackBar1"}),
                         10, 16),
                   slider("scope", "Scope:", kDozadirScopeMin, kDozadirScopeMax, kDozadirScopeDefault,
                          {"Label2", "Label3", "TrackBar2"}),
                   direction},
        // The radio buttons in the order of the directions they stand for.
        .apply =
            [](const TBitmap32& p, const ParamValues& v, EffectContext&) {
                return dozadir(p, v.get("pressure"), v.get("scope"), kDirectionRising + v.get("direction"));
            },
    };
}

EffectDeclaration penAndInkEffect()
{
    ParamDeclaration colorInk;
    colorInk.key = "color-ink";
    colorInk.caption = "Color Ink";
    colorInk.kind = ParamKind::Flag;
    colorInk.defaultValue = 0;
    colorInk.controls = {"CheckBox1"};
    return {
        .name = "pen-and-ink",
        .summary = "the outlines of the dark areas, in black or (--color-ink) in the picture's colours",
        .window = sketchWindow(EffectDialogId::PenAndInk, "TPen_and_Ink", "Pen_and_Ink", "PenInk1", "Pen & Ink"),
        .historyLabel = "Pen and Ink",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {steps(slider("thread", "Adjust thread:", kInkThresholdMin, kInkThresholdMax, kInkThresholdDefault,
                                {"Label8", "Label9", "TrackBar1"}),
                         16, 16),
                   colorInk},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return penAndInk(p, v.get("thread"), v.flag("color-ink")); },
    };
}

// The colour paintings' windows: sky blue with one OK button.
EffectWindow paintWindow(EffectDialogId id, std::string className, std::string caption, std::string menuItem,
                         std::string menuText)
{
    return {.id = id,
            .className = std::move(className),
            .caption = std::move(caption),
            .menu = EffectMenu::Colour,
            .menuItem = std::move(menuItem),
            .menuText = std::move(menuText),
            .colour = WindowColour::SkyBlue,
            .buttons = {okButton()}};
}

EffectDeclaration colorPencilEffect()
{
    // The value label starts at "50", as the pencil sketch's contrast does.
    ParamDeclaration pressure = slider("pressure", "Pressure:", kColorPencilPressureMin, kColorPencilPressureMax,
                                       kColorPencilPressureDefault, {"Label8", "Label9", "TrackBar1"});
    pressure.pageStep = 5;
    pressure.reading.percentOf = kColorPencilPressureMax;
    pressure.initialReading = "50";
    return {
        .name = "color-pencil",
        .summary = "the photograph's colours drawn in coloured pencil on white paper",
        .window =
            paintWindow(EffectDialogId::ColorPencil, "TColor_Sketch", "Color_Pencil", "Colorsketch1", "Color Pencil"),
        .historyLabel = "Color Sketch",
        .params = {pressure},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return colorPencil(p, v.get("pressure")); },
    };
}

// Realism, abstract and pop art: nine number boxes in three rows, "Convert"
// beside the top row and "Default" beside the bottom one.
EffectDeclaration kernelEffect(std::string name, std::string summary, EffectDialogId id, std::string className,
                               std::string caption, std::string menuItem, std::string menuText, std::string label,
                               const Kernel3x3& defaults, std::pair<std::string, std::string> hints,
                               std::vector<std::string> tabOrder,
                               TBitmap32 (*effect)(const TBitmap32&, const Kernel3x3&))
{
    ParamDeclaration kernel;
    kernel.key = "kernel";
    kernel.caption = "You can change the figures";
    kernel.kind = ParamKind::Grid;
    kernel.min = INT_MIN;
    kernel.max = INT_MAX;
    kernel.defaultGrid.assign(defaults.begin(), defaults.end());
    kernel.hint = "Change the number to get different effect";
    kernel.captionLabel = "Label1";
    kernel.captionAsNote = true;
    kernel.commandLineCaption = "Weights, row by row from the top left";
    for (int i = 1; i <= 9; ++i)
        kernel.controls.push_back("Edit" + std::to_string(i));
    return {
        .name = std::move(name),
        .summary = std::move(summary),
        .window = {.id = id,
                   .className = std::move(className),
                   .caption = std::move(caption),
                   .menu = EffectMenu::Colour,
                   .menuItem = std::move(menuItem),
                   .menuText = std::move(menuText),
                   .colour = WindowColour::InactiveCaption,
                   .buttons = {{.objectName = "Button1", .caption = "Convert", .hint = std::move(hints.first)},
                               {.objectName = "Button3",
                                .caption = "Default",
                                .hint = std::move(hints.second),
                                .restoresDefaults = true}},
                   .tabOrder = std::move(tabOrder)},
        .historyLabel = std::move(label),
        .params = {kernel},
        .apply =
            [effect](const TBitmap32& p, const ParamValues& v, EffectContext&) {
                const std::vector<int>& k = v.list("kernel");
                Kernel3x3 weights{};
                std::copy_n(k.begin(), std::min(k.size(), weights.size()), weights.begin());
                return effect(p, weights);
            },
    };
}

EffectDeclaration waterColorEffect()
{
    return {
        .name = "water-color",
        .summary = "washes of even colour with crisp edges, as if painted in water colours",
        .window = paintWindow(EffectDialogId::WaterColor, "TWater_Color", "Water_Color", "Watercolor1", "Water color"),
        .historyLabel = "Water color",
        .params = {slider("scope", "Scope:", kWaterColorScopeMin, kWaterColorScopeMax, kWaterColorScopeDefault,
                          {"Label2", "Label3", "TrackBar2"})},
        .apply = [](const TBitmap32& p, const ParamValues& v, EffectContext&) { return waterColor(p, v.get("scope")); },
    };
}

EffectDeclaration brumeEffect()
{
    EffectWindow window = paintWindow(EffectDialogId::Brume, "TBrume", "Brume", "Brume1", "Brume");
    window.backupOnShow = true;
    return {
        .name = "brume",
        .summary = "every pixel takes the colour of a random pixel near it (each file starts the random "
                   "sequence afresh, so a file gives the same picture alone or in any batch)",
        .window = window,
        .historyLabel = "Brume",
        .params = {slider("scope", "Scope:", kBrumeScopeMin, kBrumeScopeMax, kBrumeScopeDefault,
                          {"Label2", "Label3", "TrackBar2"})},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext& state) { return brume(p, v.get("scope"), state.random); },
    };
}

// The relief effects' windows: one OK button.
EffectWindow reliefWindow(EffectDialogId id, std::string className, std::string caption, std::string menuItem,
                          std::string okName = "Button1")
{
    return {.id = id,
            .className = std::move(className),
            .caption = caption,
            .menu = EffectMenu::Veins,
            .menuItem = std::move(menuItem),
            .menuText = std::move(caption),
            .buttons = {okButton(std::move(okName))}};
}

EffectDeclaration embossEffect()
{
    return {
        .name = "emboss",
        .summary = "a grey relief: every pixel against the one depth steps down and to the right of it",
        .window = reliefWindow(EffectDialogId::Emboss, "TEmboss", "Emboss", "Emboss1", "Button2"),
        .historyLabel = "Emboss",
        .params = {steps(slider("lighting", "Lighting:", kEmbossLightingMin, kEmbossLightingMax, kEmbossLightingDefault,
                                {"Label8", "Label9", "TrackBar1"}),
                         10, 10),
                   slider("depth", "Depth:", kEmbossDepthMin, kEmbossDepthMax, kEmbossDepthDefault,
                          {"Label2", "Label3", "TrackBar2"})},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return emboss(p, v.get("lighting"), v.get("depth")); },
    };
}

EffectDeclaration striaEffect()
{
    ParamDeclaration direction;
    direction.key = "direction";
    direction.caption = "Direction";  // the window shows only the two radio buttons
    direction.kind = ParamKind::Choice;
    direction.defaultValue = 0;
    direction.words = {"vertical", "horizontal"};
    direction.captions = {"Vertical", "Horizontal"};
    direction.controls = {"RadioButton1", "RadioButton2"};

    // The transparency reads in percent.
    ParamDeclaration transparency =
        steps(slider("transparency", "Transparent:", kStriaTransparencyMin, kStriaTransparencyMax,
                     kStriaTransparencyDefault, {"Label8", "Label9", "TrackBar1"}),
              10, 16);
    transparency.reading.percentOf = kStriaTransparencyMax;

    ParamDeclaration colour;
    colour.key = "color";
    colour.caption = "Color";
    colour.kind = ParamKind::Colour;
    colour.defaultValue = int(kStriaColourDefault);
    colour.hint = "Select a color from ColorPanel";
    colour.controls = {"ColorPanel"};

    return {
        .name = "stria",
        .summary = "evenly spaced stripes of one colour over the picture",
        .window = reliefWindow(EffectDialogId::Stria, "TStria", "Stria", "Verticalstria1"),
        // No history label: the name under the picture stays that of the
        // step before.
        .params = {direction,
                   steps(slider("thickness", "Thickness:", kStriaThicknessMin, kStriaThicknessMax,
                                kStriaThicknessDefault, {"Label1", "Label3", "TrackBar3"}),
                         1, 10),
                   steps(slider("space", "Space:", kStriaSpaceMin, kStriaSpaceMax, kStriaSpaceDefault,
                                {"Label2", "Label4", "TrackBar2"}),
                         1, 16),
                   transparency, colour},
        .apply =
            [](const TBitmap32& p, const ParamValues& v, EffectContext&) {
                const auto direction = v.get("direction") == 0 ? StriaDirection::Vertical : StriaDirection::Horizontal;
                return stria(p, direction, v.get("thickness"), v.get("space"), v.get("transparency"),
                             std::uint32_t(v.get("color")));
            },
    };
}

EffectDeclaration textureEffect()
{
    // The tiles are shown by the window as a grid of thumbnails with a radio
    // button each; the declaration holds what the command line needs.
    ParamDeclaration tile = number("tile", "Texture", 1, kTextureCount);
    tile.defaultValue = kTextureDefault;
    ParamDeclaration tileFile;
    tileFile.key = "tile-file";
    tileFile.caption = "Texture file";
    tileFile.kind = ParamKind::File;
    tileFile.hint = "a 58 x 58 picture of your own";
    return {
        .name = "texture",
        .summary = "a surface texture printed into the picture: a tile's lightness raises or lowers the picture's",
        .window = reliefWindow(EffectDialogId::Texture, "TTexture", "Texture", "exture1"),
        .historyLabel = "Made texture",
        .params = {tile, tileFile,
                   steps(slider("pressure", "Pressure:", kTexturePressureMin, kTexturePressureMax,
                                kTexturePressureDefault, {"Label8", "Label9", "TrackBar1"}),
                         10, 1)},
        .alternatives = {"tile", "tile-file"},
        .apply =
            [](const TBitmap32& p, const ParamValues& v, EffectContext& context) {
                const bool ownTile = v.hasText("tile-file");
                if (ownTile ? !context.readPicture : !context.builtInTile)
                    throw PlumoraError("No texture tile is at hand.");
                const TBitmap32 tile =
                    ownTile ? context.readPicture(v.text("tile-file")) : context.builtInTile(v.get("tile"));
                return TextureBlend(tile, p, v.get("pressure"));
            },
    };
}

EffectDeclaration colorPanelEffect()
{
    ParamDeclaration layout;
    layout.key = "layout";
    layout.caption = "Layout";
    layout.kind = ParamKind::Choice;
    layout.words = {"panel2", "pane2", "catercorner4", "panel3", "pane3", "catercorner16"};
    layout.captions = {"Panel 2 x 2", "Pane 2 x 2", "Catercorner (4)", "Panel 3 x 3", "Pane 3 x 3", "Catercorner (16)"};
    for (int i = 1; i <= 6; ++i)
        layout.controls.push_back("RadioButton" + std::to_string(i));
    layout.appliesAtOnce = true;
    layout.columns = 2;
    return {
        .name = "color-panel",
        .summary = "the picture as a poster of tinted panels, panes or triangles",
        .window = {.id = EffectDialogId::ColorPanel,
                   .className = "TColor_Panel",
                   .caption = "Color_Panel",
                   .menu = EffectMenu::ColourAdjust,
                   .menuItem = "Colorpanel1",
                   .menuText = "Color panel",
                   .width = 230,
                   .height = 126},
        .labelsByChoice = "layout",
        .choiceLabels = {"Color Panels", "Color Pane", "Color Catercorner", "Color Panels", "Color Pane",
                         "Color Catercorner"},
        .params = {layout},
        // No layout is chosen until the user chooses one.
        .validate =
            [](const ParamValues& v) {
                if (!v.has("layout"))
                    throw ParamError("color-panel needs --layout");
            },
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return colorPanel(p, ColorPanelLayout(v.get("layout") + 1)); },
    };
}

EffectDeclaration hslAdjustEffect()
{
    // Every showing starts from the centre positions; the labels read the
    // shift from there, the hue in percent of half a turn.
    ParamDeclaration hue =
        slider("hue", "Hue:", kHslHueMin, kHslHueMax, kHslHueDefault, {"Label1", "Label4", "TrackBar1"});
    hue.reading = {.origin = kHslHueDefault, .percentOf = 180};
    ParamDeclaration saturation = slider("saturation", "Saturation:", kHslSaturationMin, kHslSaturationMax,
                                         kHslSaturationDefault, {"Label2", "Label3", "TrackBar2"});
    saturation.reading.origin = kHslSaturationDefault;
    ParamDeclaration lighting = slider("lighting", "Lighting:", kHslLightingMin, kHslLightingMax, kHslLightingDefault,
                                       {"Label8", "Label9", "TrackBar3"});
    lighting.reading.origin = kHslLightingDefault;
    // A tick every 30 degrees and every 10 points: one a position would be
    // a solid bar on bars of 201 and 361 positions.
    for (ParamDeclaration* p : {&hue, &saturation, &lighting}) {
        p->resetOnShow = true;
        p->pageStep = 10;
        p->tickInterval = p == &hue ? 30 : 10;
    }
    return {
        .name = "hsl-adjust",
        .summary = "turns the hue and shifts the saturation and lightness (the positions of the window's sliders)",
        .window = {.id = EffectDialogId::HslAdjust,
                   .className = "THSL_Adjust",
                   .caption = "HSL_Adjust",
                   .menu = EffectMenu::ColourAdjust,
                   .menuItem = "HSLadjust1",
                   .menuText = "HSL adjust",
                   .colour = WindowColour::SkyBlue,
                   .buttons = {okButton()}},
        .historyLabel = "HSL Adjusted",
        .params = {hue, saturation, lighting},
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return hslAdjust(p, v.get("hue"), v.get("saturation"), v.get("lighting")); },
    };
}

// The colour filter's and colour variety's six swatches, which their
// windows draw as coloured panels beside two previews.
ParamDeclaration swatches(std::string key, std::string caption, ParamKind kind, std::vector<std::string> hints)
{
    ParamDeclaration p;
    p.key = std::move(key);
    p.caption = std::move(caption);
    p.kind = kind;
    p.words = {"red", "green", "blue", "yellow", "cyan", "purple"};
    p.captions = std::move(hints);
    for (int i = 3; i <= 8; ++i)
        p.controls.push_back("Panel" + std::to_string(i));
    p.drawnByWindow = true;
    return p;
}

EffectWindow previewWindow(EffectDialogId id, std::string className, std::string caption, std::string menuItem,
                           std::string menuText, int width, int height)
{
    return {.id = id,
            .className = std::move(className),
            .caption = std::move(caption),
            .menu = EffectMenu::ColourAdjust,
            .menuItem = std::move(menuItem),
            .menuText = std::move(menuText),
            .width = width,
            .height = height,
            .buttons = {okButton()}};
}

EffectDeclaration colorFilterEffect()
{
    return {
        .name = "color-filter",
        .summary = "the picture's greys seen through a coloured filter",
        .window = previewWindow(EffectDialogId::ColorFilter, "TColor_Filter", "Color_Filter", "ColorFilter2",
                                "Color Filter", 320, 299),
        .historyLabel = "Color Filter",
        .params = {swatches("filter", "Filter", ParamKind::Choice,
                            {"Red", "Green", "Blue", "Yellow", "Cyan", "Purple"})},
        .validate =
            [](const ParamValues& v) {
                if (!v.has("filter"))
                    throw ParamError("color-filter needs --filter");
            },
        .apply = [](const TBitmap32& p, const ParamValues& v,
                    EffectContext&) { return colorFilter(p, ColorFilterKind(v.get("filter") + 1)); },
    };
}

EffectDeclaration colorVarietyEffect()
{
    return {
        .name = "color-variety",
        .summary = "shifts the colour balance step by step: every step adds 10 to one or two channels",
        .window = previewWindow(EffectDialogId::ColorVariety, "TColor_variety", "Color_variety", "Colorvariety1",
                                "Color variety", 318, 300),
        .historyLabel = "Color Varied",
        .params = {swatches("steps", "Steps", ParamKind::Steps,
                            {"More red", "More green", "More blue", "More yellow", "More cyan", "More purple"})},
        .apply =
            [](const TBitmap32& p, const ParamValues& v, EffectContext&) {
                std::vector<ColorVarietyKind> steps;
                for (int step : v.list("steps"))
                    steps.push_back(ColorVarietyKind(step + 1));
                return colorVariety(p, steps);
            },
    };
}

constexpr int kMaxSide = int(kMaxPixels);

// Resize keeps the proportions for a side that is not given, as the image
// size dialog does while "Hold in width and height" is checked.
void checkResize(const ParamValues& values)
{
    if (!values.has("width") && !values.has("height"))
        throw ParamError("resize needs --width, --height or both");
}

TBitmap32 resize(const TBitmap32& picture, const ParamValues& values, EffectContext&)
{
    checkResize(values);
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be resized.");
    const std::int64_t w = values.has("width")
                               ? values.get("width")
                               : Round(double(values.get("height")) * picture.width() / picture.height());
    const std::int64_t h = values.has("height")
                               ? values.get("height")
                               : Round(double(values.get("width")) * picture.height() / picture.width());
    checkPictureSize(std::max<std::int64_t>(w, 1), std::max<std::int64_t>(h, 1));
    return stretchTo(picture, int(std::max<std::int64_t>(w, 1)), int(std::max<std::int64_t>(h, 1)));
}

std::vector<EffectDeclaration> buildTable()
{
    using Id = EffectDialogId;
    return {
        pencilSketchEffect(),
        penSketchEffect(),
        dozadirEffect(),
        penAndInkEffect(),
        colorPencilEffect(),
        kernelEffect(
            "realism", "a 3 x 3 convolution with weights of your own", Id::Realism, "TFormOfFringe1",
            "Setup for Realism", "Realism1", "Realism", "Realism", kRealismDefaultKernel,
            {"Convert with this setup", "Default setup"},
            {"Button1", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9", "Button3"},
            realism),
        kernelEffect(
            "pop-art", "coloured outlines on white, from a kernel of your own and a fixed edge kernel", Id::PopArt,
            "TFormOfFringe3", "Setup for Pop art", "Popart1", "Pop art", "Pop art", kPopArtDefaultKernel,
            {"Convert with your setup", "Convert with default setup"},
            {"Button1", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4", "Edit7", "Edit8", "Edit9", "Button3"},
            popArt),
        kernelEffect(
            "abstract", "coloured outlines on white, pop art's kin with another fixed kernel", Id::Abstract,
            "TFormOfFringe2", "Setup for Abstract", "Abstract1", "Abstract", "Abstract art", kAbstractDefaultKernel,
            {"Convert with this setup", "Default setup"},
            {"Button1", "Button3", "Edit1", "Edit2", "Edit3", "Edit6", "Edit5", "Edit4", "Edit7", "Edit8", "Edit9"},
            abstractArt),
        waterColorEffect(),
        brumeEffect(),
        colorPanelEffect(),
        hslAdjustEffect(),
        colorFilterEffect(),
        colorVarietyEffect(),
        embossEffect(),
        textureEffect(),
        striaEffect(),
        {.name = "rotate-cw",
         .summary = "a quarter turn clockwise",
         .apply = [](const TBitmap32& p, const ParamValues&, EffectContext&) { return rotateClockwise(p); }},
        {.name = "rotate-ccw",
         .summary = "a quarter turn anticlockwise",
         .apply = [](const TBitmap32& p, const ParamValues&, EffectContext&) { return rotateAnticlockwise(p); }},
        {.name = "resize",
         .summary = "stretch to a new size in pixels (a missing side keeps the proportions)",
         .params = {number("width", "Width", 1, kMaxSide), number("height", "Height", 1, kMaxSide)},
         .validate = checkResize,
         .apply = resize},
    };
}

// Digits with an optional minus sign, nothing else: from_chars alone would
// take "12abc" as 12 if we did not check that it used every character.
// Nothing for a text that is no whole number; a number beyond long long
// comes back as its sign's extreme.
std::optional<long long> wholeNumber(std::string_view text)
{
    long long value = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (text.empty() || ec == std::errc::invalid_argument || end != last)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return text.front() == '-' ? LLONG_MIN : LLONG_MAX;
    return value;
}

std::string joined(const std::vector<int>& values, const char* separator)
{
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? separator : "") + std::to_string(values[i]);
    return text;
}

std::string hexColour(int rgb)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text(6, '0');
    for (int i = 5; i >= 0; --i, rgb >>= 4)
        text[std::size_t(i)] = digits[rgb & 15];
    return text;
}

std::string escapeCell(std::string text)
{
    for (std::size_t at = 0; (at = text.find('|', at)) != std::string::npos; at += 2)
        text.insert(at, 1, '\\');
    return text;
}

// The place of a choice's word, or of its 1-based number.
int choiceIn(const ParamDeclaration& param, std::string_view text)
{
    const auto it = std::find(param.words.begin(), param.words.end(), text);
    if (it != param.words.end())
        return int(it - param.words.begin());
    const std::optional<long long> place = wholeNumber(text);
    if (place && *place >= 1 && *place <= (long long)param.words.size())
        return int(*place - 1);
    throw ParamError("'" + std::string(text) + "' is not a choice for --" + param.key + " (" + describeValues(param) +
                     ")");
}

}  // namespace

const std::vector<EffectMenuInfo>& effectMenus()
{
    static const std::vector<EffectMenuInfo> menus = {
        {EffectMenu::BlackAndWhite, "BW1", " B&W"},
        {EffectMenu::Colour, "Color1", " Color"},
        {EffectMenu::ColourAdjust, "ColorAdjust1", " ColorAdjust"},
        {EffectMenu::Veins, "Veins1", " Veins"},
    };
    return menus;
}

std::string ParamDeclaration::readingOf(int position) const
{
    const int offset = position - reading.origin;
    if (reading.percentOf == 0)
        return std::to_string(offset);
    return std::to_string(Round(offset * 100 / double(reading.percentOf)));
}

std::string ParamDeclaration::listedCaption() const
{
    const std::string& name = commandLineCaption.empty() ? caption : commandLineCaption;
    return !name.empty() && name.back() == ':' ? name.substr(0, name.size() - 1) : name;
}

std::string ParamDeclaration::initialText() const
{
    return initialReading ? *initialReading : readingOf(defaultValue.value_or(min));
}

int ParamValues::get(std::string_view key) const
{
    const auto it = m_values.find(key);
    if (it == m_values.end() || it->second.size() != 1)
        throw ParamError("missing value for --" + std::string(key));
    return it->second.front();
}

const std::vector<int>& ParamValues::list(std::string_view key) const
{
    const auto it = m_values.find(key);
    if (it == m_values.end())
        throw ParamError("missing value for --" + std::string(key));
    return it->second;
}

const std::string& ParamValues::text(std::string_view key) const
{
    const auto it = m_texts.find(key);
    if (it == m_texts.end())
        throw ParamError("missing value for --" + std::string(key));
    return it->second;
}

void ParamValues::erase(std::string_view key)
{
    if (const auto it = m_values.find(key); it != m_values.end())
        m_values.erase(it);
    if (const auto it = m_texts.find(key); it != m_texts.end())
        m_texts.erase(it);
}

std::optional<std::string> EffectDeclaration::labelFor(const ParamValues& values) const
{
    if (labelsByChoice.empty() || !values.has(labelsByChoice))
        return historyLabel;
    return choiceLabels.at(std::size_t(values.get(labelsByChoice)));
}

const ParamDeclaration* EffectDeclaration::findParam(std::string_view key) const
{
    for (const ParamDeclaration& p : params)
        if (p.key == key)
            return &p;
    return nullptr;
}

bool EffectDeclaration::isAlternative(std::string_view key) const
{
    return std::find(alternatives.begin(), alternatives.end(), key) != alternatives.end();
}

ParamValues EffectDeclaration::defaults() const
{
    ParamValues values;
    for (const ParamDeclaration& p : params) {
        if (isAlternative(p.key) && p.key != alternatives.front())
            continue;
        if (p.kind == ParamKind::Grid)
            values.set(p.key, p.defaultGrid);
        else if (p.kind == ParamKind::Steps)
            values.set(p.key, std::vector<int>{});
        else if (p.defaultValue)
            values.set(p.key, *p.defaultValue);
    }
    return values;
}

ParamValues EffectDeclaration::parse(const std::vector<std::pair<std::string, std::string>>& given) const
{
    ParamValues values = defaults();
    std::vector<std::string> alternativesGiven;
    for (const auto& [key, text] : given) {
        const ParamDeclaration* param = findParam(key);
        if (!param)
            throw ParamError(name + " has no parameter --" + key);
        if (param->kind == ParamKind::File) {
            if (text.empty())
                throw ParamError("--" + key + " needs a file name");
            values.setText(key, text);
        } else {
            values.set(key, parseParamValue(*param, text));
        }
        if (isAlternative(key) &&
            std::find(alternativesGiven.begin(), alternativesGiven.end(), key) == alternativesGiven.end())
            alternativesGiven.push_back(key);
    }
    if (alternativesGiven.size() > 1) {
        std::string options;
        for (std::size_t i = 0; i < alternatives.size(); ++i)
            options += (i == 0 ? "--" : i + 1 == alternatives.size() ? " or --" : ", --") + alternatives[i];
        throw ParamError(name + " takes " + options + ", not both");
    }
    if (!alternativesGiven.empty())
        for (const std::string& other : alternatives)
            if (other != alternativesGiven.front())
                values.erase(other);
    if (validate)
        validate(values);
    return values;
}

namespace {

// Every effect's algorithm, with the message for a picture too small for it
// where the caller asks for one (EffectContext::namesTooSmallPictures).
std::vector<EffectDeclaration> namingTooSmallPictures(std::vector<EffectDeclaration> table)
{
    for (EffectDeclaration& e : table) {
        e.apply = [apply = std::move(e.apply), name = e.name](const TBitmap32& p, const ParamValues& v,
                                                              EffectContext& context) {
            try {
                return apply(p, v, context);
            } catch (const ScanLineError&) {
                if (!context.namesTooSmallPictures || (p.width() > 1 && p.height() > 1))
                    throw;
                throw PlumoraError("The picture is too small for " + name + ".");
            }
        };
    }
    return table;
}

}  // namespace

const std::vector<EffectDeclaration>& effectTable()
{
    static const std::vector<EffectDeclaration> table = namingTooSmallPictures(buildTable());
    return table;
}

const EffectDeclaration* findEffect(std::string_view name)
{
    for (const EffectDeclaration& e : effectTable())
        if (e.name == name)
            return &e;
    return nullptr;
}

const EffectDeclaration& effectFor(EffectDialogId id)
{
    for (const EffectDeclaration& e : effectTable())
        if (id != EffectDialogId::None && e.window.id == id)
            return e;
    throw std::out_of_range("no effect window has that number");
}

int parseInteger(std::string_view text)
{
    const std::optional<long long> value = wholeNumber(text);
    if (!value || *value < INT_MIN || *value > INT_MAX)
        throw ParamError("'" + std::string(text) + "' is not a valid integer value");
    return int(*value);
}

std::vector<int> parseParamValue(const ParamDeclaration& param, std::string_view text)
{
    const std::string shown(text);
    switch (param.kind) {
    case ParamKind::Flag:
    case ParamKind::File:  // its name is kept as it is, not as a number
        return {1};
    case ParamKind::Choice:
        return {choiceIn(param, text)};
    case ParamKind::Steps: {
        std::vector<int> steps;
        for (std::size_t from = 0; from < text.size();) {
            const std::size_t comma = std::min(text.find(',', from), text.size());
            steps.push_back(choiceIn(param, text.substr(from, comma - from)));
            from = comma + 1;
        }
        return steps;
    }
    case ParamKind::Grid: {
        std::vector<int> values;
        for (std::size_t from = 0;;) {
            const std::size_t comma = text.find(',', from);
            const int value = parseInteger(text.substr(from, comma == std::string_view::npos ? comma : comma - from));
            if (value < param.min || value > param.max)
                throw ParamError(std::to_string(value) + " is out of range for --" + param.key + " (" +
                                 describeValues(param) + ")");
            values.push_back(value);
            if (comma == std::string_view::npos)
                break;
            from = comma + 1;
        }
        if (values.size() != param.defaultGrid.size())
            throw ParamError("--" + param.key + " takes " + std::to_string(param.defaultGrid.size()) +
                             " whole numbers separated by commas, not " + std::to_string(values.size()));
        return values;
    }
    case ParamKind::Colour: {
        const std::string_view digits = !text.empty() && text.front() == '#' ? text.substr(1) : text;
        unsigned rgb = 0;  // unsigned: from_chars would take a minus sign for an int
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), rgb, 16);
        if (digits.size() != 6 || ec != std::errc() || end != digits.data() + digits.size())
            throw ParamError("'" + shown + "' is not a colour for --" + param.key + " (" + describeValues(param) + ")");
        return {int(rgb)};
    }
    case ParamKind::Number:
    case ParamKind::Slider:
        break;
    }
    const std::optional<long long> value = wholeNumber(text);
    if (!value)
        throw ParamError("'" + shown + "' is not a valid integer value");
    if (*value < param.min || *value > param.max)
        throw ParamError(shown + " is out of range for --" + param.key + " (" + describeValues(param) + ")");
    return {int(*value)};
}

std::string valuePlaceholder(const ParamDeclaration& param)
{
    switch (param.kind) {
    case ParamKind::Flag:
        return "";
    case ParamKind::Choice:
        return "WORD";
    case ParamKind::Steps:
        return "WORD,...";
    case ParamKind::Grid:
        return "N,N,...";
    case ParamKind::Colour:
        return "RRGGBB";
    case ParamKind::File:
        return "FILE";
    case ParamKind::Number:
    case ParamKind::Slider:
        break;
    }
    return "N";
}

std::string describeValues(const ParamDeclaration& param)
{
    switch (param.kind) {
    case ParamKind::Flag:
        return "flag, off unless given";
    case ParamKind::Choice:
    case ParamKind::Steps: {
        std::string text;
        for (const std::string& w : param.words)
            text += (text.empty() ? "" : "|") + w;
        text += " (or 1.." + std::to_string(param.words.size()) + ")";
        if (param.kind == ParamKind::Steps)
            return text + ", separated by commas, in the order they are taken; none unless given";
        return text + (param.defaultValue ? ", default " + param.words.at(std::size_t(*param.defaultValue))
                                          : ", must be given");
    }
    case ParamKind::Grid:
        return std::to_string(param.defaultGrid.size()) + " whole numbers, default " + joined(param.defaultGrid, ",");
    case ParamKind::Colour:
        return "a colour as RRGGBB in hex, default " + hexColour(param.defaultValue.value_or(0));
    case ParamKind::File:
        return param.hint;
    case ParamKind::Number:
    case ParamKind::Slider:
        break;
    }
    std::string text = std::to_string(param.min) + ".." + std::to_string(param.max);
    text += param.defaultValue ? ", default " + std::to_string(*param.defaultValue) : ", optional";
    return text;
}

std::string describeParam(const EffectDeclaration& effect, const ParamDeclaration& param)
{
    if (!effect.isAlternative(param.key))
        return describeValues(param);
    const std::string& first = effect.alternatives.front();
    if (param.key == first) {
        std::string others;
        for (std::size_t i = 1; i < effect.alternatives.size(); ++i)
            others += (i > 1 ? " or --" : "--") + effect.alternatives[i];
        return describeValues(param) + ", unless " + others + " is given";
    }
    const bool ranged = param.kind == ParamKind::Number || param.kind == ParamKind::Slider;
    return (ranged ? std::to_string(param.min) + ".." + std::to_string(param.max) : describeValues(param)) +
           ", instead of --" + first;
}

std::string effectsMarkdown()
{
    std::string text = "| Command | Menu item | What it does | Parameters |\n|---|---|---|---|\n";
    auto menuCaption = [](EffectMenu menu) -> std::string {
        for (const EffectMenuInfo& m : effectMenus())
            if (m.menu == menu)
                return std::string(m.caption).substr(1);
        return "";
    };
    for (const EffectDeclaration& e : effectTable()) {
        std::string params;
        for (const ParamDeclaration& p : e.params) {
            const std::string placeholder = valuePlaceholder(p);
            params += (params.empty() ? "" : "<br>") + std::string("`--") + p.key +
                      (placeholder.empty() ? "" : " " + placeholder) + "` " + p.listedCaption() + ": " +
                      describeParam(e, p);
        }
        const std::string menu =
            e.hasDialog() ? menuCaption(e.window.menu) + " › " + e.window.menuText : "command line only";
        text += "| `" + e.name + "` | " + escapeCell(menu) + " | " + escapeCell(e.summary) + " | " +
                escapeCell(params) + " |\n";
    }
    return text;
}

}  // namespace plumora
