// Long work in the desktop program: the windows keep painting, input waits
// (and is dropped), closing waits for the end, the busy cursor and the
// progress bar show, and what the work throws reaches the command.

#include "app/busy_work.h"
#include "app/picture_view.h"
#include "effects/effects.h"
#include "raster/parallel.h"
#include "support/main_window_fixture.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
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

namespace {

// Holds the first band of work that can be cancelled until the test lets it
// go, so that Esc comes while the work is surely under way.
struct BandLatch {
    static inline std::atomic<bool> reached{false};
    static inline std::atomic<bool> released{false};
    static void hold()
    {
        if (reached.exchange(true))
            return;
        released.wait(false);
    }
    BandLatch()
    {
        reached = false;
        released = false;
        setCancellableBandHookForTests(&hold);
    }
    ~BandLatch()
    {
        release();
        setCancellableBandHookForTests(nullptr);
    }
    static void release()
    {
        released = true;
        released.notify_all();
    }
};

}  // namespace

class BusyWorkTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    // Runs command; once its work has reached its first band, does
    // whileHeld (which presses Esc or closes the window) and lets it go on.
    void holdDuring(const std::function<void()>& command, const std::function<void()>& whileHeld)
    {
        BandLatch latch;
        bool done = false;
        QTimer::singleShot(0, this, [&] {
            const auto end = qScopeGuard([] { BandLatch::release(); });
            QTRY_VERIFY(BandLatch::reached.load());
            whileHeld();
            done = true;
        });
        command();
        QVERIFY(done);
    }

    void pressEscDuring(const std::function<void()>& command)
    {
        holdDuring(command, [this] { QTest::keyClick(m_main.get(), Qt::Key_Escape); });
    }

    // What a cancelled command leaves: the document as it was, and
    // "Cancelled." in the status line instead of a box.
    struct Before {
        TBitmap32 displayed, source;
        int undoCount, redoCount;
        std::string label;
        QString title;
    };
    Before before()
    {
        return {doc().displayed(), doc().source(), doc().undoCount(),
                doc().redoCount(), doc().label(),  m_main->windowTitle()};
    }
    void checkUnchanged(const Before& b)
    {
        QVERIFY(doc().displayed() == b.displayed);
        QVERIFY(doc().source() == b.source);
        QCOMPARE(doc().undoCount(), b.undoCount);
        QCOMPARE(doc().redoCount(), b.redoCount);
        QCOMPARE(doc().label(), b.label);
        QCOMPARE(m_main->windowTitle(), b.title);
        QCOMPARE(m_main->statusLine->currentMessage(), QStringLiteral("Cancelled."));
        for (const ShownMessage& m : m_messages)
            qWarning("%s: %s", qPrintable(m.caption), qPrintable(m.text));
        QVERIFY(m_messages.empty());
        QVERIFY(!m_main->busyWork().isBusy());
        QVERIFY(!QApplication::overrideCursor());
    }

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
            // Closing cancels the work's loops: once its only loop has run,
            // the work ends as it would have.
            QTRY_VERIFY(looped.load());
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
                // The bar is refreshed by a timer: a tick may have set the
                // loop's size before its rows were done.
                QTRY_COMPARE(m_main->progressBar->maximum(), 64);
                QTRY_COMPARE(m_main->progressBar->value(), 64);
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

    void escDuringAnEffectLeavesTheDocumentAsItWas()
    {
        openRandomPicture(300, 200, 5);
        EffectDialog* pen = openEffect("pen-sketch");
        auto* ok = pen->findChild<QPushButton*>(QStringLiteral("Button1"));
        const Before b = before();
        pressEscDuring([&] { QTest::mouseClick(ok, Qt::LeftButton); });
        checkUnchanged(b);
        // Esc went to the work, not to the effect's window.
        QVERIFY(pen->isVisible());
        // The same command, not cancelled, runs as ever and the message goes.
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(doc().undoCount(), b.undoCount + 1);
        QCOMPARE(doc().label(), std::string("Pen Sketch"));
        QVERIFY(m_main->statusLine->currentMessage().isEmpty());
    }

    void aCancelledBrumeLeavesItsGeneratorWhereItWas()
    {
        // The next brume draws what the first brume of the program draws.
        TBitmap32 picture = openRandomPicture(300, 200, 10);
        EffectDialog* brume = openEffect("brume");
        auto* ok = brume->findChild<QPushButton*>(QStringLiteral("Button1"));
        const Before b = before();
        pressEscDuring([&] { QTest::mouseClick(ok, Qt::LeftButton); });
        checkUnchanged(b);
        QTest::mouseClick(ok, Qt::LeftButton);
        const EffectDeclaration& declaration = *findEffect("brume");
        EffectContext fresh;
        QVERIFY(doc().displayed() == declaration.apply(picture, declaration.defaults(), fresh));
    }

    void escDuringATurnAResizeOrAnOpenLeavesTheDocumentAsItWas()
    {
        openRandomPicture(300, 200, 6);
        const Before b = before();
        pressEscDuring([&] { QTest::mouseClick(m_main->rotateClockwiseButton, Qt::LeftButton); });
        checkUnchanged(b);
        pressEscDuring([&] { QVERIFY_THROWS_EXCEPTION(Cancelled, doc().resizePictures(600, 400)); });
        checkUnchanged(b);
        QTemporaryDir dir;
        const QString other = dir.filePath(QStringLiteral("other.bmp"));
        TBitmap32 otherPicture = test::randomPicture(200, 300, 7);
        FillAlpha(otherPicture, 255);
        savePicture(otherPicture, QFile::encodeName(other).toStdString());
        m_main->setOpenFileChooser([other] { return other; });
        pressEscDuring([&] { m_main->openAction->trigger(); });
        checkUnchanged(b);
    }

    void aCancelledSaveLeavesNoFileAndTheOldOneAsItWas()
    {
        openRandomPicture(300, 200, 8);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("saved.bmp"));
        m_main->setSaveFileChooser([name](int) { return SaveChoice{name, 2}; });
        const Before b = before();
        const auto entries = [&] { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); };
        QStringList whileWriting;
        holdDuring([&] { m_main->saveAction->trigger(); },
                   [&] {
                       whileWriting = entries();
                       QTest::keyClick(m_main.get(), Qt::Key_Escape);
                   });
        checkUnchanged(b);
        // Only the temporary file was ever written, and it is gone.
        QCOMPARE(whileWriting.size(), 1);
        QVERIFY(whileWriting.front().startsWith(QStringLiteral(".plumora-")));
        QVERIFY(entries().isEmpty());
        // A file replaced keeps its bytes.
        QFile old(name);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the old bytes");
        old.close();
        m_answer = true;
        pressEscDuring([&] { m_main->saveAction->trigger(); });
        checkUnchanged(b);
        QCOMPARE(entries(), QStringList{QStringLiteral("saved.bmp")});
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the old bytes"));
    }

    void closingDuringAnEffectCancelsItAndThenCloses()
    {
        openRandomPicture(300, 200, 9);
        EffectDialog* pen = openEffect("pen-sketch");
        const Before b = before();
        holdDuring([&] { QTest::mouseClick(pen->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton); },
                   [&] {
                       m_main->close();
                       QVERIFY(m_main->isVisible());
                   });
        checkUnchanged(b);
        QTRY_VERIFY(!m_main->isVisible());
    }

    void workThatMustEndIgnoresEsc()
    {
        BusyWork& work = m_main->busyWork();
        std::atomic<bool> looped{false}, release{false};
        QTimer::singleShot(0, this, [&] {
            const auto end = qScopeGuard([&] {
                release = true;
                release.notify_all();
            });
            QTRY_VERIFY(looped.load());
            QTest::keyClick(m_main.get(), Qt::Key_Escape);
        });
        std::atomic<int> rows{0};
        work.run(
            [&] {
                looped = true;
                release.wait(false);
                parallelRows(1000, [&](int y0, int y1) { rows += y1 - y0; });
            },
            BusyWork::Stop::ToTheEnd);
        QVERIFY(m_main->statusLine->currentMessage().isEmpty());
        QCOMPARE(rows.load(), 1000);
    }

    void aSlowUndoOrRedoShowsTheBusyCursorAndRunsToTheEnd()
    {
        // Two packed steps: undoing one unpacks it, into the displayed
        // picture's own block when nothing else holds that.
        // Big enough to be worth a thread of its own (4 MP).
        openRandomPicture(2100, 2000, 12);
        EffectDialog* emboss = openEffect("emboss");
        auto* ok = emboss->findChild<QPushButton*>(QString::fromStdString(emboss->window().buttons.front().objectName));
        QTest::mouseClick(ok, Qt::LeftButton);
        const TBitmap32 first = doc().displayed();
        QTest::mouseClick(ok, Qt::LeftButton);
        const TBitmap32 second = doc().displayed();
        doc().waitForHistoryIdle();
        m_main->busyWork().setDelays(0, 10000);
        for (const bool undo : {true, false}) {
            // Held in its first band: the cursor shows, Esc does not stop it,
            // and the view paints what it showed before, never the pixels
            // being written.
            holdDuring([&] { (undo ? m_main->undoButton : m_main->redoButton)->click(); },
                       [&] {
                           QTRY_VERIFY(QApplication::overrideCursor());
                           QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
                           QTest::keyClick(m_main.get(), Qt::Key_Escape);
                           m_main->pictureView->repaint();
                       });
            QVERIFY(doc().displayed() == (undo ? first : second));
            QCOMPARE(doc().label(), std::string(undo ? "Undo" : "Redo"));
            QVERIFY(m_main->statusLine->currentMessage().isEmpty());
            QVERIFY(!QApplication::overrideCursor());
            QCOMPARE(m_main->pictureView->grab().toImage().pixel(10, 10) & 0xFFFFFF,
                     QImage(doc().displayed().bits(), 2100, 2000, QImage::Format_RGB32).pixel(10, 10) & 0xFFFFFF);
        }
    }
};

QTEST_MAIN(BusyWorkTest)
#include "busy_work_test.moc"
