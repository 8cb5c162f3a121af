#include "document/recipe.h"

#include "document/document.h"
#include "effects/colour/color_filter.h"
#include "effects/colour/color_variety.h"
#include "raster/geometry.h"
#include "raster/limits.h"
#include "raster/rounding.h"
#include "support/array_new_watch.h"
#include "support/pictures.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

// Every pixel block goes through new[]: the tests count them.
static std::atomic<long> g_arrayAllocations{0};

void onArrayNew(std::size_t)
{
    ++g_arrayAllocations;
}

namespace plumora {
namespace {

// A stand-in for the built-in texture tiles, which live with the picture
// files: a 58 x 58 tile that differs from one number to the next.
TBitmap32 tile(int number)
{
    return test::photoLike(58, 58, unsigned(number));
}

EffectContext context()
{
    EffectContext c;
    c.builtInTile = tile;
    return c;
}

const EffectDeclaration& effect(const char* name)
{
    const EffectDeclaration* e = findEffect(name);
    EXPECT_NE(e, nullptr) << name;
    return *e;
}

std::string recipeWith(const std::string& steps)
{
    return "{\"plumora-recipe\": 1, \"steps\": [" + steps + "]}";
}

// The message a text is refused with ("" when it is taken).
std::string refusal(const std::string& json)
{
    try {
        parseRecipe(json);
    } catch (const RecipeError& e) {
        return e.what();
    }
    return "";
}

std::string stepRefusal(const std::string& step)
{
    return refusal(recipeWith(step));
}

// ---------------------------------------------------------------------------
// Reading values.

TEST(Recipe, ReadsTheIssuesExampleStepByStep)
{
    const Recipe recipe = parseRecipe(
        R"({"plumora-recipe": 1, "steps": [{"turn": "clockwise"}, {"resize": {"width": 1600, "height": 1200}},
            {"effect": "dozadir", "pressure": 120, "scope": 4, "direction": "vertical"}]})");
    ASSERT_EQ(recipe.steps.size(), 3u);
    EXPECT_EQ(std::get<RecipeTurn>(recipe.steps[0]), RecipeTurn{.clockwise = true});
    EXPECT_EQ(std::get<RecipeResize>(recipe.steps[1]), (RecipeResize{.width = 1600, .height = 1200}));
    const auto& dozadir = std::get<RecipeEffect>(recipe.steps[2]);
    EXPECT_EQ(dozadir.effect, &effect("dozadir"));
    EXPECT_EQ(dozadir.values,
              effect("dozadir").parse({{"pressure", "120"}, {"scope", "4"}, {"direction", "vertical"}}));
    EXPECT_FALSE(dozadir.forCurrent);
}

TEST(Recipe, ReadsEveryKindOfValueAsTheCommandLineWouldHaveIt)
{
    struct Case {
        const char* step;
        const char* effect;
        std::vector<std::pair<std::string, std::string>> options;
    };
    const Case cases[] = {
        {R"({"effect": "pen-sketch", "pressure": 140})", "pen-sketch", {{"pressure", "140"}}},
        // A whole number may be written as JSON writes any number.
        {R"({"effect": "pen-sketch", "pressure": 1.4e2})", "pen-sketch", {{"pressure", "140"}}},
        {R"({"effect": "pen-sketch", "pressure": -0})", "pen-sketch", {{"pressure", "0"}}},
        {R"({"effect": "pen-sketch"})", "pen-sketch", {}},
        {R"({"effect": "dozadir", "direction": "horizontal"})", "dozadir", {{"direction", "horizontal"}}},
        {R"({"effect": "dozadir", "direction": 3})", "dozadir", {{"direction", "vertical"}}},
        {R"({"effect": "realism", "kernel": [1, 2, 1, 0, 0, 0, -1, -1, -1]})",
         "realism",
         {{"kernel", "1,2,1,0,0,0,-1,-1,-1"}}},
        {R"({"effect": "color-variety", "steps": ["red", "yellow", 6]})",
         "color-variety",
         {{"steps", "red,yellow,purple"}}},
        {R"({"effect": "color-variety", "steps": []})", "color-variety", {}},
        {R"({"effect": "pen-and-ink", "color-ink": true})", "pen-and-ink", {{"color-ink", ""}}},
        {R"({"effect": "pen-and-ink", "color-ink": false})", "pen-and-ink", {}},
        {R"({"effect": "stria", "color": "1A2b3C"})", "stria", {{"color", "1A2B3C"}}},
        // Of alternatives, the one given applies.
        {R"({"effect": "pencil-sketch", "lighting": 20})", "pencil-sketch", {{"lighting", "20"}}},
        {R"({"effect": "texture", "tile": 7, "pressure": 40})", "texture", {{"tile", "7"}, {"pressure", "40"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        const Recipe recipe = parseRecipe(recipeWith(c.step));
        ASSERT_EQ(recipe.steps.size(), 1u);
        const auto& step = std::get<RecipeEffect>(recipe.steps[0]);
        EXPECT_EQ(step.effect, &effect(c.effect));
        EXPECT_EQ(step.values, effect(c.effect).parse(c.options));
    }
}

TEST(Recipe, ReadsTurnsSizesScalesAndForCurrent)
{
    const Recipe recipe = parseRecipe(recipeWith(
        R"({"turn": "anticlockwise"}, {"resize": {"scale": 0.75}}, {"resize": {"height": 3, "width": 5}},
           {"effect": "color-filter", "filter": "cyan", "for-current": true},
           {"effect": "color-variety", "steps": ["blue"], "for-current": false})"));
    ASSERT_EQ(recipe.steps.size(), 5u);
    EXPECT_EQ(std::get<RecipeTurn>(recipe.steps[0]), RecipeTurn{.clockwise = false});
    EXPECT_EQ(std::get<RecipeResize>(recipe.steps[1]), RecipeResize{.scale = 0.75});
    EXPECT_EQ(std::get<RecipeResize>(recipe.steps[2]), (RecipeResize{.width = 5, .height = 3}));
    EXPECT_TRUE(std::get<RecipeEffect>(recipe.steps[3]).forCurrent);
    EXPECT_FALSE(std::get<RecipeEffect>(recipe.steps[4]).forCurrent);
}

TEST(Recipe, TakesAByteOrderMarkEscapesAndAnEmptyListOfSteps)
{
    EXPECT_TRUE(parseRecipe("\xEF\xBB\xBF{\"plumora-recipe\": 1, \"steps\": []}").steps.empty());
    // Escapes spell the same words.
    const Recipe recipe = parseRecipe(recipeWith(R"({"t\u0075rn": "clock\u0077ise"})"));
    EXPECT_EQ(std::get<RecipeTurn>(recipe.steps.at(0)), RecipeTurn{.clockwise = true});
}

// ---------------------------------------------------------------------------
// Refusals: each names the step and the key.

TEST(Recipe, RefusesWhatTheEffectsTableRefusesNamingTheStep)
{
    const std::pair<std::string, std::string> cases[] = {
        {R"({"turn": "clockwise"}, {"effect": "pen-sketch", "pressur": 3})",
         "Step 2: unknown key 'pressur' for pen-sketch."},
        {R"({"effect": "pen-sketch", "pressure": 300})",
         "Step 1: 300 is out of range for --pressure (0..255, default 128)."},
        {R"({"effect": "pen-sketch", "pressure": 1e308})",
         "Step 1: 1e308 is out of range for --pressure (0..255, default 128)."},
        {R"({"effect": "pen-sketch", "pressure": -1e400})",
         "Step 1: -1e400 is out of range for --pressure (0..255, default 128)."},
        {R"({"effect": "pen-sketch", "pressure": 12.5})",
         "Step 1: 12.5 is not a whole number, which 'pressure' takes."},
        {R"({"effect": "pen-sketch", "pressure": "140"})", "Step 1: 'pressure' takes a whole number, not \"140\"."},
        {R"({"effect": "pen-sketch", "pressure": null})", "Step 1: 'pressure' takes a whole number, not null."},
        {R"({"effect": "dozadir", "direction": "up"})",
         "Step 1: 'up' is not a choice for --direction (rising|falling|vertical|horizontal (or 1..4), default "
         "rising)."},
        {R"({"effect": "dozadir", "direction": 5})",
         "Step 1: '5' is not a choice for --direction (rising|falling|vertical|horizontal (or 1..4), default "
         "rising)."},
        {R"({"effect": "dozadir", "direction": ["vertical"]})",
         "Step 1: 'direction' takes a word (or its place, 1 and up), not a list."},
        {R"({"effect": "realism", "kernel": [1, 2, 3]})",
         "Step 1: --kernel takes 9 whole numbers separated by commas, not 3."},
        {R"({"effect": "realism", "kernel": []})", "Step 1: '' is not a valid integer value."},
        {R"({"effect": "realism", "kernel": [1, 2, 1, 0, 0, 0, -1, -1, 99999999999]})",
         "Step 1: 99999999999 is out of range for --kernel (9 whole numbers, default 1,2,1,0,0,0,-1,-1,-1)."},
        {R"({"effect": "realism", "kernel": [1, 2, 1, 0, 0.5, 0, -1, -1, -1]})",
         "Step 1: 0.5 is not a whole number, which 'kernel' takes."},
        {R"({"effect": "realism", "kernel": [1, 2, 1, 0, "0", 0, -1, -1, -1]})",
         "Step 1: 'kernel' takes a list of whole numbers, not \"0\" in it."},
        {R"({"effect": "color-variety", "steps": ["red,green"]})",
         "Step 1: 'steps' takes a list of words (or their places), not \"red,green\" in it."},
        {R"({"effect": "color-variety", "steps": "red"})",
         "Step 1: 'steps' takes a list of words (or their places), not \"red\"."},
        {R"({"effect": "pen-and-ink", "color-ink": 1})", "Step 1: 'color-ink' takes true or false, not 1."},
        {R"({"effect": "stria", "color": "12345"})",
         "Step 1: '12345' is not a colour for --color (a colour as RRGGBB in hex, default 000000)."},
        {R"({"effect": "stria", "color": 255})", "Step 1: 'color' takes a colour as \"RRGGBB\", not 255."},
        {R"({"effect": "pencil-sketch", "contrast": 1, "lighting": 2})",
         "Step 1: pencil-sketch takes --contrast or --lighting, not both."},
        {R"({"effect": "color-filter"})", "Step 1: color-filter needs --filter."},
        {R"({"effect": "texture", "tile-file": "/home/me/tile.png"})",
         "Step 1: 'tile-file' would name a file of this computer, which a recipe cannot hold: it would not be there "
         "on another one."},
        {R"({"effect": "pen-sketch", "for-current": true})",
         "Step 1: 'for-current' is for color-filter and color-variety, not pen-sketch."},
        {R"({"effect": "color-filter", "filter": 1, "for-current": 1})",
         "Step 1: 'for-current' takes true or false, not 1."},
        {R"({"effect": "pen-sketsh"})", "Step 1: unknown effect 'pen-sketsh' (plumora-cli --list shows them all)."},
        {R"({"effect": "rotate-cw"})",
         "Step 1: 'rotate-cw' is not an effect of a recipe: a recipe turns with {\"turn\": \"clockwise\"} and "
         "resizes with {\"resize\": {\"width\": W, \"height\": H}}."},
        {R"({"effect": 3})", "Step 1: 'effect' takes the name of an effect, as plumora-cli spells it, not 3."},
    };
    for (const auto& [steps, message] : cases)
        EXPECT_EQ(refusal(recipeWith(steps)), message) << steps;
}

TEST(Recipe, RefusesMalformedTurnsAndSizes)
{
    const std::string most = std::to_string(kMaxPixels);
    const std::pair<std::string, std::string> cases[] = {
        {R"({"turn": "left"})", "Step 1: 'turn' takes \"clockwise\" or \"anticlockwise\", not \"left\"."},
        {R"({"turn": true})", "Step 1: 'turn' takes \"clockwise\" or \"anticlockwise\", not true."},
        {R"({"turn": "clockwise", "times": 2})", "Step 1: unknown key 'times' for a turn (it has only \"turn\")."},
        {R"({"turn": "clockwise", "effect": "emboss"})",
         "Step 1: \"turn\" and \"effect\" in one step: a step is one operation."},
        {R"({"rotate": "clockwise"})", "Step 1: unknown key 'rotate' (a step has \"turn\", \"resize\" or \"effect\")."},
        {R"({})", "Step 1: a step has \"turn\", \"resize\" or \"effect\"."},
        {R"("turn")", "Step 1: a step is an object such as {\"turn\": \"clockwise\"}, not \"turn\"."},
        {R"({"resize": [1600, 1200]})",
         "Step 1: 'resize' takes {\"width\": W, \"height\": H} or {\"scale\": F}, not a list."},
        {R"({"resize": {"width": 1600}})", "Step 1: resize needs both \"width\" and \"height\" (or \"scale\")."},
        {R"({"resize": {"width": 16, "height": 12, "scale": 2}})",
         "Step 1: resize takes \"width\" and \"height\", or \"scale\", not both."},
        {R"({"resize": {"width": 16, "depth": 12}})",
         "Step 1: unknown key 'depth' for resize (it takes \"width\" and \"height\", or \"scale\")."},
        {R"({"resize": {"width": 0, "height": 12}})", "Step 1: 0 is out of range for 'width' (1.." + most + ")."},
        {R"({"resize": {"width": 16, "height": 99999999999999999999}})",
         "Step 1: 99999999999999999999 is out of range for 'height' (1.." + most + ")."},
        {R"({"resize": {"width": 16.5, "height": 12}})", "Step 1: 16.5 is not a whole number, which 'width' takes."},
        {R"({"resize": {"width": "16", "height": 12}})", "Step 1: 'width' takes a whole number, not \"16\"."},
        {R"({"resize": {"scale": -0}})",
         "Step 1: -0 is out of range for 'scale' (the new width over the old, more than 0 and at most " + most + ")."},
        {R"({"resize": {"scale": 1e308}})",
         "Step 1: 1e308 is out of range for 'scale' (the new width over the old, more than 0 and at most " + most +
             ")."},
        {R"({"resize": {"scale": "2"}})", "Step 1: 'scale' takes a number, not \"2\"."},
    };
    for (const auto& [steps, message] : cases)
        EXPECT_EQ(refusal(recipeWith(steps)), message) << steps;
}

TEST(Recipe, RefusesKeysWrittenTwiceAnywhere)
{
    EXPECT_EQ(refusal(R"({"plumora-recipe": 1, "steps": [], "steps": [{"turn": "clockwise"}]})"),
              "The key 'steps' is written twice in the recipe.");
    EXPECT_EQ(stepRefusal(R"({"effect": "pen-sketch", "pressure": 1, "pressure": 2})"),
              "Step 1: the key 'pressure' is written twice.");
    EXPECT_EQ(stepRefusal(R"({"resize": {"width": 1, "width": 2, "height": 3}})"),
              "Step 1: the key 'width' is written twice.");
}

TEST(Recipe, RefusesOtherVersionsAndWhatIsNoRecipe)
{
    const std::string noRecipe =
        "This is not a Plumora recipe: a recipe is a JSON object with the keys \"plumora-recipe\" and \"steps\".";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"plumora-recipe": 2, "steps": []})", "This recipe is version 2; this Plumora reads version 1."},
        {R"({"plumora-recipe": 1e308, "steps": []})", "This recipe is version 1e308; this Plumora reads version 1."},
        {R"({"plumora-recipe": 0, "steps": []})",
         "'plumora-recipe' is the recipe's version, a whole number, not 0; this Plumora reads version 1."},
        {R"({"plumora-recipe": "1", "steps": []})",
         "'plumora-recipe' is the recipe's version, a whole number, not \"1\"; this Plumora reads version 1."},
        {R"({"plumora-recipe": 1})", "The recipe has no \"steps\"."},
        {R"({"plumora-recipe": 1, "steps": {"turn": "clockwise"}})", "'steps' takes a list of steps, not an object."},
        {R"({"plumora-recipe": 1, "steps": [], "author": "me"})",
         "Unknown key 'author' in the recipe (it has \"plumora-recipe\" and \"steps\")."},
        {R"({"steps": []})", noRecipe},
        {R"([1, 2])", noRecipe},
        {R"("plumora-recipe")", noRecipe},
    };
    for (const auto& [json, message] : cases)
        EXPECT_EQ(refusal(json), message) << json;
}

TEST(Recipe, RefusesTextThatIsNotJsonWithItsPlace)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "This recipe is not valid JSON: the text ends where a value should be at line 1, column 1."},
        {"{\"plumora-recipe\": 1,\n \"steps\": [}",
         "This recipe is not valid JSON: a value expected at line 2, column 12."},
        {"{\"plumora-recipe\": 1, \"steps\": []} x",
         "This recipe is not valid JSON: more text after the end of the recipe at line 1, column 36."},
        {"{\"plumora-recipe\": 01, \"steps\": []}",
         "This recipe is not valid JSON: ',' or '}' expected at line 1, column 21."},
        {"{\"plumora-recipe\": 1., \"steps\": []}",
         "This recipe is not valid JSON: a digit expected after the decimal point at line 1, column 22."},
        {"{\"plumora-recipe\": NaN}", "This recipe is not valid JSON: a value expected at line 1, column 20."},
        {"{\"a\tb\": 1}", "This recipe is not valid JSON: a control character inside a string at line 1, column 4."},
        {"{\"\\x\": 1}", "This recipe is not valid JSON: an unknown escape in a string at line 1, column 4."},
        {"{\"\\ud800\": 1}",
         "This recipe is not valid JSON: a high surrogate without its low one at line 1, column 9."},
        {"{\"\\udc00\": 1}", "This recipe is not valid JSON: a lone low surrogate in \\u escapes at line 1, column 9."},
        {"{\"plumora-recipe\": 1, \"steps\": [\"\xFF\"]}",
         "This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 34."},
        // An overlong NUL and a surrogate written in UTF-8 are not UTF-8 either.
        {"{\"\xC0\x80\": 1}", "This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 3."},
        {"{\"\xED\xA0\x80\": 1}", "This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 3."},
        {"{\"\xF4\x90\x80\x80\": 1}", "This recipe is not valid JSON: a byte that is not UTF-8 at line 1, column 3."},
        {"{\"a\": tru}", "This recipe is not valid JSON: a value expected at line 1, column 7."},
    };
    for (const auto& [json, message] : cases)
        EXPECT_EQ(refusal(json), message) << json;
}

TEST(Recipe, DeepNestingIsRefusedWithoutDescendingIntoIt)
{
    // Far deeper than any stack would take if each level were a call.
    const std::string deep(1'000'000, '[');
    EXPECT_EQ(refusal(deep),
              "This recipe is not valid JSON: lists and objects nested more than 16 deep at line 1, column 17.");
    std::string objects;
    for (int i = 0; i < 100'000; ++i)
        objects += "{\"a\":";
    EXPECT_NE(refusal(objects).find("nested more than 16 deep"), std::string::npos);
    // Sixteen levels are read (and then refused as no recipe).
    EXPECT_EQ(refusal(std::string(16, '[') + std::string(16, ']')),
              "This is not a Plumora recipe: a recipe is a JSON object with the keys \"plumora-recipe\" and "
              "\"steps\".");
}

TEST(Recipe, AFlatFloodOfValuesIsRefusedBeforeItTakesMuchMemory)
{
    std::string flood = "{\"plumora-recipe\": 1, \"steps\": [";
    for (int i = 0; i < 70'000; ++i)
        flood += "1,";
    flood += "1]}";
    EXPECT_EQ(refusal(flood), "This recipe is not valid JSON: more than 65536 values, far more than a recipe holds at "
                              "line 1, column 131099.");
}

TEST(Recipe, AMessageShowsAtMostFortyCharactersOfWhatItQuotes)
{
    const std::string longKey(5000, 'k');
    EXPECT_EQ(stepRefusal("{\"effect\": \"emboss\", \"" + longKey + "\": 1, \"x\\n\": 2}"),
              "Step 1: unknown key '" + std::string(40, 'k') + "...' for emboss.");
    EXPECT_EQ(stepRefusal("{\"effect\": \"emboss\", \"x\\ny\": 2}"), "Step 1: unknown key 'x?y' for emboss.");
}

using RecipeFile = test::TempFolderTest;

TEST(Recipe, TooLargeATextIsRefusedBeforeItIsParsed)
{
    std::string big = recipeWith("");
    big.insert(1, kMaxRecipeBytes, ' ');
    EXPECT_EQ(refusal(big), "A recipe is at most 1 MB of text; this one is 1 MB, so it is not one.");
}

TEST_F(RecipeFile, TooLargeAFileIsRefusedBeforeItIsRead)
{
    // A file of 100 MB (sparse: no disk is used) is refused by its size.
    const std::string name = path("huge.plumora-recipe");
    {
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 100 << 20), 0);
        ::close(fd);
    }
    try {
        readRecipeFile(name);
        FAIL() << "a 100 MB recipe was read";
    } catch (const RecipeError& e) {
        EXPECT_EQ(std::string(e.what()), name + ": A recipe is at most 1 MB of text; this one is 100 MB, so it is "
                                                "not one.");
    }
}

TEST_F(RecipeFile, AFileThatCannotBeReadIsNamed)
{
    const std::string missing = path("missing.plumora-recipe");
    EXPECT_THROW(
        try { readRecipeFile(missing); } catch (const FileReadError& e) {
            EXPECT_EQ(std::string(e.what()), missing + ": no such file");
            throw;
        },
        FileReadError);
    EXPECT_THROW(readRecipeFile(m_dir.string()), FileReadError);

    const std::string broken = path("broken.plumora-recipe");
    std::ofstream(broken) << R"({"plumora-recipe": 1, "steps": [{"effect": "emboss", "depth": 99}]})";
    try {
        readRecipeFile(broken);
        FAIL();
    } catch (const RecipeError& e) {
        EXPECT_EQ(std::string(e.what()), broken + ": Step 1: 99 is out of range for --depth (1..5, default 3).");
    }
    const std::string good = path("good.plumora-recipe");
    std::ofstream(good) << R"({"plumora-recipe": 1, "steps": [{"turn": "anticlockwise"}]})";
    EXPECT_EQ(readRecipeFile(good).steps.size(), 1u);
}

// ---------------------------------------------------------------------------
// Writing: one form for one recipe.

// Every effect of the menus with every parameter moved off its default (the
// first of alternatives), every kind of step, and scales that are no short
// decimals.
Recipe everyKindOfStep()
{
    Recipe recipe;
    recipe.steps.emplace_back(RecipeTurn{.clockwise = true});
    recipe.steps.emplace_back(RecipeTurn{.clockwise = false});
    recipe.steps.emplace_back(RecipeResize{.width = 1600, .height = 1200});
    for (const double scale : {0.5, 0.1, 1.0 / 3, 2.0 / 3, 1e-5, 3.0, 1234.5678, 0.7})
        recipe.steps.emplace_back(RecipeResize{.scale = scale});
    for (const EffectDeclaration& e : effectTable()) {
        if (!e.inMenu())
            continue;
        std::vector<std::pair<std::string, std::string>> given;
        for (const ParamDeclaration& p : e.params) {
            if (e.isAlternative(p.key) && p.key != e.alternatives.front())
                continue;
            switch (p.kind) {
            case ParamKind::Number:
            case ParamKind::Slider:
                given.emplace_back(p.key, std::to_string(p.defaultValue.value_or(p.min) == p.max ? p.min : p.max));
                break;
            case ParamKind::Choice:
                given.emplace_back(p.key, p.words.back());
                break;
            case ParamKind::Steps:
                given.emplace_back(p.key, p.words[2] + "," + p.words[0] + "," + p.words[2]);
                break;
            case ParamKind::Flag:
                given.emplace_back(p.key, "");
                break;
            case ParamKind::Grid:
                given.emplace_back(p.key, "-7,0,2147483647,1,-2147483648,3,4,5,6");
                break;
            case ParamKind::Colour:
                given.emplace_back(p.key, "0A0B0C");
                break;
            case ParamKind::File:
                break;
            }
        }
        recipe.steps.emplace_back(RecipeEffect{.effect = &e, .values = e.parse(given)});
        if (recipeTakesForCurrent(e))
            recipe.steps.emplace_back(RecipeEffect{.effect = &e, .values = e.parse(given), .forCurrent = true});
    }
    // The other alternative of the pencil sketch, and the defaults alone.
    const EffectDeclaration& pencil = effect("pencil-sketch");
    recipe.steps.emplace_back(RecipeEffect{.effect = &pencil, .values = pencil.parse({{"lighting", "20"}})});
    recipe.steps.emplace_back(RecipeEffect{.effect = &effect("emboss"), .values = effect("emboss").defaults()});
    return recipe;
}

TEST(Recipe, SavedLoadedAndSavedAgainIsTheSameFile)
{
    const Recipe recipe = everyKindOfStep();
    const std::string saved = recipeJson(recipe);
    const Recipe loaded = parseRecipe(saved);
    EXPECT_EQ(loaded, recipe);
    EXPECT_EQ(recipeJson(loaded), saved);
}

TEST(Recipe, WritesOneReadableFormWithEveryValueTheRunUsed)
{
    Recipe recipe;
    recipe.steps.emplace_back(RecipeTurn{.clockwise = false});
    recipe.steps.emplace_back(RecipeResize{.scale = 0.1});
    const EffectDeclaration& ink = effect("pen-and-ink");
    recipe.steps.emplace_back(RecipeEffect{.effect = &ink, .values = ink.defaults()});
    const EffectDeclaration& variety = effect("color-variety");
    recipe.steps.emplace_back(
        RecipeEffect{.effect = &variety, .values = variety.parse({{"steps", "2,cyan"}}), .forCurrent = true});
    EXPECT_EQ(recipeJson(recipe), "{\"plumora-recipe\": 1, \"steps\": [\n"
                                  "  {\"turn\": \"anticlockwise\"},\n"
                                  "  {\"resize\": {\"scale\": 0.1}},\n"
                                  "  {\"effect\": \"pen-and-ink\", \"thread\": 128, \"color-ink\": false},\n"
                                  "  {\"effect\": \"color-variety\", \"steps\": [\"green\", \"cyan\"], "
                                  "\"for-current\": true}\n"
                                  "]}\n");
    // A file written by hand in another order, with places for words, comes
    // back in the one form.
    EXPECT_EQ(recipeJson(parseRecipe(R"({"steps": [{"effect": "stria", "color": "ff00aa", "direction": 2}],
                                         "plumora-recipe": 1})")),
              "{\"plumora-recipe\": 1, \"steps\": [\n"
              "  {\"effect\": \"stria\", \"direction\": \"horizontal\", \"thickness\": 1, \"space\": 2, "
              "\"transparency\": 128, \"color\": \"FF00AA\"}\n"
              "]}\n");
    EXPECT_EQ(recipeJson(Recipe{}), "{\"plumora-recipe\": 1, \"steps\": []}\n");
}

TEST(Recipe, WritesNoFileNameAndNoCommandThatIsNoEffect)
{
    const EffectDeclaration& texture = effect("texture");
    Recipe own;
    own.steps.emplace_back(RecipeEffect{.effect = &texture, .values = texture.parse({{"tile-file", "/tmp/t.png"}})});
    EXPECT_THROW(recipeJson(own), RecipeError);
    Recipe turn;
    turn.steps.emplace_back(RecipeEffect{.effect = &effect("rotate-cw"), .values = {}});
    EXPECT_THROW(recipeJson(turn), RecipeError);
}

TEST(Recipe, DescribesEachStepAsTheCommandLineWouldSayIt)
{
    const Recipe recipe = parseRecipe(recipeWith(
        R"({"turn": "clockwise"}, {"resize": {"width": 1600, "height": 1200}}, {"resize": {"scale": 0.5}},
           {"effect": "pen-and-ink", "thread": 90, "color-ink": true}, {"effect": "pen-and-ink"},
           {"effect": "color-filter", "filter": "red", "for-current": true})"));
    EXPECT_EQ(describeRecipe(recipe), "1. turn clockwise\n"
                                      "2. resize to 1600 x 1200 pixels\n"
                                      "3. resize by 0.5 (proportions held)\n"
                                      "4. pen-and-ink --thread 90 --color-ink\n"
                                      "5. pen-and-ink --thread 128\n"
                                      "6. color-filter --filter red (for current: on the picture as the steps "
                                      "before left it)\n");
}

// ---------------------------------------------------------------------------
// Applying: the batch gives what the window gives.

// Values for an effect drawn at random from everything it takes.
ParamValues randomValues(const EffectDeclaration& e, std::mt19937& rng)
{
    std::vector<std::pair<std::string, std::string>> given;
    const std::string chosenAlternative = e.alternatives.empty() ? "" : e.alternatives[rng() % e.alternatives.size()];
    for (const ParamDeclaration& p : e.params) {
        if (p.kind == ParamKind::File || (e.isAlternative(p.key) && p.key != chosenAlternative))
            continue;
        if (rng() % 4 == 0 && p.kind != ParamKind::Choice)
            continue;  // its default
        const auto pick = [&](long long lo, long long hi) {
            return lo + (long long)(rng() % std::uint64_t(hi - lo + 1));
        };
        switch (p.kind) {
        case ParamKind::Number:
        case ParamKind::Slider:
            given.emplace_back(p.key, std::to_string(pick(p.min, p.max)));
            break;
        case ParamKind::Choice:
            given.emplace_back(p.key, p.words[std::size_t(pick(0, (long long)p.words.size() - 1))]);
            break;
        case ParamKind::Steps: {
            std::string steps;
            for (long long n = pick(0, 3); n > 0; --n)
                steps += (steps.empty() ? "" : ",") + p.words[std::size_t(pick(0, (long long)p.words.size() - 1))];
            given.emplace_back(p.key, steps);
            break;
        }
        case ParamKind::Flag:
            if (rng() % 2)
                given.emplace_back(p.key, "");
            break;
        case ParamKind::Grid: {
            std::string grid;
            for (std::size_t i = 0; i < p.defaultGrid.size(); ++i)
                grid += (i ? "," : "") + std::to_string(pick(-4, 6));
            given.emplace_back(p.key, grid);
            break;
        }
        case ParamKind::Colour:
            given.emplace_back(p.key, std::to_string(0) + "A" + std::to_string(rng() % 10) + "C" +
                                          std::to_string(rng() % 10) + "F");
            break;
        case ParamKind::File:
            break;
        }
    }
    return e.parse(given);
}

std::vector<const EffectDeclaration*> menuEffects()
{
    std::vector<const EffectDeclaration*> effects;
    for (const EffectDeclaration& e : effectTable())
        if (e.inMenu())
            effects.push_back(&e);
    return effects;
}

Recipe randomRecipe(std::mt19937& rng)
{
    static const std::vector<const EffectDeclaration*> effects = menuEffects();
    Recipe recipe;
    for (int n = 1 + int(rng() % 5); n > 0; --n) {
        switch (rng() % 6) {
        case 0:
            recipe.steps.emplace_back(RecipeTurn{.clockwise = rng() % 2 == 0});
            break;
        case 1:
            recipe.steps.emplace_back(RecipeResize{.width = 3 + int(rng() % 20), .height = 3 + int(rng() % 20)});
            break;
        case 2: {
            static const double scales[] = {0.5, 0.75, 1.25, 1.5, 2.0, 0.8, 1.0 / 3, 2.0 / 3, 1.1};
            recipe.steps.emplace_back(RecipeResize{.scale = scales[rng() % std::size(scales)]});
            break;
        }
        case 3: {
            const EffectDeclaration& e = effect(rng() % 2 ? "color-filter" : "color-variety");
            recipe.steps.emplace_back(RecipeEffect{.effect = &e, .values = randomValues(e, rng), .forCurrent = true});
            break;
        }
        default: {
            const EffectDeclaration& e = *effects[rng() % effects.size()];
            recipe.steps.emplace_back(RecipeEffect{.effect = &e, .values = randomValues(e, rng)});
        }
        }
    }
    return recipe;
}

// What the window does for each step: the document's own operations, and
// for "For current" what the colour filter's and colour variety's windows
// do with the displayed picture. The document records its own recipe as it
// goes: recorded, when given, receives it.
TBitmap32 throughTheDocument(const Recipe& recipe, const TBitmap32& picture, Recipe* recorded = nullptr)
{
    Document doc(TBitmap32(1, 1));
    doc.setPictureSources(tile, nullptr);
    doc.open(TBitmap32(picture));
    for (const RecipeStep& step : recipe.steps) {
        if (const auto* turn = std::get_if<RecipeTurn>(&step)) {
            doc.rotate(turn->clockwise);
        } else if (const auto* resize = std::get_if<RecipeResize>(&step)) {
            int width = resize->width, height = resize->height;
            if (resize->scale) {
                // The image size window with "Hold in width and height"
                // ticked: the user types the new width, the height follows.
                const TBitmap32& p = doc.displayed();
                width = int(Round(*resize->scale * p.width()));
                height = int(Round(double(width) * p.height() / p.width()));
            }
            doc.resizePictures(width, height, resize->scale.has_value());
        } else {
            const auto& e = std::get<RecipeEffect>(step);
            if (!e.forCurrent) {
                doc.commitEffect(doc.runEffect(*e.effect, e.values));
            } else if (e.effect->name == "color-filter") {
                doc.applyResult(colorFilter(doc.displayed(), ColorFilterKind(e.values.get("filter") + 1)),
                                e.effect->historyLabel, e);
            } else {
                TBitmap32 result = doc.displayed();
                for (const int click : e.values.list("steps"))
                    colorVarietyStep(result, ColorVarietyKind(click + 1));
                doc.applyResult(std::move(result), e.effect->historyLabel, e);
            }
        }
    }
    if (recorded)
        *recorded = doc.repeatableRecipe();
    return doc.displayed();
}

std::string described(const Recipe& recipe)
{
    try {
        return recipeJson(recipe);
    } catch (const RecipeError& e) {
        return e.what();
    }
}

TEST(RecipeApply, GivesWhatTheDocumentGivesForTheSameOperations)
{
    std::mt19937 rng(2929);
    for (int trial = 0; trial < 250; ++trial) {
        const TBitmap32 picture = test::photoLike(4 + int(rng() % 14), 4 + int(rng() % 11), unsigned(trial));
        // Through the file, so that the file carries everything the run needs.
        const Recipe recipe = parseRecipe(recipeJson(randomRecipe(rng)));
        SCOPED_TRACE(described(recipe) + " on " + std::to_string(picture.width()) + " x " +
                     std::to_string(picture.height()));
        EffectContext c = context();
        const TBitmap32 batch = applyRecipe(recipe, picture, c);
        Recipe recorded;
        ASSERT_EQ(batch, throughTheDocument(recipe, picture, &recorded));
        // What the document recorded, saved and read back, gives its picture
        // too: the recipe the window saves is the one the batch needs. (Brume
        // run twice is the exception: the recipe keeps the second run, which
        // a batch starts from the generator's first state.)
        const auto brumes = std::count_if(recipe.steps.begin(), recipe.steps.end(), [](const RecipeStep& step) {
            const auto* e = std::get_if<RecipeEffect>(&step);
            return e && e->effect->drawsRandom;
        });
        if (brumes > 1)
            continue;
        EffectContext again = context();
        ASSERT_EQ(applyRecipe(parseRecipe(recipeJson(recorded)), picture, again), batch) << recipeJson(recorded);
    }
}

TEST(RecipeApply, FollowsTheSourceThroughTurnsAndSizesAfterAnEffect)
{
    // An effect, then a turn and a resize, then an effect again: the second
    // effect reads the source, turned and resized with the displayed picture.
    const TBitmap32 picture = test::photoLike(13, 9, 7);
    const Recipe recipe = parseRecipe(recipeWith(
        R"({"effect": "emboss"}, {"turn": "clockwise"}, {"resize": {"scale": 1.5}},
           {"effect": "color-filter", "filter": "red", "for-current": true}, {"effect": "pen-sketch", "pressure": 90},
           {"turn": "anticlockwise"}, {"effect": "color-variety", "steps": ["red", "red"], "for-current": true})"));
    EffectContext c = context();
    const TBitmap32 batch = applyRecipe(recipe, picture, c);
    EXPECT_EQ(batch.width(), 20);
    EXPECT_EQ(batch.height(), 14);
    EXPECT_EQ(batch, throughTheDocument(recipe, picture));
}

TEST(RecipeApply, BrumeRunsOnFromTheContextsState)
{
    const TBitmap32 picture = test::photoLike(12, 10, 3);
    const Recipe recipe = parseRecipe(recipeWith(R"({"effect": "brume", "scope": 3}, {"turn": "clockwise"},
                                                    {"effect": "brume", "scope": 2})"));
    EffectContext c = context();
    EXPECT_EQ(applyRecipe(recipe, picture, c), throughTheDocument(recipe, picture));
    EffectContext fresh = context();
    EffectContext movedOn = context();
    (void)applyRecipe(recipe, picture, movedOn);
    EXPECT_NE(applyRecipe(recipe, picture, movedOn), applyRecipe(recipe, picture, fresh));
}

TEST(RecipeApply, NoStepsGiveThePictureAsItIs)
{
    const TBitmap32 picture = test::photoLike(5, 4, 1);
    EffectContext c = context();
    EXPECT_EQ(applyRecipe(Recipe{}, picture, c), picture);
}

TEST(RecipeApply, ASizeBeyondThePictureLimitsIsRefusedNamingTheStep)
{
    const TBitmap32 picture = test::photoLike(40, 30, 1);
    EffectContext c = context();
    const std::string limit = "Plumora handles at most " + std::to_string(kMaxPixels) + " pixels.";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"turn": "clockwise"}, {"resize": {"scale": 0.01}})",
         "Step 2 (resize): scaling the 30 x 40 picture by 0.01 leaves 0 x 0 pixels, no picture."},
        {R"({"resize": {"scale": 10000000}})",
         "Step 1 (resize): scaling the 40 x 30 picture by 1e+07 makes it too large: " + limit},
        {R"({"resize": {"scale": 500}})",
         "Step 1 (resize): scaling the 40 x 30 picture by 500 makes it 20000 x 15000 pixels: " + limit},
        {R"({"resize": {"width": 100000, "height": 100000}})",
         "Step 1 (resize): a new size of 100000 x 100000 pixels is too large: " + limit},
    };
    for (const auto& [steps, message] : cases) {
        try {
            (void)applyRecipe(parseRecipe(recipeWith(steps)), picture, c);
            ADD_FAILURE() << steps << " was applied";
        } catch (const RecipeError& e) {
            EXPECT_EQ(std::string(e.what()), message) << steps;
        }
    }
    // A wide picture keeps a width and loses its height.
    try {
        (void)applyRecipe(parseRecipe(recipeWith(R"({"resize": {"scale": 0.05}})")), test::photoLike(100, 3, 1), c);
        ADD_FAILURE() << "a picture 0 pixels high was made";
    } catch (const RecipeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Step 1 (resize): scaling the 100 x 3 picture by 0.05 leaves 5 x 0 pixels, no picture.");
    }
}

TEST(RecipeApply, ThePictureTooSmallForAnEffectIsNamedWithItsStep)
{
    const TBitmap32 picture = test::photoLike(1, 6, 1);
    EffectContext c = context();
    c.namesTooSmallPictures = true;
    try {
        (void)applyRecipe(parseRecipe(recipeWith(R"({"turn": "clockwise"}, {"effect": "pen-sketch"})")), picture, c);
        FAIL();
    } catch (const RecipeError& e) {
        EXPECT_EQ(std::string(e.what()), "Step 2 (pen-sketch): The picture is too small for pen-sketch.");
    }
}

// "The sum of its steps plus at most one copy per step": the recipe takes
// no pixel block more than the steps' own operations take when called one
// after the other by hand, and leaves out the source's turns and sizes once
// no effect reads it any more.
TEST(RecipeApply, TakesNoPictureMoreThanItsStepsDo)
{
    const TBitmap32 picture = test::photoLike(64, 48, 5);
    const EffectDeclaration& pen = effect("pen-sketch");
    const ParamValues values = pen.defaults();
    const auto counted = [](const auto& work) {
        const long before = g_arrayAllocations;
        work();
        return g_arrayAllocations - before;
    };
    EffectContext c = context();

    const Recipe before = parseRecipe(
        recipeWith(R"({"turn": "clockwise"}, {"resize": {"width": 50, "height": 60}}, {"effect": "pen-sketch"})"));
    const long recipeBefore = counted([&] { (void)applyRecipe(before, picture, c); });
    const long byHandBefore = counted([&] { (void)pen.apply(stretchTo(rotateClockwise(picture), 50, 60), values, c); });
    EXPECT_EQ(recipeBefore, byHandBefore);

    const Recipe after = parseRecipe(
        recipeWith(R"({"effect": "pen-sketch"}, {"turn": "clockwise"}, {"resize": {"width": 50, "height": 60}})"));
    const long recipeAfter = counted([&] { (void)applyRecipe(after, picture, c); });
    const long byHandAfter = counted([&] { (void)stretchTo(rotateClockwise(pen.apply(picture, values, c)), 50, 60); });
    EXPECT_EQ(recipeAfter, byHandAfter);
}

}  // namespace
}  // namespace plumora
