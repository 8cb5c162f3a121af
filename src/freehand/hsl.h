#pragma once

#include <cstdint>

namespace plumora {

// A colour as the freehand tools handle it: red, green and blue bytes.
struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Hue, saturation and lightness, each 0..1.
struct Hsl {
    double hue = 0;
    double saturation = 0;
    double lightness = 0;
    friend bool operator==(const Hsl&, const Hsl&) = default;
};

// The brush's colour conversions, in double precision. They are not the
// integer pair the effects use (IntRGBtoHSL): the brush keeps fractions of a
// lightness step between applications, which the integer pair would lose.
Hsl RGBtoHSL(Rgb colour);
Rgb HSLtoRGB(double hue, double saturation, double lightness);

}  // namespace plumora
