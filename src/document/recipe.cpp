#include "document/recipe.h"

#include "raster/geometry.h"
#include "raster/limits.h"
#include "raster/rounding.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <tuple>
#include <utility>

namespace plumora {

namespace {

// ---------------------------------------------------------------------------
// A small JSON reader. Recipes come from other tools and from the user's
// downloads, so the reader trusts nothing: the text must be UTF-8, objects
// and arrays nest at most kMaxRecipeNesting deep (so the recursion, and the
// destruction of what it built, is bounded), and the caller has bounded the
// text's size.

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool flag = false;
    double number = 0;
    std::string text;               // a string's characters, or a number as written
    std::vector<Json> items;        // an array's items, an object's values
    std::vector<std::string> keys;  // an object's keys, in the order written
};

// A text for a message: at most 40 characters, control characters as '?',
// never cut inside a UTF-8 sequence.
std::string shown(std::string_view text)
{
    std::string out;
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80 && ++count > 40) {
            out += "...";
            break;
        }
        out += c < 0x20 || c == 0x7F ? '?' : char(c);
    }
    return out;
}

std::string inQuotes(std::string_view text)
{
    std::string out(1, '\'');
    out += shown(text);
    out += '\'';
    return out;
}

// Whether text is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF. The place of the first bad byte, or npos.
std::size_t badUtf8(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return i;
        }
        if (i + length > n || s[i + 1] < low || s[i + 1] > high)
            return i;
        for (std::size_t k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        i += length;
    }
    return std::string_view::npos;
}

void appendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : m_text(text) {}

    Json document()
    {
        // A byte-order mark, which some editors write, says nothing here.
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_at = 3;
        if (const std::size_t bad = badUtf8(m_text); bad != std::string_view::npos) {
            m_at = bad;
            fail("a byte that is not UTF-8");
        }
        Json root = value(0);
        skipSpace();
        if (m_at != m_text.size())
            fail("more text after the end of the recipe");
        return root;
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < m_at && i < m_text.size(); ++i) {
            if (m_text[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(m_text[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        throw RecipeError("This recipe is not valid JSON: " + what + " at line " + std::to_string(line) + ", column " +
                          std::to_string(column) + ".");
    }

    bool atEnd() const { return m_at >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_at]; }

    void skipSpace()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_at;
    }

    void expect(char c)
    {
        skipSpace();
        if (peek() != c)
            fail(std::string("'") + c + "' expected");
        ++m_at;
    }

    Json value(int depth)
    {
        // A recipe holds a few dozen values; a megabyte of "1," would be half
        // a million, each taking a hundred bytes here.
        if (++m_values > kMaxValues)
            fail("more than " + std::to_string(kMaxValues) + " values, far more than a recipe holds");
        skipSpace();
        if (atEnd())
            fail("the text ends where a value should be");
        const char c = peek();
        if (c == '{' || c == '[') {
            if (depth >= kMaxRecipeNesting)
                fail("lists and objects nested more than " + std::to_string(kMaxRecipeNesting) + " deep");
            return c == '{' ? object(depth + 1) : array(depth + 1);
        }
        if (c == '"') {
            Json v;
            v.kind = Json::Kind::String;
            v.text = string();
            return v;
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return number();
        for (const auto& [word, kind, flag] :
             {std::tuple{"true", Json::Kind::Bool, true}, std::tuple{"false", Json::Kind::Bool, false},
              std::tuple{"null", Json::Kind::Null, false}}) {
            if (m_text.substr(m_at, std::strlen(word)) == word) {
                m_at += std::strlen(word);
                Json v;
                v.kind = kind;
                v.flag = flag;
                return v;
            }
        }
        fail("a value expected");
    }

    Json object(int depth)
    {
        Json v;
        v.kind = Json::Kind::Object;
        ++m_at;
        skipSpace();
        if (peek() == '}') {
            ++m_at;
            return v;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                fail("a key in double quotes expected");
            v.keys.push_back(string());
            expect(':');
            v.items.push_back(value(depth));
            skipSpace();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            if (peek() == '}') {
                ++m_at;
                return v;
            }
            fail("',' or '}' expected");
        }
    }

    Json array(int depth)
    {
        Json v;
        v.kind = Json::Kind::Array;
        ++m_at;
        skipSpace();
        if (peek() == ']') {
            ++m_at;
            return v;
        }
        for (;;) {
            v.items.push_back(value(depth));
            skipSpace();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            if (peek() == ']') {
                ++m_at;
                return v;
            }
            fail("',' or ']' expected");
        }
    }

    unsigned hex4()
    {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i, ++m_at) {
            const char c = peek();
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                fail("four hexadecimal digits expected after \\u");
            code = code * 16 + unsigned(digit);
        }
        return code;
    }

    std::string string()
    {
        ++m_at;  // the opening quote
        std::string out;
        for (;;) {
            if (atEnd())
                fail("the text ends inside a string");
            const char c = m_text[m_at];
            if (c == '"') {
                ++m_at;
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                ++m_at;
                continue;
            }
            ++m_at;
            const char e = peek();
            ++m_at;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned code = hex4();
                if (code >= 0xDC00 && code <= 0xDFFF)
                    fail("a lone low surrogate in \\u escapes");
                if (code >= 0xD800 && code <= 0xDBFF) {
                    if (m_text.substr(m_at, 2) != "\\u")
                        fail("a high surrogate without its low one");
                    m_at += 2;
                    const unsigned low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("a high surrogate without its low one");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, code);
                break;
            }
            default:
                --m_at;
                fail("an unknown escape in a string");
            }
        }
    }

    Json number()
    {
        const std::size_t start = m_at;
        auto digits = [&] {
            const std::size_t from = m_at;
            while (!atEnd() && peek() >= '0' && peek() <= '9')
                ++m_at;
            return m_at - from;
        };
        if (peek() == '-')
            ++m_at;
        if (peek() == '0')
            ++m_at;
        else if (digits() == 0)
            fail("a digit expected");
        bool negativeExponent = false;
        if (peek() == '.') {
            ++m_at;
            if (digits() == 0)
                fail("a digit expected after the decimal point");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_at;
            if (peek() == '+' || peek() == '-')
                negativeExponent = m_text[m_at++] == '-';
            if (digits() == 0)
                fail("a digit expected in the exponent");
        }
        Json v;
        v.kind = Json::Kind::Number;
        v.text = std::string(m_text.substr(start, m_at - start));
        const char* first = v.text.data();
        const char* last = first + v.text.size();
        const auto [end, ec] = std::from_chars(first, last, v.number);
        if (ec == std::errc::result_out_of_range) {
            // Too large for a double is infinite, too small zero: either is
            // refused by every check that reads it, with the number as written.
            v.number = negativeExponent ? 0.0 : HUGE_VAL;
            if (v.text.front() == '-')
                v.number = -v.number;
        } else if (ec != std::errc() || end != last) {
            m_at = start;
            fail("a number expected");
        }
        return v;
    }

    static constexpr std::size_t kMaxValues = 65536;

    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_values = 0;
};

// ---------------------------------------------------------------------------
// From JSON to the recipe's steps, with a message naming the step and key of
// every refusal.

const char* kindName(const Json& v)
{
    switch (v.kind) {
    case Json::Kind::Null:
        return "null";
    case Json::Kind::Bool:
        return v.flag ? "true" : "false";
    case Json::Kind::Number:
        return "a number";
    case Json::Kind::String:
        return "a text";
    case Json::Kind::Array:
        return "a list";
    case Json::Kind::Object:
        return "an object";
    }
    return "a value";
}

// What the message shows of a value: a number as written, a text in
// quotes, the kind of anything else.
std::string shownValue(const Json& v)
{
    if (v.kind == Json::Kind::Number)
        return shown(v.text);
    if (v.kind == Json::Kind::String)
        return "\"" + shown(v.text) + "\"";
    return kindName(v);
}

std::string withStop(std::string text)
{
    if (!text.empty() && text.back() != '.' && text.back() != '?' && text.back() != '!')
        text += '.';
    return text;
}

// Errors of one step: "Step 2: ...".
class StepReader {
public:
    explicit StepReader(std::size_t number) : m_prefix("Step " + std::to_string(number) + ": ") {}

    [[noreturn]] void fail(const std::string& what) const { throw RecipeError(withStop(m_prefix + what)); }

    // The object's keys, each once: a key written twice would leave it to
    // chance which of the values a reader takes.
    void checkUnique(const Json& object) const
    {
        std::set<std::string_view> seen;
        for (const std::string& key : object.keys)
            if (!seen.insert(key).second)
                fail("the key " + inQuotes(key) + " is written twice");
    }

    // A whole number within [min, max] for key.
    int whole(const Json& v, const std::string& key, long long min, long long max, const std::string& range) const
    {
        if (v.kind != Json::Kind::Number)
            fail(inQuotes(key) + " takes a whole number, not " + shownValue(v));
        if (std::isfinite(v.number) && std::trunc(v.number) != v.number)
            fail(shown(v.text) + " is not a whole number, which " + inQuotes(key) + " takes");
        if (!(v.number >= double(min) && v.number <= double(max)))
            fail(shown(v.text) + " is out of range for " + inQuotes(key) + " (" + range + ")");
        return int(v.number);
    }

private:
    std::string m_prefix;
};

// A JSON value as plumora-cli's command line would have written the
// parameter, so that the effects table checks it with the same messages.
std::string commandLineText(const StepReader& step, const EffectDeclaration& effect, const ParamDeclaration& param,
                            const Json& v)
{
    const std::string& key = param.key;
    // A whole number as the command line writes it; what lies beyond int is
    // out of range of every parameter, said with the number as written.
    auto wholeText = [&](const Json& n) {
        if (std::isfinite(n.number) && std::trunc(n.number) != n.number)
            step.fail(shown(n.text) + " is not a whole number, which " + inQuotes(key) + " takes");
        if (!(n.number >= double(INT_MIN) && n.number <= double(INT_MAX)))
            step.fail(shown(n.text) + " is out of range for --" + key + " (" + describeParam(effect, param) + ")");
        return std::to_string(static_cast<long long>(n.number));
    };
    auto wrongKind = [&](const char* wanted) {
        step.fail(inQuotes(key) + " takes " + wanted + ", not " + shownValue(v));
    };
    switch (param.kind) {
    case ParamKind::Number:
    case ParamKind::Slider:
        if (v.kind != Json::Kind::Number)
            wrongKind("a whole number");
        return wholeText(v);
    case ParamKind::Choice:
        if (v.kind == Json::Kind::Number)
            return wholeText(v);
        if (v.kind != Json::Kind::String)
            wrongKind("a word (or its place, 1 and up)");
        return v.text;
    case ParamKind::Colour:
        if (v.kind != Json::Kind::String)
            wrongKind("a colour as \"RRGGBB\"");
        return v.text;
    case ParamKind::Grid:
    case ParamKind::Steps: {
        const bool grid = param.kind == ParamKind::Grid;
        if (v.kind != Json::Kind::Array)
            wrongKind(grid ? "a list of whole numbers" : "a list of words (or their places)");
        std::string text;
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            const Json& item = v.items[i];
            std::string itemText;
            if (item.kind == Json::Kind::Number)
                itemText = wholeText(item);
            else if (!grid && item.kind == Json::Kind::String && item.text.find(',') == std::string::npos)
                itemText = item.text;
            else
                step.fail(inQuotes(key) + " takes a list of " + (grid ? "whole numbers" : "words (or their places)") +
                          ", not " + shownValue(item) + " in it");
            text += (i ? "," : "") + itemText;
        }
        if (grid && v.items.empty())
            return ",";  // no number at all: the table's message says how many it takes
        return text;
    }
    case ParamKind::Flag:  // read as true or false by the caller
    case ParamKind::File:  // refused by the caller
        break;
    }
    step.fail(inQuotes(key) + " cannot be read");
}

RecipeStep effectStep(const StepReader& step, const Json& object)
{
    const Json& nameValue =
        object.items.at(std::size_t(std::find(object.keys.begin(), object.keys.end(), "effect") - object.keys.begin()));
    if (nameValue.kind != Json::Kind::String)
        step.fail("'effect' takes the name of an effect, as plumora-cli spells it, not " + shownValue(nameValue));
    const EffectDeclaration* effect = findEffect(nameValue.text);
    if (!effect)
        step.fail("unknown effect " + inQuotes(nameValue.text) + " (plumora-cli --list shows them all)");
    if (!effect->inMenu())
        step.fail(inQuotes(effect->name) +
                  " is not an effect of a recipe: a recipe turns with {\"turn\": \"clockwise\"} and resizes with "
                  "{\"resize\": {\"width\": W, \"height\": H}}");

    RecipeEffect result{.effect = effect};
    std::vector<std::pair<std::string, std::string>> given;
    for (std::size_t i = 0; i < object.keys.size(); ++i) {
        const std::string& key = object.keys[i];
        const Json& v = object.items[i];
        if (key == "effect")
            continue;
        if (key == "for-current") {
            if (!recipeTakesForCurrent(*effect))
                step.fail("'for-current' is for color-filter and color-variety, not " + effect->name);
            if (v.kind != Json::Kind::Bool)
                step.fail("'for-current' takes true or false, not " + shownValue(v));
            result.forCurrent = v.flag;
            continue;
        }
        const ParamDeclaration* param = effect->findParam(key);
        if (!param)
            step.fail("unknown key " + inQuotes(key) + " for " + effect->name);
        if (param->kind == ParamKind::File)
            step.fail(inQuotes(key) +
                      " would name a file of this computer, which a recipe cannot hold: it would not be there on "
                      "another one");
        if (param->kind == ParamKind::Flag) {
            if (v.kind != Json::Kind::Bool)
                step.fail(inQuotes(key) + " takes true or false, not " + shownValue(v));
            if (v.flag)
                given.emplace_back(key, "");
            continue;
        }
        given.emplace_back(key, commandLineText(step, *effect, *param, v));
    }
    try {
        result.values = effect->parse(given);
    } catch (const ParamError& e) {
        step.fail(e.what());
    }
    return result;
}

RecipeStep turnStep(const StepReader& step, const Json& object)
{
    if (object.keys.size() != 1)
        step.fail("unknown key " + inQuotes(object.keys[object.keys[0] == "turn" ? 1 : 0]) +
                  " for a turn (it has only \"turn\")");
    const Json& v = object.items[0];
    if (v.kind == Json::Kind::String && (v.text == "clockwise" || v.text == "anticlockwise"))
        return RecipeTurn{.clockwise = v.text == "clockwise"};
    step.fail("'turn' takes \"clockwise\" or \"anticlockwise\", not " + shownValue(v));
}

RecipeStep resizeStep(const StepReader& step, const Json& object)
{
    if (object.keys.size() != 1)
        step.fail("unknown key " + inQuotes(object.keys[object.keys[0] == "resize" ? 1 : 0]) +
                  " for a resize (it has only \"resize\")");
    const Json& v = object.items[0];
    if (v.kind != Json::Kind::Object)
        step.fail("'resize' takes {\"width\": W, \"height\": H} or {\"scale\": F}, not " + shownValue(v));
    step.checkUnique(v);
    const Json *width = nullptr, *height = nullptr, *scale = nullptr;
    for (std::size_t i = 0; i < v.keys.size(); ++i) {
        const std::string& key = v.keys[i];
        if (key == "width")
            width = &v.items[i];
        else if (key == "height")
            height = &v.items[i];
        else if (key == "scale")
            scale = &v.items[i];
        else
            step.fail("unknown key " + inQuotes(key) + " for resize (it takes \"width\" and \"height\", or \"scale\")");
    }
    const std::string sideRange = "1.." + std::to_string(kMaxPixels);
    if (scale) {
        if (width || height)
            step.fail("resize takes \"width\" and \"height\", or \"scale\", not both");
        if (scale->kind != Json::Kind::Number)
            step.fail("'scale' takes a number, not " + shownValue(*scale));
        if (!(scale->number > 0 && scale->number <= double(kMaxPixels)))
            step.fail(shown(scale->text) +
                      " is out of range for 'scale' (the new width over the old, more than 0 "
                      "and at most " +
                      std::to_string(kMaxPixels) + ")");
        return RecipeResize{.scale = scale->number};
    }
    if (!width || !height)
        step.fail("resize needs both \"width\" and \"height\" (or \"scale\")");
    return RecipeResize{.width = step.whole(*width, "width", 1, kMaxPixels, sideRange),
                        .height = step.whole(*height, "height", 1, kMaxPixels, sideRange)};
}

RecipeStep readStep(std::size_t number, const Json& v)
{
    const StepReader step(number);
    if (v.kind != Json::Kind::Object)
        step.fail("a step is an object such as {\"turn\": \"clockwise\"}, not " + shownValue(v));
    step.checkUnique(v);
    std::vector<std::string> kinds;
    for (const std::string& key : v.keys)
        if (key == "turn" || key == "resize" || key == "effect")
            kinds.push_back(key);
    if (kinds.size() > 1)
        step.fail("\"" + kinds[0] + "\" and \"" + kinds[1] + "\" in one step: a step is one operation");
    if (kinds.empty()) {
        if (!v.keys.empty())
            step.fail("unknown key " + inQuotes(v.keys[0]) + " (a step has \"turn\", \"resize\" or \"effect\")");
        step.fail("a step has \"turn\", \"resize\" or \"effect\"");
    }
    if (kinds[0] == "turn")
        return turnStep(step, v);
    if (kinds[0] == "resize")
        return resizeStep(step, v);
    return effectStep(step, v);
}

Recipe recipeOf(const Json& root)
{
    const char* notARecipe =
        "This is not a Plumora recipe: a recipe is a JSON object with the keys \"plumora-recipe\" and \"steps\".";
    if (root.kind != Json::Kind::Object)
        throw RecipeError(notARecipe);
    const Json *version = nullptr, *steps = nullptr;
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < root.keys.size(); ++i) {
        const std::string& key = root.keys[i];
        if (!seen.insert(key).second)
            throw RecipeError("The key " + inQuotes(key) + " is written twice in the recipe.");
        if (key == "plumora-recipe")
            version = &root.items[i];
        else if (key == "steps")
            steps = &root.items[i];
        else
            throw RecipeError("Unknown key " + inQuotes(key) +
                              " in the recipe (it has \"plumora-recipe\" and \"steps\").");
    }
    if (!version)
        throw RecipeError(notARecipe);
    const std::string reads = "this Plumora reads version " + std::to_string(Recipe::kVersion) + ".";
    if (version->kind != Json::Kind::Number || std::trunc(version->number) != version->number || version->number < 1)
        throw RecipeError("'plumora-recipe' is the recipe's version, a whole number, not " + shownValue(*version) +
                          "; " + reads);
    if (version->number > Recipe::kVersion)
        throw RecipeError("This recipe is version " + shown(version->text) + "; " + reads);
    if (!steps)
        throw RecipeError("The recipe has no \"steps\".");
    if (steps->kind != Json::Kind::Array)
        throw RecipeError("'steps' takes a list of steps, not " + shownValue(*steps) + ".");
    Recipe recipe;
    recipe.steps.reserve(steps->items.size());
    for (std::size_t i = 0; i < steps->items.size(); ++i)
        recipe.steps.push_back(readStep(i + 1, steps->items[i]));
    return recipe;
}

std::string megabytes(std::uintmax_t bytes)
{
    const std::uintmax_t tenths = (bytes * 10 + (1 << 19)) >> 20;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " MB";
}

std::string tooLarge(std::uintmax_t bytes)
{
    return "A recipe is at most " + megabytes(kMaxRecipeBytes) + " of text; this one is " + megabytes(bytes) +
           ", so it is not one.";
}

// ---------------------------------------------------------------------------
// Writing.

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The shortest decimal that reads back as the same double.
std::string shortestDecimal(double value)
{
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

std::string hexColour(int rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06X", unsigned(rgb) & 0xFFFFFFu);
    return text;
}

const std::string& wordOf(const ParamDeclaration& param, int place, std::size_t step)
{
    if (place < 0 || std::size_t(place) >= param.words.size())
        throw RecipeError("Step " + std::to_string(step) + ": " + std::to_string(place) + " is not a choice for '" +
                          param.key + "'.");
    return param.words[std::size_t(place)];
}

// An effect's parameters as key, value text pairs in declaration order.
// json: as the recipe file writes the values; otherwise as plumora-cli's
// options.
std::vector<std::pair<std::string, std::string>> effectValues(const RecipeEffect& step, std::size_t number, bool json)
{
    std::vector<std::pair<std::string, std::string>> out;
    const EffectDeclaration& effect = *step.effect;
    for (const ParamDeclaration& p : effect.params) {
        if (p.kind == ParamKind::File) {
            if (step.values.hasText(p.key))
                throw RecipeError("Step " + std::to_string(number) + ": " + effect.name + " reads the file '" +
                                  shown(step.values.text(p.key)) +
                                  "', which a recipe cannot name: it would not be there on another computer.");
            continue;
        }
        if (!step.values.has(p.key))
            continue;
        std::string text;
        switch (p.kind) {
        case ParamKind::Number:
        case ParamKind::Slider:
            text = std::to_string(step.values.get(p.key));
            break;
        case ParamKind::Choice:
            text = wordOf(p, step.values.get(p.key), number);
            if (json)
                text = jsonString(text);
            break;
        case ParamKind::Flag:
            text = step.values.flag(p.key) ? "true" : "false";
            if (!json && !step.values.flag(p.key))
                continue;  // an option given or not
            break;
        case ParamKind::Colour:
            text = json ? jsonString(hexColour(step.values.get(p.key))) : hexColour(step.values.get(p.key));
            break;
        case ParamKind::Grid:
        case ParamKind::Steps: {
            const bool words = p.kind == ParamKind::Steps;
            for (const int v : step.values.list(p.key)) {
                const std::string item = words ? wordOf(p, v, number) : std::to_string(v);
                text += (text.empty() ? "" : json ? ", " : ",") + (words && json ? jsonString(item) : item);
            }
            if (json)
                text = "[" + text + "]";
            else if (text.empty())
                continue;  // no steps: the option left out
            break;
        }
        case ParamKind::File:
            break;
        }
        out.emplace_back(p.key, std::move(text));
    }
    return out;
}

void checkEffect(const RecipeEffect& step, std::size_t number)
{
    if (!step.effect || !step.effect->inMenu())
        throw RecipeError("Step " + std::to_string(number) + ": " +
                          (step.effect ? inQuotes(step.effect->name) + " is not an effect of a recipe."
                                       : std::string("an effect step without its effect.")));
    if (step.forCurrent && !recipeTakesForCurrent(*step.effect))
        throw RecipeError("Step " + std::to_string(number) +
                          ": 'for-current' is for color-filter and "
                          "color-variety, not " +
                          step.effect->name + ".");
}

// ---------------------------------------------------------------------------
// Applying.

// The new size of a resize step for a displayed picture of width x height.
std::pair<int, int> newSizeOf(const RecipeResize& resize, int width, int height)
{
    const std::string from = std::to_string(width) + " x " + std::to_string(height);
    const std::string limit = "Plumora handles at most " + std::to_string(kMaxPixels) + " pixels";
    if (!resize.scale) {
        if (resize.width < 1 || resize.height < 1)
            throw PlumoraError("a new size of " + std::to_string(resize.width) + " x " + std::to_string(resize.height) +
                               " pixels is no picture");
        if (std::int64_t(resize.width) * resize.height > kMaxPixels)
            throw ImageTooLargeError("a new size of " + std::to_string(resize.width) + " x " +
                                     std::to_string(resize.height) + " pixels is too large: " + limit);
        return {resize.width, resize.height};
    }
    // As the image size window makes them while "Hold in width and height"
    // is ticked: the width typed, the height following it.
    const double scale = *resize.scale;
    const double w = scale * width;
    const std::string scaled = "scaling the " + from + " picture by " + shortestDecimal(scale);
    if (!(w <= double(kMaxPixels)))
        throw ImageTooLargeError(scaled + " makes it too large: " + limit);
    const std::int64_t newWidth = Round(w);
    const std::int64_t newHeight = newWidth > 0 ? Round(double(newWidth) * height / width) : 0;
    if (newWidth < 1 || newHeight < 1)
        throw PlumoraError(scaled + " leaves " + std::to_string(newWidth) + " x " + std::to_string(newHeight) +
                           " pixels, no picture");
    if (newWidth * newHeight > kMaxPixels)
        throw ImageTooLargeError(scaled + " makes it " + std::to_string(newWidth) + " x " + std::to_string(newHeight) +
                                 " pixels: " + limit);
    return {int(newWidth), int(newHeight)};
}

std::string stepName(const RecipeStep& step)
{
    if (const auto* effect = std::get_if<RecipeEffect>(&step))
        return effect->effect ? effect->effect->name : "effect";
    return std::holds_alternative<RecipeTurn>(step) ? "turn" : "resize";
}

}  // namespace

bool recipeTakesForCurrent(const EffectDeclaration& effect)
{
    return effect.name == "color-filter" || effect.name == "color-variety";
}

Recipe parseRecipe(std::string_view json)
{
    if (json.size() > kMaxRecipeBytes)
        throw RecipeError(tooLarge(json.size()));
    return recipeOf(JsonReader(json).document());
}

std::string recipeJson(const Recipe& recipe)
{
    std::string out = "{\"plumora-recipe\": " + std::to_string(Recipe::kVersion) + ", \"steps\": [";
    for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
        const std::size_t number = i + 1;
        out += i ? ",\n  " : "\n  ";
        const RecipeStep& step = recipe.steps[i];
        if (const auto* turn = std::get_if<RecipeTurn>(&step)) {
            out += std::string("{\"turn\": \"") + (turn->clockwise ? "clockwise" : "anticlockwise") + "\"}";
        } else if (const auto* resize = std::get_if<RecipeResize>(&step)) {
            if (resize->scale) {
                if (!(*resize->scale > 0 && *resize->scale <= double(kMaxPixels)))
                    throw RecipeError("Step " + std::to_string(number) + ": " + shortestDecimal(*resize->scale) +
                                      " is no scale.");
                out += "{\"resize\": {\"scale\": " + shortestDecimal(*resize->scale) + "}}";
            } else {
                out += "{\"resize\": {\"width\": " + std::to_string(resize->width) +
                       ", \"height\": " + std::to_string(resize->height) + "}}";
            }
        } else {
            const auto& effect = std::get<RecipeEffect>(step);
            checkEffect(effect, number);
            out += "{\"effect\": " + jsonString(effect.effect->name);
            for (const auto& [key, value] : effectValues(effect, number, true))
                out += ", " + jsonString(key) + ": " + value;
            if (effect.forCurrent)
                out += ", \"for-current\": true";
            out += "}";
        }
    }
    out += recipe.steps.empty() ? "]}\n" : "\n]}\n";
    return out;
}

Recipe readRecipeFile(const std::string& name)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (!fs::exists(status))
        throw FileReadError(name + ": no such file");
    if (fs::is_directory(status))
        throw FileReadError(name + ": is a folder, not a recipe file");
    if (!fs::is_regular_file(status))
        throw FileReadError(name + ": not a file");
    const std::uintmax_t size = fs::file_size(name, ec);
    if (!ec && size > kMaxRecipeBytes)
        throw RecipeError(name + ": " + tooLarge(size));

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!file)
        throw FileReadError(name + ": " + std::generic_category().message(errno));
    // One byte more than a recipe may have: a file that grew since its size
    // was asked for is refused all the same, never read whole.
    std::string text(kMaxRecipeBytes + 1, '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
    if (std::ferror(file.get()))
        throw FileReadError(name + ": " + std::generic_category().message(EIO));
    if (got > kMaxRecipeBytes)
        throw RecipeError(name + ": " + tooLarge(got));
    text.resize(got);
    try {
        return parseRecipe(text);
    } catch (const RecipeError& e) {
        throw RecipeError(name + ": " + e.what());
    }
}

std::pair<int, int> recipeNewSize(const RecipeResize& resize, int width, int height)
{
    return newSizeOf(resize, width, height);
}

std::vector<std::string> commandLineOptions(const RecipeEffect& step)
{
    checkEffect(step, 1);
    std::vector<std::string> options;
    for (auto& [key, value] : effectValues(step, 1, false)) {
        options.push_back("--" + key);
        if (step.effect->findParam(key)->kind != ParamKind::Flag)
            options.push_back(std::move(value));
    }
    return options;
}

std::string describeRecipe(const Recipe& recipe)
{
    if (recipe.steps.empty())
        return "The recipe has no steps: the picture stays as it is.\n";
    std::string out;
    for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
        const std::size_t number = i + 1;
        out += std::to_string(number) + ". ";
        const RecipeStep& step = recipe.steps[i];
        if (const auto* turn = std::get_if<RecipeTurn>(&step)) {
            out += std::string("turn ") + (turn->clockwise ? "clockwise" : "anticlockwise");
        } else if (const auto* resize = std::get_if<RecipeResize>(&step)) {
            out += resize->scale ? "resize by " + shortestDecimal(*resize->scale) + " (proportions held)"
                                 : "resize to " + std::to_string(resize->width) + " x " +
                                       std::to_string(resize->height) + " pixels";
        } else {
            const auto& effect = std::get<RecipeEffect>(step);
            checkEffect(effect, number);
            out += effect.effect->name;
            for (const auto& [key, value] : effectValues(effect, number, false))
                out += " --" + key + (effect.effect->findParam(key)->kind == ParamKind::Flag ? "" : " " + value);
            if (effect.forCurrent)
                out += " (for current: on the picture as the steps before left it)";
        }
        out += "\n";
    }
    return out;
}

TBitmap32 applyRecipe(const Recipe& recipe, const TBitmap32& picture, EffectContext& context)
{
    // The document's two pictures: effects read the source and write the
    // displayed one; turns and resizes change both. Until the first effect
    // they are one picture (the document shares one block), and that is the
    // caller's picture until the first step makes a new one: no step copies.
    std::optional<TBitmap32> source;     // none: the caller's picture
    std::optional<TBitmap32> displayed;  // none: the source itself
    const auto sourceNow = [&]() -> const TBitmap32& { return source ? *source : picture; };
    const auto displayedNow = [&]() -> const TBitmap32& { return displayed ? *displayed : sourceNow(); };

    // After the last effect that reads the source, nothing reads it again:
    // its turns and resizes are left out.
    std::size_t sourceRead = 0;  // steps before this one may still need it
    for (std::size_t i = 0; i < recipe.steps.size(); ++i)
        if (const auto* effect = std::get_if<RecipeEffect>(&recipe.steps[i]); effect && !effect->forCurrent)
            sourceRead = i + 1;

    for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
        const RecipeStep& step = recipe.steps[i];
        const bool sourceNeeded = i + 1 < sourceRead;
        try {
            if (const auto* turn = std::get_if<RecipeTurn>(&step)) {
                const auto turned = [&](const TBitmap32& p) {
                    return turn->clockwise ? rotateClockwise(p) : rotateAnticlockwise(p);
                };
                if (!displayed) {
                    source = turned(sourceNow());
                } else {
                    TBitmap32 newDisplayed = turned(*displayed);
                    if (sourceNeeded)
                        source = turned(sourceNow());
                    displayed = std::move(newDisplayed);
                }
            } else if (const auto* resize = std::get_if<RecipeResize>(&step)) {
                const TBitmap32& current = displayedNow();
                const auto [width, height] = newSizeOf(*resize, current.width(), current.height());
                if (!displayed) {
                    source = stretchTo(current, width, height);
                } else {
                    TBitmap32 newDisplayed = stretchTo(current, width, height);
                    if (sourceNeeded) {
                        // The source follows by the same factors; it has the
                        // displayed picture's size, unless an effect changed it.
                        const TBitmap32& from = sourceNow();
                        if (from.width() == current.width() && from.height() == current.height())
                            source = stretchTo(from, width, height);
                        else
                            source = stretchTo(from, stretchedSide(from.width(), double(width) / current.width()),
                                               stretchedSide(from.height(), double(height) / current.height()));
                    }
                    displayed = std::move(newDisplayed);
                }
            } else {
                const auto& effect = std::get<RecipeEffect>(step);
                checkEffect(effect, i + 1);
                displayed =
                    effect.effect->apply(effect.forCurrent ? displayedNow() : sourceNow(), effect.values, context);
            }
        } catch (const RecipeError&) {
            throw;
        } catch (const PlumoraError& e) {
            throw RecipeError("Step " + std::to_string(i + 1) + " (" + stepName(step) + "): " + withStop(e.what()));
        }
    }
    if (displayed)
        return std::move(*displayed);
    if (source)
        return std::move(*source);
    return picture;
}

}  // namespace plumora
