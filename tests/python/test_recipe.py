"""plumora.Recipe against plumora-cli's recipe command: the same files, the
same steps, the same refusals."""

import os
import pathlib
import unittest

import numpy as np

import plumora
from support import Folder, cli, photo

LOOK = ('{"plumora-recipe": 1, "steps": [{"turn": "clockwise"}, {"resize": {"scale": 0.75}}, '
        '{"effect": "brume", "scope": 3}, {"effect": "color-variety", "steps": ["red", 5], "for-current": true}]}')


class RecipeEqualsTheCommandLine(unittest.TestCase):
    def setUp(self):
        self.folder = Folder()
        self.image = photo(90, 70)
        self.input = self.folder.file("in.png")
        plumora.write(self.input, self.image)
        self.recipe_file = self.folder.file("look.plumora-recipe")
        with open(self.recipe_file, "w") as f:
            f.write(LOOK)

    def tearDown(self):
        self.folder.close()

    def cli_bytes(self, *recipe):
        output = self.folder.file("cli.png")
        status, err = cli("recipe", *recipe, self.input, output)
        self.assertEqual(status, 0, err)
        with open(output, "rb") as f:
            return f.read()

    def python_bytes(self, recipe, image=None):
        output = self.folder.file("python.png")
        plumora.write(output, recipe.apply(self.image if image is None else image))
        with open(output, "rb") as f:
            return f.read()

    def test_a_loaded_recipe_writes_the_files_plumora_cli_writes(self):
        expected = self.cli_bytes(self.recipe_file)
        for name in (self.recipe_file, pathlib.Path(self.recipe_file), os.fsencode(self.recipe_file)):
            with self.subTest(name=type(name).__name__):
                self.assertEqual(self.python_bytes(plumora.Recipe.load(name)), expected)
        # Brume starts afresh at every apply, as plumora-cli does for every file.
        recipe = plumora.Recipe.load(self.recipe_file)
        np.testing.assert_array_equal(recipe.apply(self.image), recipe.apply(self.image))
        self.assertEqual(recipe.apply(self.image).shape, (67, 52, 3))

    def test_a_recipe_built_in_code_is_the_file_the_desktop_program_would_save(self):
        recipe = plumora.Recipe([("turn", {"direction": "clockwise"}), ("resize", {"scale": 0.75}),
                                 ("brume", {"scope": 3}),
                                 ("color-variety", {"steps": ["red", 5], "for_current": True})])
        self.assertEqual(recipe, plumora.Recipe.loads(LOOK))
        self.assertEqual(str(recipe), '{"plumora-recipe": 1, "steps": [\n'
                                      '  {"turn": "clockwise"},\n'
                                      '  {"resize": {"scale": 0.75}},\n'
                                      '  {"effect": "brume", "scope": 3},\n'
                                      '  {"effect": "color-variety", "steps": ["red", "cyan"], "for-current": true}\n'
                                      ']}\n')
        self.assertEqual(recipe.steps, [("turn", {"direction": "clockwise"}), ("resize", {"scale": 0.75}),
                                        ("brume", {"scope": 3}),
                                        ("color-variety", {"steps": ["red", "cyan"], "for-current": True})])
        self.assertEqual(plumora.Recipe(recipe.steps), recipe)
        self.assertEqual(self.python_bytes(recipe), self.cli_bytes("--json", str(recipe)))
        self.assertEqual(recipe.describe().splitlines()[1], "2. resize by 0.75 (proportions held)")

    def test_every_value_the_run_uses_is_in_the_steps(self):
        recipe = plumora.Recipe([("pen-and-ink", {}), ("stria", {"color": "00ff7f", "direction": 2}),
                                 ("realism", {"kernel": np.arange(9).tolist()}), ("resize", {"width": 30, "height": 20}),
                                 ("pen-sketch", {"pressure": np.uint8(140)})])
        self.assertEqual(recipe.steps, [
            ("pen-and-ink", {"thread": 128, "color-ink": False}),
            ("stria", {"direction": "horizontal", "thickness": 1, "space": 2, "transparency": 128,
                       "color": "00FF7F"}),
            ("realism", {"kernel": [0, 1, 2, 3, 4, 5, 6, 7, 8]}),
            ("resize", {"width": 30, "height": 20}),
            ("pen-sketch", {"pressure": 140})])

    def test_saved_loaded_and_saved_again_is_the_same_file(self):
        recipe = plumora.Recipe.loads(LOOK)
        first = pathlib.Path(self.folder.file("first.plumora-recipe"))
        second = self.folder.file("second.plumora-recipe")
        recipe.save(first)
        plumora.Recipe.load(first).save(second)
        self.assertEqual(first.read_bytes(), pathlib.Path(second).read_bytes())
        self.assertEqual(first.read_text(), str(recipe))
        # Saving over a file keeps its permissions and leaves no temporary file.
        os.chmod(first, 0o640)
        plumora.Recipe([("emboss", {})]).save(first)
        self.assertEqual(os.stat(first).st_mode & 0o777, 0o640)
        self.assertEqual(sorted(os.listdir(self.folder.path)),
                         ["first.plumora-recipe", "in.png", "look.plumora-recipe", "second.plumora-recipe"])

    def test_rgba_alpha_turns_and_stretches_with_the_picture(self):
        alpha = np.random.default_rng(4).integers(0, 256, self.image.shape[:2], dtype=np.uint8)
        rgba = np.dstack([self.image, alpha])
        recipe = plumora.Recipe([("turn", {"direction": "anticlockwise"}), ("resize", {"width": 140, "height": 180}),
                                 ("emboss", {"depth": 2})])
        result = recipe.apply(rgba)
        self.assertEqual(result.shape, (180, 140, 4))
        np.testing.assert_array_equal(result[:, :, :3], recipe.apply(self.image))
        turned = np.rot90(alpha)  # anticlockwise, 70 x 90, then each side doubled
        np.testing.assert_array_equal(result[:, :, 3], turned.repeat(2, axis=0).repeat(2, axis=1))


class RefusedRecipes(unittest.TestCase):
    def setUp(self):
        self.folder = Folder()

    def tearDown(self):
        self.folder.close()

    def assertRefused(self, text, message):
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe.loads(text)
        self.assertEqual(str(raised.exception), message)
        # plumora-cli says the same, and writes nothing.
        status, err = cli("recipe", "--json", text, "--print") if "\0" not in text else (2, None)
        self.assertEqual(status, 2)
        if err is not None:
            self.assertEqual(err, f"plumora-cli: --json: {message}\n")

    def test_hostile_texts_get_a_message(self):
        self.assertRefused('{"plumora-recipe": 1, "steps": [{"effect": "pen-sketch", "pressure": 1e308}]}',
                           "Step 1: 1e308 is out of range for --pressure (0..255, default 128).")
        self.assertRefused('{"plumora-recipe": 1, "steps": [{"resize": {"scale": -0}}]}',
                           "Step 1: -0 is out of range for 'scale' (the new width over the old, more than 0 and at "
                           "most 268435456).")
        self.assertRefused('{"plumora-recipe": 1, "steps": [{"turn": "clockwise", "turn": "anticlockwise"}]}',
                           "Step 1: the key 'turn' is written twice.")
        self.assertRefused('{"plumora-recipe": 1, "steps": [{"effect": "dozadir", "scope": [4]}]}',
                           "Step 1: 'scope' takes a whole number, not a list.")
        self.assertRefused("[" * 100000,
                           "This recipe is not valid JSON: lists and objects nested more than 16 deep at line 1, "
                           "column 17.")
        self.assertRefused('{"plumora-recipe": 3, "steps": []}', "This recipe is version 3; this Plumora reads version 1.")
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe.loads(b'{"plumora-recipe": 1, "steps": ["\xe9"]}')
        self.assertEqual(str(raised.exception),
                         "This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 34.")

    def test_values_json_cannot_hold_and_steps_of_another_shape(self):
        with self.assertRaises(TypeError):
            plumora.Recipe([("pen-sketch", {"pressure": object()})])
        with self.assertRaises(TypeError):
            plumora.Recipe([("realism", {"kernel": [[1, 2], [3]]})])
        with self.assertRaises(TypeError):
            plumora.Recipe(["pen-sketch"])
        with self.assertRaises(TypeError):
            plumora.Recipe(LOOK)
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe([("resize", {"scale": float("inf")})])
        self.assertIn("finite", str(raised.exception))
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe([("turn", {})])
        self.assertEqual(str(raised.exception),
                         "Step 1: a turn is ('turn', {'direction': 'clockwise'}) or 'anticlockwise'")
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe([("pen-sketch", {"effect": "emboss"})])
        self.assertEqual(str(raised.exception), "Step 1: unknown key 'effect' for pen-sketch.")
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe([("emboss", {}), ("texture", {"tile_file": "/tmp/tile.png"})])
        self.assertTrue(str(raised.exception).startswith("Step 2: 'tile-file' would name a file"))

    def test_files_that_are_no_recipe(self):
        with self.assertRaises(FileNotFoundError):
            plumora.Recipe.load(self.folder.file("missing.plumora-recipe"))
        with self.assertRaises(IsADirectoryError):
            plumora.Recipe.load(self.folder.path)
        huge = self.folder.file("huge.plumora-recipe")
        with open(huge, "wb") as f:
            f.truncate(100 << 20)  # sparse: 100 MB that take no disk
        with self.assertRaises(ValueError) as raised:
            plumora.Recipe.load(huge)
        self.assertEqual(str(raised.exception),
                         huge + ": A recipe is at most 1 MB of text; this one is 100 MB, so it is not one.")


if __name__ == "__main__":
    unittest.main()
