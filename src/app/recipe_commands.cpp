#include "app/recipe_commands.h"

#include "document/document.h"
#include "raster/rounding.h"

#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace plumora {

namespace {

std::string hexColour(int rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06X", unsigned(rgb) & 0xFFFFFFu);
    return text;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& part : parts)
        all += (all.empty() ? "" : ",") + part;
    return all;
}

// A parameter's value as the command line writes it; nothing for a flag
// that is off (its option is left out).
std::optional<std::string> optionValue(const ParamDeclaration& p, const std::vector<int>& v)
{
    std::vector<std::string> parts;
    switch (p.kind) {
    case ParamKind::Flag:
        return std::nullopt;
    case ParamKind::Choice:
        return p.words.at(std::size_t(v.at(0)));
    case ParamKind::Steps:
        for (const int place : v)
            parts.push_back(p.words.at(std::size_t(place)));
        return joined(parts);
    case ParamKind::Grid:
        for (const int n : v)
            parts.push_back(std::to_string(n));
        return joined(parts);
    case ParamKind::Colour:
        return hexColour(v.at(0));
    case ParamKind::Number:
    case ParamKind::Slider:
    case ParamKind::File:
        break;
    }
    return std::to_string(v.at(0));
}

}  // namespace

std::vector<std::string> commandLineOptions(const EffectDeclaration& effect, const ParamValues& values)
{
    std::vector<std::string> options;
    for (const ParamDeclaration& p : effect.params) {
        if (p.kind == ParamKind::File || !values.has(p.key))
            continue;
        const std::vector<int>& v = values.list(p.key);
        if (p.kind == ParamKind::Flag) {
            if (!v.empty() && v.front() != 0)
                options.push_back("--" + p.key);
            continue;
        }
        if (const std::optional<std::string> text = optionValue(p, v)) {
            options.push_back("--" + p.key);
            options.push_back(*text);
        }
    }
    return options;
}

QString shellQuoted(const QString& argument)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./,:=+@%-]+$"));
    if (plain.match(argument).hasMatch())
        return argument;
    QString quoted = argument;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString commandFor(const Recipe& recipe, const QString& input, const QString& output)
{
    QStringList words{QStringLiteral("plumora-cli")};
    const auto* only = recipe.steps.size() == 1 ? std::get_if<RecipeEffect>(&recipe.steps.front()) : nullptr;
    if (recipe.steps.empty()) {
        words << QStringLiteral("convert");
    } else if (only && !only->forCurrent) {
        words << QString::fromStdString(only->effect->name);
        for (const std::string& option : commandLineOptions(*only->effect, only->values))
            words << shellQuoted(QString::fromStdString(option));
    } else {
        words << QStringLiteral("recipe") << QStringLiteral("--json")
              << shellQuoted(QString::fromStdString(recipeJson(recipe)));
    }
    words << shellQuoted(input) << shellQuoted(output);
    return words.join(u' ');
}

void applyRecipeTo(Document& document, const Recipe& recipe,
                   const std::function<void(const std::function<void()>&)>& runLong)
{
    for (const RecipeStep& step : recipe.steps) {
        if (const auto* turn = std::get_if<RecipeTurn>(&step)) {
            document.rotate(turn->clockwise);
        } else if (const auto* resize = std::get_if<RecipeResize>(&step)) {
            int width = resize->width, height = resize->height;
            if (resize->scale) {
                // As the image size dialog makes them with the proportions held.
                const TBitmap32& p = document.displayed();
                const double scaled = *resize->scale * p.width();
                if (!(scaled > 0 && scaled < 1e9))
                    throw RecipeError("The recipe's new size is out of range for this picture.");
                width = int(Round(scaled));
                const double tall = double(width) * p.height() / p.width();
                if (!(tall < 1e9))
                    throw RecipeError("The recipe's new size is out of range for this picture.");
                height = int(Round(tall));
            }
            if (width <= 0 || height <= 0)
                throw RecipeError("The recipe's new size is too small for this picture.");
            document.resizePictures(width, height, resize->scale.has_value());
        } else {
            const auto& made = std::get<RecipeEffect>(step);
            const EffectDeclaration& effect = *made.effect;
            if (made.forCurrent) {
                TBitmap32 result;
                runLong([&] {
                    EffectContext context = document.effectContext();
                    result = effect.apply(document.displayed(), made.values, context);
                });
                document.applyResult(std::move(result), effect.labelFor(made.values), made);
            } else {
                std::optional<Document::EffectRun> run;
                document.givingBackHistory([&] { runLong([&] { run = document.runEffect(effect, made.values); }); });
                document.commitEffect(std::move(*run));
            }
        }
    }
}

}  // namespace plumora
