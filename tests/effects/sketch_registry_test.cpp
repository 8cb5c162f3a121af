// plumora-cli's entries for the pencil sketch, Dozadir and pen and ink: the
// dialogs' ranges and defaults, and the pictures the dialogs give.

#include "effects/registry.h"

#include "effects/sketch/dozadir.h"
#include "effects/sketch/pen_and_ink.h"
#include "effects/sketch/pencil_sketch.h"
#include "effects/sketch_pictures.h"

#include <gtest/gtest.h>

namespace plumora {
namespace {

// The values plumora-cli passes for the given command-line options.
ParamValues given(const EffectSpec& e, std::initializer_list<std::pair<const char*, const char*>> options)
{
    ParamValues v = e.defaults();
    for (const auto& [name, text] : options)
        v.set(name, parseParamValue(*e.findParam(name), text));
    if (e.validate)
        e.validate(v);
    return v;
}

TEST(SketchEntries, TakeTheDialogsRangesAndDefaultsInMenuOrder)
{
    const auto& all = effectRegistry();
    const auto pencil =
        std::find_if(all.begin(), all.end(), [](const EffectSpec& e) { return e.name == "pencil-sketch"; });
    ASSERT_LE(pencil + 4, all.end());
    EXPECT_EQ(pencil[1].name + " " + pencil[2].name + " " + pencil[3].name, "pen-sketch dozadir pen-and-ink");
    auto values = [](const char* effect, const char* param) {
        return describeValues(*findEffect(effect)->findParam(param));
    };
    EXPECT_EQ(values("pencil-sketch", "contrast"), "0..89, optional");  // 45 when --lighting is not given
    EXPECT_EQ(values("pencil-sketch", "lighting"), "0..255, optional");
    EXPECT_EQ(values("dozadir", "pressure"), "0..255, default 128");
    EXPECT_EQ(values("dozadir", "scope"), "1..10, default 3");
    EXPECT_EQ(values("dozadir", "direction"), "1..4, default 1");
    EXPECT_EQ(values("pen-and-ink", "thread"), "0..255, default 128");
    EXPECT_EQ(findEffect("pen-and-ink")->findParam("color-ink")->kind, ParamKind::Flag);
}

TEST(SketchEntries, GiveTheDialogsPictures)
{
    const TBitmap32 photo = test::sketchPicture(50, 40, 1);
    const EffectSpec& pencil = *findEffect("pencil-sketch");
    EXPECT_EQ(pencil.apply(photo, given(pencil, {})), pencilSketch(photo, PencilMode::Contrast, 45));
    EXPECT_EQ(pencil.apply(photo, given(pencil, {{"contrast", "70"}})), pencilSketch(photo, PencilMode::Contrast, 70));
    EXPECT_EQ(pencil.apply(photo, given(pencil, {{"lighting", "99"}})), pencilSketch(photo, PencilMode::Lighting, 99));
    try {
        given(pencil, {{"contrast", "70"}, {"lighting", "100"}});
        ADD_FAILURE() << "took both adjustments";
    } catch (const ParamError& e) {
        EXPECT_STREQ(e.what(), "pencil-sketch takes --contrast or --lighting, not both");
    }

    const EffectSpec& doz = *findEffect("dozadir");
    EXPECT_EQ(doz.apply(photo, given(doz, {})), dozadir(photo, 128, 3, 1));
    EXPECT_EQ(doz.apply(photo, given(doz, {{"pressure", "200"}, {"scope", "10"}, {"direction", "4"}})),
              dozadir(photo, 200, 10, 4));

    const EffectSpec& ink = *findEffect("pen-and-ink");
    EXPECT_EQ(ink.apply(photo, given(ink, {})), penAndInk(photo, 128, false));
    EXPECT_EQ(ink.apply(photo, given(ink, {{"thread", "90"}, {"color-ink", ""}})), penAndInk(photo, 90, true));
}

}  // namespace
}  // namespace plumora
