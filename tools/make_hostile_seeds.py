#!/usr/bin/env python3
"""Writes the small hostile pictures that once cost the JPEG, GIF and BMP
readers seconds of work or hundreds of megabytes before they were decided,
into fuzz/seeds/<reader>/ (so the fuzzers start from them) and
tests/data/crashers/<reader>/ (so the tests read them on every run).

Every file is built here byte by byte; run it again after changing one:
    tools/make_hostile_seeds.py
"""

import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


# ---- JPEG ----

def segment(marker, body):
    return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body


class BitWriter:
    """Entropy-coded data: bits high first, 0xFF stuffed with 0x00, padded with ones."""

    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def put(self, value, n):
        self.bits = (self.bits << n) | value
        self.count += n
        while self.count >= 8:
            self.count -= 8
            byte = (self.bits >> self.count) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.bits &= (1 << self.count) - 1

    def finish(self):
        if self.count:
            self.put((1 << (8 - self.count)) - 1, 8 - self.count)
        return bytes(self.out)


def grey_jpeg(width, height, scans, progressive=True):
    """A grey JPEG whose tables each hold one code, "0": for the DC, a
    difference of 0; for the AC, symbol 0x00 (end of block) in a baseline
    file, 0xE0 (a run of 2^14 and more blocks ending their band) in a
    progressive one. scans: a list of (Ss, Se, Ah, blocks coded); a DC scan
    codes a block in one bit, a baseline scan in two, an AC scan of a
    progressive file 32767 blocks in 15 bits."""
    f = bytearray(b"\xff\xd8")
    f += segment(0xDB, bytes([0]) + bytes([1] * 64))
    f += segment(0xC2 if progressive else 0xC0, struct.pack(">BHHB", 8, height, width, 1) + bytes([1, 0x11, 0]))
    f += segment(0xC4, bytes([0x00, 1] + [0] * 15 + [0x00]))
    f += segment(0xC4, bytes([0x10, 1] + [0] * 15 + [0xE0 if progressive else 0x00]))
    for ss, se, ah, blocks in scans:
        f += segment(0xDA, bytes([1, 1, 0x00, ss, se, ah << 4]))
        bits = BitWriter()
        if ss == 0:
            for _ in range(blocks):
                bits.put(0, 1 if progressive else 2)
        else:
            for _ in range(0, blocks, 32767):
                bits.put(0x3FFF, 15)  # "0", then 14 ones
        f += bits.finish()
    f += b"\xff\xd9"
    return bytes(f)


def jpeg_files():
    blocks = 256 * 256
    return {
        # Its DC, then refining scans over every coefficient of 2048 x 2048:
        # 17 KB that kept the decoder busy for two thirds of a second.
        "refining-scans-2048x2048.jpg": grey_jpeg(2048, 2048, [(0, 0, 0, blocks)] + [(1, 63, 1, blocks)] * 450),
        # No DC at all, declaring 3617 x 64508: libjpeg set up 1.4 GB of
        # coefficients before and gave a grey picture.
        "no-dc-3617x64508.jpg": grey_jpeg(3617, 64508, [(1, 63, 0, 453 * 8064)] * 8),
        # A baseline file of 2 KB declaring the same.
        "baseline-2kb-3617x64508.jpg": grey_jpeg(3617, 64508, [(0, 63, 0, 8000)], progressive=False),
    }


# ---- GIF ----

def gif_one_pixel(screen_width, screen_height):
    """One pixel of index 1 at (0, 0) on a screen of the given size."""
    f = bytearray(b"GIF89a") + struct.pack("<HHBBB", screen_width, screen_height, 0x80, 0, 0)
    f += bytes([255, 0, 0, 0, 255, 0])  # red, green
    f += b"\x2c" + struct.pack("<HHHHB", 0, 0, 1, 1, 0)
    codes = 4 | 1 << 3 | 5 << 6  # code size 2: clear (4), index 1, end (5), 3 bits each
    f += bytes([2, 2, codes & 0xFF, codes >> 8, 0, 0x3B])
    return bytes(f)


def gif_files():
    return {"screen-17664x15104-one-pixel.gif": gif_one_pixel(17664, 15104)}


# ---- BMP ----

def rle8_bmp(width, height, stream):
    palette = bytes([0x60, 0x40, 0x20, 0, 0xFF, 0xFF, 0xFF, 0])
    offset = 14 + 40 + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(stream), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(stream), 2835, 2835, 2, 0)
    return header + info + palette + bytes(stream)


def bmp_files():
    return {
        # 270 rows of 8 pixels, then the end of the picture: half a
        # gigabyte of index 0 and a 400 MB output from 1.1 KB.
        "rle8-8x16777215-ends-early.bmp": rle8_bmp(8, 16777215, [8, 1, 0, 0] * 270 + [0, 1]),
        # Deltas 255 rows up, 270 times, then nothing: cut short, found
        # only after the picture was filled.
        "rle8-8x16777215-deltas-run-out.bmp": rle8_bmp(8, 16777215, [0, 2, 0, 255] * 270),
    }


def main():
    for reader, files in (("jpeg", jpeg_files()), ("gif", gif_files()), ("bmp", bmp_files())):
        for folder in ("fuzz/seeds", "tests/data/crashers"):
            path = os.path.join(ROOT, folder, reader)
            os.makedirs(path, exist_ok=True)
            for name, data in files.items():
                assert len(data) <= 65536, name  # fuzz/run.sh's -max_len
                with open(os.path.join(path, name), "wb") as out:
                    out.write(data)


if __name__ == "__main__":
    main()
