// The one table of effects: what it declares holds together, and the
// command line reads values by it as the dialogs would set them.

#include "effects/effects.h"

#include "raster/parallel.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <optional>
#include <set>

namespace plumora {
namespace {

template <class F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const ParamError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(EffectsTable, EveryDeclarationHoldsTogether)
{
    std::set<std::string> names;
    for (const EffectDeclaration& e : effectTable()) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(names.insert(e.name).second);
        EXPECT_FALSE(e.summary.empty());
        EXPECT_TRUE(e.algorithm);
        EXPECT_EQ(e.inMenu(), !e.menuText.empty());
        std::set<std::string> keys;
        for (const ParamDeclaration& p : e.params) {
            SCOPED_TRACE(p.key);
            EXPECT_TRUE(keys.insert(p.key).second);
            EXPECT_FALSE(p.caption.empty());
            switch (p.kind) {
            case ParamKind::Slider:
                ASSERT_TRUE(p.defaultValue);
                EXPECT_TRUE(p.min <= *p.defaultValue && *p.defaultValue <= p.max);
                break;
            case ParamKind::Choice:
            case ParamKind::Steps:
                EXPECT_FALSE(p.words.empty());
                if (p.defaultValue)
                    EXPECT_LT(std::size_t(*p.defaultValue), p.words.size());
                break;
            case ParamKind::Grid:
                EXPECT_FALSE(p.defaultGrid.empty());
                break;
            case ParamKind::File:
                EXPECT_FALSE(p.hint.empty());
                break;
            case ParamKind::Number:
            case ParamKind::Flag:
            case ParamKind::Colour:
                break;
            }
        }
        for (const std::string& a : e.alternatives)
            EXPECT_NE(e.findParam(a), nullptr) << a;
        if (!e.labelsByChoice.empty()) {
            ASSERT_NE(e.findParam(e.labelsByChoice), nullptr);
            EXPECT_EQ(e.choiceLabels.size(), e.findParam(e.labelsByChoice)->words.size());
        }
    }
    EXPECT_EQ(findEffect("no-such-effect"), nullptr);
}

// The items of a menu, in table order, of those that are in `known`: an
// effect added later may join a menu without this test changing, but the
// effects that were there keep their menu and their order.
std::vector<std::string> itemsOf(EffectMenu menu, const std::set<std::string>& known)
{
    std::vector<std::string> items;
    for (const EffectDeclaration& e : effectTable())
        if (e.menu == menu && known.count(e.menuText))
            items.push_back(e.menuText);
    return items;
}

TEST(EffectsTable, MenusListTheirEffectsInTableOrder)
{
    const std::vector<std::string> blackAndWhite = {"Pencil sketch", "Pen sketch", "Dozadir", "Pen & Ink"};
    const std::vector<std::string> veins = {"Emboss", "Texture", "Stria"};
    EXPECT_EQ(itemsOf(EffectMenu::BlackAndWhite, {blackAndWhite.begin(), blackAndWhite.end()}), blackAndWhite);
    EXPECT_EQ(itemsOf(EffectMenu::Veins, {veins.begin(), veins.end()}), veins);
    // Menu texts are unique, so that no item hides another.
    std::set<std::string> texts;
    for (const EffectDeclaration& e : effectTable())
        if (e.inMenu())
            EXPECT_TRUE(texts.insert(e.menuText).second) << e.menuText;
}

// Work that can be cancelled cuts its loops into many more bands; every
// effect must give the same pixels however its rows are cut.
TEST(EffectsTable, EveryEffectGivesTheSamePixelsWhenItsWorkCanBeCancelled)
{
    const TBitmap32 picture = test::randomPicture(61, 700, 11);
    const TBitmap32 tile = test::randomPicture(58, 58, 12);
    const std::atomic<bool> neverSet{false};
    for (const int threads : {1, 3}) {
        setThreadCount(threads);
        std::size_t ran = 0;
        for (const EffectDeclaration& e : effectTable()) {
            SCOPED_TRACE(e.name + " on " + std::to_string(threads) + " threads");
            ParamValues values;
            try {
                values = e.parse({});
            } catch (const ParamError&) {
                continue;  // a value must be given
            }
            const auto run = [&](bool cancellable) {
                EffectContext context;
                context.builtInTile = [&](int) { return tile; };
                context.readPicture = [&](const std::string&) { return tile; };
                std::optional<CancelScope> scope;
                if (cancellable)
                    scope.emplace(neverSet);
                return e.apply(picture, values, context);
            };
            EXPECT_TRUE(run(true) == run(false));
            ++ran;
        }
        EXPECT_GE(ran, 17u);  // all but the few that need a value given
    }
    setThreadCount(0);
}

TEST(ParamText, WholeNumbersOnlyAndInRange)
{
    const ParamDeclaration& pressure = *findEffect("pen-sketch")->findParam("pressure");
    EXPECT_EQ(parseParamValue(pressure, "0"), std::vector<int>{0});
    EXPECT_EQ(parseParamValue(pressure, "255"), std::vector<int>{255});
    for (const char* bad : {"", "abc", "12abc", "1.5", " 12", "+12", "0x10"})
        EXPECT_EQ(errorOf([&] { parseParamValue(pressure, bad); }),
                  std::string("'") + bad + "' is not a valid integer value");
    for (const char* outside : {"256", "-1", "99999999999999999999"})
        EXPECT_EQ(errorOf([&] { parseParamValue(pressure, outside); }),
                  std::string(outside) + " is out of range for --pressure (0..255, default 128)");
    EXPECT_EQ(parseInteger("-2147483648"), INT_MIN);
    EXPECT_EQ(errorOf([] { parseInteger("2147483648"); }), "'2147483648' is not a valid integer value");
}

TEST(ParamText, ChoicesTakeTheirWordOrTheirPlace)
{
    const ParamDeclaration& direction = *findEffect("dozadir")->findParam("direction");
    EXPECT_EQ(parseParamValue(direction, "rising"), std::vector<int>{0});
    EXPECT_EQ(parseParamValue(direction, "horizontal"), std::vector<int>{3});
    EXPECT_EQ(parseParamValue(direction, "3"), std::vector<int>{2});
    for (const char* bad : {"0", "5", "up", "Rising"})
        EXPECT_EQ(
            errorOf([&] { parseParamValue(direction, bad); }),
            std::string("'") + bad +
                "' is not a choice for --direction (rising|falling|vertical|horizontal (or 1..4), default rising)");
}

TEST(ParamText, GridsAndColours)
{
    ParamDeclaration grid;
    grid.key = "kernel";
    grid.kind = ParamKind::Grid;
    grid.min = INT_MIN;
    grid.max = INT_MAX;
    grid.defaultGrid = {1, 2, 1, 0, 0, 0, -1, -1, -1};
    EXPECT_EQ(parseParamValue(grid, "0,0,0,0,1,0,0,0,-2147483648"),
              (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, INT_MIN}));
    EXPECT_EQ(errorOf([&] { parseParamValue(grid, "1,2,3"); }),
              "--kernel takes 9 whole numbers separated by commas, not 3");
    EXPECT_EQ(errorOf([&] { parseParamValue(grid, "1,2,,1,0,0,0,0,0"); }), "'' is not a valid integer value");
    EXPECT_EQ(describeValues(grid), "9 whole numbers, default 1,2,1,0,0,0,-1,-1,-1");

    ParamDeclaration colour;
    colour.key = "color";
    colour.kind = ParamKind::Colour;
    colour.defaultValue = 0x00FF80;
    EXPECT_EQ(parseParamValue(colour, "FF8000"), std::vector<int>{0xFF8000});
    EXPECT_EQ(parseParamValue(colour, "#0a0B0c"), std::vector<int>{0x0A0B0C});
    for (const char* bad : {"FF800", "FF80001", "GG0000", "-12345", ""})
        EXPECT_EQ(errorOf([&] { parseParamValue(colour, bad); }),
                  std::string("'") + bad + "' is not a colour for --color (a colour as RRGGBB in hex, default 00FF80)");
}

TEST(EffectParse, OnlyTheAlternativeGivenOrTheFirstReachesTheAlgorithm)
{
    const EffectDeclaration& pencil = *findEffect("pencil-sketch");
    const ParamValues none = pencil.parse({});
    EXPECT_EQ(none.get("contrast"), 45);
    EXPECT_FALSE(none.has("lighting"));
    const ParamValues lighting = pencil.parse({{"lighting", "99"}});
    EXPECT_EQ(lighting.get("lighting"), 99);
    EXPECT_FALSE(lighting.has("contrast"));
    EXPECT_EQ(pencil.parse({{"contrast", "70"}}).get("contrast"), 70);
    EXPECT_EQ(errorOf([&] {
                  pencil.parse({{"contrast", "70"}, {"lighting", "100"}});
              }),
              "pencil-sketch takes --contrast or --lighting, not both");
    EXPECT_EQ(describeParam(pencil, *pencil.findParam("contrast")), "0..89, default 45, unless --lighting is given");
    EXPECT_EQ(describeParam(pencil, *pencil.findParam("lighting")), "0..255, instead of --contrast");

    const EffectDeclaration& ink = *findEffect("pen-and-ink");
    EXPECT_FALSE(ink.parse({}).flag("color-ink"));
    EXPECT_TRUE(ink.parse({{"color-ink", ""}}).flag("color-ink"));
    EXPECT_EQ(errorOf([&] { ink.parse({{"colour", "1"}}); }), "pen-and-ink has no parameter --colour");
}

TEST(EffectParse, ResizeKeepsTheProportionsOfAMissingSide)
{
    const EffectDeclaration& resize = *findEffect("resize");
    const TBitmap32 p = test::randomPicture(521, 346, 1);
    EffectContext state;
    const TBitmap32 r = resize.apply(p, resize.parse({{"width", "400"}}), state);
    EXPECT_EQ(r.width(), 400);
    EXPECT_EQ(r.height(), 266);  // Round(400 * 346 / 521) = Round(265.64)
    EXPECT_EQ(errorOf([&] { resize.parse({}); }), "resize needs --width, --height or both");
}

}  // namespace
}  // namespace plumora
