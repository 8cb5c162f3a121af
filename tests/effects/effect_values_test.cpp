// Every algorithm reads its values through the checked view: running each
// effect with its defaults and with every parameter moved reaches every
// read its algorithm makes, so a key the algorithm reads but the
// declaration lacks (a misspelling) fails here, not in a user's hands.

#include "effects/effects.h"

#include "effects/relief/texture.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace plumora {
namespace {

using Given = std::vector<std::pair<std::string, std::string>>;

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : ",") + p;
    return text;
}

// The command lines of an effect that between them reach every value its
// algorithm may read: none (the defaults), then each parameter alone at
// values other than its default (each alternative given alone, every
// choice, a flag given).
std::vector<Given> runsOf(const EffectDeclaration& e)
{
    std::vector<Given> runs = {{}};
    for (const ParamDeclaration& p : e.params) {
        auto give = [&](std::string text) { runs.push_back({{p.key, std::move(text)}}); };
        switch (p.kind) {
        case ParamKind::Slider:
            give(std::to_string(p.min));
            give(std::to_string(p.max));
            break;
        case ParamKind::Number:
            // Small numbers: a resize to the largest side would fill memory.
            give(std::to_string(p.min));
            give(std::to_string(p.min + 1));
            break;
        case ParamKind::Choice:
            for (const std::string& word : p.words)
                give(word);
            break;
        case ParamKind::Steps:
            give(joined(p.words));
            break;
        case ParamKind::Flag:
            give("");
            break;
        case ParamKind::Grid: {
            std::vector<std::string> numbers;
            for (auto it = p.defaultGrid.rbegin(); it != p.defaultGrid.rend(); ++it)
                numbers.push_back(std::to_string(*it));
            give(joined(numbers));
            break;
        }
        case ParamKind::Colour:
            give("123456");
            break;
        case ParamKind::File:
            give("own.bmp");
            break;
        }
    }
    return runs;
}

// Runs the effect on a small picture with every run of runsOf. Throws what
// the algorithm throws; a run the command line itself refuses (a value
// that must be given) is left out.
int driveEveryValue(const EffectDeclaration& e)
{
    const TBitmap32 picture = test::randomPicture(24, 20, 5);
    const TBitmap32 tile = test::randomPicture(58, 58, 6);
    int ran = 0;
    for (const Given& given : runsOf(e)) {
        ParamValues values;
        try {
            values = e.parse(given);
        } catch (const ParamError&) {
            continue;
        }
        EffectContext context;
        context.builtInTile = [&](int) { return tile; };
        context.readPicture = [&](const std::string&) { return tile; };
        e.apply(picture, values, context);
        ++ran;
    }
    return ran;
}

TEST(EffectValues, EveryAlgorithmReadsOnlyWhatItDeclares)
{
    for (const EffectDeclaration& e : effectTable()) {
        SCOPED_TRACE(e.name);
        try {
            // Every parameter's runs, plus the defaults where they suffice.
            EXPECT_GE(driveEveryValue(e), int(e.params.size()));
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
}

// A declaration with one slider, whose algorithm reads it by `key` through
// the reading `read`.
EffectDeclaration oneSlider(std::string key, int (*read)(const EffectValues&, const std::string&))
{
    EffectDeclaration e;
    e.name = "pressing";
    e.summary = "test";
    e.params = {
        {.key = "pressure", .caption = "Pressure", .kind = ParamKind::Slider, .min = 0, .max = 9, .defaultValue = 4}};
    e.algorithm = [key, read](const TBitmap32& p, const EffectValues& v, EffectContext&) {
        TBitmap32 r = p;
        r.ScanLine(0)[0] = std::uint8_t(read(v, key));
        return r;
    };
    return e;
}

TEST(EffectValues, AMisspeltKeyOrAReadOfAnotherKindFailsTheDrive)
{
    const auto get = [](const EffectValues& v, const std::string& key) { return v.get(key); };
    EXPECT_EQ(driveEveryValue(oneSlider("pressure", get)), 3);

    try {
        driveEveryValue(oneSlider("pressur", get));
        ADD_FAILURE() << "a misspelt key was read";
    } catch (const UndeclaredParam& e) {
        EXPECT_STREQ(e.what(), "pressing reads --pressur, which it does not declare");
    }
    // Asking whether a misspelt key was given is caught as well: it would
    // otherwise quietly answer no.
    EXPECT_THROW(driveEveryValue(oneSlider(
                     "pressur", [](const EffectValues& v, const std::string& key) { return v.has(key) ? 1 : 0; })),
                 UndeclaredParam);
    try {
        driveEveryValue(oneSlider(
            "pressure", [](const EffectValues& v, const std::string& key) { return int(v.list(key).size()); }));
        ADD_FAILURE() << "a slider was read as a list";
    } catch (const UndeclaredParam& e) {
        EXPECT_STREQ(e.what(), "pressing reads --pressure as a list, which its kind does not hold");
    }
    EXPECT_THROW(driveEveryValue(oneSlider("pressure", [](const EffectValues& v,
                                                          const std::string& key) { return int(v.text(key).size()); })),
                 UndeclaredParam);
}

TEST(EffectValues, ReadsWhatTheRunHolds)
{
    const EffectDeclaration& texture = *findEffect("texture");
    const ParamValues own = texture.parse({{"tile-file", "mine.bmp"}});
    const EffectValues ownView(texture, own);
    EXPECT_TRUE(ownView.has("tile-file"));
    EXPECT_EQ(ownView.text("tile-file"), "mine.bmp");
    EXPECT_FALSE(ownView.has("tile"));  // only the alternative given reaches the algorithm
    const ParamValues builtIn = texture.parse({});
    const EffectValues builtInView(texture, builtIn);
    EXPECT_FALSE(builtInView.has("tile-file"));
    EXPECT_EQ(builtInView.get("tile"), kTextureDefault);

    const EffectDeclaration& ink = *findEffect("pen-and-ink");
    const ParamValues on = ink.parse({{"color-ink", ""}});
    EXPECT_TRUE(EffectValues(ink, on).flag("color-ink"));
    EXPECT_THROW(EffectValues(ink, on).flag("thread"), UndeclaredParam);  // a slider is no flag
}

}  // namespace
}  // namespace plumora
