#pragma once

#include "document/recipe.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace plumora {

class Document;

// The plumora-cli command that makes from input what the recipe makes, into
// output: the effect's own command for a recipe of one effect, "convert"
// for none, "recipe --json" for the others. Arguments are quoted for a POSIX
// shell where they need it.
QString commandFor(const Recipe& recipe, const QString& input, const QString& output);

// Quotes an argument for a POSIX shell, when it holds anything but letters,
// digits and -_./,:=+@%.
QString shellQuoted(const QString& argument);

// Applies the recipe to the document's picture, one history step per
// operation with the labels the same commands give in the window (an effect
// run from its window, a quarter turn, a new size); effects on the displayed
// picture ("for-current") read that picture. runLong runs each effect's
// computing (the desktop program: beside the windows, Esc stopping it).
// A step that fails stops there: the steps before it stay, each undoable.
void applyRecipeTo(Document& document, const Recipe& recipe,
                   const std::function<void(const std::function<void()>&)>& runLong);

}  // namespace plumora
