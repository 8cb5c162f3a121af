#pragma once

#include <QList>
#include <QString>

class QAction;
class QMenuBar;

namespace plumora {

// The text a menu shows for an action's text: "&&" as one ampersand, the
// mnemonic's "&" left out.
QString shownMenuText(const QString& text);

// The letter an action's text underlines (upper case), or a null QChar.
QChar mnemonicOf(const QString& text);

// Gives every action that has none an underlined letter that no other action
// of the list has: the first letter of a word (a capital inside a word
// starts one too) where it is free, else any free letter or digit, in the
// order of the list. Actions that have one keep it; separators are skipped.
void giveMnemonics(const QList<QAction*>& actions);

// The same for the menu bar's titles and then for every item of every
// menu on it, submenus included.
void giveMnemonics(QMenuBar* menuBar);

}  // namespace plumora
