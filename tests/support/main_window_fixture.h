#pragma once

#include "app/application.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "formats/picture_file.h"
#include "support/pictures.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>
#include <vector>

namespace plumora::test {

// What every window test starts from: the program's windows created as at
// start-up, the main window shown, and message boxes collected in m_messages
// instead of shown. A test class derives from QObject first, then from this,
// and calls openWindows() in its init() and closeWindows() in its cleanup().
class MainWindowFixture {
protected:
    std::unique_ptr<MainWindow> m_main;
    std::vector<ShownMessage> m_messages;
    // Questions asked (askYesNo), answered with m_answer.
    std::vector<ShownMessage> m_questions;
    bool m_answer = false;
    // "Save changes to ... ?" questions asked, answered with m_saveAnswer.
    std::vector<ShownMessage> m_saveQuestions;
    SaveAnswer m_saveAnswer = SaveAnswer::Discard;

    Document& doc() { return m_main->document(); }
    // The main window's caption as the desktop shows it ("*" for changes
    // not saved in place of Qt's "[*]").
    QString shownTitle() const { return m_main->windowHandle()->title(); }

    // A control of a window by its object name; the test stops without it.
    template <class W>
    static W* child(const QWidget* window, const QString& name)
    {
        W* w = window->findChild<W*>(name);
        if (!w)
            qFatal("%s has no %s", qPrintable(window->objectName()), qPrintable(name));
        return w;
    }
    template <class W>
    static W* child(const QWidget* window, const char* name)
    {
        return child<W>(window, QString::fromLatin1(name));
    }

    // Opens a random opaque picture of the given size through "Open", as a
    // user would open a file, and returns it.
    TBitmap32 openRandomPicture(int width, int height, unsigned seed)
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.bmp"));
        TBitmap32 picture = randomPicture(width, height, seed);
        FillAlpha(picture, 255);
        savePicture(picture, path.toStdString());
        m_main->setOpenFileChooser([path] { return path; });
        m_main->openAction->trigger();
        return picture;
    }

    // An effect's window, opened through its menu item.
    EffectDialog* openEffect(std::string_view command)
    {
        m_main->effectAction(command)->trigger();
        return m_main->effectDialog(command);
    }

    // ctest gives every window test folders of its own for settings and
    // files (run_with_own_home.sh); a test binary started by hand gets
    // temporary ones, so it never touches the real user's either.
    static void keepAwayFromTheUsersFolders()
    {
        if (!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            return;
        static QTemporaryDir home;
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            qputenv(name, home.path().toLocal8Bit() + '/' + QByteArray(name).toLower());
    }

    void openWindows()
    {
        keepAwayFromTheUsersFolders();
        m_messages.clear();
        setMessageSink([this](const ShownMessage& m) { m_messages.push_back(m); });
        m_questions.clear();
        m_answer = false;
        setQuestionAnswerer([this](const ShownMessage& q) {
            m_questions.push_back(q);
            return m_answer;
        });
        m_saveQuestions.clear();
        m_saveAnswer = SaveAnswer::Discard;
        setSaveQuestionAnswerer([this](const ShownMessage& q) {
            m_saveQuestions.push_back(q);
            return m_saveAnswer;
        });
        m_main = createWindows();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }

    void closeWindows()
    {
        m_main.reset();
        setMessageSink({});
        setQuestionAnswerer({});
        setSaveQuestionAnswerer({});
    }
};

}  // namespace plumora::test
