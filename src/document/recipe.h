#pragma once

#include "effects/effects.h"
#include "raster/bitmap32.h"
#include "raster/errors.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace plumora {

// A recipe: the operations that made a displayed picture from the opened
// one, in order, each with all its values, so that the same look can be
// given to other pictures (plumora-cli, Python, the Dask batch) and gives
// there, byte for byte, what the window showed.
//
// Its file is small JSON that other tools write too:
//   {"plumora-recipe": 1, "steps": [{"turn": "clockwise"},
//    {"resize": {"width": 1600, "height": 1200}},
//    {"effect": "dozadir", "pressure": 120, "scope": 4, "direction": "vertical"}]}
// A step is a quarter turn ("clockwise" or "anticlockwise"); a new size, as
// a width and height or, when the proportions were held, as a scale (the new
// width over the old); or an effect by plumora-cli's name, every other key a
// parameter as plumora-cli spells it without the dashes (a number, a word or
// its 1-based place, a list for grids and steps, true/false for a flag,
// "RRGGBB" for a colour; a missing one takes its default), with
// "for-current": true for the colour filter's and colour variety's steps made
// on the displayed picture instead of the source.

struct RecipeTurn {
    bool clockwise = true;
    friend bool operator==(const RecipeTurn&, const RecipeTurn&) = default;
};

// Either width and height, or (proportions held) a scale: the new width is
// Round(scale x width), the new height Round(new width x height / width), as
// the image size dialog makes them while "Hold in width and height" is ticked.
struct RecipeResize {
    int width = 0;
    int height = 0;
    std::optional<double> scale;
    friend bool operator==(const RecipeResize&, const RecipeResize&) = default;
};

struct RecipeEffect {
    const EffectDeclaration* effect = nullptr;
    ParamValues values;       // complete: every parameter the run used
    bool forCurrent = false;  // colour filter, colour variety: on the displayed picture
    friend bool operator==(const RecipeEffect&, const RecipeEffect&) = default;
};

using RecipeStep = std::variant<RecipeTurn, RecipeResize, RecipeEffect>;

// A recipe file that cannot be taken: the message names the step (1-based)
// and the key where it can, and nothing is written.
class RecipeError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// The largest recipe file read: a recipe is a few hundred bytes, so a larger
// file is refused before it is parsed rather than read into memory.
inline constexpr std::size_t kMaxRecipeBytes = std::size_t{1} << 20;
// How deeply a recipe's JSON may nest objects and arrays (it needs 3).
inline constexpr int kMaxRecipeNesting = 16;

struct Recipe {
    static constexpr int kVersion = 1;
    std::vector<RecipeStep> steps;
    friend bool operator==(const Recipe&, const Recipe&) = default;
};

// The recipe in a file's text. Unknown keys, unknown effects, values out of
// range, a newer version, malformed or hostile JSON: RecipeError.
Recipe parseRecipe(std::string_view json);
// The file's text: one form for one recipe, so that a recipe saved, loaded
// and saved again is the same file. RecipeError for what a recipe cannot
// hold (an effect's own picture file, an effect that is not in a menu).
std::string recipeJson(const Recipe& recipe);
// Reads and parses a recipe file (RecipeError for a file too large to be
// one, FileReadError when it cannot be read).
Recipe readRecipeFile(const std::string& name);

// Whether the effect's steps may be made on the displayed picture instead of
// the source ("For current": the colour filter and the colour variety).
bool recipeTakesForCurrent(const EffectDeclaration& effect);

// The width and height a resize step gives a picture of width x height
// (a scale as the image size window applies it with the proportions held).
// A size that is no picture or too large: PlumoraError, ImageTooLargeError.
std::pair<int, int> recipeNewSize(const RecipeResize& resize, int width, int height);

// The plumora-cli options that give an effect step its values, as the
// command line spells them ("--pressure", "140", "--mirror", ...).
std::vector<std::string> commandLineOptions(const RecipeEffect& step);

// One line per step, as `plumora-cli recipe --print` shows them.
std::string describeRecipe(const Recipe& recipe);

// Applies the recipe to a picture as the desktop program's document does
// (effects read the source picture, turns and new sizes change both the
// source and the displayed picture, "for-current" steps read the displayed
// one) and gives the displayed picture at the end. context: as for one
// effect run (brume's generator starts wherever it is).
TBitmap32 applyRecipe(const Recipe& recipe, const TBitmap32& picture, EffectContext& context);

}  // namespace plumora
