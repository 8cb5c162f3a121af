"""Plumora: photographs turned into drawings and paintings, on numpy arrays.

The same effects, parameters and results, bit for bit, as the Plumora desktop
program and plumora-cli::

    import plumora
    image = plumora.read("photo.jpg")               # (H, W, 3) uint8, RGB
    sketch = plumora.apply("pen-sketch", image, pressure=150)
    plumora.write("sketch.png", sketch)

``python3 -m plumora.batch`` runs a batch of files on a Dask cluster.
"""

from . import _plumora

__all__ = ["effects", "apply", "read", "write"]
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


def read(path):
    """Reads a picture file with the program's own readers (BMP, JPEG, GIF,
    icons, WMF, EMF; HEIC and AVIF through libheif and JPEG XL through libjxl,
    known by their content whatever their name; PNG, TIFF, WebP... through
    Qt's image plugins). Samples deeper than 8 bits are rounded to 8.

    Returns a (H, W, 3) uint8 RGB array. A file that cannot be opened raises
    the OSError of its errno, with errno and filename set: FileNotFoundError,
    IsADirectoryError (a folder), PermissionError. One that cannot be
    decoded raises ValueError with the reader's message.
    """
    return _plumora.read(path)


def write(path, image, quality=None, lossless=False):
    """Writes image (as apply takes it) in the format the name's extension
    names: .jpg/.jpeg, .png (compression level 6), .webp, .tif/.tiff
    (deflate), .bmp (24-bit) or .wmf, through a temporary file, so an
    existing file is replaced whole or not at all. quality (1 to 100, 90
    when None) is for JPEG and WebP; lossless=True writes a WebP without
    loss. A setting the format would not use raises ValueError. Alpha is not
    written. A file that cannot be written raises the OSError of its errno
    (FileNotFoundError for a missing folder, PermissionError...) with errno
    and filename set.
    """
    _plumora.write(path, image, quality, lossless)
