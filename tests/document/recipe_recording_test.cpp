// The document keeps the recipe of the displayed picture: what it still
// depends on, in order, moving with undo and redo.

#include "document/document.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

const EffectDeclaration& effect(const char* name)
{
    return *findEffect(name);
}

RecipeEffect run(const char* name, std::vector<std::pair<std::string, std::string>> given = {})
{
    const EffectDeclaration& e = effect(name);
    return {&e, e.parse(given), false};
}

struct Recording : ::testing::Test {
    Document doc{test::randomPicture(12, 8, 1)};
    void SetUp() override { doc.open(test::randomPicture(12, 8, 2)); }
    void apply(const char* name, std::vector<std::pair<std::string, std::string>> given = {})
    {
        const EffectDeclaration& e = effect(name);
        doc.commitEffect(doc.runEffect(e, e.parse(given)));
    }
    std::vector<RecipeStep> steps() const { return doc.recipe().steps; }
};

TEST_F(Recording, AnEffectReplacesTheEffectsBeforeItButNotTheTurnsAndSizes)
{
    EXPECT_TRUE(steps().empty());
    apply("pen-sketch", {{"pressure", "140"}});
    EXPECT_EQ(steps(), (std::vector<RecipeStep>{run("pen-sketch", {{"pressure", "140"}})}));
    apply("emboss");
    doc.rotate(true);
    doc.resizePictures(6, 12);
    EXPECT_EQ(steps(), (std::vector<RecipeStep>{run("emboss"), RecipeTurn{true}, RecipeResize{6, 12, std::nullopt}}));
    apply("stria");
    EXPECT_EQ(steps(), (std::vector<RecipeStep>{RecipeTurn{true}, RecipeResize{6, 12, std::nullopt}, run("stria")}));

    // Undo and redo bring each step's recipe back; revert and open start again.
    doc.undo();
    EXPECT_EQ(steps().size(), 3u);
    EXPECT_TRUE(std::holds_alternative<RecipeEffect>(steps().front()));
    doc.redo();
    EXPECT_TRUE(std::holds_alternative<RecipeTurn>(steps().front()));
    doc.revert();
    EXPECT_TRUE(steps().empty());
    apply("emboss");
    doc.open(test::randomPicture(5, 5, 3));
    EXPECT_TRUE(steps().empty());
}

TEST_F(Recording, HeldProportionsAreAScaleOnlyWhenTheHeightFollowsTheWidth)
{
    doc.resizePictures(9, 6, true);  // 12 x 8 -> 9 x Round(9 x 8 / 12) = 6
    ASSERT_EQ(steps().size(), 1u);
    EXPECT_EQ(std::get<RecipeResize>(steps()[0]), (RecipeResize{9, 6, 0.75}));
    doc.resizePictures(9, 7, true);  // the height typed after the width
    EXPECT_EQ(std::get<RecipeResize>(steps()[1]), (RecipeResize{9, 7, std::nullopt}));
    doc.resizePictures(18, 14);
    EXPECT_EQ(std::get<RecipeResize>(steps()[2]), (RecipeResize{18, 14, std::nullopt}));
}

TEST_F(Recording, StepsOnTheDisplayedPictureAddToTheEffectBeforeThem)
{
    apply("pen-sketch");
    const EffectDeclaration& filter = effect("color-filter");
    RecipeEffect onCurrent{&filter, filter.parse({{"filter", "red"}}), true};
    doc.applyResult(doc.displayed(), filter.historyLabel, onCurrent);
    EXPECT_EQ(steps(), (std::vector<RecipeStep>{run("pen-sketch"), onCurrent}));
    // "OK" with no swatch clicked hands back the displayed picture: nothing to repeat.
    doc.applyResult(doc.displayed(), filter.historyLabel, RecipeEffect{nullptr, {}, true});
    EXPECT_EQ(steps().size(), 2u);
    // On the source it is an effect like any other; with nothing clicked,
    // it hands back the source: no effect at all.
    doc.applyResult(doc.source(), filter.historyLabel, RecipeEffect{nullptr, {}, false});
    EXPECT_TRUE(steps().empty());
}

TEST_F(Recording, ColouringByHandIsRefusedUntilAnEffectReplacesIt)
{
    apply("pen-sketch");
    doc.applyResult(doc.displayed(), std::string("Color up"));
    EXPECT_TRUE(doc.colouredByHand());
    try {
        (void)doc.repeatableRecipe();
        FAIL() << "a hand-coloured picture gave a recipe";
    } catch (const RecipeError& e) {
        EXPECT_STREQ(e.what(), "The picture was coloured by hand; a recipe cannot repeat that.");
    }
    // A new size keeps the colouring; undo goes back before it.
    doc.resizePictures(6, 4);
    EXPECT_TRUE(doc.colouredByHand());
    doc.undo();
    doc.undo();
    EXPECT_FALSE(doc.colouredByHand());
    EXPECT_EQ(doc.repeatableRecipe().steps.size(), 1u);
    doc.redo();
    EXPECT_TRUE(doc.colouredByHand());
    apply("emboss");
    EXPECT_FALSE(doc.colouredByHand());
}

}  // namespace
}  // namespace plumora
