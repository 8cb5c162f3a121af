#include "app/tool_window_guard.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace plumora {

namespace {

class MinimiseGuard : public QObject {
public:
    MinimiseGuard(QWidget* toolWindow, QWidget* mainWindow)
        : QObject(toolWindow), m_tool(toolWindow), m_main(mainWindow)
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_tool || event->type() != QEvent::WindowStateChange || !m_tool->isMinimized())
            return false;
        // A minimise the user gave: the tool window had the keyboard (the
        // window manager takes it away only after minimising). The main
        // window minimised takes the tool windows along, and stays so.
        if (QApplication::activeWindow() != m_tool)
            return false;
        QTimer::singleShot(0, m_tool, [tool = m_tool, main = m_main] {
            if (main && main->isMinimized())
                main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
            if (tool && tool->isMinimized()) {
                tool->setWindowState(tool->windowState() & ~Qt::WindowMinimized);
                tool->raise();
                tool->activateWindow();
            }
        });
        return false;
    }

private:
    QPointer<QWidget> m_tool;
    QPointer<QWidget> m_main;
};

}  // namespace

void keepFromMinimising(QWidget* toolWindow, QWidget* mainWindow)
{
    toolWindow->installEventFilter(new MinimiseGuard(toolWindow, mainWindow));
}

}  // namespace plumora
