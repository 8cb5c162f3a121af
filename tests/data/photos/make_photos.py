#!/usr/bin/python3
"""Draws the small source pictures the photo tests start from.

Writes into the folder given (default: this script's folder):
  source.png        67 x 45, 8-bit RGB: shading, stripes and a red block in
                    the top left corner (so a turn shows where it went)
  second.png        40 x 30, 8-bit RGB: another picture, for a file holding two
  source.ppm        the same pixels as source.png, for cjpeg
  deep.png          16-bit RGB, values chosen where rounding and cutting to
                    8 bits differ (and where they agree)
  deep-grey.png     16-bit grey, the same values
  deep.tif          16-bit RGB TIFF, uncompressed, the same values
  exif6.bin         an EXIF block (APP1 body) saying orientation 6
  source16.png      source.png at 16 bits (v * 257 plus a little), for a
                    10-bit AVIF
make_photos.sh turns them into the files the tests read.

"make_photos.py reduce BITS IN.png OUT.png" turns a 16-bit RGB PNG whose
samples are BITS-bit values shifted to the top (as heif-convert writes a
deep picture) into an 8-bit one, each sample v * 255 / (2^BITS - 1) to the
nearest: what our reader must give.
"""
import os
import struct
import sys
import zlib



def read_png(path):
    """Width, height, bit depth, colour type and unfiltered rows of a PNG
    without interlacing."""
    data = open(path, "rb").read()
    at, idat = 8, b""
    while at < len(data):
        n = struct.unpack(">I", data[at:at + 4])[0]
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    raw = zlib.decompress(idat)
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    bpp = channels * depth // 8
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(row))
        previous = row
    return width, height, depth, colour, rows


out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def png(path, width, height, rows, bit_depth, colour_type):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    with open(os.path.join(out, path), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if len(sys.argv) == 5 and sys.argv[1] == "reduce":
    bits = int(sys.argv[2])
    width, height, depth, colour, rows = read_png(sys.argv[3])
    assert depth == 16 and colour == 2
    top = (1 << bits) - 1
    reduced = []
    for row in rows:
        values = struct.unpack(">" + "H" * (len(row) // 2), row)
        reduced.append(bytes(((v >> (16 - bits)) * 255 + top // 2) // top for v in values))
    out = os.path.dirname(os.path.abspath(sys.argv[4]))
    png(os.path.basename(sys.argv[4]), width, height, reduced, 8, 2)
    sys.exit(0)


def photo(width, height, seed):
    pixels = []
    state = seed
    for y in range(height):
        row = []
        for x in range(width):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            noise = (state >> 16) % 7 - 3
            stripe = 40 if ((x // 9) + (y // 7)) % 2 == 0 else 0
            r = 60 + x * 150 // max(1, width - 1) + noise
            g = 30 + y * 160 // max(1, height - 1) + stripe + noise
            b = 200 - (x + y) * 2 + noise
            if x < 12 and y < 10:  # the corner that shows a turn
                r, g, b = 230, 20, 30
            row.append(tuple(max(0, min(255, v)) for v in (r, g, b)))
        pixels.append(row)
    return pixels


def write_photo(name, width, height, seed):
    pixels = photo(width, height, seed)
    rows = [bytes(c for p in row for c in p) for row in pixels]
    png(name + ".png", width, height, rows, 8, 2)
    return rows


rows = write_photo("source", 67, 45, 7)
rows16 = [b"".join(struct.pack(">H", v * 257 + (x * 37) % 200 if v < 255 else 65535) for x, v in enumerate(row))
          for row in rows]
png("source16.png", 67, 45, rows16, 16, 2)
write_photo("second", 40, 30, 99)
with open(os.path.join(out, "source.ppm"), "wb") as f:
    f.write(b"P6\n67 45\n255\n" + b"".join(rows))

# 16-bit values: v / 257 rounds to n + 1 but cuts to n where the low byte is
# above 0x80 (0x01FF: 1.99), and both agree elsewhere (0x0180 rounds to 1,
# 0x017F to 1, 0xFFFF to 255, 0 to 0). A row of each, then a gradient.
deep_values = [0x0000, 0x00FF, 0x0180, 0x01FF, 0x7F80, 0x7FFF, 0x8080, 0xFE80, 0xFEFF, 0xFFFF, 0x1234, 0xABCD]
width16, height16 = len(deep_values), 3
deep_rows = []
for y in range(height16):
    row = b""
    for x, v in enumerate(deep_values):
        r, g, b = v, deep_values[(x + 1 + y) % len(deep_values)], deep_values[(x + 5 + 2 * y) % len(deep_values)]
        row += struct.pack(">HHH", r, g, b)
    deep_rows.append(row)
png("deep.png", width16, height16, deep_rows, 16, 2)
grey_rows = [b"".join(struct.pack(">H", deep_values[(x + y) % len(deep_values)]) for x in range(width16))
             for y in range(height16)]
png("deep-grey.png", width16, height16, grey_rows, 16, 0)

# An uncompressed 16-bit RGB TIFF, little-endian, one strip.
strip = b"".join(struct.pack("<" + "H" * (len(r) // 2), *struct.unpack(">" + "H" * (len(r) // 2), r)) for r in deep_rows)
entries = []
data_offset = 8
bps_offset = data_offset + len(strip)
ifd_offset = bps_offset + 6
def entry(tag, kind, count, value):
    entries.append(struct.pack("<HHI", tag, kind, count) + value)
entry(256, 3, 1, struct.pack("<HH", width16, 0))           # width
entry(257, 3, 1, struct.pack("<HH", height16, 0))          # height
entry(258, 3, 3, struct.pack("<I", bps_offset))            # bits per sample 16,16,16
entry(259, 3, 1, struct.pack("<HH", 1, 0))                 # no compression
entry(262, 3, 1, struct.pack("<HH", 2, 0))                 # RGB
entry(273, 4, 1, struct.pack("<I", data_offset))           # strip offset
entry(277, 3, 1, struct.pack("<HH", 3, 0))                 # samples per pixel
entry(278, 3, 1, struct.pack("<HH", height16, 0))          # rows per strip
entry(279, 4, 1, struct.pack("<I", len(strip)))            # strip bytes
entry(284, 3, 1, struct.pack("<HH", 1, 0))                 # chunky
with open(os.path.join(out, "deep.tif"), "wb") as f:
    f.write(b"II*\x00" + struct.pack("<I", ifd_offset) + strip + struct.pack("<HHH", 16, 16, 16))
    f.write(struct.pack("<H", len(entries)) + b"".join(entries) + struct.pack("<I", 0))

# EXIF (big-endian TIFF structure) with one tag: Orientation = 6.
tiff = b"MM\x00\x2a" + struct.pack(">I", 8) + struct.pack(">H", 1) + struct.pack(">HHIHH", 0x0112, 3, 1, 6, 0) + struct.pack(">I", 0)
with open(os.path.join(out, "exif6.bin"), "wb") as f:
    f.write(b"Exif\x00\x00" + tiff)
