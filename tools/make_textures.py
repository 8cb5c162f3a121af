#!/usr/bin/env python3
"""Draws the fifteen texture tiles of the texture effect and their contact sheet.

    tools/make_textures.py [repository folder]

writes resources/textures/texture1.png .. texture15.png (58 x 58, 8-bit grey)
and docs/textures.png (the tiles at twice their size, numbered, in the order
the texture window shows them), and prints each tile's figures.

Every pattern is computed on a torus of 58 x 58 pixels (noise lattices,
cell centres, threads and stripes all wrap around), so a tile repeats without
a seam; the tile then starts at the column and row where the pattern changes
least, so that no line of it runs along a thumbnail's edge. A tone curve then gives each tile its darkest and lightest lightness
and the mean lightness it is meant to have; lightness is what the texture
effect reads, Round(v * 100 / 255) for a grey v. Only the standard library is
used, and every random number comes from a seeded generator: running the
script again draws the same tiles (the last bit of a sine may differ between
platforms, so a rare grey level may move by one).
"""

import math
import os
import random
import struct
import sys
import zlib

SIZE = 58

# The texture window's three rows of five thumbnails (the numbers of the tiles).
GRID = [4, 3, 5, 7, 8, 2, 1, 6, 9, 10, 11, 12, 13, 14, 15]


# --- Patterns on the torus -------------------------------------------------


def smooth(t):
    return t * t * (3 - 2 * t)


class ValueNoise:
    """Smoothly interpolated random values on a cells_x x cells_y lattice laid
    over the tile; any count of cells wraps, as positions are scaled to it."""

    def __init__(self, rng, cells_x, cells_y=None):
        self.nx = cells_x
        self.ny = cells_y or cells_x
        self.values = [[rng.random() for _ in range(self.nx)] for _ in range(self.ny)]

    def __call__(self, x, y):
        u = x * self.nx / SIZE
        v = y * self.ny / SIZE
        i, j = math.floor(u), math.floor(v)
        fu, fv = smooth(u - i), smooth(v - j)
        i0, i1 = i % self.nx, (i + 1) % self.nx
        j0, j1 = j % self.ny, (j + 1) % self.ny
        top = self.values[j0][i0] * (1 - fu) + self.values[j0][i1] * fu
        bottom = self.values[j1][i0] * (1 - fu) + self.values[j1][i1] * fu
        return top * (1 - fv) + bottom * fv


class Fractal:
    """Octaves of value noise, each twice as fine and half as strong."""

    def __init__(self, rng, cells, octaves, stretch=1):
        self.layers = [ValueNoise(rng, cells * 2**o, max(1, cells * 2**o // stretch)) for o in range(octaves)]

    def __call__(self, x, y):
        total, weight, amplitude = 0.0, 0.0, 1.0
        for layer in self.layers:
            total += amplitude * layer(x, y)
            weight += amplitude
            amplitude /= 2
        return total / weight


def wrapped(d):
    """The shorter way round the torus."""
    d = abs(d) % SIZE
    return min(d, SIZE - d)


class Cells:
    """Voronoi cells of random centres on the torus: distances to the nearest
    and second nearest centre, and which centre is nearest."""

    def __init__(self, rng, count, jitter=1.0):
        self.centres = []
        side = math.ceil(math.sqrt(count))
        rows = math.ceil(count / side)
        spacing = SIZE / side
        for k in range(count):
            gx, gy = k % side, k // side
            # Centres too close together would leave slivers of cells: draw
            # again (a bounded number of times) until this one keeps its distance.
            for _ in range(50):
                cx = ((gx + 0.5 + (rng.random() - 0.5) * jitter) * SIZE / side) % SIZE
                cy = ((gy + 0.5 + (rng.random() - 0.5) * jitter) * SIZE / rows) % SIZE
                if all(math.hypot(wrapped(cx - x), wrapped(cy - y)) > 0.55 * spacing for x, y in self.centres):
                    break
            self.centres.append((cx, cy))
        self.tone = [rng.random() for _ in range(count)]

    def __call__(self, x, y):
        best = [(1e9, -1), (1e9, -1)]
        for k, (cx, cy) in enumerate(self.centres):
            d = math.hypot(wrapped(x - cx), wrapped(y - cy))
            if d < best[0][0]:
                best = [(d, k), best[0]]
            elif d < best[1][0]:
                best[1] = (d, k)
        return best[0][0], best[1][0], best[0][1]


def weave(x, y, threads, gap=0.0):
    """A plain weave of `threads` threads each way (an even count, so the
    over-and-under pattern wraps): the height of the thread on top, rounded
    across it, and low where the threads leave a gap."""
    u = x * threads / SIZE
    v = y * threads / SIZE
    i, j = math.floor(u), math.floor(v)
    fu, fv = u - i, v - j
    vertical_on_top = (i + j) % 2 == 0
    across = fu if vertical_on_top else fv  # position across the thread on top
    along = fv if vertical_on_top else fu
    height = math.sin(math.pi * across) ** 0.7
    height *= 0.75 + 0.25 * math.sin(math.pi * along)  # dips where it goes under
    if gap > 0 and (min(fu, 1 - fu) < gap and min(fv, 1 - fv) < gap):
        height *= 0.15
    return height


# --- The fifteen tiles -------------------------------------------------------


def paper(rng):
    grain = Fractal(rng, 6, 4)
    fibres = []
    for _ in range(70):
        x, y, a = rng.random() * SIZE, rng.random() * SIZE, rng.random() * math.pi
        fibres.append((x, y, math.cos(a), math.sin(a), 3 + rng.random() * 9, rng.choice((-1, 1))))

    def f(x, y):
        v = grain(x, y)
        for fx, fy, dx, dy, length, sign in fibres:
            px, py = x - fx, y - fy
            px -= SIZE * round(px / SIZE)
            py -= SIZE * round(py / SIZE)
            t = px * dx + py * dy
            if 0 <= t <= length:
                dist = abs(px * dy - py * dx)
                if dist < 0.8:
                    v += sign * 0.12 * (1 - dist / 0.8)
        return v

    return f


def canvas(rng):
    noise = Fractal(rng, 8, 3)
    return lambda x, y: weave(x + 0.5, y + 0.5, 12) * 0.8 + noise(x, y) * 0.35


def linen(rng):
    noise = Fractal(rng, 10, 3)
    slubs_x = ValueNoise(rng, 20, 4)  # threads thicken and thin along their length
    slubs_y = ValueNoise(rng, 4, 20)
    return lambda x, y: weave(x + 0.3, y + 0.3, 20) * (0.6 + 0.5 * (slubs_x(x, y) + slubs_y(x, y)) / 2) + noise(
        x, y
    ) * 0.3


def brick(rng):
    rows, per_row = 4, 2
    noise = Fractal(rng, 8, 4)
    tones = [[rng.random() for _ in range(per_row)] for _ in range(rows)]

    def f(x, y):
        # Mortar lines lie inside the tile, away from its edges.
        v_pos = (y + 3.5) * rows / SIZE
        row = math.floor(v_pos) % rows
        shift = 0.5 if row % 2 else 0.0
        u_pos = (x + 7.5) * per_row / SIZE + shift
        brick_index = math.floor(u_pos) % per_row
        fu, fv = u_pos % 1.0, v_pos % 1.0
        edge = min(fu * SIZE / per_row, (1 - fu) * SIZE / per_row, fv * SIZE / rows, (1 - fv) * SIZE / rows)
        if edge < 1.2:
            return 0.15 + 0.2 * noise(x, y)
        bevel = min(1.0, (edge - 1.2) / 2.0)
        return 0.55 + 0.25 * tones[row][brick_index] + 0.35 * noise(x, y) * bevel + 0.1 * bevel

    return f


def stone(rng):
    cells = Cells(rng, 18, 0.8)
    noise = Fractal(rng, 8, 3)

    def f(x, y):
        d1, d2, k = cells(x, y)
        ridge = d2 - d1  # 0 on the border between two stones
        if ridge < 1.2:
            return 0.05 + 0.1 * noise(x, y)
        dome = min(1.0, (ridge - 1.2) / 5.0) ** 0.5
        return 0.3 + 0.45 * dome + 0.2 * cells.tone[k] + 0.2 * noise(x, y)

    return f


def bark(rng):
    wander = ValueNoise(rng, 5, 4)  # ridges wander as they run down
    kinks = ValueNoise(rng, 9, 7)
    streaks = Fractal(rng, 12, 3, stretch=6)  # long vertical fibres
    depth = ValueNoise(rng, 6, 3)

    def f(x, y):
        warp = 1.1 * (wander(x, y) - 0.5) + 0.35 * (kinks(x, y) - 0.5)
        ridge = math.sin(2 * math.pi * (5 * x / SIZE + warp))
        v = 0.55 + 0.25 * ridge + 0.35 * streaks(x, y)
        if ridge < -0.55:  # the fissures between ridges
            v -= (0.2 + 0.3 * depth(x, y)) * (-0.55 - ridge) / 0.45
        return v

    return f


def sand(rng):
    fine = Fractal(rng, 16, 2)
    grains = {}
    for _ in range(130):
        grains[(rng.randrange(SIZE), rng.randrange(SIZE))] = rng.choice((-0.35, -0.2, 0.25))
    broad = ValueNoise(rng, 4)
    return lambda x, y: fine(x, y) * 0.6 + broad(x, y) * 0.25 + grains.get((x, y), 0.0)


def crackle(rng):
    cells = Cells(rng, 22, 0.9)
    noise = Fractal(rng, 6, 3)

    def f(x, y):
        d1, d2, _ = cells(x, y)
        ridge = d2 - d1
        line = 1.0 if ridge > 1.4 else (0.2 + 0.8 * ridge / 1.4)
        return line * (0.7 + 0.3 * noise(x, y))

    return f


def watercolour_paper(rng):
    blotches = Fractal(rng, 5, 2)
    bumps = Fractal(rng, 14, 2)
    return lambda x, y: blotches(x, y) * 0.45 + bumps(x, y) ** 2 * 0.55


def burlap(rng):
    noise = Fractal(rng, 12, 2)
    slubs = ValueNoise(rng, 8, 8)
    return lambda x, y: weave(x + 0.5, y + 0.5, 8, gap=0.16) * (0.7 + 0.3 * slubs(x, y)) + noise(x, y) * 0.25


def leather(rng):
    cells = Cells(rng, 45, 1.0)
    noise = Fractal(rng, 12, 3)
    pores = {(rng.randrange(SIZE), rng.randrange(SIZE)) for _ in range(60)}

    def f(x, y):
        d1, d2, _ = cells(x, y)
        ridge = d2 - d1
        v = min(1.0, ridge / 3.0) ** 0.6 * 0.7 + noise(x, y) * 0.3
        if (x, y) in pores:
            v *= 0.35
        return v

    return f


def wood(rng):
    warp = Fractal(rng, 3, 3, stretch=3)
    fibre = Fractal(rng, 14, 2, stretch=7)

    def f(x, y):
        phase = 2 * math.pi * (5 * x / SIZE + 1.4 * (warp(x, y) - 0.5) + 1 * y / SIZE)
        ring = 0.5 + 0.5 * math.sin(phase)
        return ring**3 * 0.65 + fibre(x, y) * 0.35

    return f


def hatching(rng):
    jitter = Fractal(rng, 4, 2)
    pressure = ValueNoise(rng, 6)

    def f(x, y):
        phase = 2 * math.pi * (7 * (x + y) / SIZE + 0.25 * (jitter(x, y) - 0.5))
        stroke = max(0.0, math.cos(phase)) ** 6
        return 1.0 - stroke * (0.6 + 0.4 * pressure(x, y))

    return f


def basket(rng):
    blocks = 4  # 4 x 4 blocks, even so the alternation wraps
    strands = 3
    noise = Fractal(rng, 10, 2)

    def f(x, y):
        u = (x + 0.5) * blocks / SIZE
        v = (y + 0.5) * blocks / SIZE
        i, j = math.floor(u), math.floor(v)
        fu, fv = u - i, v - j
        across, along = (fu, fv) if (i + j) % 2 == 0 else (fv, fu)
        s = across * strands
        strand = math.sin(math.pi * (s - math.floor(s))) ** 0.8
        ends = math.sin(math.pi * along) ** 0.3  # each block's strands dip into the next
        return strand * ends * 0.8 + noise(x, y) * 0.2

    return f


def mosaic(rng):
    cells = Cells(rng, 16, 0.35)  # nearly square stones
    noise = Fractal(rng, 10, 2)

    def f(x, y):
        d1, d2, k = cells(x, y)
        if d2 - d1 < 1.6:
            return 0.04 * noise(x, y)
        return 0.35 + 0.55 * cells.tone[k] + 0.1 * noise(x, y)

    return f


# Each tile: its pattern, seed, and lightness at its darkest, on average and
# at its lightest (the means follow the guide the window was designed with).
TILES = [
    ("paper", paper, 1, 30, 68, 88),
    ("canvas", canvas, 2, 26, 68, 90),
    ("linen", linen, 3, 22, 63, 88),
    ("brick wall", brick, 4, 20, 67, 90),
    ("stone", stone, 5, 12, 57, 88),
    ("bark", bark, 6, 18, 64, 90),
    ("sand", sand, 7, 30, 68, 90),
    ("crackle", crackle, 8, 14, 62, 84),
    ("watercolour paper", watercolour_paper, 9, 34, 69, 92),
    ("burlap", burlap, 10, 16, 67, 92),
    ("leather", leather, 11, 14, 56, 84),
    ("wood grain", wood, 12, 20, 59, 88),
    ("hatching", hatching, 13, 30, 69, 86),
    ("basket weave", basket, 14, 10, 49, 84),
    ("mosaic", mosaic, 15, 8, 47, 90),
]


# --- Tone and figures --------------------------------------------------------


def lightness(v):
    """IntRGBtoHSL's lightness of the grey v (never a half, so no tie)."""
    return round(v * 100 / 255)


def grey_for(l):
    """The middle grey of lightness l."""
    return min(255, max(0, round(l * 255 / 100)))


def toned(field, dark, mean, light):
    """Maps the field onto greys from lightness dark to light with a power
    curve whose exponent puts the mean lightness where it is wanted."""
    lo, hi = min(field), max(field)
    unit = [(f - lo) / (hi - lo) for f in field]
    g0, g1 = grey_for(dark), grey_for(light)

    def greys(gamma):
        return [round(g0 + (g1 - g0) * u**gamma) for u in unit]

    def mean_of(gamma):
        return sum(lightness(v) for v in greys(gamma)) / len(unit)

    low, high = -6.0, 6.0  # log2 of the exponent; the mean falls as it grows
    for _ in range(60):
        middle = (low + high) / 2
        if mean_of(2**middle) > mean:
            low = middle
        else:
            high = middle
    return greys(2 ** ((low + high) / 2))


def seam_figures(pixels):
    """Mean absolute difference across the wrap (column 57 to 0, row 57 to 0)
    and between neighbouring columns and rows inside the tile."""

    def at(x, y):
        return pixels[y * SIZE + x]

    wrap_x = sum(abs(at(SIZE - 1, y) - at(0, y)) for y in range(SIZE)) / SIZE
    wrap_y = sum(abs(at(x, SIZE - 1) - at(x, 0)) for x in range(SIZE)) / SIZE
    inside_x = sum(abs(at(x + 1, y) - at(x, y)) for y in range(SIZE) for x in range(SIZE - 1)) / (SIZE * (SIZE - 1))
    inside_y = sum(abs(at(x, y + 1) - at(x, y)) for x in range(SIZE) for y in range(SIZE - 1)) / (SIZE * (SIZE - 1))
    return wrap_x, inside_x, wrap_y, inside_y


def calmest_start(pixels, step_x, step_y):
    """The column (or row) before which the pattern changes least: where the
    tile had best begin, so that its edges do not cut through a line."""

    def change(k):
        return sum(abs(pixels[(k - 1) % SIZE * step_x + i * step_y] - pixels[k * step_x + i * step_y]) for i in range(SIZE))

    return min(range(SIZE), key=change)


def make_tile(pattern, seed, dark, mean, light):
    rng = random.Random(seed)
    f = pattern(rng)
    field = [f(x, y) for y in range(SIZE) for x in range(SIZE)]
    pixels = toned(field, dark, mean, light)
    # The pattern repeats every 58 pixels both ways; which pixel of it starts
    # the tile is free. Mortar lines, cracks or grout at the tile's edges would
    # make the edges of a thumbnail look cut, so the tile begins where the
    # pattern is calmest.
    x0 = calmest_start(pixels, 1, SIZE)
    y0 = calmest_start(pixels, SIZE, 1)
    return [pixels[(y + y0) % SIZE * SIZE + (x + x0) % SIZE] for y in range(SIZE) for x in range(SIZE)]


# --- PNG ------------------------------------------------------------------------


def png(width, height, greys):
    """An 8-bit greyscale PNG of rows of grey bytes."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(greys[y * width : (y + 1) * width]) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


# A 5 x 7 font for the numbers on the contact sheet.
DIGITS = {
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
}


def contact_sheet(tiles):
    scale, margin, label = 2, 14, 7 * 2 + 8
    cell_w, cell_h = SIZE * scale + margin, SIZE * scale + label + margin
    width, height = 5 * cell_w + margin, 3 * cell_h + margin
    sheet = [236] * (width * height)
    for slot, number in enumerate(GRID):
        left = margin + (slot % 5) * cell_w
        top = margin + (slot // 5) * cell_h
        pixels = tiles[number - 1]
        for y in range(SIZE * scale):
            for x in range(SIZE * scale):
                sheet[(top + y) * width + left + x] = pixels[(y // scale) * SIZE + x // scale]
        text = str(number)
        text_w = len(text) * 6 * 2 - 2
        tx = left + (SIZE * scale - text_w) // 2
        ty = top + SIZE * scale + 6
        for n, ch in enumerate(text):
            for gy, row in enumerate(DIGITS[ch]):
                for gx, bit in enumerate(row):
                    if bit == "1":
                        for dy in range(2):
                            for dx in range(2):
                                sheet[(ty + gy * 2 + dy) * width + tx + n * 12 + gx * 2 + dx] = 40
    return width, height, sheet


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out_dir = os.path.join(root, "resources", "textures")
    os.makedirs(out_dir, exist_ok=True)
    tiles = []
    print(f"{'tile':<24}{'mean':>6}{'dark':>6}{'light':>6}{'wrap x':>9}{'inside':>8}{'wrap y':>9}{'inside':>8}")
    for number, (name, pattern, seed, dark, mean, light) in enumerate(TILES, start=1):
        pixels = make_tile(pattern, seed, dark, mean, light)
        tiles.append(pixels)
        with open(os.path.join(out_dir, f"texture{number}.png"), "wb") as f:
            f.write(png(SIZE, SIZE, pixels))
        ls = [lightness(v) for v in pixels]
        wx, ix, wy, iy = seam_figures(pixels)
        print(
            f"{number:>2} {name:<21}{sum(ls) / len(ls):6.2f}{min(ls):6d}{max(ls):6d}{wx:9.2f}{ix:8.2f}{wy:9.2f}{iy:8.2f}"
        )
    width, height, sheet = contact_sheet(tiles)
    os.makedirs(os.path.join(root, "docs"), exist_ok=True)
    with open(os.path.join(root, "docs", "textures.png"), "wb") as f:
        f.write(png(width, height, sheet))


if __name__ == "__main__":
    main()
