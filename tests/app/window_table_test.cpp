// The table of effect windows: every effect in a menu has one window, each
// window lays out only what its effect declares, the numbers are the ones
// the program's protocol has always used, and the value labels read the
// slider positions as the windows show them.

#include "app/effect_windows/window_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace plumora {
namespace {

TEST(WindowTable, EveryEffectInAMenuHasOneWindowAndEveryWindowFitsItsDeclaration)
{
    std::set<std::string> classes, menuItems;
    for (const EffectWindow& w : effectWindows()) {
        SCOPED_TRACE(w.command);
        const EffectDeclaration* e = findEffect(w.command);
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->inMenu());
        EXPECT_TRUE(classes.insert(w.className).second);
        EXPECT_TRUE(menuItems.insert(w.menuItem).second);
        EXPECT_EQ(&windowNumbered(w.id), &w);
        // Something applies the effect: a button, or a choice that applies at once.
        const bool atOnce =
            std::any_of(w.params.begin(), w.params.end(), [](const ParamLayout& l) { return l.appliesAtOnce; });
        EXPECT_EQ(w.buttons.empty(), atOnce);
        std::set<std::string> controls;
        for (const ParamLayout& l : w.params) {
            SCOPED_TRACE(l.key);
            const ParamDeclaration* p = e->findParam(l.key);
            ASSERT_NE(p, nullptr);
            for (const std::string& c : l.controls)
                EXPECT_TRUE(controls.insert(c).second) << c;
            switch (p->kind) {
            case ParamKind::Slider:
                EXPECT_EQ(l.controls.size(), 1u);
                EXPECT_FALSE(l.captionLabel.empty() || l.valueLabel.empty());
                break;
            case ParamKind::Choice:
            case ParamKind::Steps:
                EXPECT_EQ(p->words.size(), l.captions.size());
                EXPECT_EQ(p->words.size(), l.controls.size());
                break;
            case ParamKind::Grid:
                EXPECT_EQ(p->defaultGrid.size(), l.controls.size());
                break;
            case ParamKind::Flag:
            case ParamKind::Colour:
                EXPECT_EQ(l.controls.size(), 1u);
                break;
            case ParamKind::Number:
            case ParamKind::File:
                ADD_FAILURE() << "a parameter typed on the command line only has no controls";
                break;
            }
        }
    }
    for (const EffectDeclaration& e : effectTable())
        EXPECT_EQ(findWindow(e.name) != nullptr, e.inMenu()) << e.name;
    EXPECT_EQ(findWindow("resize"), nullptr);
    EXPECT_EQ(windowNumber("resize"), EffectDialogId::None);
    EXPECT_THROW(windowNumbered(EffectDialogId::None), std::out_of_range);
    EXPECT_THROW(windowNumbered(EffectDialogId(int(effectWindows().size()) + 1)), std::out_of_range);
}

TEST(WindowTable, WindowsKeepTheirNumbers)
{
    // The open-dialog numbers, 1 to 17: a window added later takes the next.
    const char* const numbered[] = {"pencil-sketch", "pen-sketch",    "dozadir",     "pen-and-ink", "color-pencil",
                                    "realism",       "abstract",      "pop-art",     "water-color", "brume",
                                    "hsl-adjust",    "color-variety", "color-panel", "texture",     "emboss",
                                    "color-filter",  "stria"};
    for (int n = 1; n <= 17; ++n) {
        EXPECT_EQ(windowNumber(numbered[n - 1]), EffectDialogId(n)) << numbered[n - 1];
        EXPECT_EQ(windowNumbered(EffectDialogId(n)).command, numbered[n - 1]);
    }
}

TEST(WindowTable, EffectMenusHaveTheirObjectNames)
{
    std::set<std::string> names;
    for (const EffectMenuInfo& m : effectMenus())
        EXPECT_TRUE(names.insert(menuObjectName(m.menu)).second);
    EXPECT_EQ(names, (std::set<std::string>{"BW1", "Color1", "ColorAdjust1", "Veins1"}));
}

TEST(SliderReading, ShowsThePositionAsTheWindowsDo)
{
    const EffectDeclaration& pencil = *findEffect("pencil-sketch");
    const EffectWindow& pencilWindow = *findWindow("pencil-sketch");
    const ParamLayout& contrast = *pencilWindow.findParam("contrast");
    EXPECT_EQ(contrast.initialText(*pencil.findParam("contrast")), "50");  // although position 45 reads 51
    EXPECT_EQ(contrast.readingOf(45), "51");
    EXPECT_EQ(contrast.readingOf(46), "52");                              // Round(51.7)
    EXPECT_EQ(pencilWindow.findParam("lighting")->readingOf(200), "78");  // Round(78.4)
    EXPECT_EQ(findWindow("dozadir")->findParam("scope")->initialText(*findEffect("dozadir")->findParam("scope")), "3");

    // About a centre, in percent of half the range.
    ParamLayout hue;
    hue.reading = {.origin = 180, .percentOf = 180};
    EXPECT_EQ(hue.readingOf(0), "-100");
    EXPECT_EQ(hue.readingOf(1), "-99");  // Round(-99.44)
    EXPECT_EQ(hue.readingOf(360), "100");
    hue.reading = {.origin = 100};
    EXPECT_EQ(hue.readingOf(37), "-63");
}

TEST(ParamLayout, CaptionLabelsNameTheParameterWithAColonUnlessTheWindowSaysOtherwise)
{
    EXPECT_EQ(
        findWindow("pen-sketch")->findParam("pressure")->labelText(*findEffect("pen-sketch")->findParam("pressure")),
        "Pen Pressure:");
    EXPECT_EQ(findWindow("realism")->findParam("kernel")->labelText(*findEffect("realism")->findParam("kernel")),
              "You can change the figures");
}

}  // namespace
}  // namespace plumora
