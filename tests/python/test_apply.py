"""plumora.apply against plumora-cli, every effect, and the arrays it takes."""

import os
import subprocess
import sys
import threading
import unittest

import numpy as np

import plumora
from support import PHOTO, Folder, cli, photo, text_wmf


def other_value(param, folder):
    """A value other than the default, as (Python value, command-line text),
    or None when the parameter is better left alone."""
    kind, default = param["kind"], param.get("default")
    if kind in ("slider", "number"):
        if default is None:  # an optional number (a size): any value it takes
            v = min(max(param["min"], 50), param["max"])
        else:
            v = param["min"] if default != param["min"] else param["max"]
        return v, str(v)
    if kind == "choice":
        words = param["choices"]
        w = words[-1] if default != words[-1] else words[0]
        return w, w
    if kind == "steps":
        words = param["choices"][:2]
        return words, ",".join(words)
    if kind == "flag":
        return (True, None) if not default else None
    if kind == "grid":
        grid = [v + 1 if v < param["max"] else v - 1 for v in default]
        return grid, ",".join(map(str, grid))
    if kind == "colour":
        return "3A7BD5", "3A7BD5"
    if kind == "file":
        return folder.texture, folder.texture
    return None


def non_default_run(effect, folder):
    """Every parameter moved off its default at once (of alternatives, the
    first only): the keyword arguments and the command-line options."""
    keywords, options = {}, []
    for p in effect["params"]:
        if p["name"] in effect["alternatives"][1:]:
            continue
        value = other_value(p, folder)
        if value is None:
            continue
        python, text = value
        keywords[p["name"].replace("-", "_")] = python
        options += ["--" + p["name"]] + ([text] if text is not None else [])
    return keywords, options


class ApplyEqualsTheCommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()
        cls.image = photo()
        cls.input = cls.folder.file("in.bmp")
        plumora.write(cls.input, cls.image)
        cls.folder.texture = cls.folder.file("tile.png")
        plumora.write(cls.folder.texture, photo(40, 30)[::-1])

    @classmethod
    def tearDownClass(cls):
        cls.folder.close()

    def cli_result(self, name, options):
        output = self.folder.file("out.bmp")
        status, err = cli(name, *options, self.input, output)
        self.assertEqual(status, 0, err)
        return plumora.read(output)

    def test_every_effect_at_default_and_other_values(self):
        effects = plumora.effects()
        self.assertGreaterEqual(len(effects), 17)
        compared = 0
        for effect in effects:
            name = effect["name"]
            runs = [({}, []), non_default_run(effect, self.folder)]
            for keywords, options in runs:
                with self.subTest(effect=name, options=options):
                    output = self.folder.file("out.bmp")
                    status, err = cli(name, *options, self.input, output)
                    if status == 2:  # a parameter without default must be given: refused alike
                        with self.assertRaises(ValueError) as caught:
                            plumora.apply(name, self.image, **keywords)
                        self.assertEqual(err.strip(), "plumora-cli: " + str(caught.exception))
                        continue
                    self.assertEqual(status, 0, err)
                    result = plumora.apply(name, self.image, **keywords)
                    np.testing.assert_array_equal(result, plumora.read(output))
                    compared += 1
        self.assertGreaterEqual(compared, 2 * len(effects) - 3)

    def test_brume_runs_on_from_the_state_it_is_given(self):
        first, state = plumora.apply("brume", self.image, return_state=True)
        self.assertNotEqual(state, 0)
        np.testing.assert_array_equal(first, self.cli_result("brume", []))  # a file starts at 0
        second, _ = plumora.apply("brume", self.image, state=state, return_state=True)
        self.assertFalse(np.array_equal(first, second))
        np.testing.assert_array_equal(plumora.apply("brume", self.image, state=state), second)
        with self.assertRaises(ValueError):
            plumora.apply("pen-sketch", self.image, state=1)

    def test_bad_parameters_raise_the_command_lines_message(self):
        cases = [
            ("pen-sketch", {"pressure": 300}, ["--pressure", "300"]),
            ("pen-sketch", {"pressure": "abc"}, ["--pressure", "abc"]),
            ("dozadir", {"direction": "sideways"}, ["--direction", "sideways"]),
        ]
        for name, keywords, options in cases:
            with self.subTest(options=options):
                with self.assertRaises(ValueError) as caught:
                    plumora.apply(name, self.image, **keywords)
                status, err = cli(name, *options, self.input, self.folder.file("bad.bmp"))
                self.assertEqual(status, 2)
                self.assertEqual(err.strip(), "plumora-cli: " + str(caught.exception))
        with self.assertRaisesRegex(ValueError, "has no parameter --colour"):
            plumora.apply("pen-sketch", self.image, colour=3)
        with self.assertRaisesRegex(ValueError, "unknown effect"):
            plumora.apply("crayon", self.image)

    def test_arrays_are_refused_or_read_through_their_strides_never_misread(self):
        image = self.image
        expected = plumora.apply("emboss", image)
        flipped = image[:, ::-1]  # negative strides
        np.testing.assert_array_equal(plumora.apply("emboss", flipped),
                                      plumora.apply("emboss", np.ascontiguousarray(flipped)))
        fortran = np.asfortranarray(image)
        np.testing.assert_array_equal(plumora.apply("emboss", fortran), expected)
        bgr_view = np.ascontiguousarray(image[:, :, ::-1])[:, :, ::-1]  # RGB through a reversed channel axis
        np.testing.assert_array_equal(plumora.apply("emboss", bgr_view), expected)
        for bad in (image.astype(np.float32), image.astype(np.uint16), image.astype(bool)):
            with self.assertRaises(TypeError):
                plumora.apply("emboss", bad)
        for bad in (image[:, :, :2], image[None], np.zeros((0, 5, 3), np.uint8), np.zeros((4, 0), np.uint8)):
            with self.assertRaises(ValueError):
                plumora.apply("emboss", bad)
        with self.assertRaises(TypeError):
            plumora.apply("emboss", image.tolist())

    def test_rgba_keeps_its_alpha_and_the_colours_of_rgb(self):
        alpha = np.arange(self.image.shape[0] * self.image.shape[1], dtype=np.uint32).reshape(self.image.shape[:2])
        rgba = np.dstack([self.image, (alpha % 251).astype(np.uint8)])
        result = plumora.apply("water-color", rgba)
        self.assertEqual(result.shape, rgba.shape)
        np.testing.assert_array_equal(result[:, :, 3], rgba[:, :, 3])
        np.testing.assert_array_equal(result[:, :, :3], plumora.apply("water-color", self.image))

    def test_rgba_alpha_follows_a_turn_and_a_resize(self):
        # Not square, so a turn changes the shape; the alpha differs in every
        # row and column, so a wrong mapping cannot pass.
        h, w = 37, 61
        rgba = np.random.default_rng(24).integers(0, 256, (h, w, 4), dtype=np.uint8)
        np.testing.assert_array_equal(plumora.apply("rotate-cw", rgba), np.rot90(rgba, -1))
        np.testing.assert_array_equal(plumora.apply("rotate-ccw", rgba), np.rot90(rgba, 1))
        square = rgba[:h, :h]
        np.testing.assert_array_equal(plumora.apply("rotate-cw", square), np.rot90(square, -1))
        # Resize is the nearest-pixel stretch: column x of the result takes
        # column x * w // new_w; the alpha is stretched the same way.
        for new_w, new_h in ((2 * w + 3, 3 * h), (w // 2, h // 3), (w * 4, h)):
            with self.subTest(size=(new_w, new_h)):
                rows, cols = np.arange(new_h) * h // new_h, np.arange(new_w) * w // new_w
                result = plumora.apply("resize", rgba, width=new_w, height=new_h)
                np.testing.assert_array_equal(result, rgba[rows][:, cols])
                np.testing.assert_array_equal(result[:, :, :3],
                                              plumora.apply("resize", rgba[:, :, :3], width=new_w, height=new_h))
        # Through strides too: the alpha of a flipped view.
        flipped = rgba[::-1, ::2]
        np.testing.assert_array_equal(plumora.apply("rotate-ccw", flipped), np.rot90(flipped, 1))

    def test_parameter_lists_are_flat(self):
        kernel = [1, 2, 1, 2, 4, 2, 1, 2, 1]
        np.testing.assert_array_equal(plumora.apply("realism", self.image, kernel=kernel),
                                      plumora.apply("realism", self.image, kernel=tuple(kernel)))
        deep = []
        for _ in range(300000):  # deeper than any C++ stack could walk
            deep = [deep]
        for bad in (deep, [1, [2], 3], [[1, 2, 1, 2, 4, 2, 1, 2, 1]]):
            with self.assertRaisesRegex(TypeError, "list holds ints or words"):
                plumora.apply("realism", self.image, kernel=bad)

    def test_threads_run_effects_side_by_side_with_the_same_results(self):
        expected = plumora.apply("color-pencil", self.image)
        results = [None] * 4

        def run(i):
            results[i] = plumora.apply("color-pencil", self.image)

        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(results))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for r in results:
            np.testing.assert_array_equal(r, expected)

    def test_read_and_write_go_through_the_programs_files(self):
        for ext in ("bmp", "png", "jpg"):
            with self.subTest(ext=ext):
                name = self.folder.file("copy." + ext)
                plumora.write(name, self.image)
                status, err = cli("convert", name, self.folder.file("back.bmp"))
                self.assertEqual(status, 0, err)
                np.testing.assert_array_equal(plumora.read(name), plumora.read(self.folder.file("back.bmp")))
        np.testing.assert_array_equal(plumora.read(self.folder.file("copy.png")), self.image)
        # Metafile text is drawn, as plumora-cli draws it.
        formula = self.folder.file("formula.wmf")
        with open(formula, "wb") as f:
            f.write(text_wmf())
        status, err = cli("convert", formula, self.folder.file("formula.bmp"))
        self.assertEqual(status, 0, err)
        drawn = plumora.read(formula)
        np.testing.assert_array_equal(drawn, plumora.read(self.folder.file("formula.bmp")))
        self.assertGreater(int((drawn[10:55, 10:80].max(axis=2) < 96).sum()), 300)
        # A name that is not UTF-8, as os gives it: exactly that file.
        odd = self.folder.file("x\udcff.png")
        plumora.write(odd, self.image)
        self.assertIn(b"x\xff.png", os.listdir(self.folder.path.encode()))
        np.testing.assert_array_equal(plumora.read(odd.encode("utf-8", "surrogateescape")), self.image)
        with self.assertRaises(FileNotFoundError):
            plumora.read(self.folder.file("missing.png"))
        broken = self.folder.file("broken.jpg")
        with open(broken, "wb") as f:
            f.write(b"\xff\xd8\xff\xe0 not a picture")
        with self.assertRaises(ValueError):
            plumora.read(broken)
        with self.assertRaises(ValueError):
            plumora.write(self.folder.file("picture.xyz"), self.image)
        with self.assertRaises(OSError):
            plumora.write(self.folder.file("no-such-folder/picture.png"), self.image)

    def test_write_takes_the_format_from_the_name_and_a_quality_where_it_applies(self):
        # The same bytes as plumora-cli writes with the same settings.
        source = self.folder.file("source.bmp")
        plumora.write(source, self.image)
        for name, keywords, options in (
            ("q.jpg", {"quality": 40}, ["--quality", "40"]),
            ("d.jpg", {}, []),
            ("q.webp", {"quality": 40}, ["--quality", "40"]),
            ("l.webp", {"lossless": True}, ["--lossless"]),
            ("t.tiff", {}, []),
            ("p.png", {}, []),
        ):
            with self.subTest(name=name):
                ours = self.folder.file("py-" + name)
                plumora.write(ours, self.image, **keywords)
                status, err = cli("convert", *options, source, self.folder.file("cli-" + name))
                self.assertEqual(status, 0, err)
                with open(ours, "rb") as a, open(self.folder.file("cli-" + name), "rb") as b:
                    self.assertEqual(a.read(), b.read())
        for name in ("l.webp", "t.tiff", "p.png"):
            np.testing.assert_array_equal(plumora.read(self.folder.file("py-" + name)), self.image)
        with open(self.folder.file("py-q.jpg"), "rb") as low, open(self.folder.file("py-d.jpg"), "rb") as default:
            self.assertLess(len(low.read()), len(default.read()))

    def test_write_refuses_a_setting_its_format_would_not_use(self):
        for name, keywords, error, message in (
            ("x.png", {"quality": 50}, ValueError, "quality goes with JPEG and WebP files, and this is PNG"),
            ("x.jpg", {"quality": 0}, ValueError, "quality must be from 1 to 100, not 0"),
            ("x.jpg", {"quality": 101}, ValueError, "quality must be from 1 to 100, not 101"),
            ("x.jpg", {"quality": 50.5}, TypeError, "quality must be a whole number from 1 to 100"),
            ("x.jpg", {"lossless": True}, ValueError, "lossless goes with WebP files, and this is JPEG"),
            ("x.webp", {"quality": 80, "lossless": True}, ValueError, "quality and lossless do not go together"),
            ("x.gif", {}, ValueError, "the name must end in .jpg, .jpeg, .png, .webp, .tif, .tiff, .bmp or .wmf"),
        ):
            with self.subTest(name=name, keywords=keywords):
                with self.assertRaises(error) as caught:
                    plumora.write(self.folder.file(name), self.image, **keywords)
                self.assertIn(message, str(caught.exception))
                self.assertFalse(os.path.exists(self.folder.file(name)))

    def test_phone_photographs_are_read_by_their_content(self):
        photos = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "photos")
        for name in ("photo.heic", "photo.avif", "photo.jxl", "photo.webp"):
            with self.subTest(name=name):
                image = plumora.read(os.path.join(photos, name))
                self.assertEqual(image.shape, (45, 67, 3))
                expected = plumora.read(os.path.join(photos, name + ".expected.png"))
                np.testing.assert_array_equal(image, expected)

    def test_metadata_read_with_the_picture_is_written_as_plumora_cli_writes_it(self):
        photos = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "photos")
        camera = os.path.join(photos, "camera.jpg")
        plain = plumora.read(camera)
        image, meta = plumora.read(camera, metadata=True)
        np.testing.assert_array_equal(image, plain)
        with open(os.path.join(photos, "p3.icc"), "rb") as f:
            self.assertEqual(meta.icc, f.read())
        with open(os.path.join(photos, "camera.exif"), "rb") as f:
            self.assertEqual(meta.exif, f.read())
        self.assertFalse(plumora.read(os.path.join(photos, "source.png"), metadata=True)[1])
        sketch = plumora.apply("pen-sketch", image)
        for name, keywords, options in (("kept.jpg", {"metadata": meta}, []),
                                        ("located.png", {"metadata": meta, "keep_location": True},
                                         ["--keep-location"]),
                                        ("stripped.webp", {"metadata": meta, "strip": True}, ["--strip"])):
            with self.subTest(name=name):
                plumora.write(self.folder.file(name), sketch, **keywords)
                status, err = cli("pen-sketch", *options, camera, self.folder.file("cli-" + name))
                self.assertEqual(status, 0, err)
                with open(self.folder.file(name), "rb") as a, open(self.folder.file("cli-" + name), "rb") as b:
                    self.assertEqual(a.read(), b.read())
        for keywords, error, message in (({"metadata": meta, "strip": True, "keep_location": True}, ValueError,
                                          "do not go together"),
                                         ({"metadata": (meta.icc, meta.exif)}, TypeError, "plumora.Metadata")):
            with self.assertRaises(error) as caught:
                plumora.write(self.folder.file("never.jpg"), sketch, **keywords)
            self.assertIn(message, str(caught.exception))
        with self.assertRaises(ValueError) as caught:
            plumora.write(self.folder.file("never.bmp"), sketch, metadata=meta, keep_location=True)
        self.assertIn("keep_location goes with files that hold camera data", str(caught.exception))
        self.assertFalse(os.path.exists(self.folder.file("never.jpg")) or os.path.exists(self.folder.file("never.bmp")))

    def test_files_that_cannot_be_used_raise_the_oserror_of_their_errno(self):
        import errno

        missing, folder = self.folder.file("missing.png"), self.folder.path
        plain = self.folder.file("plain.png")
        plumora.write(plain, self.image)
        cases = [
            (lambda: plumora.read(missing), FileNotFoundError, errno.ENOENT, missing, "no such file"),
            (lambda: plumora.read(folder), IsADirectoryError, errno.EISDIR, folder, "is a folder"),
            (lambda: plumora.read(folder.encode()), IsADirectoryError, errno.EISDIR, folder, "is a folder"),
            (lambda: plumora.write(self.folder.file("none/x.png"), self.image), FileNotFoundError, errno.ENOENT,
             self.folder.file("none/x.png"), "No such file"),
            (lambda: plumora.write(plain + "/x.png", self.image), NotADirectoryError, errno.ENOTDIR,
             plain + "/x.png", "Not a directory"),
        ]
        for call, kind, number, name, text in cases:
            with self.subTest(kind=kind.__name__, name=name):
                with self.assertRaises(kind) as caught:
                    call()
                self.assertEqual((caught.exception.errno, caught.exception.filename), (number, name))
                self.assertIn(text, str(caught.exception))
        if os.geteuid() != 0:  # root reads and writes whatever the permissions say
            os.chmod(plain, 0)
            with self.assertRaises(PermissionError):
                plumora.read(plain)
            os.chmod(plain, 0o644)
            locked = self.folder.file("locked")
            os.mkdir(locked, 0o500)
            with self.assertRaises(PermissionError) as caught:
                plumora.write(os.path.join(locked, "x.png"), self.image)
            self.assertEqual(caught.exception.errno, errno.EACCES)

    def test_effects_describe_every_parameter(self):
        pen = next(e for e in plumora.effects() if e["name"] == "pen-sketch")
        pressure = next(p for p in pen["params"] if p["name"] == "pressure")
        self.assertEqual((pressure["kind"], pressure["min"], pressure["max"], pressure["default"]),
                         ("slider", 0, 255, 128))
        status, _ = cli("--list")
        self.assertEqual(status, 0)


class FirstUseFromThreads(unittest.TestCase):
    def test_two_threads_reading_first_in_a_process_without_numpy_do_not_deadlock(self):
        # numpy is not imported before plumora here: the first arrays are made
        # by two threads at once. A deadlock shows as the child never ending;
        # the generous limit is only there so that the suite ends.
        script = (
            "import sys, threading\n"
            "assert 'numpy' not in sys.modules\n"
            "import plumora\n"
            "results = []\n"
            "threads = [threading.Thread(target=lambda: results.append(plumora.read(sys.argv[1]).shape))"
            " for _ in range(2)]\n"
            "[t.start() for t in threads]\n"
            "[t.join() for t in threads]\n"
            "print(len(results))\n")
        for _ in range(3):
            done = subprocess.run([sys.executable, "-c", script, PHOTO], capture_output=True, text=True,
                                  timeout=300)
            self.assertEqual((done.returncode, done.stdout.strip()), (0, "2"), done.stderr)


if __name__ == "__main__":
    unittest.main()
