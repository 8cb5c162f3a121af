#include "app/recipe_commands.h"

#include "document/document.h"

#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace plumora {

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
        for (const std::string& option : commandLineOptions(*only))
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
            // As plumora-cli sizes it: the same rounding, the same limits.
            const TBitmap32& p = document.displayed();
            const auto [width, height] = recipeNewSize(*resize, p.width(), p.height());
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
