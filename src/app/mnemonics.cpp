#include "app/mnemonics.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSet>

#include <functional>
#include <optional>
#include <vector>

namespace plumora {

namespace {

// A character of the shown text and where it stands in the action's text.
struct Shown {
    QChar c;
    qsizetype at;
};

std::vector<Shown> shownCharacters(const QString& text)
{
    std::vector<Shown> shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&')
                shown.push_back({u'&', i++});
            continue;  // a lone "&" marks the mnemonic: it shows nothing
        }
        shown.push_back({text[i], i});
    }
    return shown;
}

}  // namespace

QString shownMenuText(const QString& text)
{
    QString shown;
    for (const Shown& s : shownCharacters(text))
        shown += s.c;
    return shown;
}

QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toUpper();
        ++i;
    }
    return {};
}

void giveMnemonics(const QList<QAction*>& actions)
{
    QSet<QChar> used;
    for (const QAction* action : actions)
        if (const QChar c = mnemonicOf(action->text()); !c.isNull())
            used.insert(c);
    for (QAction* action : actions) {
        if (action->isSeparator() || !mnemonicOf(action->text()).isNull())
            continue;
        const QString text = action->text();
        const std::vector<Shown> shown = shownCharacters(text);
        auto wordStart = [&](std::size_t i) {
            const QChar c = shown[i].c;
            return i == 0 || !shown[i - 1].c.isLetterOrNumber() || (c.isUpper() && shown[i - 1].c.isLower());
        };
        std::optional<qsizetype> chosen;
        for (int pass = 0; pass < 2 && !chosen; ++pass)
            for (std::size_t i = 0; i < shown.size() && !chosen; ++i) {
                const QChar c = shown[i].c;
                if (c.isLetterOrNumber() && c.unicode() < 128 && !used.contains(c.toUpper()) &&
                    (pass == 1 || wordStart(i)))
                    chosen = shown[i].at;
            }
        if (!chosen)
            continue;  // every letter taken: the item is still reached with the arrows
        used.insert(text[*chosen].toUpper());
        action->setText(QString(text).insert(*chosen, u'&'));
    }
}

void giveMnemonics(QMenuBar* menuBar)
{
    giveMnemonics(menuBar->actions());
    const std::function<void(QMenu*)> items = [&](QMenu* menu) {
        giveMnemonics(menu->actions());
        for (QAction* action : menu->actions())
            if (action->menu())
                items(action->menu());
    };
    for (QAction* action : menuBar->actions())
        if (action->menu())
            items(action->menu());
}

}  // namespace plumora
