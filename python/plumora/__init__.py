"""Plumora: photographs turned into drawings and paintings, on numpy arrays.

The same effects, parameters and results, bit for bit, as the Plumora desktop
program and plumora-cli::

    import plumora
    image = plumora.read("photo.jpg")               # (H, W, 3) uint8, RGB
    sketch = plumora.pen_sketch(image, pressure=150)
    plumora.write("sketch.png", sketch)

Every effect is a function of its own (pen_sketch, water_color, hsl_adjust,
...), its parameters keyword-only with their defaults; apply("pen-sketch",
image, pressure=150) is the same call by the effect's command-line name.

A recipe (the operations that made a picture in the desktop program, saved
with File > Save Recipe...) gives the same look to other pictures::

    look = plumora.Recipe.load("look.plumora-recipe")
    plumora.write("drawing.png", look.apply(plumora.read("photo.jpg")))

``python3 -m plumora.batch`` runs a batch of files on a Dask cluster.
"""

import inspect as _inspect
import json as _json
import operator as _operator
import os as _os
import secrets as _secrets
import sys as _sys
from dataclasses import dataclass

import numpy as _np

from . import _plumora

__all__ = ["effects", "apply", "read", "write", "Metadata", "Recipe"]  # and a function per effect, below
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
    and scikit-image give it, (H, W, 4), RGBA, or (H, W), grey; or a Pillow
    Image of mode RGB, RGBA or L. The result is of the same kind: an array
    of the same shape, or the turned or resized one; an Image of the same
    mode. A grey picture is applied as the RGB picture of its greys, and
    comes back grey ((H, W), or L) when the result is grey, RGB when the
    effect coloured it. An RGBA image's alpha comes back unchanged (effects
    see the picture as opaque), except that it turns with rotate-cw and
    rotate-ccw and is stretched with resize, as the colours are. Arrays of
    another dtype or shape raise TypeError or ValueError, anything else
    TypeError; an array that is not in C order (a flipped view, a Fortran
    array) is copied into it first.

    params: the effect's parameters by their command-line names, with `_`
    for `-` (colour_1 for --colour-1): ints (numpy's too), words
    ("vertical"), True for a flag, flat lists of ints or words for grids and
    steps (a list in a list raises TypeError; a numpy integer array is read
    row by row, so a 3 x 3 kernel may be one), a str or pathlib.Path for a
    file. Values take the command line's checks
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
    params = {key: _parameter_value(value) for key, value in params.items()}
    pillow = _pillow_rows(image)
    if pillow is not None:  # read and written in Pillow's own memory
        return _plumora.apply(name, image, params, state, return_state, pillow)
    array, mode = _array_of(image)
    result = _plumora.apply(name, array, params, state, return_state)
    if mode is None:
        return result
    if return_state:
        return _pillow_image(result[0]), result[1]
    return _pillow_image(result)


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
    """Writes image (as apply takes it: an array or a Pillow Image) in the format the name's extension
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
        _plumora.write(path, _array_of(image)[0], quality, lossless, keep_location=keep_location)
    else:
        _plumora.write(path, _array_of(image)[0], quality, lossless, metadata.icc, metadata.exif, keep_location)


def _array_of(image):
    """The numpy array of an image as the functions take it, and the Pillow
    mode to give the result back in (None for an array). Pillow is not
    imported here: an Image can only come from a program that has."""
    if isinstance(image, _np.ndarray):
        return image, None
    pillow = _sys.modules.get("PIL.Image")
    if pillow is not None and isinstance(image, pillow.Image):
        if image.mode not in ("RGB", "RGBA", "L"):
            raise TypeError(f"a Pillow Image must be RGB, RGBA or L, not {image.mode[:20]}: "
                            f"image.convert('RGB') makes it RGB")
        return _np.asarray(image), image.mode
    kind = type(image).__qualname__
    raise TypeError("the image must be a numpy uint8 array of shape (H, W), (H, W, 3) or (H, W, 4), or a Pillow "
                    f"Image (RGB, RGBA or L), not {kind if len(kind) <= 60 else kind[:60] + '...'}")


def _pillow_rows(image):
    """Pillow's Image.new when image is a Pillow Image (L, RGB or RGBA) whose
    rows of pixels the native part can read in place, after loading it (a
    file's Image is read at its first use); None for anything else, which
    goes through _array_of."""
    pillow = _sys.modules.get("PIL.Image")
    if pillow is None or not isinstance(image, pillow.Image) or image.mode not in ("RGB", "RGBA", "L"):
        return None
    image.load()
    if not hasattr(image.im, "unsafe_ptrs"):
        return None
    # Not cleared first: every pixel is written.
    return lambda mode, size: pillow.new(mode, size, None)


def _pillow_image(array):
    """A result as a Pillow Image: L for a 2-D (grey) array, RGB, RGBA."""
    return _sys.modules["PIL.Image"].fromarray(array)


def _parameter_value(value):
    """numpy's integers (scalars, arrays such as a 3 x 3 kernel, row by row)
    and bools as the Python ints and bools the table's checks take; lists
    keep their shape, so that a list in a list is still refused."""
    if isinstance(value, (bool, int, str, bytes)):
        return value
    if isinstance(value, _np.ndarray) and value.dtype.kind in "iub":
        return value.item() if value.ndim == 0 else [_parameter_value(v) for v in value.ravel().tolist()]
    if isinstance(value, _np.bool_):
        return bool(value)
    if isinstance(value, _np.integer):
        return int(value)
    if isinstance(value, (list, tuple)):
        return [_parameter_value(v) if isinstance(v, _np.generic) else v for v in value]
    return value


def _plain(value, where):
    """A parameter's value as JSON writes it: a bool, an int (numpy's too),
    a float, a str, or a flat list of those."""
    if isinstance(value, (bool, str, float)):
        return value
    if isinstance(value, (list, tuple)):
        return [_plain_item(item, where) for item in value]
    try:
        return _operator.index(value)
    except TypeError:
        raise TypeError(f"{where} takes an int, a float, a str, a bool or a list of those, "
                        f"not {type(value).__name__}") from None


def _plain_item(item, where):
    if isinstance(item, (list, tuple)):
        raise TypeError(f"{where} takes a flat list, not a list in a list")
    return _plain(item, where)


def _file_step(number, step):
    """One (name, values) pair as the recipe file writes the step."""
    if not isinstance(step, (tuple, list)) or len(step) != 2 or not isinstance(step[0], str) \
            or not isinstance(step[1], dict):
        raise TypeError(f"Step {number}: a step is a pair (name, dict), such as ('turn', {{'direction': "
                        f"'clockwise'}}) or ('pen-sketch', {{'pressure': 140}}), not {step!r}")
    name, values = step
    values = {str(key).replace("_", "-"): _plain(value, f"Step {number}: {key!r}") for key, value in values.items()}
    if name == "turn":
        if "direction" not in values or "turn" in values:
            raise ValueError(f"Step {number}: a turn is ('turn', {{'direction': 'clockwise'}}) or 'anticlockwise'")
        return {"turn": values.pop("direction"), **values}
    if name == "resize":
        return {"resize": values}
    if "effect" in values:  # it would name another effect in the file
        raise ValueError(f"Step {number}: unknown key 'effect' for {name}.")
    return {"effect": name, **values}


def _pair(step):
    """A step of the file as the (name, dict) pair Recipe.steps gives."""
    if "turn" in step:
        return ("turn", {"direction": step["turn"]})
    if "resize" in step:
        return ("resize", dict(step["resize"]))
    values = dict(step)
    return (values.pop("effect"), values)


class Recipe:
    """The operations that made a picture, to give the same look to others:
    quarter turns, new sizes and an effect with all its values, in order,
    as the desktop program saves them (File > Save Recipe...) in a
    .plumora-recipe file. apply() gives exactly the picture the window
    showed for the same operations, and plumora-cli's recipe command the
    same bytes.

    Built from steps, each a pair (name, dict)::

        plumora.Recipe([("turn", {"direction": "clockwise"}),
                        ("resize", {"scale": 0.5}),          # or {"width": 1600, "height": 1200}
                        ("pen-sketch", {"pressure": 140}),
                        ("color-filter", {"filter": "yellow", "for-current": True})])

    A turn's direction is "clockwise" or "anticlockwise"; a resize takes
    "width" and "height", or "scale" (the new width over the old, the height
    keeping the proportions); an effect is named as plumora-cli names it
    (plumora.effects()) and its dict holds its parameters by their
    command-line names ("color-ink"; "color_ink" is taken too): ints, words
    or their places, True or False for a flag, lists for grids and steps,
    "RRGGBB" for a colour; those not given take their defaults. "for-current"
    (color-filter and color-variety only) works on the picture as the steps
    before left it instead of the source picture.

    A recipe that cannot be taken raises ValueError with the message
    plumora-cli gives, naming the step and the key ("Step 2: unknown key
    'pressur' for pen-sketch."); a value of a type JSON cannot hold raises
    TypeError. A recipe does not change once made; steps gives its steps
    back with every value the run uses, defaults included.
    """

    __slots__ = ("_json",)

    def __init__(self, steps=()):
        if isinstance(steps, (str, bytes)):
            raise TypeError("Recipe() takes a list of steps; Recipe.loads() takes a recipe's text")
        document = {"plumora-recipe": 1, "steps": [_file_step(i + 1, s) for i, s in enumerate(steps)]}
        try:
            text = _json.dumps(document, ensure_ascii=False, allow_nan=False)
        except ValueError as e:  # a float JSON cannot write (nan, inf)
            raise ValueError(f"a recipe's numbers are finite: {e}") from None
        self._json = _plumora.recipe_json(text)

    @classmethod
    def loads(cls, text):
        """The recipe in a recipe file's text (str, or bytes in UTF-8)."""
        recipe = cls.__new__(cls)
        recipe._json = _plumora.recipe_json(text)
        return recipe

    @classmethod
    def load(cls, path):
        """Reads a .plumora-recipe file (a str, bytes or os.PathLike name).
        A file that cannot be opened raises the OSError of its errno
        (FileNotFoundError, IsADirectoryError, PermissionError); one that is
        no recipe (or larger than 1 MB) raises ValueError."""
        recipe = cls.__new__(cls)
        recipe._json = _plumora.read_recipe(path)
        return recipe

    @property
    def steps(self):
        """The steps as (name, dict) pairs, in order: ("turn", {"direction":
        "clockwise"}), ("resize", {"width": W, "height": H}) or ("resize",
        {"scale": F}), and (effect, {parameter: value, ...}) with every
        parameter the run uses (words for choices and steps, True or False
        for flags, "RRGGBB" for colours) and "for-current": True where set.
        Recipe(recipe.steps) is the same recipe."""
        return [_pair(step) for step in _json.loads(self._json)["steps"]]

    def apply(self, image):
        """Applies the recipe to image (a numpy uint8 array as plumora.apply
        takes it, (H, W, 3) RGB or (H, W, 4) RGBA) and returns the result
        with as many channels. An RGBA image's alpha comes back turned and
        resized with the picture; the effects see the picture as opaque.
        Brume starts its random sequence afresh, as plumora-cli does for
        every file. Releases the GIL while it computes."""
        return _plumora.apply_recipe(self._json, image)

    def save(self, path):
        """Writes the recipe file, through a temporary file in the same
        folder renamed into place, so an existing file is replaced whole or
        not at all. A new file gets the permissions the umask gives, one
        that is replaced keeps its own."""
        path = _os.fspath(path)
        folder = _os.path.dirname(path) or (b"." if isinstance(path, bytes) else ".")
        try:
            mode = _os.stat(path).st_mode & 0o7777
        except OSError:
            mode = None
        while True:
            name = f".plumora-recipe-{_secrets.token_hex(8)}.tmp"
            temporary = _os.path.join(folder, _os.fsencode(name) if isinstance(folder, bytes) else name)
            try:  # 0o666 less the umask, as any new file
                descriptor = _os.open(temporary, _os.O_WRONLY | _os.O_CREAT | _os.O_EXCL | _os.O_CLOEXEC, 0o666)
                break
            except FileExistsError:
                continue
        try:
            with _os.fdopen(descriptor, "wb") as f:
                f.write(self._json.encode("utf-8"))
            if mode is not None:
                _os.chmod(temporary, mode)
            _os.replace(temporary, path)
        except BaseException:
            try:
                _os.unlink(temporary)
            except OSError:
                pass
            raise

    def describe(self):
        """One line per step, as plumora-cli recipe --print shows them."""
        return _plumora.describe_recipe(self._json)

    def __str__(self):
        """The recipe file's text: one form for one recipe, so that saved,
        loaded and saved again it is the same file."""
        return self._json

    def __repr__(self):
        return f"plumora.Recipe({self.steps!r})"

    def __eq__(self, other):
        return isinstance(other, Recipe) and self._json == other._json

    def __hash__(self):
        return hash(self._json)


# ---------------------------------------------------------------------------
# A function per effect, made from the effects table as the package is
# imported, so that a new effect or parameter in the program is here at once.


def _keyword(name):
    return name.replace("-", "_")


def _signature_of(effect):
    """image, then the effect's parameters keyword-only: those with a default
    show it (a choice its word); one that must be given has none; one that
    is optional, or the second of two alternatives, defaults to None (not
    given)."""
    parameters = [_inspect.Parameter("image", _inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    later_alternatives = effect["alternatives"][1:]
    for p in effect["params"]:
        default = p["default"]
        if p["name"] in later_alternatives:
            default = None
        elif default is None and p["kind"] == "choice":  # "must be given"
            default = _inspect.Parameter.empty
        parameters.append(_inspect.Parameter(_keyword(p["name"]), _inspect.Parameter.KEYWORD_ONLY, default=default))
    if effect["random"]:
        parameters.append(_inspect.Parameter("state", _inspect.Parameter.KEYWORD_ONLY, default=None))
        parameters.append(_inspect.Parameter("return_state", _inspect.Parameter.KEYWORD_ONLY, default=False))
    return _inspect.Signature(parameters)


def _docstring_of(effect):
    summary = effect["summary"]
    lines = [summary[0].upper() + summary[1:] + ".", ""]
    lines.append("image: a numpy uint8 array, (H, W, 3) RGB, (H, W, 4) RGBA or (H, W) grey, or a Pillow Image")
    lines.append("(RGB, RGBA or L), as plumora.apply takes it; the result is of the same kind.")
    lines.append("")
    alternatives = effect["alternatives"]
    for p in effect["params"]:
        lines.append(f"{_keyword(p['name'])}: {p['caption']}; {p['values']}.")
    if len(alternatives) > 1:
        lines.append("")
        lines.append(" or ".join(_keyword(a) for a in alternatives) + ": one or the other; "
                     f"{_keyword(alternatives[0])} when neither is given.")
    if effect["random"]:
        lines.append("state, return_state: where the random sequence starts, and whether to return "
                     "(result, state after the run): see plumora.apply.")
    lines.append("")
    lines.append(f"The same as plumora.apply({effect['name']!r}, image, ...): plumora-cli's pixels exactly; "
                 "a bad value raises ValueError with plumora-cli's message. Releases the GIL.")
    return "\n".join(lines)


def _effect_function(effect):
    name, signature = effect["name"], _signature_of(effect)

    def function(*args, **kwargs):
        # Only what the caller gave goes on: the command line's own defaults
        # (and its choice between alternatives) then apply, as for apply().
        given = signature.bind(*args, **kwargs).arguments
        image = given.pop("image")
        return apply(name, image, **{key: value for key, value in given.items() if value is not None})

    function.__name__ = function.__qualname__ = _keyword(name)
    function.__module__ = __name__
    function.__signature__ = signature
    function.__doc__ = _docstring_of(effect)
    return function


def _add_effect_functions():
    for effect in _plumora.effects():
        function = _effect_function(effect)
        globals()[function.__name__] = function
        __all__.append(function.__name__)


_add_effect_functions()
