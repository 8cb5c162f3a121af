#include "freehand/lines.h"

#include "raster/parallel.h"
#include "raster/simd.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace plumora {

namespace {

// Both passes decide every pixel from what its neighbours were before the
// pass. Each pixel is summed up in one class byte, a row at a time as the
// pass reaches it, and the decisions are worked out from the class bytes of
// three rows with plain byte arithmetic the compiler vectorises.
enum PixelClass : std::uint8_t { kInkClass = 0, kTintClass = 1, kWhiteClass = 2 };

// Blue, green and red of a pixel read as one little-endian word.
constexpr std::uint32_t kColourMask = 0x00FFFFFFu;
constexpr std::uint32_t kWhiteWord = 0x00FFFFFFu;
constexpr std::uint32_t kTintWord = 0x00ECE9D8u;  // red 236, green 233, blue 216
constexpr std::uint32_t kOpaque = 0xFF000000u;

inline std::uint32_t loadPixel(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void storePixel(std::uint8_t* p, std::uint32_t v)
{
    std::memcpy(p, &v, 4);
}

[[gnu::always_inline]] inline void classifyRowPlain(const std::uint8_t* __restrict pixels,
                                                    std::uint8_t* __restrict classes, int width)
{
    for (int x = 0; x < width; ++x) {
        const std::uint32_t c = loadPixel(pixels + std::size_t(x) * 4) & kColourMask;
        classes[x] = std::uint8_t((c == kWhiteWord ? kWhiteClass : 0) | (c == kTintWord ? kTintClass : 0));
    }
}

void classifyRow(const std::uint8_t* pixels, std::uint8_t* classes, int width)
{
    perLevelPath<classifyRowPlain>()(pixels, classes, width);
}

// thinline's decisions.
constexpr std::uint8_t kLeave = 0, kPeelToTint = 1, kPeelToWhite = 2;

// thinline's decision for the pixels 1..width-2 of a row. An ink pixel is
// peeled off with between two and six paper neighbours (not
// the tip of a stroke, not deep inside one), exactly one change from ink to
// paper walking round them from the north-west (it lies on one edge only, so
// taking it away cannot cut a stroke in two), and ink on at least one of the
// north, east and south sides and on at least one of the west, east and south
// sides. It becomes white where a side neighbour is white paper; where its
// sides are only ink or the tint, the tint.
[[gnu::always_inline]] inline void thinRowPlain(const std::uint8_t* __restrict above,
                                                const std::uint8_t* __restrict own,
                                                const std::uint8_t* __restrict below, std::uint8_t* __restrict decision,
                                                int width)
{
    for (int x = 1; x < width - 1; ++x) {
        // 1 where paper.
        const std::uint8_t nw = above[x - 1] != kInkClass, n = above[x] != kInkClass, ne = above[x + 1] != kInkClass;
        const std::uint8_t w = own[x - 1] != kInkClass, e = own[x + 1] != kInkClass;
        const std::uint8_t sw = below[x - 1] != kInkClass, s = below[x] != kInkClass, se = below[x + 1] != kInkClass;
        const std::uint8_t paper = std::uint8_t(nw + n + ne + e + se + s + sw + w);
        const std::uint8_t inkToPaper =
            std::uint8_t((n & ~nw) + (ne & ~n) + (e & ~ne) + (se & ~e) + (s & ~se) + (sw & ~s) + (w & ~sw) + (nw & ~w));
        const std::uint8_t peel = (own[x] == kInkClass) & (paper >= 2) & (paper <= 6) & (inkToPaper == 1) &
                                  ((n & s & e) == 0) & ((w & e & s) == 0);
        const std::uint8_t besideWhite = (above[x] == kWhiteClass) | (below[x] == kWhiteClass) |
                                         (own[x - 1] == kWhiteClass) | (own[x + 1] == kWhiteClass);
        decision[x] = std::uint8_t(peel * kPeelToTint + (peel & besideWhite) * (kPeelToWhite - kPeelToTint));
    }
}

void thinRow(const std::uint8_t* above, const std::uint8_t* own, const std::uint8_t* below, std::uint8_t* decision,
             int width)
{
    perLevelPath<thinRowPlain>()(above, own, below, decision, width);
}

// The side neighbours in the order thickline looks at them, numbered so
// that the last that qualifies is the largest number; 0 stands for none.
constexpr std::uint8_t kNoSide = 0, kLeft = 1, kRight = 2, kAbove = 3, kBelow = 4;

// The last side (kNoSide if none) whose class is `which`.
[[gnu::always_inline]] inline std::uint8_t lastSideOf(std::uint8_t which, std::uint8_t left, std::uint8_t right,
                                                      std::uint8_t up, std::uint8_t down)
{
    const std::uint8_t a = std::uint8_t((left == which) * kLeft), b = std::uint8_t((right == which) * kRight);
    const std::uint8_t c = std::uint8_t((up == which) * kAbove), d = std::uint8_t((down == which) * kBelow);
    return std::max(std::max(a, b), std::max(c, d));
}

// thickline's decision for the pixels 1..width-2 of a row: the side whose
// colour goes into the pixel, or kNoSide. A white pixel takes its last side
// that is not white; if that made it the tint, or it was the tint already,
// it takes its last side that is not the tint, if any. Worked out from the
// last side of each class, in byte operations only, so that it vectorises.
[[gnu::always_inline]] inline void thickRowPlain(const std::uint8_t* __restrict above,
                                                 const std::uint8_t* __restrict own,
                                                 const std::uint8_t* __restrict below,
                                                 std::uint8_t* __restrict decision, int width)
{
    for (int x = 1; x < width - 1; ++x) {
        const std::uint8_t self = own[x], left = own[x - 1], right = own[x + 1], up = above[x], down = below[x];
        const std::uint8_t ink = lastSideOf(kInkClass, left, right, up, down);
        const std::uint8_t tint = lastSideOf(kTintClass, left, right, up, down);
        const std::uint8_t white = lastSideOf(kWhiteClass, left, right, up, down);
        const std::uint8_t notWhite = std::max(ink, tint);
        const std::uint8_t notTint = std::max(ink, white);
        // A white pixel whose last side that is not white is the tint becomes
        // the tint first.
        const bool becomesTint = (tint > ink) & (notTint != kNoSide);
        const std::uint8_t fromWhite = becomesTint ? notTint : notWhite;
        decision[x] =
            std::uint8_t((self == kWhiteClass ? fromWhite : kNoSide) | (self == kTintClass ? notTint : kNoSide));
    }
}

void thickRow(const std::uint8_t* above, const std::uint8_t* own, const std::uint8_t* below, std::uint8_t* decision,
              int width)
{
    perLevelPath<thickRowPlain>()(above, own, below, decision, width);
}

// Calls fn(x) for every x in 1..width-2 whose decision byte (at most 127)
// is not 0. On a drawing most are 0: eight are looked at together, and only
// the ones that are not are visited, with no branch per byte.
template <class Fn>
void forEachDecided(const std::uint8_t* decision, int width, Fn&& fn)
{
    int x = 1;
    for (; x + 8 <= width - 1; x += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, decision + x, 8);
        // The top bit of every byte that is not 0: no byte carries into the
        // next, as none is above 127.
        std::uint64_t set = (eight + 0x7F7F7F7F7F7F7F7Fu) & 0x8080808080808080u;
        while (set != 0) {
            fn(x + __builtin_ctzll(set) / 8);
            set &= set - 1;
        }
    }
    for (; x < width - 1; ++x)
        if (decision[x] != 0)
            fn(x);
}

// The class bytes of the rows around the one a band is working on: row y
// lives in slot y mod 3, worked out when first asked for.
class ClassRows {
public:
    explicit ClassRows(const TBitmap32& picture)
        : m_picture(picture), m_width(std::size_t(picture.width())), m_bytes(3 * m_width)
    {}

    const std::uint8_t* row(int y)
    {
        const int slot = y % 3;
        std::uint8_t* bytes = m_bytes.data() + std::size_t(slot) * m_width;
        if (m_held[slot] != y) {
            classifyRow(m_picture.ScanLine(y), bytes, int(m_width));
            m_held[slot] = y;
        }
        return bytes;
    }

private:
    const TBitmap32& m_picture;
    std::size_t m_width;
    std::vector<std::uint8_t> m_bytes;
    int m_held[3] = {-1, -1, -1};
};

// The class bytes and the pixels of a row and of the rows above and below.
struct RowSides {
    const std::uint8_t* aboveClasses;
    const std::uint8_t* ownClasses;
    const std::uint8_t* belowClasses;
    const std::uint8_t* abovePixels;
    std::uint8_t* ownPixels;
    const std::uint8_t* belowPixels;
};

// The colour thickline gives pixel x of a row from the given side, with the
// fourth byte 255. An ink side's colour is read from the picture: the pass
// writes only paper pixels, so it is still the one from before the pass. A
// paper side is white or the tint by its class, whatever its pixel holds
// now. (Reading that pixel is harmless: the rows around a band's rows are
// not written while it runs.)
[[gnu::always_inline]] inline std::uint32_t thickenedColour(const RowSides& row, std::uint8_t side, int x)
{
    // All four sides read, then one picked out by masks: picking among
    // values is what vector instructions do, picking what to read is not.
    const std::uint32_t leftClass = row.ownClasses[x - 1], rightClass = row.ownClasses[x + 1];
    const std::uint32_t aboveClass = row.aboveClasses[x], belowClass = row.belowClasses[x];
    const std::uint32_t left = loadPixel(row.ownPixels + std::size_t(x - 1) * 4);
    const std::uint32_t right = loadPixel(row.ownPixels + std::size_t(x + 1) * 4);
    const std::uint32_t above = loadPixel(row.abovePixels + std::size_t(x) * 4);
    const std::uint32_t below = loadPixel(row.belowPixels + std::size_t(x) * 4);
    const std::uint32_t isLeft = 0u - (side == kLeft), isRight = 0u - (side == kRight);
    const std::uint32_t isAbove = 0u - (side == kAbove), isBelow = 0u - (side == kBelow);
    const std::uint32_t fromClass =
        (leftClass & isLeft) | (rightClass & isRight) | (aboveClass & isAbove) | (belowClass & isBelow);
    const std::uint32_t read = (left & isLeft) | (right & isRight) | (above & isAbove) | (below & isBelow);
    const std::uint32_t paper = fromClass == kTintClass ? kTintWord : kWhiteWord;
    return (fromClass == kInkClass ? read & kColourMask : paper) | kOpaque;
}

// Whether the decision bytes x..x+63 are all 0.
constexpr int kRun = 64;
[[gnu::always_inline]] inline bool runUndecided(const std::uint8_t* decision, int x)
{
    std::uint64_t any = 0;
    for (int i = 0; i < kRun; i += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, decision + x + i, 8);
        any |= eight;
    }
    return any == 0;
}

// thinline's writing of a row that no other band reads, a run of 64 pixels
// at a time as thickenRowPlain below explains.
[[gnu::always_inline]] inline void peelRowPlain(std::uint8_t* pixels, const std::uint8_t* decision, int width)
{
    int x = 1;
    for (; x + kRun <= width - 1; x += kRun) {
        if (runUndecided(decision, x))
            continue;
        std::uint32_t colours[kRun];
        for (int i = 0; i < kRun; ++i) {
            const std::uint32_t own = loadPixel(pixels + std::size_t(x + i) * 4);
            colours[i] = decision[x + i] == kPeelToWhite  ? kWhiteWord | kOpaque
                         : decision[x + i] == kPeelToTint ? kTintWord
                                                          : own;
        }
        std::memcpy(pixels + std::size_t(x) * 4, colours, sizeof colours);
    }
    for (; x < width - 1; ++x)
        if (decision[x] != kLeave)
            storePixel(pixels + std::size_t(x) * 4, decision[x] == kPeelToWhite ? kWhiteWord | kOpaque : kTintWord);
}

void peelRow(std::uint8_t* pixels, const std::uint8_t* decision, int width)
{
    perLevelPath<peelRowPlain>()(pixels, decision, width);
}

// thickline's writing of a row that no other band reads. Along a stroke
// the pixels that change lie close together, and one at a time they cost a
// branch each: a run of 64 pixels (four cache lines) is worked out in
// vector instructions and written back whole, the unchanged pixels as they
// are, and a run without a decision is passed over.
[[gnu::always_inline]] inline void thickenRowPlain(RowSides row, const std::uint8_t* decision, int width)
{
    int x = 1;
    for (; x + kRun <= width - 1; x += kRun) {
        if (runUndecided(decision, x))
            continue;
        // Worked out before any is written: the first pixel's left side is
        // the previous run's last, already written, but only read if ink,
        // which is never written.
        std::uint32_t colours[kRun];
        for (int i = 0; i < kRun; ++i) {
            const std::uint8_t side = decision[x + i];
            const std::uint32_t own = loadPixel(row.ownPixels + std::size_t(x + i) * 4);
            const std::uint32_t thickened = thickenedColour(row, side, x + i);
            colours[i] = side == kNoSide ? own : thickened;
        }
        std::memcpy(row.ownPixels + std::size_t(x) * 4, colours, sizeof colours);
    }
    for (; x < width - 1; ++x)
        if (decision[x] != kNoSide)
            storePixel(row.ownPixels + std::size_t(x) * 4, thickenedColour(row, decision[x], x));
}

void thickenRow(const RowSides& row, const std::uint8_t* decision, int width)
{
    perLevelPath<thickenRowPlain>()(row, decision, width);
}

struct PendingPixel {
    std::uint8_t* pixel;
    std::uint32_t value;
};

// Runs a pass over the rows 1..height-2 on all threads (the outermost rows
// and columns never change). decide(classes, y, decision) fills the
// decision bytes of row y from the class bytes. A band's first and last
// rows are read by the bands next to it: for them writeHeldBack(classes, y,
// decision, store) calls store(pixel, value) for every pixel that changes,
// and the new pixels are kept aside until every band is done. The band
// writes its other rows itself with write(classes, y, decision).
//
// Row y + 1's classes are worked out before row y is written, so a band
// reads its own rows as they were before the pass, and the rows next to it
// are held back: the whole pass reads the picture as it was.
template <class Decide, class WriteHeldBack, class Write>
void innerRowsPass(TBitmap32& picture, Decide&& decide, WriteHeldBack&& writeHeldBack, Write&& write)
{
    const int width = picture.width();
    std::mutex heldBackMutex;
    std::vector<PendingPixel> heldBack;
    parallelRows(picture.height() - 2, [&](int first, int end) {
        const int y0 = first + 1, y1 = end + 1;
        ClassRows classes(picture);
        std::vector<std::uint8_t> decision(std::size_t(width), 0);
        std::vector<PendingPixel> pending;
        for (int y = y0; y < y1; ++y) {
            decide(classes, y, decision.data());
            if (y == y0 || y == y1 - 1)
                writeHeldBack(classes, y, decision.data(), [&](std::uint8_t* p, std::uint32_t v) {
                    pending.push_back({p, v});
                });
            else
                write(classes, y, decision.data());
        }
        std::lock_guard lock(heldBackMutex);
        heldBack.insert(heldBack.end(), pending.begin(), pending.end());
    });
    for (const PendingPixel& p : heldBack)
        storePixel(p.pixel, p.value);
}

}  // namespace

void thinline(TBitmap32& picture)
{
    if (picture.width() < 3 || picture.height() < 3)
        return;
    const int width = picture.width();
    const auto decide = [&](ClassRows& classes, int y, std::uint8_t* decision) {
        const std::uint8_t* above = classes.row(y - 1);
        const std::uint8_t* own = classes.row(y);
        thinRow(above, own, classes.row(y + 1), decision, width);
    };
    const auto writeHeldBack = [&](ClassRows&, int y, const std::uint8_t* decision, auto&& store) {
        std::uint8_t* line = picture.ScanLine(y);
        forEachDecided(decision, width, [&](int x) {
            store(line + std::size_t(x) * 4, decision[x] == kPeelToWhite ? kWhiteWord | kOpaque : kTintWord);
        });
    };
    innerRowsPass(picture, decide, writeHeldBack, [&](ClassRows&, int y, const std::uint8_t* decision) {
        peelRow(picture.ScanLine(y), decision, width);
    });
}

void thickline(TBitmap32& picture)
{
    if (picture.width() < 3 || picture.height() < 3)
        return;
    const int width = picture.width();
    const auto decide = [&](ClassRows& classes, int y, std::uint8_t* decision) {
        const std::uint8_t* above = classes.row(y - 1);
        const std::uint8_t* own = classes.row(y);
        thickRow(above, own, classes.row(y + 1), decision, width);
    };
    const auto sides = [&](ClassRows& classes, int y) {
        return RowSides{classes.row(y - 1),      classes.row(y),      classes.row(y + 1),
                        picture.ScanLine(y - 1), picture.ScanLine(y), picture.ScanLine(y + 1)};
    };
    const auto writeHeldBack = [&](ClassRows& classes, int y, const std::uint8_t* decision, auto&& store) {
        const RowSides row = sides(classes, y);
        forEachDecided(decision, width, [&](int x) {
            std::uint8_t* pixel = row.ownPixels + std::size_t(x) * 4;
            const std::uint32_t colour = thickenedColour(row, decision[x], x);
            if (loadPixel(pixel) != colour)
                store(pixel, colour);
        });
    };
    innerRowsPass(picture, decide, writeHeldBack, [&](ClassRows& classes, int y, const std::uint8_t* decision) {
        thickenRow(sides(classes, y), decision, width);
    });
}

}  // namespace plumora
