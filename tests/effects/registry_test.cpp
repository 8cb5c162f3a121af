#include "effects/registry.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

#include <set>

namespace plumora {
namespace {

TEST(Registry, NamesAreUniqueAndDefaultsLieInTheirRanges)
{
    std::set<std::string> names;
    for (const EffectSpec& e : effectRegistry()) {
        EXPECT_TRUE(names.insert(e.name).second) << e.name;
        EXPECT_TRUE(e.apply) << e.name;
        std::set<std::string> params;
        for (const ParamSpec& p : e.params) {
            EXPECT_TRUE(params.insert(p.name).second) << e.name << " --" << p.name;
            if (p.kind == ParamKind::Integer && p.defaultValue) {
                EXPECT_GE(*p.defaultValue, p.min) << e.name << " --" << p.name;
                EXPECT_LE(*p.defaultValue, p.max) << e.name << " --" << p.name;
            }
        }
    }
    EXPECT_EQ(findEffect("no-such-effect"), nullptr);
}

TEST(Registry, PenSketchTakesThePenPressureOfItsDialog)
{
    const EffectSpec* pen = findEffect("pen-sketch");
    ASSERT_NE(pen, nullptr);
    const ParamSpec* pressure = pen->findParam("pressure");
    ASSERT_NE(pressure, nullptr);
    EXPECT_EQ(pressure->min, 0);
    EXPECT_EQ(pressure->max, 255);
    EXPECT_EQ(pen->defaults().get("pressure"), 128);
    EXPECT_EQ(describeValues(*pressure), "0..255, default 128");
}

TEST(ParamValue, AcceptsOnlyWholeNumbersInRange)
{
    const ParamSpec& pressure = *findEffect("pen-sketch")->findParam("pressure");
    EXPECT_EQ(parseParamValue(pressure, "0"), 0);
    EXPECT_EQ(parseParamValue(pressure, "255"), 255);
    for (const char* bad : {"", "abc", "12abc", "1.5", " 12", "+12", "0x10"}) {
        try {
            parseParamValue(pressure, bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const ParamError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
    for (const char* outside : {"256", "-1", "99999999999999999999"}) {
        try {
            parseParamValue(pressure, outside);
            ADD_FAILURE() << "accepted " << outside;
        } catch (const ParamError& e) {
            EXPECT_EQ(e.what(), std::string(outside) + " is out of range for --pressure (0..255, default 128)");
        }
    }
}

TEST(Registry, ResizeKeepsTheProportionsOfAMissingSide)
{
    const EffectSpec* resize = findEffect("resize");
    ASSERT_NE(resize, nullptr);
    const TBitmap32 p = test::randomPicture(521, 346, 1);
    ParamValues v;
    v.set("width", 400);
    const TBitmap32 r = resize->apply(p, v);
    EXPECT_EQ(r.width(), 400);
    EXPECT_EQ(r.height(), 266);  // Round(400 * 346 / 521) = Round(265.64)
    ParamValues none;
    EXPECT_THROW(resize->validate(none), ParamError);
}

}  // namespace
}  // namespace plumora
