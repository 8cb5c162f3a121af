#include "app/busy_work.h"

#include "raster/parallel.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <QWidget>

#include <exception>
#include <stdexcept>
#include <thread>

namespace plumora {

BusyWork::BusyWork(QWidget* mainWindow, QProgressBar* bar, QStatusBar* statusLine, QObject* parent)
    : QObject(parent), m_mainWindow(mainWindow), m_bar(bar), m_statusLine(statusLine)
{
    m_bar->hide();
}

void BusyWork::setDelays(int cursorMs, int progressMs)
{
    m_cursorDelay = cursorMs;
    m_progressDelay = progressMs;
}

void BusyWork::cancel()
{
    if (m_cancellable)
        m_cancel.store(true, std::memory_order_relaxed);
}

void BusyWork::run(const std::function<void()>& compute, Stop stop)
{
    // Input is held off while work runs, so no command of the user's can
    // start another; only a program error could.
    if (m_busy)
        throw std::logic_error("A computation is already running.");
    m_busy = true;
    m_closeWaiting = false;
    m_cursorShown = false;
    m_cancellable = stop == Stop::Cancellable;
    m_cancel = false;
    if (m_statusLine)
        m_statusLine->clearMessage();  // an earlier "Cancelled." is no longer news
    m_loopsAtStart = loopProgress().loops;

    QEventLoop waiting;
    QTimer cursorTimer, progressTimer, tick;
    cursorTimer.setSingleShot(true);
    progressTimer.setSingleShot(true);
    tick.setInterval(100);
    connect(&cursorTimer, &QTimer::timeout, this, &BusyWork::showCursor);
    connect(&progressTimer, &QTimer::timeout, this, [&] {
        showProgress();
        tick.start();
    });
    connect(&tick, &QTimer::timeout, this, &BusyWork::updateProgress);
    cursorTimer.start(m_cursorDelay);
    progressTimer.start(m_progressDelay);
    qApp->installEventFilter(this);

    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            const CancelScope cancellable(m_cancel);
            compute();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The windows keep painting meanwhile; input is dropped by eventFilter.
    waiting.exec();
    worker.join();

    qApp->removeEventFilter(this);
    if (m_cursorShown)
        QApplication::restoreOverrideCursor();
    m_bar->hide();
    m_busy = false;
    m_cancellable = false;
    if (m_closeWaiting && m_mainWindow)
        QTimer::singleShot(0, m_mainWindow.data(), &QWidget::close);  // once the command has committed
    if (failure) {
        // Work that ended before it saw the flag is done, and stays done.
        try {
            std::rethrow_exception(failure);
        } catch (const Cancelled&) {
            if (m_statusLine)
                m_statusLine->showMessage(QStringLiteral("Cancelled."));
            throw;
        }
    }
}

bool BusyWork::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:  // comes first, and is all that comes when Esc is some window's shortcut
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            cancel();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
        return true;
    case QEvent::Close:
        // Closing the program waits for the work; any other window's close
        // box is dropped like a click.
        if (m_mainWindow && (watched == m_mainWindow || watched == m_mainWindow->windowHandle())) {
            m_closeWaiting = true;
            cancel();
        }
        event->ignore();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void BusyWork::showCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_cursorShown = true;
}

void BusyWork::showProgress()
{
    updateProgress();
    m_bar->show();
}

void BusyWork::updateProgress()
{
    const LoopProgress p = loopProgress();
    if (p.loops == m_loopsAtStart || p.rows <= 0) {
        m_bar->setRange(0, 0);  // nothing to count yet: a moving bar
        return;
    }
    m_bar->setRange(0, p.rows);
    m_bar->setValue(p.rowsDone);
}

}  // namespace plumora
