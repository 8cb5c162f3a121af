"""The function of each effect (plumora.pen_sketch, ...): made from the
effects table, the same pixels as plumora.apply, and named in the stubs."""

import ast
import inspect
import os
import pydoc
import unittest

import numpy as np

import plumora
from support import Folder, photo
from test_apply import non_default_run

STUBS = os.path.join(os.path.dirname(plumora.__file__), "__init__.pyi")


def function_of(effect):
    return getattr(plumora, effect["name"].replace("-", "_"))


class EveryEffectHasItsFunction(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()
        cls.folder.texture = cls.folder.file("tile.png")
        plumora.write(cls.folder.texture, photo(40, 30)[::-1])

    @classmethod
    def tearDownClass(cls):
        cls.folder.close()

    def test_each_function_gives_what_apply_gives(self):
        rng = np.random.default_rng(31)
        for effect in plumora.effects():
            name, function = effect["name"], function_of(effect)
            needed = {p["name"].replace("-", "_"): p["choices"][1] for p in effect["params"]
                      if p["kind"] == "choice" and p["default"] is None}
            if name == "resize":  # one side at least
                needed = {"width": 29}
            keywords, _ = non_default_run(effect, self.folder)
            for shape in ((23, 37, 3), (31, 18, 4)):
                image = rng.integers(0, 256, shape, dtype=np.uint8)
                for values in (needed, {**needed, **keywords}):
                    with self.subTest(effect=name, shape=shape, values=values):
                        np.testing.assert_array_equal(function(image, **values), plumora.apply(name, image, **values))
        # The second of two alternatives given alone is the one used.
        image = photo(40, 30)
        np.testing.assert_array_equal(plumora.pencil_sketch(image, lighting=40),
                                      plumora.apply("pencil-sketch", image, lighting=40))
        self.assertFalse(np.array_equal(plumora.pencil_sketch(image, lighting=40), plumora.pencil_sketch(image)))
        result, state = plumora.brume(image, state=5, return_state=True)
        np.testing.assert_array_equal(result, plumora.apply("brume", image, state=5))
        self.assertEqual(state, plumora.apply("brume", image, state=5, return_state=True)[1])

    def test_signatures_follow_the_table(self):
        for effect in plumora.effects():
            with self.subTest(effect=effect["name"]):
                function = function_of(effect)
                self.assertIn(function.__name__, plumora.__all__)
                parameters = list(inspect.signature(function).parameters.values())
                self.assertEqual(parameters[0].name, "image")
                keywords = parameters[1:]
                self.assertTrue(all(p.kind is inspect.Parameter.KEYWORD_ONLY for p in keywords))
                expected = [p["name"].replace("-", "_") for p in effect["params"]]
                if effect["random"]:
                    expected += ["state", "return_state"]
                self.assertEqual([p.name for p in keywords], expected)
                for declared, p in zip(effect["params"], keywords):
                    if declared["name"] in effect["alternatives"][1:]:
                        self.assertIsNone(p.default)
                    elif declared["kind"] == "choice" and declared["default"] is None:
                        self.assertIs(p.default, inspect.Parameter.empty)  # must be given
                    else:
                        self.assertEqual(p.default, declared["default"])
                    self.assertIn(declared["values"], function.__doc__)
                    self.assertIn(declared["caption"], function.__doc__)
                self.assertIn(effect["summary"][1:], function.__doc__)
        self.assertEqual(str(inspect.signature(plumora.pen_sketch)), "(image, *, pressure=128)")
        self.assertEqual(inspect.signature(plumora.dozadir).parameters["direction"].default, "rising")
        with self.assertRaises(TypeError):  # a keyword the effect does not have
            plumora.pen_sketch(photo(8, 8), presure=3)
        with self.assertRaises(TypeError):  # a choice that must be given
            plumora.color_panel(photo(8, 8))
        with self.assertRaisesRegex(ValueError, "0..255"):
            plumora.pen_sketch(photo(8, 8), pressure=256)

    def test_help_lists_them(self):
        text = pydoc.render_doc(plumora, renderer=pydoc.plaintext)
        for effect in plumora.effects():
            self.assertIn(effect["name"].replace("-", "_") + "(image", text)

    def test_the_stubs_name_every_function_with_its_keywords(self):
        with open(STUBS) as f:
            tree = ast.parse(f.read())
        stubs = {}
        for node in tree.body:
            if isinstance(node, ast.FunctionDef):
                stubs.setdefault(node.name, []).append(node)
        for effect in plumora.effects():
            name = effect["name"].replace("-", "_")
            with self.subTest(effect=name):
                self.assertIn(name, stubs)
                parameters = inspect.signature(function_of(effect)).parameters
                for stub in stubs[name]:
                    self.assertEqual([a.arg for a in stub.args.args], ["image"])
                    self.assertEqual([a.arg for a in stub.args.kwonlyargs], list(parameters)[1:])
                    defaults = [d is not None for d in stub.args.kw_defaults]
                    required = [p.default is inspect.Parameter.empty for p in list(parameters.values())[1:]]
                    if name == "brume" and stub.args.kw_defaults[-1] is None:  # return_state=True's overload
                        required[-1] = True
                    self.assertEqual(defaults, [not r for r in required])


if __name__ == "__main__":
    unittest.main()
