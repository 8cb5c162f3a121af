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

// A slider's parameter: a whole number in a range, with a default.
ParamDeclaration slider(std::string key, std::string caption, int min, int max, int defaultValue)
{
    return {.key = std::move(key),
            .caption = std::move(caption),
            .kind = ParamKind::Slider,
            .min = min,
            .max = max,
            .defaultValue = defaultValue};
}

ParamDeclaration number(std::string key, std::string caption, int min, int max)
{
    return {.key = std::move(key), .caption = std::move(caption), .kind = ParamKind::Number, .min = min, .max = max};
}

ParamDeclaration choice(std::string key, std::string caption, std::vector<std::string> words,
                        std::optional<int> defaultPlace)
{
    return {.key = std::move(key),
            .caption = std::move(caption),
            .kind = ParamKind::Choice,
            .defaultValue = defaultPlace,
            .words = std::move(words)};
}

EffectDeclaration pencilSketchEffect()
{
    return {
        .name = "pencil-sketch",
        .summary = "grey pencil lines on white, finished by a contrast or a lighting adjustment",
        .menu = EffectMenu::BlackAndWhite,
        .menuText = "Pencil sketch",
        .historyLabel = "Pencil Sketch",
        .thickAndThin = ThickAndThin::ClearOnShowAndApply,
        .params = {slider("contrast", "Contrast", kContrastMin, kContrastMax, kContrastDefault),
                   slider("lighting", "Lighting", kLightingMin, kLightingMax, kLightingDefault)},
        .alternatives = {"contrast", "lighting"},
        .algorithm =
            [](const TBitmap32& p, const EffectValues& v, EffectContext&) {
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
        .menu = EffectMenu::BlackAndWhite,
        .menuText = "Pen sketch",
        .historyLabel = "Pen Sketch",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {slider("pressure", "Pen Pressure", kPenPressureMin, kPenPressureMax, kPenPressureDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return penSketch(p, v.get("pressure")); },
    };
}

EffectDeclaration dozadirEffect()
{
    return {
        .name = "dozadir",
        .summary = "the pen sketch with its lines grown along one direction, for a hatched, engraved look",
        .menu = EffectMenu::BlackAndWhite,
        .menuText = "Dozadir",
        .historyLabel = "Dozadir",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {slider("pressure", "Dozadir Pressure", kDozadirPressureMin, kDozadirPressureMax,
                          kDozadirPressureDefault),
                   slider("scope", "Scope", kDozadirScopeMin, kDozadirScopeMax, kDozadirScopeDefault),
                   choice("direction", "Direction", {"rising", "falling", "vertical", "horizontal"}, 0)},
        // The words in the order of the directions they stand for.
        .algorithm =
            [](const TBitmap32& p, const EffectValues& v, EffectContext&) {
                return dozadir(p, v.get("pressure"), v.get("scope"), kDirectionRising + v.get("direction"));
            },
    };
}

EffectDeclaration penAndInkEffect()
{
    return {
        .name = "pen-and-ink",
        .summary = "the outlines of the dark areas, in black or (--color-ink) in the picture's colours",
        .menu = EffectMenu::BlackAndWhite,
        .menuText = "Pen & Ink",
        .historyLabel = "Pen and Ink",
        .thickAndThin = ThickAndThin::SetOnApply,
        .params = {slider("thread", "Adjust thread", kInkThresholdMin, kInkThresholdMax, kInkThresholdDefault),
                   {.key = "color-ink", .caption = "Color Ink", .kind = ParamKind::Flag, .defaultValue = 0}},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return penAndInk(p, v.get("thread"), v.flag("color-ink")); },
    };
}

EffectDeclaration colorPencilEffect()
{
    return {
        .name = "color-pencil",
        .summary = "the photograph's colours drawn in coloured pencil on white paper",
        .menu = EffectMenu::Colour,
        .menuText = "Color Pencil",
        .historyLabel = "Color Sketch",
        .params = {slider("pressure", "Pressure", kColorPencilPressureMin, kColorPencilPressureMax,
                          kColorPencilPressureDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return colorPencil(p, v.get("pressure")); },
    };
}

// Realism, abstract and pop art: nine weights, row by row.
EffectDeclaration kernelEffect(std::string name, std::string summary, std::string menuText, std::string label,
                               const Kernel3x3& defaults, TBitmap32 (*effect)(const TBitmap32&, const Kernel3x3&))
{
    ParamDeclaration kernel{.key = "kernel",
                            .caption = "Weights, row by row from the top left",
                            .kind = ParamKind::Grid,
                            .min = INT_MIN,
                            .max = INT_MAX};
    kernel.defaultGrid.assign(defaults.begin(), defaults.end());
    return {
        .name = std::move(name),
        .summary = std::move(summary),
        .menu = EffectMenu::Colour,
        .menuText = std::move(menuText),
        .historyLabel = std::move(label),
        .params = {kernel},
        .algorithm =
            [effect](const TBitmap32& p, const EffectValues& v, EffectContext&) {
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
        .menu = EffectMenu::Colour,
        .menuText = "Water color",
        .historyLabel = "Water color",
        .params = {slider("scope", "Scope", kWaterColorScopeMin, kWaterColorScopeMax, kWaterColorScopeDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return waterColor(p, v.get("scope")); },
    };
}

EffectDeclaration brumeEffect()
{
    return {
        .name = "brume",
        .summary = "every pixel takes the colour of a random pixel near it (each file starts the random "
                   "sequence afresh, so a file gives the same picture alone or in any batch)",
        .menu = EffectMenu::Colour,
        .menuText = "Brume",
        .historyLabel = "Brume",
        .drawsRandom = true,
        .params = {slider("scope", "Scope", kBrumeScopeMin, kBrumeScopeMax, kBrumeScopeDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext& state) { return brume(p, v.get("scope"), state.random); },
    };
}

EffectDeclaration embossEffect()
{
    return {
        .name = "emboss",
        .summary = "a grey relief: every pixel against the one depth steps down and to the right of it",
        .menu = EffectMenu::Veins,
        .menuText = "Emboss",
        .historyLabel = "Emboss",
        .params = {slider("lighting", "Lighting", kEmbossLightingMin, kEmbossLightingMax, kEmbossLightingDefault),
                   slider("depth", "Depth", kEmbossDepthMin, kEmbossDepthMax, kEmbossDepthDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return emboss(p, v.get("lighting"), v.get("depth")); },
    };
}

EffectDeclaration striaEffect()
{
    return {
        .name = "stria",
        .summary = "evenly spaced stripes of one colour over the picture",
        .menu = EffectMenu::Veins,
        .menuText = "Stria",
        // No history label: the name under the picture stays that of the
        // step before.
        .params =
            {choice("direction", "Direction", {"vertical", "horizontal"}, 0),
             slider("thickness", "Thickness", kStriaThicknessMin, kStriaThicknessMax, kStriaThicknessDefault),
             slider("space", "Space", kStriaSpaceMin, kStriaSpaceMax, kStriaSpaceDefault),
             slider("transparency", "Transparent", kStriaTransparencyMin, kStriaTransparencyMax,
                    kStriaTransparencyDefault),
             {.key = "color", .caption = "Color", .kind = ParamKind::Colour, .defaultValue = int(kStriaColourDefault)}},
        .algorithm =
            [](const TBitmap32& p, const EffectValues& v, EffectContext&) {
                const auto direction = v.get("direction") == 0 ? StriaDirection::Vertical : StriaDirection::Horizontal;
                return stria(p, direction, v.get("thickness"), v.get("space"), v.get("transparency"),
                             std::uint32_t(v.get("color")));
            },
    };
}

EffectDeclaration textureEffect()
{
    ParamDeclaration tile = number("tile", "Texture", 1, kTextureCount);
    tile.defaultValue = kTextureDefault;
    return {
        .name = "texture",
        .summary = "a surface texture printed into the picture: a tile's lightness raises or lowers the picture's",
        .menu = EffectMenu::Veins,
        .menuText = "Texture",
        .historyLabel = "Made texture",
        .params = {tile,
                   {.key = "tile-file",
                    .caption = "Texture file",
                    .kind = ParamKind::File,
                    .hint = "a 58 x 58 picture of your own"},
                   slider("pressure", "Pressure", kTexturePressureMin, kTexturePressureMax, kTexturePressureDefault)},
        .alternatives = {"tile", "tile-file"},
        .algorithm =
            [](const TBitmap32& p, const EffectValues& v, EffectContext& context) {
                const bool ownTile = v.has("tile-file");
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
    return {
        .name = "color-panel",
        .summary = "the picture as a poster of tinted panels, panes or triangles",
        .menu = EffectMenu::ColourAdjust,
        .menuText = "Color panel",
        .labelsByChoice = "layout",
        .choiceLabels = {"Color Panels", "Color Pane", "Color Catercorner", "Color Panels", "Color Pane",
                         "Color Catercorner"},
        // No layout is chosen until the user chooses one.
        .params = {choice("layout", "Layout", {"panel2", "pane2", "catercorner4", "panel3", "pane3", "catercorner16"},
                          std::nullopt)},
        .validate =
            [](const EffectValues& v) {
                if (!v.has("layout"))
                    throw ParamError("color-panel needs --layout");
            },
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return colorPanel(p, ColorPanelLayout(v.get("layout") + 1)); },
    };
}

EffectDeclaration hslAdjustEffect()
{
    return {
        .name = "hsl-adjust",
        .summary = "turns the hue and shifts the saturation and lightness (the positions of the window's sliders)",
        .menu = EffectMenu::ColourAdjust,
        .menuText = "HSL adjust",
        .historyLabel = "HSL Adjusted",
        .params = {slider("hue", "Hue", kHslHueMin, kHslHueMax, kHslHueDefault),
                   slider("saturation", "Saturation", kHslSaturationMin, kHslSaturationMax, kHslSaturationDefault),
                   slider("lighting", "Lighting", kHslLightingMin, kHslLightingMax, kHslLightingDefault)},
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return hslAdjust(p, v.get("hue"), v.get("saturation"), v.get("lighting")); },
    };
}

// The colour filter's and colour variety's six colours.
ParamDeclaration swatches(std::string key, std::string caption, ParamKind kind)
{
    return {.key = std::move(key),
            .caption = std::move(caption),
            .kind = kind,
            .words = {"red", "green", "blue", "yellow", "cyan", "purple"}};
}

EffectDeclaration colorFilterEffect()
{
    return {
        .name = "color-filter",
        .summary = "the picture's greys seen through a coloured filter",
        .menu = EffectMenu::ColourAdjust,
        .menuText = "Color Filter",
        .historyLabel = "Color Filter",
        .params = {swatches("filter", "Filter", ParamKind::Choice)},
        .validate =
            [](const EffectValues& v) {
                if (!v.has("filter"))
                    throw ParamError("color-filter needs --filter");
            },
        .algorithm = [](const TBitmap32& p, const EffectValues& v,
                        EffectContext&) { return colorFilter(p, ColorFilterKind(v.get("filter") + 1)); },
    };
}

EffectDeclaration colorVarietyEffect()
{
    return {
        .name = "color-variety",
        .summary = "shifts the colour balance step by step: every step adds 10 to one or two channels",
        .menu = EffectMenu::ColourAdjust,
        .menuText = "Color variety",
        .historyLabel = "Color Varied",
        .params = {swatches("steps", "Steps", ParamKind::Steps)},
        .algorithm =
            [](const TBitmap32& p, const EffectValues& v, EffectContext&) {
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
void checkResize(const EffectValues& values)
{
    if (!values.has("width") && !values.has("height"))
        throw ParamError("resize needs --width, --height or both");
}

TBitmap32 resize(const TBitmap32& picture, const EffectValues& values, EffectContext&)
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
    return {
        pencilSketchEffect(),
        penSketchEffect(),
        dozadirEffect(),
        penAndInkEffect(),
        colorPencilEffect(),
        kernelEffect("realism", "a 3 x 3 convolution with weights of your own", "Realism", "Realism",
                     kRealismDefaultKernel, realism),
        kernelEffect("pop-art", "coloured outlines on white, from a kernel of your own and a fixed edge kernel",
                     "Pop art", "Pop art", kPopArtDefaultKernel, popArt),
        kernelEffect("abstract", "coloured outlines on white, pop art's kin with another fixed kernel", "Abstract",
                     "Abstract art", kAbstractDefaultKernel, abstractArt),
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
         .algorithm = [](const TBitmap32& p, const EffectValues&, EffectContext&) { return rotateClockwise(p); }},
        {.name = "rotate-ccw",
         .summary = "a quarter turn anticlockwise",
         .algorithm = [](const TBitmap32& p, const EffectValues&, EffectContext&) { return rotateAnticlockwise(p); }},
        {.name = "resize",
         .summary = "stretch to a new size in pixels (a missing side keeps the proportions)",
         .params = {number("width", "Width", 1, kMaxSide), number("height", "Height", 1, kMaxSide)},
         .validate = checkResize,
         .algorithm = resize},
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
        {EffectMenu::BlackAndWhite, " B&W"},
        {EffectMenu::Colour, " Color"},
        {EffectMenu::ColourAdjust, " ColorAdjust"},
        {EffectMenu::Veins, " Veins"},
    };
    return menus;
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

const ParamDeclaration& EffectValues::declared(std::string_view key, std::initializer_list<ParamKind> kinds,
                                               const char* read) const
{
    const ParamDeclaration* param = m_effect.findParam(key);
    if (!param)
        throw UndeclaredParam(m_effect.name + " reads --" + std::string(key) + ", which it does not declare");
    if (kinds.size() != 0 && std::find(kinds.begin(), kinds.end(), param->kind) == kinds.end())
        throw UndeclaredParam(m_effect.name + " reads --" + std::string(key) + " as " + read +
                              ", which its kind does not hold");
    return *param;
}

bool EffectValues::has(std::string_view key) const
{
    const ParamDeclaration& param = declared(key, {}, "");
    return param.kind == ParamKind::File ? m_values.hasText(key) : m_values.has(key);
}

int EffectValues::get(std::string_view key) const
{
    declared(key, {ParamKind::Number, ParamKind::Slider, ParamKind::Choice, ParamKind::Flag, ParamKind::Colour},
             "one number");
    return m_values.get(key);
}

bool EffectValues::flag(std::string_view key) const
{
    declared(key, {ParamKind::Flag}, "a flag");
    return m_values.flag(key);
}

const std::vector<int>& EffectValues::list(std::string_view key) const
{
    declared(key, {ParamKind::Grid, ParamKind::Steps}, "a list");
    return m_values.list(key);
}

const std::string& EffectValues::text(std::string_view key) const
{
    declared(key, {ParamKind::File}, "a file name");
    return m_values.text(key);
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
        validate(EffectValues(*this, values));
    return values;
}

TBitmap32 EffectDeclaration::apply(const TBitmap32& picture, const ParamValues& values, EffectContext& context) const
{
    try {
        return algorithm(picture, EffectValues(*this, values), context);
    } catch (const ScanLineError&) {
        if (!context.namesTooSmallPictures || (picture.width() > 1 && picture.height() > 1))
            throw;
        throw PlumoraError("The picture is too small for " + name + ".");
    }
}

const std::vector<EffectDeclaration>& effectTable()
{
    static const std::vector<EffectDeclaration> table = buildTable();
    return table;
}

const EffectDeclaration* findEffect(std::string_view name)
{
    for (const EffectDeclaration& e : effectTable())
        if (e.name == name)
            return &e;
    return nullptr;
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
        const std::string menu = e.inMenu() ? menuCaption(e.menu) + " › " + e.menuText : "command line only";
        text += "| `" + e.name + "` | " + escapeCell(menu) + " | " + escapeCell(e.summary) + " | " +
                escapeCell(params) + " |\n";
    }
    return text;
}

}  // namespace plumora
