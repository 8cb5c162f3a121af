#pragma once

#include "app/application.h"
#include "app/main_window.h"
#include "app/messages.h"

#include <QTest>

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

    Document& doc() { return m_main->document(); }

    void openWindows()
    {
        m_messages.clear();
        setMessageSink([this](const ShownMessage& m) { m_messages.push_back(m); });
        m_main = createWindows();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }

    void closeWindows()
    {
        m_main.reset();
        setMessageSink({});
    }
};

}  // namespace plumora::test
