#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>

class QProgressBar;
class QStatusBar;
class QWidget;

namespace plumora {

// Runs a long computation of the user's on a thread of its own while the
// windows keep painting, so a big picture never freezes the program. Until
// it ends, input to every window of the program is held off and dropped (a
// click made meanwhile is not queued behind it, so one thing happens at a
// time); closing the main window is remembered and done afterwards. After a
// short while the busy cursor shows, and after a longer one a progress bar
// in the main window follows the whole-picture loops.
//
// run() returns when the computation has ended, or rethrows what it threw,
// as if it had run in place: a command that uses it stays one step that
// computes and then commits on the GUI thread.
//
// Esc, or closing the main window, cancels the computation: its loops stop
// at their next band (see CancelScope) and run() throws Cancelled, which the
// command lets through without committing anything, so the document stays
// as it was; the status line says "Cancelled.".
class BusyWork : public QObject {
    Q_OBJECT
public:
    // mainWindow: whose closing waits; bar: the progress bar it shows (hidden
    // until needed); statusLine: where a cancelled computation is told.
    BusyWork(QWidget* mainWindow, QProgressBar* bar, QStatusBar* statusLine, QObject* parent = nullptr);

    enum class Stop { Cancellable, ToTheEnd };
    // ToTheEnd: work that cannot be undone halfway (a print); Esc does nothing.
    void run(const std::function<void()>& compute, Stop stop = Stop::Cancellable);
    bool isBusy() const { return m_busy; }

    // How long work runs before the busy cursor, and before the progress bar,
    // show (0.1 s and 0.5 s).
    void setDelays(int cursorMs, int progressMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void cancel();  // what Esc and closing do
    void showCursor();
    void showProgress();
    void updateProgress();

    QPointer<QWidget> m_mainWindow;
    QProgressBar* m_bar;
    QStatusBar* m_statusLine;
    int m_cursorDelay = 100;
    int m_progressDelay = 500;
    bool m_busy = false;
    bool m_cursorShown = false;
    bool m_closeWaiting = false;
    bool m_cancellable = false;
    std::atomic<bool> m_cancel{false};
    std::uint64_t m_loopsAtStart = 0;
};

}  // namespace plumora
