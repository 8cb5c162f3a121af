#pragma once

// Little-endian fields of the file formats we read and write (BMP, icons,
// metafiles all store their numbers low byte first). Callers check that the
// bytes lie inside the file before they read them.

#include <cstdint>

namespace plumora::bytes {

inline std::uint16_t readU16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

inline std::uint32_t readU32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

inline void writeU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

inline void writeU32(std::uint8_t* p, std::uint32_t v)
{
    writeU16(p, v);
    writeU16(p + 2, v >> 16);
}

}  // namespace plumora::bytes
