// The live preview: moving a control of an effect window shows its result
// in the main view, computed as the apply button would, without touching the
// document; the apply button then keeps that very result; a newer move stops
// an older computation; what changes the document takes the preview away.

#include "app/effect_windows/window_table.h"
#include "app/busy_work.h"
#include "app/live_preview.h"
#include "app/picture_view.h"
#include "effects/paint/brume.h"
#include "raster/parallel.h"
#include "support/main_window_fixture.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <atomic>

using namespace plumora;

namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// Counts the bands of work that can be cancelled (every preview and every
// apply run as such), and can hold the first one until the test lets it go.
struct Bands {
    static inline std::atomic<int> started{0};
    static inline std::atomic<bool> holding{false};
    static inline std::atomic<bool> reached{false};
    static inline std::atomic<bool> released{false};
    static void hook()
    {
        ++started;
        if (holding && !reached.exchange(true))
            released.wait(false);
    }
    explicit Bands(bool hold)
    {
        started = 0;
        holding = hold;
        reached = false;
        released = false;
        setCancellableBandHookForTests(&hook);
    }
    ~Bands()
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

class LivePreviewTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

private:
    LivePreview& preview() { return m_main->livePreview(); }

    void turnPreviewOn()
    {
        if (!m_main->livePreviewAction->isChecked())
            QTest::keyClick(m_main.get(), Qt::Key_L, Qt::ControlModifier);
        QVERIFY(m_main->livePreviewOn());
    }

    // Changes the window's first control as a hand would; false for a window
    // with nothing to move.
    bool moveFirstControl(EffectDialog* d)
    {
        const EffectWindow& w = d->window();
        if (d->effect().name == "texture") {
            auto* tile = d->findChild<QRadioButton*>(QStringLiteral("RadioButton7"));
            QTest::mouseClick(tile, Qt::LeftButton);
            return true;
        }
        for (const ParamDeclaration& p : d->effect().params) {
            const ParamLayout* l = w.findParam(p.key);
            if (!l || l->drawnByWindow)
                continue;
            switch (p.kind) {
            case ParamKind::Slider: {
                auto* bar = child<QSlider>(d, qs(l->controls[0]));
                bar->setFocus();
                QTest::keyClick(bar, bar->value() < bar->maximum() ? Qt::Key_Right : Qt::Key_Left);
                return true;
            }
            case ParamKind::Choice:
                QTest::mouseClick(child<QRadioButton>(d, qs(l->controls.back())), Qt::LeftButton);
                return true;
            case ParamKind::Flag:
                QTest::mouseClick(child<QCheckBox>(d, qs(l->controls[0])), Qt::LeftButton);
                return true;
            case ParamKind::Grid: {
                auto* box = child<QLineEdit>(d, qs(l->controls[4]));
                box->selectAll();
                QTest::keyClicks(box, QStringLiteral("3"));
                return true;
            }
            case ParamKind::Colour:
                d->setColourChooser([](const QColor&, QWidget*) { return QColor(0x20, 0x90, 0xE0); });
                QTest::mouseClick(child<QWidget>(d, qs(l->controls[0])), Qt::LeftButton);
                return true;
            case ParamKind::Number:
            case ParamKind::File:
            case ParamKind::Steps:
                break;
            }
        }
        return false;
    }

    QPushButton* applyButton(EffectDialog* d)
    {
        return child<QPushButton>(d, qs(d->window().buttons.front().objectName));
    }

    // Opens a picture, turns the preview on, opens the window of slider
    // effect and moves its slider; returns once the preview shows.
    EffectDialog* previewPenSketch()
    {
        openRandomPicture(48, 36, 5);
        turnPreviewOn();
        EffectDialog* d = openEffect("pen-sketch");
        if (!moveFirstControl(d))
            return nullptr;
        if (!QTest::qWaitFor([&] { return preview().picture() != nullptr; }))
            return nullptr;
        return d;
    }

private slots:
    void init() { openWindows(); }
    void cleanup() { closeWindows(); }

    void offAtFirstOnWithCtrlLAndRemembered()
    {
        QVERIFY(!m_main->livePreviewOn());
        openRandomPicture(20, 16, 1);
        EffectDialog* d = openEffect("pen-sketch");
        QVERIFY(moveFirstControl(d));
        QTest::qWait(50);
        QVERIFY(!preview().picture());
        QCOMPARE(preview().finishedCount(), 0);

        // Turned on with the window open: its values show at once.
        turnPreviewOn();
        QTRY_VERIFY(preview().picture());
        QCOMPARE(m_main->statusLine->currentMessage(), QStringLiteral("Live preview: not applied yet"));
        QTest::keyClick(m_main.get(), Qt::Key_L, Qt::ControlModifier);
        QVERIFY(!m_main->livePreviewOn());
        QVERIFY(!preview().picture());
        QVERIFY(m_main->statusLine->currentMessage().isEmpty());
        QTest::keyClick(m_main.get(), Qt::Key_L, Qt::ControlModifier);

        closeWindows();
        openWindows();
        m_main->restoreSettings();
        QVERIFY(m_main->livePreviewOn());
    }

    void everyWindowPreviewsExactlyWhatItsApplyKeeps_data()
    {
        QTest::addColumn<QString>("effect");
        for (const EffectDeclaration& e : effectTable())
            if (findWindow(e.name))
                QTest::newRow(e.name.c_str()) << qs(e.name);
    }

    void everyWindowPreviewsExactlyWhatItsApplyKeeps()
    {
        QFETCH(QString, effect);
        openRandomPicture(40, 30, 3);
        turnPreviewOn();
        EffectDialog* d = openEffect(effect.toStdString());
        QVERIFY(d);
        const TBitmap32 displayed = doc().displayed();
        const int undoCount = doc().undoCount();
        const std::string label = doc().label();
        const bool thickAndThin = doc().thickAndThin();
        const std::uint32_t generator = doc().effectContext().random.state();

        if (!d->previewsInView()) {
            // The colour panel applies as a choice is made, the colour
            // filter and variety show their own previews: the view waits.
            QVERIFY(!moveFirstControl(d) || preview().finishedCount() == 0);
            QTest::qWait(30);
            QVERIFY(!preview().picture());
            return;
        }
        QVERIFY(moveFirstControl(d));
        QTRY_VERIFY(preview().picture());
        const TBitmap32 shown = *preview().picture();
        QCOMPARE(m_main->pictureView->picture(), preview().picture());

        // Nothing of the document moved: no step, label, flag or draw.
        QVERIFY(doc().displayed() == displayed);
        QCOMPARE(doc().undoCount(), undoCount);
        QCOMPARE(doc().label(), label);
        QCOMPARE(doc().thickAndThin(), thickAndThin);
        QCOMPARE(doc().effectContext().random.state(), generator);

        // What the apply button would compute from these values.
        const ParamValues values = d->values();
        const Document::EffectRun expected = doc().runEffect(d->effect(), values);
        QVERIFY(shown == expected.result);

        // The apply keeps the preview's picture without computing again.
        Bands bands(false);
        applyButton(d)->click();
        QCOMPARE(Bands::started.load(), 0);
        QVERIFY(doc().displayed() == expected.result);
        QCOMPARE(doc().undoCount(), undoCount + 1);
        if (expected.label)
            QCOMPARE(doc().label(), *expected.label);
        if (expected.thickAndThin != ThickAndThin::Unchanged)
            QCOMPARE(doc().thickAndThin(), expected.thickAndThin == ThickAndThin::SetOnApply);
        QCOMPARE(doc().effectContext().random.state(), expected.state.random.state());
        QVERIFY(!preview().picture());
        QCOMPARE(m_main->pictureView->picture(), &doc().displayed());
    }

    void applyWithOtherValuesComputesThem()
    {
        EffectDialog* d = previewPenSketch();
        QVERIFY(d);
        // Set without a move of the hand, so no preview follows it.
        auto* bar = d->findChild<QSlider*>();
        {
            const QSignalBlocker quiet(bar);
            bar->setValue(bar->minimum());
        }
        const Document::EffectRun expected = doc().runEffect(d->effect(), d->values());
        Bands bands(false);
        applyButton(d)->click();
        QVERIFY(Bands::started.load() > 0);
        QVERIFY(doc().displayed() == expected.result);
        QVERIFY(!preview().picture());
    }

    void aNewerMoveStopsTheOlderComputation()
    {
        openRandomPicture(400, 300, 9);
        turnPreviewOn();
        EffectDialog* d = openEffect("water-color");
        auto* bar = d->findChild<QSlider*>();
        QSignalSpy shownSpy(&preview(), &LivePreview::pictureChanged);
        Bands bands(true);
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Right);
        QTRY_VERIFY(Bands::reached.load());
        // Held in its first band: the newer move stops it there.
        QTest::keyClick(bar, Qt::Key_Right);
        const ParamValues newer = d->values();
        Bands::release();
        QTRY_VERIFY(preview().picture());
        QTRY_COMPARE(preview().cancelledCount(), 1);
        QCOMPARE(preview().finishedCount(), 1);
        QCOMPARE(shownSpy.count(), 1);
        QVERIFY(*preview().picture() == doc().runEffect(d->effect(), newer).result);
    }

    void zoomingOrScrollingKeepsThePreview()
    {
        openRandomPicture(400, 300, 13);
        turnPreviewOn();
        EffectDialog* d = openEffect("water-color");
        Bands bands(true);
        auto* bar = d->findChild<QSlider*>();
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Right);
        QTRY_VERIFY(Bands::reached.load());
        // While it computes, and once it shows.
        m_main->zoomInButton->click();
        Bands::release();
        QTRY_VERIFY(preview().picture());
        m_main->zoomOutButton->click();
        QVERIFY(preview().picture());
        QCOMPARE(m_main->pictureView->picture(), preview().picture());
        QCOMPARE(preview().cancelledCount(), 0);
    }

    void escWhileTheApplyWaitsForThePreviewKeepsTheDocument()
    {
        openRandomPicture(400, 300, 11);
        turnPreviewOn();
        EffectDialog* d = openEffect("water-color");
        const TBitmap32 displayed = doc().displayed();
        Bands bands(true);
        auto* bar = d->findChild<QSlider*>();
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Right);
        QTRY_VERIFY(Bands::reached.load());
        // The apply waits for the preview of its very values; Esc stops both.
        QTimer::singleShot(0, this, [this] {
            QTRY_VERIFY(m_main->busyWork().isBusy());
            QTest::keyClick(m_main.get(), Qt::Key_Escape);
        });
        applyButton(d)->click();
        // Let go only now: the computation has been told to stop already.
        Bands::release();
        QCOMPARE(m_main->statusLine->currentMessage(), QStringLiteral("Cancelled."));
        QVERIFY(doc().displayed() == displayed);
        QCOMPARE(doc().undoCount(), 0);
        QVERIFY(!preview().picture());
        QTRY_COMPARE(preview().cancelledCount(), 1);
        QVERIFY(m_messages.empty());
    }

    void takenAwayByWhatChangesTheView_data()
    {
        QTest::addColumn<int>("what");
        QTest::newRow("closing the window") << 0;
        QTest::newRow("another effect window") << 1;
        QTest::newRow("undo") << 2;
        QTest::newRow("revert") << 3;
        QTest::newRow("opening a file") << 4;
        QTest::newRow("a quarter turn") << 5;
        QTest::newRow("turning the preview off") << 6;
        QTest::newRow("redo") << 7;
    }

    void takenAwayByWhatChangesTheView()
    {
        QFETCH(int, what);
        openRandomPicture(48, 36, 5);
        turnPreviewOn();
        // A step to undo and one to redo.
        openEffect("emboss");
        applyButton(m_main->effectDialog("emboss"))->click();
        applyButton(m_main->effectDialog("emboss"))->click();
        m_main->undoButton->click();
        EffectDialog* d = openEffect("pen-sketch");
        QVERIFY(moveFirstControl(d));
        QTRY_VERIFY(preview().picture());
        switch (what) {
        case 0:
            d->close();
            break;
        case 1:
            openEffect("emboss");
            break;
        case 2:
            m_main->undoButton->click();
            break;
        case 3:
            m_main->revertButton->click();
            break;
        case 4:
            openRandomPicture(30, 20, 6);
            break;
        case 5:
            m_main->rotateClockwiseButton->click();
            break;
        case 6:
            m_main->livePreviewAction->trigger();
            break;
        case 7:
            m_main->redoButton->click();
            break;
        }
        QVERIFY(!preview().picture());
        QCOMPARE(m_main->pictureView->picture(), &doc().displayed());
        // A late result of the old document never shows.
        QTest::qWait(30);
        QVERIFY(!preview().picture());
        QVERIFY(m_messages.empty());
    }

    void compareShowsTheSourceOverThePreview()
    {
        QVERIFY(previewPenSketch());
        const TBitmap32* shown = preview().picture();
        QTest::keyPress(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(m_main->pictureView->picture(), &doc().source());
        QTest::keyRelease(m_main.get(), Qt::Key_Backslash);
        QCOMPARE(m_main->pictureView->picture(), shown);
    }

    void aBoxWithoutANumberShowsNoPreview()
    {
        openRandomPicture(30, 20, 4);
        turnPreviewOn();
        EffectDialog* d = openEffect("realism");
        QVERIFY(moveFirstControl(d));
        QTRY_VERIFY(preview().picture());
        auto* box = d->findChildren<QLineEdit*>().front();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("x"));
        QVERIFY(!preview().picture());
        QVERIFY(m_main->statusLine->currentMessage().contains(QStringLiteral("'x' is not a valid integer value")));
        QVERIFY(m_messages.empty());
    }
};

QTEST_MAIN(LivePreviewTest)
#include "live_preview_test.moc"
