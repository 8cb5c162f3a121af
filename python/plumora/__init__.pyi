from os import PathLike
from collections.abc import Iterable
from typing import Any, Literal, TypedDict, overload

import numpy as np
import numpy.typing as npt

__version__: str

Image = npt.NDArray[np.uint8]
ParamValue = int | str | bool | list[int] | list[str] | tuple[int, ...]

class Param(TypedDict, total=False):
    name: str
    caption: str
    kind: Literal["slider", "number", "choice", "steps", "flag", "grid", "colour", "file"]
    values: str
    min: int
    max: int
    choices: list[str]
    default: Any

class Effect(TypedDict):
    name: str
    summary: str
    params: list[Param]
    alternatives: list[str]

def effects() -> list[Effect]: ...
@overload
def apply(name: str, image: Image, *, state: int | None = ..., return_state: Literal[False] = ...,
          **params: ParamValue) -> Image: ...
@overload
def apply(name: str, image: Image, *, state: int | None = ..., return_state: Literal[True],
          **params: ParamValue) -> tuple[Image, int]: ...
class Metadata:
    icc: bytes
    exif: bytes
    def __init__(self, icc: bytes = ..., exif: bytes = ...) -> None: ...
    def __bool__(self) -> bool: ...

@overload
def read(path: str | bytes | PathLike[str] | PathLike[bytes], metadata: Literal[False] = ...) -> Image: ...
@overload
def read(path: str | bytes | PathLike[str] | PathLike[bytes], metadata: Literal[True]) -> tuple[Image, Metadata]: ...
def write(
    path: str | bytes | PathLike[str] | PathLike[bytes],
    image: Image,
    quality: int | None = ...,
    lossless: bool = ...,
    *,
    metadata: Metadata | None = ...,
    strip: bool = ...,
    keep_location: bool = ...,
) -> None: ...

StepValue = int | float | str | bool | list[int] | list[str] | tuple[int, ...] | tuple[str, ...]
Step = tuple[str, dict[str, StepValue]]

class Recipe:
    def __init__(self, steps: Iterable[Step | list[Any]] = ...) -> None: ...
    @classmethod
    def loads(cls, text: str | bytes) -> Recipe: ...
    @classmethod
    def load(cls, path: str | bytes | PathLike[str] | PathLike[bytes]) -> Recipe: ...
    @property
    def steps(self) -> list[tuple[str, dict[str, Any]]]: ...
    def apply(self, image: Image) -> Image: ...
    def save(self, path: str | bytes | PathLike[str] | PathLike[bytes]) -> None: ...
    def describe(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
