#!/usr/bin/python3
"""Makes the parts of the metadata tests' files that no encoder makes for us.

"make_metadata_photos.py DIR" writes into DIR (which holds source.png,
source.ppm's JPEG as plain.jpg, and photo.webp, from make_photos.sh):
  p3.icc         a Display P3 profile (D65, the P3 primaries, the sRGB
                 curve), made by lcms2 (cmsCreateRGBProfile, cmsSaveProfileToMem)
  camera.exif    a big-endian Exif block as a camera writes one: make, model,
                 date, orientation 6, an Exif directory (exposure, pixel sizes,
                 a maker's note), a GPS directory and a thumbnail (IFD1 with its
                 JPEG bytes)
  upright.exif   the same, little-endian, without the orientation
  camera.jpg     plain.jpg with camera.exif in APP1 and p3.icc in two APP2
                 chunks, stored second chunk first (readers must put them in
                 order by their numbers)
  p3.png         source.png with p3.icc in iCCP and upright.exif in eXIf
  p3.webp        photo.webp's picture in the extended format with p3.icc (ICCP)
                 and upright.exif (EXIF)
  p3.tif         source.png's pixels as an 8-bit TIFF with p3.icc (tag 34675),
                 a make and model, and Exif and GPS directories
"""
import ctypes
import os
import struct
import sys
import zlib

out = sys.argv[1]


def path(name):
    return os.path.join(out, name)


# ---- the profile, by lcms2 ----
class XyY(ctypes.Structure):
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double), ("Y", ctypes.c_double)]


class Triple(ctypes.Structure):
    _fields_ = [("Red", XyY), ("Green", XyY), ("Blue", XyY)]


lcms = ctypes.CDLL("liblcms2.so.2")
lcms.cmsBuildParametricToneCurve.restype = ctypes.c_void_p
lcms.cmsBuildParametricToneCurve.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.c_double)]
lcms.cmsCreateRGBProfile.restype = ctypes.c_void_p
lcms.cmsCreateRGBProfile.argtypes = [ctypes.POINTER(XyY), ctypes.POINTER(Triple), ctypes.c_void_p * 3]
lcms.cmsSaveProfileToMem.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint32)]
lcms.cmsMD5computeID.argtypes = [ctypes.c_void_p]
srgb_curve = (ctypes.c_double * 5)(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045)
curve = lcms.cmsBuildParametricToneCurve(None, 4, srgb_curve)
white = XyY(0.3127, 0.3290, 1.0)
primaries = Triple(XyY(0.680, 0.320, 1.0), XyY(0.265, 0.690, 1.0), XyY(0.150, 0.060, 1.0))
curves = (ctypes.c_void_p * 3)(curve, curve, curve)
profile = lcms.cmsCreateRGBProfile(ctypes.byref(white), ctypes.byref(primaries), curves)
lcms.cmsMD5computeID(profile)
size = ctypes.c_uint32(0)
lcms.cmsSaveProfileToMem(profile, None, ctypes.byref(size))
buffer = ctypes.create_string_buffer(size.value)
lcms.cmsSaveProfileToMem(profile, buffer, ctypes.byref(size))
icc = buffer.raw[:size.value]
open(path("p3.icc"), "wb").write(icc)


# ---- TIFF directories ----
def directories(order, dirs, base, after=b""):
    """dirs: list of (name, entries, links), entries as (tag, type, count,
    value bytes in `order`), links as (tag, name of the directory it points
    to); 'next' links the first directory to a second top-level one. Laid
    out from offset `base` (where the first directory goes); `after` is
    data placed after them all, at an offset handed to entries whose value
    is the string b'@after'. Returns (bytes, offsets by name)."""
    sizes = {}
    for name, entries, links in dirs:
        n = len(entries) + len([l for l in links if l[0] != "next"])
        sizes[name] = 2 + 12 * n + 4 + sum((len(v) + 1) & ~1 for _, _, _, v in entries if len(v) > 4 and v != b"@after")
    offsets, at = {}, base
    for name, _, _ in dirs:
        offsets[name] = at
        at += sizes[name]
    after_at = at
    blob = b""
    for name, entries, links in dirs:
        all_entries = list(entries)
        next_offset = 0
        for tag, target in links:
            if tag == "next":
                next_offset = offsets[target]
            else:
                all_entries.append((tag, 4, 1, struct.pack(order + "I", offsets[target])))
        all_entries = [(t, k, c, struct.pack(order + "I", after_at) if v == b"@after" else v)
                       for t, k, c, v in all_entries]
        all_entries.sort(key=lambda e: e[0])
        values_at = offsets[name] + 2 + 12 * len(all_entries) + 4
        head, values = struct.pack(order + "H", len(all_entries)), b""
        for tag, kind, count, value in all_entries:
            head += struct.pack(order + "HHI", tag, kind, count)
            if len(value) <= 4:
                head += value + b"\0" * (4 - len(value))
            else:
                head += struct.pack(order + "I", values_at + len(values))
                values += value + (b"\0" if len(value) % 2 else b"")
        blob += head + struct.pack(order + "I", next_offset) + values
    return blob + after, offsets


def ascii(text):
    return (2, len(text) + 1, text.encode() + b"\0")


def exif_block(order, orientation, thumbnail):
    short = lambda v: struct.pack(order + "H", v)
    rational = lambda *pairs: b"".join(struct.pack(order + "II", a, b) for a, b in pairs)
    main = [(0x010F,) + ascii("Plumora Test Camera"), (0x0110,) + ascii("PTC-1"),
            (0x0132,) + ascii("2026:05:04 10:20:30"), (0x011A, 5, 1, rational((72, 1))),
            (0x011B, 5, 1, rational((72, 1))), (0x0128, 3, 1, short(2))]
    if orientation:
        main.append((0x0112, 3, 1, short(orientation)))
    camera = [(0x829A, 5, 1, rational((1, 250))), (0x829D, 5, 1, rational((28, 10))),
              (0x9003,) + ascii("2026:05:04 10:20:30"), (0xA002, 4, 1, struct.pack(order + "I", 67)),
              (0xA003, 4, 1, struct.pack(order + "I", 45)), (0x927C, 7, 12, b"MAKERNOTE\0\0\0")]
    gps = [(0x0001,) + ascii("N"), (0x0002, 5, 3, rational((51, 1), (30, 1), (1234, 100))),
           (0x0003,) + ascii("W"), (0x0004, 5, 3, rational((0, 1), (7, 1), (3906, 100)))]
    dirs = [("main", main, [(0x8769, "camera"), (0x8825, "gps")] + ([("next", "thumb")] if thumbnail else [])),
            ("camera", camera, []), ("gps", gps, [])]
    after = b""
    if thumbnail:
        after = open(path("plain.jpg"), "rb").read()
        dirs.append(("thumb", [(0x0103, 3, 1, short(6)), (0x0201, 4, 1, b"@after"),
                               (0x0202, 4, 1, struct.pack(order + "I", len(after)))], []))
    blob, _ = directories(order, dirs, 8, after)
    mark = b"MM\0*" if order == ">" else b"II*\0"
    return mark + struct.pack(order + "I", 8) + blob


camera = exif_block(">", 6, True)
upright = exif_block("<", 0, False)
open(path("camera.exif"), "wb").write(camera)
open(path("upright.exif"), "wb").write(upright)


# ---- JPEG ----
def segment(marker, body):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body


jpeg = open(path("plain.jpg"), "rb").read()
app0_end = 4 + struct.unpack(">H", jpeg[4:6])[0]
half = len(icc) // 2
chunks = [segment(0xE2, b"ICC_PROFILE\0" + bytes([2, 2]) + icc[half:]),
          segment(0xE2, b"ICC_PROFILE\0" + bytes([1, 2]) + icc[:half])]
open(path("camera.jpg"), "wb").write(jpeg[:app0_end] + segment(0xE1, b"Exif\0\0" + camera) + b"".join(chunks) +
                                     jpeg[app0_end:])


# ---- PNG ----
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


png = open(path("source.png"), "rb").read()
ihdr_end = 8 + 12 + struct.unpack(">I", png[8:12])[0]
open(path("p3.png"), "wb").write(png[:ihdr_end] + chunk(b"iCCP", b"Display P3\0\0" + zlib.compress(icc)) +
                                 chunk(b"eXIf", upright) + png[ihdr_end:])


# ---- WebP ----
def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


webp = open(path("photo.webp"), "rb").read()
assert webp[12:16] == b"VP8 "
vp8x = bytes([0x20 | 0x08, 0, 0, 0]) + struct.pack("<I", 66)[:3] + struct.pack("<I", 44)[:3]
body = b"WEBP" + riff_chunk(b"VP8X", vp8x) + riff_chunk(b"ICCP", icc) + webp[12:] + riff_chunk(b"EXIF", upright)
open(path("p3.webp"), "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)

# ---- TIFF: 8-bit RGB, one uncompressed strip, big-endian ----
rows = open(path("source.ppm"), "rb").read().split(b"\n", 3)[3]
width, height = 67, 45
order = ">"
short = lambda v: struct.pack(order + "HH", v, 0)
long_ = lambda v: struct.pack(order + "I", v)
main = [(256, 3, 1, short(width)), (257, 3, 1, short(height)), (258, 3, 3, struct.pack(order + "HHH", 8, 8, 8)),
        (259, 3, 1, short(1)), (262, 3, 1, short(2)), (273, 4, 1, b"@after"), (277, 3, 1, short(3)),
        (278, 3, 1, short(height)), (279, 4, 1, long_(len(rows))), (284, 3, 1, short(1)),
        (0x010F,) + ascii("Plumora Test Camera"), (0x0110,) + ascii("PTC-1"), (34675, 7, len(icc), icc)]
camera_dir = [(0x829A, 5, 1, struct.pack(order + "II", 1, 250))]
gps_dir = [(0x0001,) + ascii("N")]
blob, _ = directories(order, [("main", main, [(0x8769, "camera"), (0x8825, "gps")]), ("camera", camera_dir, []),
                              ("gps", gps_dir, [])], 8, rows)
open(path("p3.tif"), "wb").write(b"MM\0*" + struct.pack(">I", 8) + blob)
