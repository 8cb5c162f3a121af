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
