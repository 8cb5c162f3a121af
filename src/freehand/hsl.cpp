#include "freehand/hsl.h"

#include "raster/rounding.h"

#include <algorithm>

namespace plumora {

Hsl RGBtoHSL(Rgb colour)
{
    const double r = colour.red / 255.0;
    const double g = colour.green / 255.0;
    const double b = colour.blue / 255.0;
    const double max = std::max({r, g, b});
    const double min = std::min({r, g, b});
    Hsl hsl;
    hsl.lightness = (max + min) / 2;
    if (max == min)
        return hsl;  // a grey: no hue, no saturation
    const double d = max - min;
    hsl.saturation = hsl.lightness < 0.5 ? d / (max + min) : d / (2 - max - min);
    double hue;
    if (r == max)
        hue = (g - b) / d;
    else if (g == max)
        hue = 2 + (b - r) / d;
    else
        hue = 4 + (r - g) / d;
    hue = hue / 6;
    if (hue < 0)
        hue = hue + 1;
    hsl.hue = hue;
    return hsl;
}

namespace {

// One channel from its place t on the hue circle (shifted by a third for red
// and blue) between the lightest and darkest value the colour reaches.
double channelValue(double m1, double m2, double t)
{
    if (t < 0)
        t = t + 1;
    else if (t > 1)
        t = t - 1;
    if (6 * t < 1)
        return m1 + (m2 - m1) * t * 6;
    if (2 * t < 1)
        return m2;
    if (3 * t < 2)
        return m1 + (m2 - m1) * (2.0 / 3 - t) * 6;
    return m1;
}

// Hue, saturation and lightness within 0..1 always give 0..255, but the
// arguments are plain doubles from the caller: a lightness above 1 must give
// white rather than wrap round to a dark byte.
std::uint8_t channelByte(double v)
{
    return clampByte(Round(255 * v));
}

}  // namespace

Rgb HSLtoRGB(double hue, double saturation, double lightness)
{
    if (saturation == 0) {
        const std::uint8_t v = channelByte(lightness);
        return {v, v, v};
    }
    const double m2 = lightness <= 0.5 ? lightness * (1 + saturation) : lightness + saturation - lightness * saturation;
    const double m1 = 2 * lightness - m2;
    return {channelByte(channelValue(m1, m2, hue + 1.0 / 3)), channelByte(channelValue(m1, m2, hue)),
            channelByte(channelValue(m1, m2, hue - 1.0 / 3))};
}

}  // namespace plumora
