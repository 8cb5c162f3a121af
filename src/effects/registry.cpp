#include "effects/registry.h"

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

namespace plumora {

namespace {

ParamSpec integer(std::string name, std::string caption, int min, int max, std::optional<int> defaultValue)
{
    ParamSpec param;
    param.name = std::move(name);
    param.caption = std::move(caption);
    param.kind = ParamKind::Integer;
    param.min = min;
    param.max = max;
    param.defaultValue = defaultValue;
    return param;
}

constexpr int kMaxSide = int(kMaxPixels);

// Resize keeps the proportions for a side that is not given, as the image
// size dialog does while "Hold in width and height" is checked.
void checkResize(const ParamValues& values)
{
    if (!values.has("width") && !values.has("height"))
        throw ParamError("resize needs --width, --height or both");
}

TBitmap32 resize(const TBitmap32& picture, const ParamValues& values)
{
    checkResize(values);
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be resized.");
    const std::int64_t w = values.has("width") ? values.get("width")
                                               : Round(double(values.get("height")) * picture.width() / picture.height());
    const std::int64_t h = values.has("height") ? values.get("height")
                                                : Round(double(values.get("width")) * picture.height() / picture.width());
    checkPictureSize(std::max<std::int64_t>(w, 1), std::max<std::int64_t>(h, 1));
    return stretchTo(picture, int(std::max<std::int64_t>(w, 1)), int(std::max<std::int64_t>(h, 1)));
}

ParamSpec flag(std::string name, std::string caption)
{
    ParamSpec param;
    param.name = std::move(name);
    param.caption = std::move(caption);
    param.kind = ParamKind::Flag;
    return param;
}

// The pencil sketch applies one adjustment, as its dialog applies the one
// whose track bar was moved last: --contrast or --lighting, and contrast at
// the dialog's 45 when neither is given. Neither parameter has a default of
// its own, or we could not tell which one the user asked for.
void checkPencilSketch(const ParamValues& values)
{
    if (values.has("contrast") && values.has("lighting"))
        throw ParamError("pencil-sketch takes --contrast or --lighting, not both");
}

TBitmap32 applyPencilSketch(const TBitmap32& picture, const ParamValues& values)
{
    checkPencilSketch(values);
    if (values.has("lighting"))
        return pencilSketch(picture, PencilMode::Lighting, values.get("lighting"));
    const int contrast = values.has("contrast") ? values.get("contrast") : kContrastDefault;
    return pencilSketch(picture, PencilMode::Contrast, contrast);
}

std::vector<EffectSpec> buildRegistry()
{
    // One entry per effect: its name, its parameters with the dialog's
    // ranges and defaults, and the algorithm. Nothing else in the program
    // needs to change to add one.
    return {
        {.name = "pencil-sketch",
         .summary = "grey pencil lines on white; --contrast N (default 45) or --lighting N",
         .params = {integer("contrast", "Contrast", kContrastMin, kContrastMax, std::nullopt),
                    integer("lighting", "Lighting", kLightingMin, kLightingMax, std::nullopt)},
         .apply = applyPencilSketch,
         .validate = checkPencilSketch},
        {.name = "pen-sketch",
         .summary = "black lines on white, from the edges of the picture",
         .params = {integer("pressure", "Pen Pressure", kPenPressureMin, kPenPressureMax, kPenPressureDefault)},
         .apply = [](const TBitmap32& p, const ParamValues& v) { return penSketch(p, v.get("pressure")); }},
        {.name = "dozadir",
         .summary = "the pen sketch with its lines grown in one direction (1 ///, 2 \\\\\\, 3 | | |, 4 ==)",
         .params = {integer("pressure", "Dozadir Pressure", kDozadirPressureMin, kDozadirPressureMax,
                            kDozadirPressureDefault),
                    integer("scope", "Scope", kDozadirScopeMin, kDozadirScopeMax, kDozadirScopeDefault),
                    integer("direction", "Direction", kDirectionRising, kDirectionHorizontal, kDirectionRising)},
         .apply =
             [](const TBitmap32& p, const ParamValues& v) {
                 return dozadir(p, v.get("pressure"), v.get("scope"), v.get("direction"));
             }},
        {.name = "pen-and-ink",
         .summary = "the outlines of the dark areas, in black or (--color-ink) in the picture's colours",
         .params = {integer("thread", "Adjust thread", kThreadMin, kThreadMax, kThreadDefault),
                    flag("color-ink", "Color Ink")},
         .apply = [](const TBitmap32& p,
                     const ParamValues& v) { return penAndInk(p, v.get("thread"), v.flag("color-ink")); }},
        {.name = "rotate-cw",
         .summary = "a quarter turn clockwise",
         .apply = [](const TBitmap32& p, const ParamValues&) { return rotateClockwise(p); }},
        {.name = "rotate-ccw",
         .summary = "a quarter turn anticlockwise",
         .apply = [](const TBitmap32& p, const ParamValues&) { return rotateAnticlockwise(p); }},
        {.name = "resize",
         .summary = "stretch to a new size in pixels (a missing side keeps the proportions)",
         .params = {integer("width", "Width", 1, kMaxSide, std::nullopt),
                    integer("height", "Height", 1, kMaxSide, std::nullopt)},
         .apply = resize,
         .validate = checkResize},
    };
}

}  // namespace

int ParamValues::get(std::string_view name) const
{
    const auto it = m_values.find(std::string(name));
    if (it == m_values.end())
        throw ParamError("missing value for --" + std::string(name));
    return it->second;
}

const ParamSpec* EffectSpec::findParam(std::string_view paramName) const
{
    for (const ParamSpec& p : params)
        if (p.name == paramName)
            return &p;
    return nullptr;
}

ParamValues EffectSpec::defaults() const
{
    ParamValues values;
    for (const ParamSpec& p : params)
        if (p.defaultValue)
            values.set(p.name, *p.defaultValue);
    return values;
}

const std::vector<EffectSpec>& effectRegistry()
{
    static const std::vector<EffectSpec> registry = buildRegistry();
    return registry;
}

const EffectSpec* findEffect(std::string_view name)
{
    for (const EffectSpec& e : effectRegistry())
        if (e.name == name)
            return &e;
    return nullptr;
}

int parseParamValue(const ParamSpec& param, std::string_view text)
{
    switch (param.kind) {
    case ParamKind::Flag:
        return 1;
    case ParamKind::Choice: {
        const auto it = std::find(param.choices.begin(), param.choices.end(), text);
        if (it == param.choices.end())
            throw ParamError("'" + std::string(text) + "' is not a choice for --" + param.name + " (" +
                             describeValues(param) + ")");
        return int(it - param.choices.begin());
    }
    case ParamKind::Integer:
        break;
    }
    // Digits with an optional minus sign, nothing else: from_chars alone
    // would take "12abc" as 12 if we did not check that it used every character.
    long long value = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (text.empty() || ec == std::errc::invalid_argument || end != last)
        throw ParamError("'" + std::string(text) + "' is not a valid integer value");
    if (ec == std::errc::result_out_of_range || value < param.min || value > param.max)
        throw ParamError(std::string(text) + " is out of range for --" + param.name + " (" + describeValues(param) + ")");
    return int(value);
}

std::string describeValues(const ParamSpec& param)
{
    switch (param.kind) {
    case ParamKind::Flag:
        return "flag, off unless given";
    case ParamKind::Choice: {
        std::string text;
        for (const std::string& c : param.choices)
            text += (text.empty() ? "" : "|") + c;
        if (param.defaultValue)
            text += ", default " + param.choices[std::size_t(*param.defaultValue)];
        return text;
    }
    case ParamKind::Integer:
        break;
    }
    std::string text = std::to_string(param.min) + ".." + std::to_string(param.max);
    text += param.defaultValue ? ", default " + std::to_string(*param.defaultValue) : ", optional";
    return text;
}

}  // namespace plumora
