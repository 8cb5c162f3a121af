// Long work in the desktop program: the windows keep painting, input waits
// (and is dropped), closing waits for the end, the busy cursor and the
// progress bar show, and what the work throws reaches the command.

#include "app/busy_work.h"
#include "raster/parallel.h"
#include "support/main_window_fixture.h"

#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace plumora;

class BusyWorkTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    // Work that runs one whole-picture loop of 64 rows and then waits until
    // the test lets it end.
    static std::function<void()> waitingWork(std::atomic<bool>& looped, std::atomic<bool>& release)
    {
        return [&] {
            parallelRows(64, [](int, int) {});
            looped = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }

private slots:
    void init() { openWindows(); }
    void cleanup() { closeWindows(); }

    void inputWaitsAndIsDroppedWhileWorkRuns()
    {
        BusyWork& work = m_main->busyWork();
        work.setDelays(0, 0);
        QSignalSpy zoomClicks(m_main->zoomInButton, &QToolButton::clicked);
        const QString zoomBefore = m_main->zoomLabel->text();
        std::atomic<bool> looped{false}, release{false};
        bool checked = false;
        QTimer::singleShot(0, this, [&] {
            // A failed check must still let the work end.
            bool scheduled = false;
            const auto end = qScopeGuard([&] {
                if (!scheduled)
                    release = true;
            });
            QVERIFY(work.isBusy());
            QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
            QTest::keyClick(m_main.get(), Qt::Key_F4, Qt::AltModifier);
            QCOMPARE(zoomClicks.count(), 0);
            // Closing the program waits for the work.
            m_main->close();
            QVERIFY(m_main->isVisible());
            // Scheduled after the cursor's and the bar's timers, so it runs
            // once they have shown.
            scheduled = true;
            QTimer::singleShot(0, this, [&] {
                const auto end = qScopeGuard([&] { release = true; });
                QVERIFY(QApplication::overrideCursor());
                QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
                QVERIFY(m_main->progressBar->isVisible());
                // The bar follows the whole-picture loops once one has run.
                QTRY_VERIFY(looped.load());
                QTRY_COMPARE(m_main->progressBar->maximum(), 64);
                QCOMPARE(m_main->progressBar->value(), 64);
                checked = true;
            });
        });
        work.run(waitingWork(looped, release));
        QVERIFY(checked);
        QVERIFY(!work.isBusy());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!m_main->progressBar->isVisible());
        QCOMPARE(zoomClicks.count(), 0);
        QCOMPARE(m_main->zoomLabel->text(), zoomBefore);
        // The click made during the work is gone, not run now; the close
        // comes once the command has ended.
        QVERIFY(m_main->isVisible());
        QTRY_VERIFY(!m_main->isVisible());
    }

    void shortWorkShowsNothingAndFailuresReachTheCommand()
    {
        BusyWork& work = m_main->busyWork();
        int ran = 0;
        work.run([&] { ++ran; });
        QCOMPARE(ran, 1);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!m_main->progressBar->isVisible());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, work.run([] { throw std::runtime_error("Out of memory."); }));
        QVERIFY(!work.isBusy());
        // The program answers again.
        QSignalSpy zoomClicks(m_main->zoomInButton, &QToolButton::clicked);
        QTest::mouseClick(m_main->zoomInButton, Qt::LeftButton);
        QCOMPARE(zoomClicks.count(), 1);
    }

    void anEffectRunThroughTheWorkCommitsAsBefore()
    {
        // The pen sketch's OK: the effect runs while the program's input
        // waits, and its result is committed as before.
        openRandomPicture(300, 200, 3);
        m_main->busyWork().setDelays(0, 0);
        EffectDialog* pen = openEffect("pen-sketch");
        const int steps = doc().undoCount();
        QTest::mouseClick(pen->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        QCOMPARE(doc().undoCount(), steps + 1);
        QCOMPARE(doc().label(), std::string("Pen Sketch"));
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(BusyWorkTest)
#include "busy_work_test.moc"
