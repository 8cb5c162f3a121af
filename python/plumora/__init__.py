"""Plumora: photographs turned into drawings and paintings, on numpy arrays.

The same effects, parameters and results, bit for bit, as the Plumora desktop
program and plumora-cli::

    import plumora
    image = plumora.read("photo.jpg")               # (H, W, 3) uint8, RGB
    sketch = plumora.apply("pen-sketch", image, pressure=150)
    plumora.write("sketch.png", sketch)

``python3 -m plumora.batch`` runs a batch of files on a Dask cluster.
"""

from dataclasses import dataclass

from . import _plumora

__all__ = ["effects", "apply", "read", "write", "Metadata"]
__version__ = "2.5"


def effects():
    """Every effect with its parameters, as plumora-cli --list shows them.

    Returns a list of dicts, one per effect, in menu order::

        {"name": "pen-sketch", "summary": "...", "alternatives": [...],
         "params": [{"name": "pressure", "caption": "Pressure", "kind": "slider",
                     "min": 0, "max": 255, "default": 128, "values": "0..255, default 128"}, ...]}

    A parameter's kind is one of "slider", "number", "choice" (with
    "choices", the words it takes), "steps" (a list of those words), "flag"
    (a bool), "grid" (a list of ints), "colour" ("RRGGBB") or "file" (a file
    name). Of an effect's "alternatives", the one given applies, the first
    when none is.
    """
    return _plumora.effects()


def apply(name, image, *, state=None, return_state=False, **params):
    """Applies the effect `name` to `image` and returns the result.

    image: a numpy uint8 array of shape (H, W, 3), RGB, as Pillow, imageio
    and scikit-image give it, or (H, W, 4), RGBA. The result has the same
    shape, or the turned or resized one; an RGBA image's alpha comes back
    unchanged (effects see the picture as opaque), except that it turns with
    rotate-cw and rotate-ccw and is stretched with resize, as the colours are.
    Arrays of another dtype or shape raise TypeError or ValueError; any
    strides are read as they are.

    params: the effect's parameters by their command-line names, with `_`
    for `-` (colour_1 for --colour-1): ints, words ("vertical"), True for a
    flag, flat lists of ints or words for grids and steps (a list in a list
    raises TypeError). Values take the command line's checks
    and messages: a bad name or value raises ValueError. Those not given take
    their defaults.

    state, return_state: brume's random generator runs on from one picture
    to the next. state sets where it starts (an int, 0 as the program
    starts), and with return_state=True the call returns (result, state
    after the run), to hand to the next call. Other effects take no state.

    The computation releases the GIL: Python threads run effects in
    parallel, and each effect itself uses every core.

    >>> plumora.apply("dozadir", img, pressure=120, scope=4, direction="vertical")
    """
    return _plumora.apply(name, image, params, state, return_state)


@dataclass(frozen=True)
class Metadata:
    """What a picture file says besides its pixels, as read gives it.

    icc: the ICC profile of an RGB colour space (b"" when the file has none:
    sRGB), which says what the picture's values mean. The effects work on
    the values as they are; write puts the profile back with the result.
    exif: the camera's Exif data as a TIFF structure (b"" when none).
    """

    icc: bytes = b""
    exif: bytes = b""

    def __bool__(self):
        return bool(self.icc or self.exif)


def read(path, metadata=False):
    """Reads a picture file with the program's own readers (BMP, JPEG, GIF,
    icons, WMF, EMF; HEIC and AVIF through libheif and JPEG XL through libjxl,
    known by their content whatever their name; PNG, TIFF, WebP... through
    Qt's image plugins). Samples deeper than 8 bits are rounded to 8.

    Returns a (H, W, 3) uint8 RGB array; with metadata=True, the array and
    the file's Metadata (its colour profile and camera data), to hand to
    write::

        image, meta = plumora.read("phone.heic", metadata=True)
        plumora.write("sketch.jpg", plumora.apply("pen-sketch", image), metadata=meta)

    A file that cannot be opened raises the OSError of its errno, with
    errno and filename set: FileNotFoundError, IsADirectoryError (a folder),
    PermissionError. One that cannot be decoded raises ValueError with the
    reader's message.
    """
    if not metadata:
        return _plumora.read(path)
    image, icc, exif = _plumora.read(path, True)
    return image, Metadata(icc, exif)


def write(path, image, quality=None, lossless=False, *, metadata=None, strip=False, keep_location=False):
    """Writes image (as apply takes it) in the format the name's extension
    names: .jpg/.jpeg, .png (compression level 6), .webp, .tif/.tiff
    (deflate), .bmp (24-bit) or .wmf, through a temporary file, so an
    existing file is replaced whole or not at all. quality (1 to 100, 90
    when None) is for JPEG and WebP; lossless=True writes a WebP without
    loss. A setting the format would not use raises ValueError. Alpha is not
    written. A file that cannot be written raises the OSError of its errno
    (FileNotFoundError for a missing folder, PermissionError...) with errno
    and filename set.

    metadata (a Metadata, from read(..., metadata=True)) goes into a JPEG,
    PNG, WebP or TIFF: the colour profile as it is, the camera data with
    the orientation 1 (the picture was read upright), the picture's own size
    and without the thumbnail; the location (GPS) only with
    keep_location=True. strip=True leaves all of it out.
    """
    if metadata is not None and not isinstance(metadata, Metadata):
        raise TypeError("metadata must be a plumora.Metadata, as plumora.read(path, metadata=True) gives it")
    if strip and keep_location:
        raise ValueError("strip and keep_location do not go together: strip leaves the location out too")
    if strip or metadata is None:
        _plumora.write(path, image, quality, lossless, keep_location=keep_location)
    else:
        _plumora.write(path, image, quality, lossless, metadata.icc, metadata.exif, keep_location)
