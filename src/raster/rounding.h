#pragma once

#include <cmath>
#include <cstdint>

namespace plumora {

// Round: to the nearest integer, halves to even (8.5 -> 8, 9.5 -> 10), in the
// default rounding mode of IEEE arithmetic. The argument must be computed in
// double, in the order the formula is written, without fused multiply-add:
// which side of a half a value lands on depends on it.
inline std::int64_t Round(double x)
{
    return std::llrint(x);
}

// Trunc: toward zero.
inline std::int64_t Trunc(double x)
{
    return static_cast<std::int64_t>(x);
}

// a * b / c in 64-bit arithmetic, rounded to the nearest integer with halves
// away from zero, as the platform's MulDiv does. Like it, answers -1 when c is
// 0 or the result does not fit in 32 bits.
inline std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c)
{
    if (c == 0)
        return -1;
    std::int64_t num = std::int64_t(a) * b;
    std::int64_t den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    // Add half the divisor to the magnitude, then truncate.
    const std::int64_t q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
    if (q < INT32_MIN || q > INT32_MAX)
        return -1;
    return std::int32_t(q);
}

inline std::uint8_t clampByte(std::int64_t v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace plumora
