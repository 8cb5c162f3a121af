#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "raster/bitmap32.h"
#include "raster/errors.h"

namespace plumora {

// What kind of value a parameter takes on the command line.
enum class ParamKind {
    Integer,  // --name N, a whole number in [min, max]
    Flag,     // --name, no value
    Choice,   // --name WORD, one of choices
};

struct ParamSpec {
    std::string name;     // as on the command line, without the dashes
    std::string caption;  // what the dialog calls it
    ParamKind kind = ParamKind::Integer;
    int min = 0;
    int max = 0;
    // The dialog's default. A parameter without one (optional) is taken from
    // the picture when it is not given; the effect says how.
    std::optional<int> defaultValue;
    std::vector<std::string> choices;  // Choice only; defaultValue indexes it
};

// A parameter value that is not acceptable: the message names it.
class ParamError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// The parameters of one run, checked against their declarations.
class ParamValues {
public:
    bool has(std::string_view name) const { return m_values.find(std::string(name)) != m_values.end(); }
    // The value of an Integer (or the index of a Choice); a Flag gives 1 when set.
    int get(std::string_view name) const;
    bool flag(std::string_view name) const { return has(name); }
    void set(std::string_view name, int value) { m_values[std::string(name)] = value; }

private:
    std::map<std::string, int> m_values;
};

struct EffectSpec {
    std::string name;     // the command, e.g. "pen-sketch"
    std::string summary;  // one line for --list
    std::vector<ParamSpec> params;
    std::function<TBitmap32(const TBitmap32&, const ParamValues&)> apply;
    // Checks a combination of values before any file is read (may be empty);
    // throws ParamError.
    std::function<void(const ParamValues&)> validate;

    const ParamSpec* findParam(std::string_view paramName) const;
    // The defaults of every parameter that has one.
    ParamValues defaults() const;
};

// Every effect plumora-cli offers, in menu order.
const std::vector<EffectSpec>& effectRegistry();
const EffectSpec* findEffect(std::string_view name);

// Converts the command-line text of a value, checking kind and range.
// Throws ParamError: "'abc' is not a valid integer value", "300 is out of
// range for --pressure (0..255)", ...
int parseParamValue(const ParamSpec& param, std::string_view text);

// A one-line description of a parameter's values: "0..255, default 128".
std::string describeValues(const ParamSpec& param);

}  // namespace plumora
