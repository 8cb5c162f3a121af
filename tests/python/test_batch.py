"""python3 -m plumora.batch on a local Dask cluster against plumora-cli's batch."""

import os
import subprocess
import sys
import unittest

import plumora
from support import Folder, cli, photo, text_wmf


def batch(*args):
    """Runs the Dask batch as a user does; returns (exit status, stderr)."""
    done = subprocess.run([sys.executable, "-m", "plumora.batch", *args], capture_output=True, text=True,
                          timeout=600)
    return done.returncode, done.stderr


def files_of(folder):
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


class DaskBatchEqualsTheCommandLinesBatch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()
        cls.inputs = []
        image = photo(200, 150)
        for i, ext in enumerate(("bmp", "png", "jpg", "bmp", "png")):
            name = cls.folder.file(f"photo{i}.{ext}")
            plumora.write(name, image[i * 5:, i * 7:])
            cls.inputs.append(name)
        broken = cls.folder.file("broken.jpg")
        with open(broken, "wb") as f:
            f.write(b"\xff\xd8\xff\xdb cut short")
        cls.inputs.insert(2, broken)
        formula = cls.folder.file("formula.wmf")  # text, drawn by the workers' fonts
        with open(formula, "wb") as f:
            f.write(text_wmf())
        cls.inputs.append(formula)

    @classmethod
    def tearDownClass(cls):
        cls.folder.close()

    def test_same_files_byte_for_byte_and_the_failing_file_reported(self):
        # Brume: each file starts from the state the program starts with,
        # whichever worker takes it and whatever it took before.
        for effect, options in (("brume", ["--format", "png"]), ("dozadir", ["--direction", "vertical"])):
            with self.subTest(effect=effect):
                by_cli = self.folder.file(effect + "-cli")
                by_dask = self.folder.file(effect + "-dask")
                status, err = cli(effect, *options, *self.inputs, "--output-dir", by_cli)
                self.assertEqual(status, 1, err)
                status, err = batch(effect, *options, *self.inputs, "--output-dir", by_dask, "--workers", "2")
                self.assertEqual(status, 1, err)
                failures = [line for line in err.splitlines() if line.startswith("plumora.batch: ")]
                self.assertEqual(len(failures), 1, err)
                self.assertIn("broken.jpg", failures[0])
                written = files_of(by_dask)
                self.assertEqual(len(written), len(self.inputs) - 1)
                self.assertEqual(written, files_of(by_cli))

    def test_the_command_line_is_checked_before_any_work(self):
        out = self.folder.file("never")
        for args, message in (
            (["pen-sketch", "--pressure", "300", *self.inputs, "--output-dir", out], "out of range"),
            (["pen-sketch", "--color", "1", *self.inputs, "--output-dir", out], "has no parameter --color"),
            (["crayon", *self.inputs, "--output-dir", out], "unknown effect"),
            (["pen-sketch", *self.inputs], "--output-dir"),
            (["pen-sketch", *self.inputs, "--output-dir", out, "--format", "gif"], "--format takes"),
            (["pen-sketch", self.inputs[0], self.inputs[0], "--output-dir", out], "both be written"),
            (["pen-sketch", self.inputs[0], "--output-dir", self.folder.path], "would write over the input"),
            (["pen-sketch", self.folder.file("a.gif"), "--output-dir", out], "the output must end in"),
            (["pen-sketch", *self.inputs, "--output-dir", out, "--workers", "0"], "--workers takes"),
        ):
            with self.subTest(args=args[:3]):
                status, err = batch(*args)
                self.assertEqual(status, 2, err)
                self.assertIn(message, err)
        self.assertFalse(os.path.exists(out))

    def test_an_unreachable_scheduler_is_a_failure_not_a_hang(self):
        status, err = batch("convert", self.inputs[0], "--output-dir", self.folder.file("none"), "--scheduler",
                            "tcp://127.0.0.1:9")
        self.assertEqual(status, 1, err)
        self.assertIn("scheduler", err)


if __name__ == "__main__":
    unittest.main()
