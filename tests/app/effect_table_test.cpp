// Every effect of the effects table, through its real window and through
// plumora-cli: the menu item opens a window whose controls are the ones its
// layout names, with the declaration's ranges and defaults, and the
// window's apply button gives the picture that plumora-cli gives for the
// same values. An effect added to the table is tested here without a line
// more.

#include "app/mnemonics.h"
#include "app/main_window.h"
#include "effects/effects.h"
#include "formats/picture_file.h"
#include "support/main_window_fixture.h"
#include "support/tab_order.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace plumora;

Q_DECLARE_METATYPE(const EffectDeclaration*)

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// A value of a slider other than its default, away from both ends.
int otherPosition(const ParamDeclaration& p)
{
    const int third = p.min + (p.max - p.min) / 3;
    return third != *p.defaultValue ? third : third + 1;
}

}  // namespace

class EffectTableTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    template <class W>
    W* control(QWidget* dialog, const std::string& name)
    {
        W* w = dialog->findChild<W*>(qs(name));
        if (!w)
            qFatal("%s has no control %s", qPrintable(dialog->objectName()), name.c_str());
        return w;
    }

    EffectDialog* openFromMenu(const EffectWindow& w)
    {
        auto* item = m_main->mainMenu->findChild<QAction*>(qs(w.menuItem));
        if (!item)
            qFatal("no menu item %s", w.menuItem.c_str());
        item->trigger();
        return m_main->effectDialog(w.id);
    }

    // The window shows every control of its layout, with the declaration's
    // ranges and defaults.
    void verifyControls(EffectDialog* d, const EffectDeclaration& e, const EffectWindow& w)
    {
        for (const ParamDeclaration& p : e.params) {
            const ParamLayout* layout = w.findParam(p.key);
            if (!layout)
                continue;
            const ParamLayout& l = *layout;
            if (l.drawnByWindow) {
                // Swatches of the window's own, with their hints.
                for (std::size_t i = 0; i < l.controls.size(); ++i)
                    QCOMPARE(control<QWidget>(d, l.controls[i])->toolTip(), qs(l.captions[i]));
                continue;
            }
            switch (p.kind) {
            case ParamKind::Slider: {
                auto* bar = control<QSlider>(d, l.controls[0]);
                QCOMPARE(bar->minimum(), p.min);
                QCOMPARE(bar->maximum(), p.max);
                QCOMPARE(bar->value(), *p.defaultValue);
                QCOMPARE(bar->pageStep(), l.pageStep);
                QCOMPARE(bar->tickInterval(), l.tickInterval);
                QCOMPARE(control<QLabel>(d, l.captionLabel)->text(), qs(p.caption + ":"));
                QCOMPARE(control<QLabel>(d, l.valueLabel)->text(), qs(l.initialText(p)));
                break;
            }
            case ParamKind::Choice:
                if (!l.captionLabel.empty())
                    QCOMPARE(control<QLabel>(d, l.captionLabel)->text(), qs(l.labelText(p)));
                for (std::size_t i = 0; i < l.controls.size(); ++i) {
                    auto* button = control<QRadioButton>(d, l.controls[i]);
                    QCOMPARE(button->text(), qs(l.captions[i]));
                    QCOMPARE(button->isChecked(), p.defaultValue == int(i));
                }
                break;
            case ParamKind::Flag: {
                auto* box = control<QCheckBox>(d, l.controls[0]);
                QCOMPARE(box->text(), qs(p.caption));
                QCOMPARE(box->isChecked(), p.defaultValue.value_or(0) != 0);
                break;
            }
            case ParamKind::Grid:
                if (!l.captionLabel.empty())
                    QCOMPARE(control<QLabel>(d, l.captionLabel)->text(), qs(l.labelText(p)));
                for (std::size_t i = 0; i < l.controls.size(); ++i) {
                    auto* box = control<QLineEdit>(d, l.controls[i]);
                    QCOMPARE(box->text(), QString::number(p.defaultGrid[i]));
                    QCOMPARE(box->toolTip(), qs(l.hint));
                }
                break;
            case ParamKind::Colour:
                QCOMPARE(control<QWidget>(d, l.controls[0])->toolTip(), qs(l.hint));
                break;
            case ParamKind::Number:
            case ParamKind::File:
            case ParamKind::Steps:
                break;
            }
        }
        for (const ApplyButton& b : w.buttons) {
            auto* button = control<QPushButton>(d, b.objectName);
            QCOMPARE(button->text(), qs(b.caption));
            QCOMPARE(button->toolTip(), qs(b.hint));
        }
        QCOMPARE(d->findChild<QToolButton*>(QStringLiteral("Button2")) != nullptr, w.colorUp);
        for (std::size_t i = 1; i < w.tabOrder.size(); ++i)
            QCOMPARE(test::nextTabStop(control<QWidget>(d, w.tabOrder[i - 1])), control<QWidget>(d, w.tabOrder[i]));
    }

    // Sets every parameter to another value than its default, moving the
    // alternative `active` last, and gives the command line's options for
    // the same values.
    QStringList changeEverything(EffectDialog* d, const EffectDeclaration& e, const std::string& active)
    {
        const EffectWindow& w = *findWindow(e.name);
        QStringList options;
        for (const ParamDeclaration& p : e.params) {
            if (e.isAlternative(p.key) && p.key != active)
                continue;
            const ParamLayout* layout = w.findParam(p.key);
            if (!layout)
                continue;  // typed on the command line only, or read by the window itself
            const ParamLayout& l = *layout;
            const QString option = QStringLiteral("--") + qs(p.key);
            switch (p.kind) {
            case ParamKind::Slider: {
                const int v = otherPosition(p);
                control<QSlider>(d, l.controls[0])->setValue(v);
                options << option << QString::number(v);
                break;
            }
            case ParamKind::Choice: {
                const std::size_t last = l.controls.size() - 1;
                QTest::mouseClick(control<QWidget>(d, l.controls[last]), Qt::LeftButton);
                options << option << qs(p.words[last]);
                break;
            }
            case ParamKind::Steps: {
                // The last swatch, then the first, then the last again.
                const std::size_t last = l.controls.size() - 1;
                for (std::size_t i : {last, std::size_t(0), last})
                    QTest::mouseClick(control<QWidget>(d, l.controls[i]), Qt::LeftButton);
                options << option << qs(p.words[last] + "," + p.words[0] + "," + p.words[last]);
                break;
            }
            case ParamKind::Flag: {
                auto* box = control<QCheckBox>(d, l.controls[0]);
                QTest::mouseClick(box, Qt::LeftButton);
                if (box->isChecked())
                    options << option;
                break;
            }
            case ParamKind::Grid: {
                QStringList numbers;
                for (std::size_t i = 0; i < l.controls.size(); ++i) {
                    const QString n = QString::number(int(i % 3) - 1);
                    control<QLineEdit>(d, l.controls[i])->setText(n);
                    numbers << n;
                }
                options << option << numbers.join(u',');
                break;
            }
            case ParamKind::Colour:
                d->setColourChooser([](const QColor&, QWidget*) { return QColor(0x12, 0x80, 0xF0); });
                QTest::mouseClick(control<QWidget>(d, l.controls[0]), Qt::LeftButton);
                options << option << QStringLiteral("1280F0");
                break;
            case ParamKind::Number:
            case ParamKind::File:
                break;
            }
        }
        return options;
    }

    // plumora-cli's picture for the source picture with these options.
    TBitmap32 fromCli(const std::string& effect, const QStringList& options)
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bmp")), out = dir.filePath(QStringLiteral("out.bmp"));
        savePicture(doc().source(), in.toStdString());
        QProcess cli;
        cli.start(QStringLiteral(PLUMORA_CLI), QStringList{qs(effect)} + options + QStringList{in, out});
        if (!cli.waitForFinished(-1) || cli.exitCode() != 0)
            qFatal("plumora-cli failed: %s", cli.readAllStandardError().constData());
        return readAnyPicture(out.toStdString());
    }

    // The displayed picture as a 24-bit file keeps it: the fourth bytes do not count.
    static TBitmap32 opaque(TBitmap32 picture)
    {
        FillAlpha(picture, 255);
        return picture;
    }

private slots:
    void init() { openWindows(); }

    void cleanup() { closeWindows(); }

    void windowMatchesItsDeclarationAndGivesTheCommandLinesPicture_data()
    {
        QTest::addColumn<const EffectDeclaration*>("effect");
        QTest::addColumn<QString>("active");
        QTest::addColumn<bool>("changed");
        for (const EffectDeclaration& e : effectTable()) {
            const EffectWindow* w = findWindow(e.name);
            if (!w)
                continue;
            QTest::addRow("%s, defaults", e.name.c_str()) << &e << QString() << false;
            // One row for each alternative the window has controls for.
            std::vector<std::string> shown;
            for (const std::string& a : e.alternatives)
                if (w->findParam(a))
                    shown.push_back(a);
            if (shown.empty())
                QTest::addRow("%s, changed", e.name.c_str()) << &e << QString() << true;
            for (const std::string& a : shown)
                QTest::addRow("%s, changed, --%s", e.name.c_str(), a.c_str()) << &e << qs(a) << true;
        }
    }

    void windowMatchesItsDeclarationAndGivesTheCommandLinesPicture()
    {
        QFETCH(const EffectDeclaration*, effect);
        QFETCH(QString, active);
        QFETCH(bool, changed);
        const EffectDeclaration& e = *effect;
        const EffectWindow& w = *findWindow(e.name);

        // Its menu item, in its menu.
        auto* item = m_main->mainMenu->findChild<QAction*>(qs(w.menuItem));
        QVERIFY(item);
        QCOMPARE(shownMenuText(item->text()), qs(e.menuText));
        QVERIFY(item->associatedObjects().contains(m_main->mainMenu->findChild<QMenu*>(menuObjectName(e.menu))));

        EffectDialog* d = openFromMenu(w);
        QVERIFY(d->isVisible());
        QCOMPARE(doc().openDialog(), w.id);
        QCOMPARE(d->objectName(), qs(w.className));
        QCOMPARE(d->windowTitle(), qs(w.caption));
        // The declared size; wider only where a caption needs it.
        if (w.height > 0)
            QCOMPARE(d->height(), w.height);
        QVERIFY(d->width() >= w.width);

        verifyControls(d, e, w);

        // A window without buttons applies as its choice is made.
        const bool atOnce = w.buttons.empty();
        const int steps = doc().undoCount();
        const QStringList options =
            changed ? changeEverything(d, e, active.isEmpty() ? std::string() : active.toStdString()) : QStringList();
        if (atOnce && !changed) {
            QCOMPARE(doc().undoCount(), steps);  // nothing is chosen yet
            return;
        }
        if (!atOnce)
            QTest::mouseClick(control<QPushButton>(d, w.buttons.front().objectName), Qt::LeftButton);
        QVERIFY(m_messages.empty());
        QCOMPARE(doc().undoCount(), steps + 1);
        if (const auto label = e.labelFor(d->values()))
            QCOMPARE(m_main->operationLabel->text(), qs(*label));
        // A command line that must name a value the window leaves unchosen
        // has no picture to compare with.
        bool cliTakesDefaults = true;
        try {
            e.parse({});
        } catch (const ParamError&) {
            cliTakesDefaults = false;
        }
        if (changed || cliTakesDefaults)
            QVERIFY(opaque(doc().displayed()) == fromCli(e.name, options));
    }

    // Opened from its menu item, a window takes the keyboard at once: Enter
    // typed next goes to it and applies, Esc closes it, with no click into
    // it first.
    void openingAWindowGivesItTheKeyboard_data()
    {
        QTest::addColumn<const EffectWindow*>("window");
        for (const EffectWindow& w : effectWindows())
            QTest::addRow("%s", w.command.c_str()) << &w;
    }

    void openingAWindowGivesItTheKeyboard()
    {
        QFETCH(const EffectWindow*, window);
        const EffectWindow& w = *window;
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        EffectDialog* d = openFromMenu(w);
        QTRY_COMPARE(QApplication::activeWindow(), d);
        // Typed keys go to the focus widget, or to the active window.
        const auto typed = [d] { return QApplication::focusWidget() ? QApplication::focusWidget() : d; };
        QVERIFY(typed()->window() == d);
        const int steps = doc().undoCount();
        QTest::keyClick(typed(), Qt::Key_Return);
        QVERIFY(m_messages.empty());
        QCOMPARE(doc().undoCount(), w.buttons.empty() ? steps : steps + 1);
        if (d->isVisible()) {
            QTest::keyClick(typed(), Qt::Key_Escape);
            QVERIFY(!d->isVisible());
        }
    }

    void enterPressesTheFirstButtonAndEscCloses_data()
    {
        QTest::addColumn<const EffectWindow*>("window");
        QTest::addColumn<int>("key");
        for (const EffectWindow& w : effectWindows()) {
            QTest::addRow("%s, Return", w.command.c_str()) << &w << int(Qt::Key_Return);
            QTest::addRow("%s, keypad Enter", w.command.c_str()) << &w << int(Qt::Key_Enter);
        }
    }

    void enterPressesTheFirstButtonAndEscCloses()
    {
        QFETCH(const EffectWindow*, window);
        QFETCH(int, key);
        const EffectWindow& w = *window;
        const EffectDeclaration& e = *findEffect(w.command);
        EffectDialog* d = openFromMenu(w);
        d->activateWindow();
        // The window system says so first, the application a moment later.
        QVERIFY(QTest::qWaitForWindowActive(d));
        QTRY_VERIFY(d->isActiveWindow());
        // A click inside the window, away from its controls, as a user gives
        // it the keyboard.
        QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(2, d->height() - 2));
        QVERIFY(d->isActiveWindow());
        const int steps = doc().undoCount();
        const TBitmap32 before = doc().displayed();
        const std::optional<std::string> label = e.labelFor(d->values());
        QTest::keyClick(d, Qt::Key(key));
        QVERIFY(m_messages.empty());
        if (w.buttons.empty()) {
            // A window that applies as its choice is made has nothing for
            // Enter to press: the picture, the history and the window stay.
            QCOMPARE(doc().undoCount(), steps);
            QVERIFY(doc().displayed() == before);
            QVERIFY(d->isVisible());
        } else {
            // As a click on the first button: one step, under its label.
            QCOMPARE(doc().undoCount(), steps + 1);
            if (label)
                QCOMPARE(m_main->operationLabel->text(), qs(*label));
        }
        // A window that closes itself after its apply has closed already.
        if (d->isVisible()) {
            QCOMPARE(doc().openDialog(), w.id);
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY(!d->isVisible());
        }
        QCOMPARE(doc().openDialog(), EffectDialogId::None);
        QVERIFY(m_messages.empty());
    }
};

QTEST_MAIN(EffectTableTest)
#include "effect_table_test.moc"
