#pragma once

// Writes GIF files for the tests with giflib's own encoder.

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace plumora::test {

// One picture of the file.
struct Frame {
    int width = 1;
    int height = 1;
    std::vector<std::uint8_t> indexes;   // rows top-down
    std::vector<std::uint32_t> palette;  // local, 0xRRGGBB, 2^n entries; empty: none
    int transparent = -1;                // -1: no graphic control block
    bool interlaced = false;
    int left = 0;
    int top = 0;
};

inline ColorMapObject* mapOf(const std::vector<std::uint32_t>& colours)
{
    std::vector<GifColorType> c;
    for (std::uint32_t v : colours)
        c.push_back(GifColorType{GifByteType(v >> 16), GifByteType(v >> 8), GifByteType(v)});
    return c.empty() ? nullptr : GifMakeMapObject(int(c.size()), c.data());
}

// Writes a GIF file with giflib's encoder; interlaced pictures get their rows
// in the stored order (every 8th from 0, every 8th from 4, every 4th from 2,
// every 2nd from 1).
inline std::vector<std::uint8_t> makeGif(int width, int height, const std::vector<std::uint32_t>& palette,
                                         int background, const std::vector<Frame>& frames)
{
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* bytes, int n) {
            static_cast<std::vector<std::uint8_t>*>(g->UserData)
                ->insert(static_cast<std::vector<std::uint8_t>*>(g->UserData)->end(), bytes, bytes + n);
            return n;
        },
        &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = mapOf(palette);
    EXPECT_EQ(EGifPutScreenDesc(gif, width, height, 8, background, global), GIF_OK);
    GifFreeMapObject(global);
    for (const Frame& f : frames) {
        if (f.transparent >= 0) {
            GraphicsControlBlock gcb{};
            gcb.TransparentColor = f.transparent;
            GifByteType extension[4];
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(EGifGCBToExtension(&gcb, extension)), extension);
        }
        ColorMapObject* local = mapOf(f.palette);
        EXPECT_EQ(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local), GIF_OK);
        GifFreeMapObject(local);
        static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        for (int pass = f.interlaced ? 0 : 3; pass < 4; ++pass)
            for (int y = f.interlaced ? kStart[pass] : 0; y < f.height; y += f.interlaced ? kStep[pass] : 1) {
                std::vector<GifPixelType> row(f.indexes.begin() + y * f.width, f.indexes.begin() + (y + 1) * f.width);
                EXPECT_EQ(EGifPutLine(gif, row.data(), f.width), GIF_OK);
            }
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    return out;
}

}  // namespace plumora::test
