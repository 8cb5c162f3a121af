"""What the functions take: Pillow images of each mode, grey arrays, numpy
values, pathlib paths, and a short TypeError for anything else."""

import errno
import pathlib
import unittest

import numpy as np
from PIL import Image

import plumora
from support import Folder, photo


class PillowImagesAndGreyArrays(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rgb = photo(61, 43)
        cls.grey = np.ascontiguousarray(cls.rgb[:, :, 1])

    def test_an_image_comes_back_in_its_mode_with_the_arrays_pixels(self):
        alpha = (np.arange(61 * 43) % 253).astype(np.uint8).reshape(43, 61)
        for mode, array in (("RGB", self.rgb), ("RGBA", np.dstack([self.rgb, alpha]))):
            for name in ("water-color", "rotate-cw", "emboss"):
                with self.subTest(mode=mode, effect=name):
                    result = plumora.apply(name, Image.fromarray(array, mode))
                    self.assertIsInstance(result, Image.Image)
                    self.assertEqual(result.mode, mode)
                    np.testing.assert_array_equal(np.asarray(result), plumora.apply(name, array))
        np.testing.assert_array_equal(np.asarray(plumora.water_color(Image.fromarray(self.rgb), scope=2)),
                                      plumora.water_color(self.rgb, scope=2))

    def test_without_pillows_rows_an_image_goes_through_numpy_with_the_same_result(self):
        # Where Pillow's core gives no table of its rows, Pillow's own
        # conversions carry the image.
        images = [Image.fromarray(self.rgb), Image.fromarray(self.grey, "L"),
                  Image.fromarray(np.dstack([self.rgb, self.grey]), "RGBA")]
        expected = [plumora.emboss(image) for image in images]
        rows, plumora._pillow_rows = plumora._pillow_rows, lambda image: None
        try:
            for image, result in zip(images, expected):
                with self.subTest(mode=image.mode):
                    through_numpy = plumora.emboss(image)
                    self.assertEqual(through_numpy.mode, result.mode)
                    np.testing.assert_array_equal(np.asarray(through_numpy), np.asarray(result))
        finally:
            plumora._pillow_rows = rows

    def test_grey_is_applied_as_its_rgb_and_given_back_grey_only_when_the_result_is(self):
        as_rgb = np.repeat(self.grey[:, :, None], 3, axis=2)
        for name, values, stays_grey in (("pen-sketch", {}, True), ("emboss", {}, True), ("rotate-ccw", {}, True),
                                         ("color-filter", {"filter": "red"}, False),
                                         ("stria", {"color": "FF0000"}, False)):
            expected = plumora.apply(name, as_rgb, **values)
            for given in (self.grey, Image.fromarray(self.grey, "L"), self.grey[::-1][::-1]):
                with self.subTest(effect=name, given=type(given).__name__):
                    result = plumora.apply(name, given, **values)
                    if isinstance(given, Image.Image):
                        self.assertEqual(result.mode, "L" if stays_grey else "RGB")
                        result = np.asarray(result)
                    if stays_grey:
                        self.assertEqual(result.ndim, 2)
                        np.testing.assert_array_equal(result, expected[:, :, 0])
                    else:
                        np.testing.assert_array_equal(result, expected)
        # A picture that only looks grey in most places is not taken for grey.
        almost = as_rgb.copy()
        almost[-1, -1, 2] ^= 1
        self.assertEqual(plumora.apply("rotate-cw", almost[:, :, :3]).ndim, 3)

    def test_recipes_and_files_take_grey_and_images_too(self):
        folder = Folder()
        try:
            name = pathlib.Path(folder.path) / "grey.png"
            plumora.write(name, self.grey)
            np.testing.assert_array_equal(plumora.read(name), np.repeat(self.grey[:, :, None], 3, axis=2))
            plumora.write(name, Image.fromarray(self.rgb))
            np.testing.assert_array_equal(plumora.read(name), self.rgb)
            look = plumora.Recipe([("pen-sketch", {"pressure": 140})])
            np.testing.assert_array_equal(look.apply(self.grey), plumora.pen_sketch(self.grey, pressure=140))
        finally:
            folder.close()

    def test_the_readmes_line_runs(self):
        folder = Folder()
        try:
            a, b = pathlib.Path(folder.path) / "a.png", pathlib.Path(folder.path) / "b.png"
            Image.fromarray(self.rgb).save(a)
            plumora.water_color(Image.open(a), scope=3).save(b)
            np.testing.assert_array_equal(np.asarray(Image.open(b)), plumora.water_color(self.rgb, scope=3))
        finally:
            folder.close()


class ValuesAndPaths(unittest.TestCase):
    def test_numpy_integers_are_values(self):
        image = photo(40, 30)
        kernel = [1, 2, 1, 2, 4, 2, 1, 2, 1]
        expected = plumora.realism(image, kernel=kernel)
        for given in (np.array(kernel), np.array(kernel, np.int8).reshape(3, 3), [np.int16(k) for k in kernel]):
            np.testing.assert_array_equal(plumora.realism(image, kernel=given), expected)
        for pressure in (np.int64(150), np.uint8(150), np.array(150)):
            np.testing.assert_array_equal(plumora.pen_sketch(image, pressure=pressure),
                                          plumora.pen_sketch(image, pressure=150))
        np.testing.assert_array_equal(plumora.pen_and_ink(image, color_ink=np.bool_(True)),
                                      plumora.pen_and_ink(image, color_ink=True))
        with self.assertRaisesRegex(ValueError, "0..255"):
            plumora.pen_sketch(image, pressure=np.int64(256))
        with self.assertRaises(TypeError):
            plumora.pen_sketch(image, pressure=np.float64(150))

    def test_paths_name_files_everywhere(self):
        folder = Folder()
        try:
            where = pathlib.Path(folder.path)
            image = photo(58, 58)
            plumora.write(where / "tile.png", image[::-1])
            self.assertEqual(plumora.read(where / "tile.png").shape, (58, 58, 3))
            np.testing.assert_array_equal(plumora.texture(image, tile_file=where / "tile.png"),
                                          plumora.texture(image, tile_file=str(where / "tile.png")))
            plumora.Recipe([("emboss", {})]).save(where / "r.plumora-recipe")
            self.assertEqual(plumora.Recipe.load(where / "r.plumora-recipe").steps[0][0], "emboss")
            with self.assertRaises(FileNotFoundError) as caught:
                plumora.read(where / "missing.png")
            self.assertEqual((caught.exception.errno, caught.exception.filename),
                             (errno.ENOENT, str(where / "missing.png")))
            with self.assertRaises(IsADirectoryError):
                plumora.read(where)
            with self.assertRaises(FileNotFoundError) as caught:  # a tile too
                plumora.texture(image, tile_file=where / "missing.png")
            self.assertEqual((caught.exception.errno, caught.exception.filename),
                             (errno.ENOENT, str(where / "missing.png")))
            with self.assertRaises(IsADirectoryError):
                plumora.texture(image, tile_file=where)
        finally:
            folder.close()


class AnythingElseIsAShortTypeError(unittest.TestCase):
    def test_the_message_names_what_is_taken_in_a_few_words(self):
        image = photo(20, 10)
        nested = image.tolist() * 2000  # some 2.4 million numbers
        palette = Image.fromarray(image).convert("P")
        cases = [
            (lambda: plumora.pen_sketch(nested), "Pillow Image"),
            (lambda: plumora.apply("pen-sketch", nested), "Pillow Image"),
            (lambda: plumora.pen_sketch(palette), "RGB, RGBA or L, not P"),
            (lambda: plumora.pen_sketch(Image.fromarray(image).convert("CMYK")), "RGB, RGBA or L"),
            (lambda: plumora.pen_sketch(None), "not NoneType"),
            (lambda: plumora.pen_sketch("photo.jpg"), "not str"),
            (lambda: plumora.write("out.png", nested), "Pillow Image"),
            (lambda: plumora._plumora.apply("pen-sketch", nested, {}, None, False), "Pillow Image"),
            (lambda: plumora._plumora.write("out.png", palette, None, False), "not Image"),
            (lambda: plumora.pen_sketch(image.astype(np.float32)), "uint8"),
        ]
        for call, words in cases:
            with self.assertRaises(TypeError) as caught:
                call()
            message = str(caught.exception)
            self.assertIn(words, message)
            self.assertLessEqual(len(message), 200, message)

    def test_a_value_is_still_refused_with_the_command_lines_message(self):
        with self.assertRaisesRegex(ValueError, "^unknown effect 'crayon'"):
            plumora.apply("crayon", Image.fromarray(photo(8, 8)))


if __name__ == "__main__":
    unittest.main()
