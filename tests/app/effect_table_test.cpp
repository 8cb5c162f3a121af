// Every effect of the effects table, through its real window and through
// plumora-cli: the menu item opens a window whose controls are the ones the
// declaration names, with its captions, ranges and defaults, and the
// window's apply button gives the picture that plumora-cli gives for the
// same values. An effect added to the table is tested here without a line
// more.

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

    EffectDialog* openFromMenu(const EffectDeclaration& e)
    {
        auto* item = m_main->mainMenu->findChild<QAction*>(qs(e.window.menuItem));
        if (!item)
            qFatal("no menu item %s", e.window.menuItem.c_str());
        item->trigger();
        return m_main->effectDialog(e.window.id);
    }

    // The window shows every control of the declaration, as declared.
    void verifyControls(EffectDialog* d, const EffectDeclaration& e)
    {
        for (const ParamDeclaration& p : e.params) {
            if (p.drawnByWindow) {
                // Swatches of the window's own, with their hints.
                for (std::size_t i = 0; i < p.controls.size(); ++i)
                    QCOMPARE(control<QWidget>(d, p.controls[i])->toolTip(), qs(p.captions[i]));
                continue;
            }
            switch (p.kind) {
            case ParamKind::Slider: {
                auto* bar = control<QSlider>(d, p.controls[0]);
                QCOMPARE(bar->minimum(), p.min);
                QCOMPARE(bar->maximum(), p.max);
                QCOMPARE(bar->value(), *p.defaultValue);
                QCOMPARE(bar->pageStep(), p.pageStep);
                QCOMPARE(bar->tickInterval(), p.tickInterval);
                QCOMPARE(control<QLabel>(d, p.captionLabel)->text(), qs(p.caption));
                QCOMPARE(control<QLabel>(d, p.valueLabel)->text(), qs(p.initialText()));
                break;
            }
            case ParamKind::Choice:
                if (!p.captionLabel.empty())
                    QCOMPARE(control<QLabel>(d, p.captionLabel)->text(), qs(p.caption));
                for (std::size_t i = 0; i < p.controls.size(); ++i) {
                    auto* button = control<QRadioButton>(d, p.controls[i]);
                    QCOMPARE(button->text(), qs(p.captions[i]));
                    QCOMPARE(button->isChecked(), p.defaultValue == int(i));
                }
                break;
            case ParamKind::Flag: {
                auto* box = control<QCheckBox>(d, p.controls[0]);
                QCOMPARE(box->text(), qs(p.caption));
                QCOMPARE(box->isChecked(), p.defaultValue.value_or(0) != 0);
                break;
            }
            case ParamKind::Grid:
                for (std::size_t i = 0; i < p.controls.size(); ++i) {
                    auto* box = control<QLineEdit>(d, p.controls[i]);
                    QCOMPARE(box->text(), QString::number(p.defaultGrid[i]));
                    QCOMPARE(box->toolTip(), qs(p.hint));
                }
                break;
            case ParamKind::Colour:
                QCOMPARE(control<QWidget>(d, p.controls[0])->toolTip(), qs(p.hint));
                break;
            case ParamKind::Number:
            case ParamKind::File:
            case ParamKind::Steps:
                break;
            }
        }
        for (const ApplyButton& b : e.window.buttons) {
            auto* button = control<QPushButton>(d, b.objectName);
            QCOMPARE(button->text(), qs(b.caption));
            QCOMPARE(button->toolTip(), qs(b.hint));
        }
        QCOMPARE(d->findChild<QToolButton*>(QStringLiteral("Button2")) != nullptr, e.window.colorUp);
        for (std::size_t i = 1; i < e.window.tabOrder.size(); ++i)
            QCOMPARE(test::nextTabStop(control<QWidget>(d, e.window.tabOrder[i - 1])),
                     control<QWidget>(d, e.window.tabOrder[i]));
    }

    // Sets every parameter to another value than its default, moving the
    // alternative `active` last, and gives the command line's options for
    // the same values.
    QStringList changeEverything(EffectDialog* d, const EffectDeclaration& e, const std::string& active)
    {
        QStringList options;
        for (const ParamDeclaration& p : e.params) {
            if (e.isAlternative(p.key) && p.key != active)
                continue;
            const QString option = QStringLiteral("--") + qs(p.key);
            switch (p.kind) {
            case ParamKind::Slider: {
                const int v = otherPosition(p);
                control<QSlider>(d, p.controls[0])->setValue(v);
                options << option << QString::number(v);
                break;
            }
            case ParamKind::Choice: {
                const std::size_t last = p.controls.size() - 1;
                QTest::mouseClick(control<QWidget>(d, p.controls[last]), Qt::LeftButton);
                options << option << qs(p.words[last]);
                break;
            }
            case ParamKind::Steps: {
                // The last swatch, then the first, then the last again.
                const std::size_t last = p.controls.size() - 1;
                for (std::size_t i : {last, std::size_t(0), last})
                    QTest::mouseClick(control<QWidget>(d, p.controls[i]), Qt::LeftButton);
                options << option << qs(p.words[last] + "," + p.words[0] + "," + p.words[last]);
                break;
            }
            case ParamKind::Flag: {
                auto* box = control<QCheckBox>(d, p.controls[0]);
                QTest::mouseClick(box, Qt::LeftButton);
                if (box->isChecked())
                    options << option;
                break;
            }
            case ParamKind::Grid: {
                QStringList numbers;
                for (std::size_t i = 0; i < p.controls.size(); ++i) {
                    const QString n = QString::number(int(i % 3) - 1);
                    control<QLineEdit>(d, p.controls[i])->setText(n);
                    numbers << n;
                }
                options << option << numbers.join(u',');
                break;
            }
            case ParamKind::Colour:
                d->setColourChooser([](const QColor&, QWidget*) { return QColor(0x12, 0x80, 0xF0); });
                QTest::mouseClick(control<QWidget>(d, p.controls[0]), Qt::LeftButton);
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
            if (!e.hasDialog())
                continue;
            QTest::addRow("%s, defaults", e.name.c_str()) << &e << QString() << false;
            // One row for each alternative the window has controls for.
            std::vector<std::string> shown;
            for (const std::string& a : e.alternatives)
                if (!e.findParam(a)->controls.empty())
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

        // Its menu item, in its menu.
        auto* item = m_main->mainMenu->findChild<QAction*>(qs(e.window.menuItem));
        QVERIFY(item);
        QCOMPARE(item->text(), qs(e.window.menuText).replace(u'&', QStringLiteral("&&")));
        const char* menuName = nullptr;
        for (const EffectMenuInfo& m : effectMenus())
            if (m.menu == e.window.menu)
                menuName = m.objectName;
        QVERIFY(item->associatedObjects().contains(m_main->mainMenu->findChild<QMenu*>(menuName)));

        EffectDialog* d = openFromMenu(e);
        QVERIFY(d->isVisible());
        QCOMPARE(d->objectName(), qs(e.window.className));
        QCOMPARE(d->windowTitle(), qs(e.window.caption));
        // The declared size; wider only where a caption needs it.
        if (e.window.height > 0)
            QCOMPARE(d->height(), e.window.height);
        QVERIFY(d->width() >= e.window.width);

        verifyControls(d, e);

        // A window without buttons applies as its choice is made.
        const bool atOnce = e.window.buttons.empty();
        const int steps = doc().undoCount();
        const QStringList options =
            changed ? changeEverything(d, e, active.isEmpty() ? std::string() : active.toStdString()) : QStringList();
        if (atOnce && !changed) {
            QCOMPARE(doc().undoCount(), steps);  // nothing is chosen yet
            return;
        }
        if (!atOnce)
            QTest::mouseClick(control<QPushButton>(d, e.window.buttons.front().objectName), Qt::LeftButton);
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

    void enterPressesTheFirstButtonAndEscCloses_data()
    {
        QTest::addColumn<const EffectDeclaration*>("effect");
        QTest::addColumn<int>("key");
        for (const EffectDeclaration& e : effectTable()) {
            if (!e.hasDialog())
                continue;
            QTest::addRow("%s, Return", e.name.c_str()) << &e << int(Qt::Key_Return);
            QTest::addRow("%s, keypad Enter", e.name.c_str()) << &e << int(Qt::Key_Enter);
        }
    }

    void enterPressesTheFirstButtonAndEscCloses()
    {
        QFETCH(const EffectDeclaration*, effect);
        QFETCH(int, key);
        const EffectDeclaration& e = *effect;
        EffectDialog* d = openFromMenu(e);
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
        if (e.window.buttons.empty()) {
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
            QCOMPARE(doc().openDialog(), e.window.id);
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY(!d->isVisible());
        }
        QCOMPARE(doc().openDialog(), EffectDialogId::None);
        QVERIFY(m_messages.empty());
    }
};

QTEST_MAIN(EffectTableTest)
#include "effect_table_test.moc"
