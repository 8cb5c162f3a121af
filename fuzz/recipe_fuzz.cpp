// libFuzzer target for the recipe reader: every text must either be read as
// a recipe or refused with RecipeError; nothing may crash, read out of
// bounds, recurse without end or hang. A text that is read must also be
// written back in the one form that reads as the same recipe and writes the
// same bytes again.
//
//   fuzz/run.sh [SECONDS] recipe      (builds with clang, ASan and UBSan, then runs)

#include "document/recipe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    plumora::Recipe recipe;
    try {
        recipe = plumora::parseRecipe(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const plumora::RecipeError&) {
        return 0;
    }
    // Everything read can be written, and what is written reads back.
    const std::string saved = plumora::recipeJson(recipe);
    const plumora::Recipe loaded = plumora::parseRecipe(saved);
    if (!(loaded == recipe) || plumora::recipeJson(loaded) != saved)
        std::abort();
    (void)plumora::describeRecipe(recipe);
    return 0;
}
