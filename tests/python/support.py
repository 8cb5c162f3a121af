"""What the Python tests share: the built plumora-cli, a photograph, a
temporary folder."""

import os
import subprocess
import tempfile

import numpy as np

import plumora

CLI = os.environ["PLUMORA_CLI"]
PHOTO = os.environ["PLUMORA_PHOTO"]


def photo(width=160, height=120):
    """A corner of the built-in photograph: real edges and shading, small
    enough to run every effect quickly."""
    return np.ascontiguousarray(plumora.read(PHOTO)[:height, :width])


def cli(*args):
    """Runs plumora-cli; returns (exit status, stderr)."""
    done = subprocess.run([CLI, *args], capture_output=True, text=True)
    return done.returncode, done.stderr


class Folder:
    def __init__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.path = self._dir.name

    def file(self, name):
        return os.path.join(self.path, name)

    def close(self):
        self._dir.cleanup()


def text_wmf():
    """A placeable WMF of 120 x 60 pixels writing "HH" in black, bold, 40
    pixels high, at (10, 10): the letters of a formula."""
    import struct

    u16 = lambda *vs: b"".join(struct.pack("<H", v & 0xFFFF) for v in vs)
    u32 = lambda v: struct.pack("<I", v)
    head = u32(0x9AC6CDD7) + u16(0, 0, 0, 120, 60, 96, 0, 0)
    checksum = 0
    for i in range(0, 20, 2):
        checksum ^= struct.unpack_from("<H", head, i)[0]
    b = head + u16(checksum)
    b += u16(1, 9, 0x300) + u32(9 + 28 + 4 + 4 + 7 + 3) + u16(1) + u32(28) + u16(0)
    b += u32(28) + u16(0x02FB) + u16(-40, 0, 0, 0, 700, 0, 0, 0, 0) + b"DejaVu Sans".ljust(32, b"\0")
    b += u16(4, 0, 0x012D, 0, 4, 0, 0x0102, 1, 7, 0, 0x0521, 2) + b"HH" + u16(10, 10, 3, 0, 0)
    return b
