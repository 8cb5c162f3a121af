// Times what the user waits for in the desktop program's windows, driven on
// the offscreen platform: an event sent, handled and painted.
//
//   build/bench/plumora_window_bench [--benchmark_repetitions=5]

#include "app/application.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/image_size_dialog.h"
#include "app/live_preview.h"
#include "app/picture_view.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "document/document.h"
#include "formats/jpeg.h"
#include "raster/bitmap32.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QEventLoop>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

namespace plumora {
namespace {

// A 24 MP line drawing: white paper with black and grey strokes.
TBitmap32 sketch24()
{
    TBitmap32 p(6000, 4000);
    for (int y = 0; y < p.height(); ++y) {
        std::uint8_t* row = p.ScanLine(y);
        for (int x = 0; x < p.width(); ++x) {
            const bool ink = (x + 2 * y) % 17 < 3;
            const std::uint8_t v = ink ? std::uint8_t((x * 7 + y) % 160) : 255;
            row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
            row[4 * x + 3] = 255;
        }
    }
    return p;
}

void send(QWidget* widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint at)
{
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// One move event of a brush or rubber stroke at size 100 on a 24 MP sketch:
// the disc painted, the changed part and the outline repainted on screen.
void strokeMove(benchmark::State& state, const char* toolButton)
{
    QWidget mainWindow;
    Document document(sketch24());
    FreehandControl control(document, &mainWindow);
    FreehandWorkArea area(document, control.tools(), &mainWindow);
    control.setWorkArea(&area);
    area.setControl(&control);
    area.show();
    control.show();
    control.findChild<QToolButton*>(QString::fromLatin1(toolButton))->click();
    control.findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(100);
    QCoreApplication::processEvents();

    QWidget* canvas = area.canvas();
    send(canvas, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {150, 150});
    QCoreApplication::processEvents();
    int step = 0;
    for (auto _ : state) {
        // Back and forth over the visible part, so every dab lands on ink
        // and paper the brush has already met, as a real stroke does.
        const int x = 150 + (step % 400 < 200 ? step % 200 : 200 - step % 200) * 2;
        ++step;
        send(canvas, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {x, 150 + x / 4});
        QCoreApplication::processEvents();
    }
    send(canvas, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, {150, 150});
    area.close();
}

void BrushMove24MP(benchmark::State& state)
{
    strokeMove(state, "SpeedButton14");
}
void RubberMove24MP(benchmark::State& state)
{
    strokeMove(state, "SpeedButton15");
}

BENCHMARK(BrushMove24MP)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(RubberMove24MP)->UseRealTime()->Unit(benchmark::kMillisecond);

// The whole click in the main window, from the button to the picture
// painted: a 12 or 24 MP photograph opened from a JPEG file, then the
// commands a user gives it. Argument 1 is 12 MP, 2 is 24 MP.
struct Size {
    int width;
    int height;
};
constexpr Size kSizes[] = {{1224, 816}, {4240, 2832}, {6000, 4000}};

// A photograph-like picture: smooth shading, hard edges and some noise.
TBitmap32 photo(Size s)
{
    TBitmap32 p(s.width, s.height);
    std::uint32_t noise = 12345;
    for (int y = 0; y < s.height; ++y) {
        std::uint8_t* row = p.ScanLine(y);
        for (int x = 0; x < s.width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int n = int(noise >> 28) - 8;
            const bool edge = ((x / 97) + (y / 61)) % 2 == 0;
            row[4 * x] = std::uint8_t(std::clamp((x * 255) / s.width + n, 0, 255));
            row[4 * x + 1] = std::uint8_t(std::clamp((y * 255) / s.height + n + (edge ? 40 : 0), 0, 255));
            row[4 * x + 2] = std::uint8_t(std::clamp(((x + y) * 255) / (s.width + s.height) + n, 0, 255));
            row[4 * x + 3] = 255;
        }
    }
    return p;
}

// The program's windows with a photograph of the given size opened from a
// JPEG file, as "Open" does.
struct OpenProgram {
    QTemporaryDir folder;
    QString file;
    std::unique_ptr<MainWindow> main;

    explicit OpenProgram(int sizeIndex)
    {
        setMessageSink([](const ShownMessage& m) { std::fprintf(stderr, "message: %s\n", qPrintable(m.text)); });
        file = folder.filePath(QStringLiteral("photo.jpg"));
        const std::vector<std::uint8_t> jpeg = encodeJpeg(photo(kSizes[sizeIndex]), 90);
        std::ofstream(file.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
        main = createWindows();
        main->show();
        settle();
        open();
    }
    ~OpenProgram() { setMessageSink({}); }

    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    void open()
    {
        main->openNamedPicture(file);
        settle();
    }
    EffectDialog* penSketch()
    {
        main->effectAction("pen-sketch")->trigger();
        settle();
        return main->effectDialog("pen-sketch");
    }
};

void OpenJpeg(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    for (auto _ : state)
        program.open();
}

void PenSketchOk(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    QPushButton* ok = program.penSketch()->findChild<QPushButton*>(QStringLiteral("Button1"));
    for (auto _ : state) {
        ok->click();
        OpenProgram::settle();
        // A user's clicks are seconds apart, time enough for the history to
        // pack the step away and give its block back for the next result.
        // Clicking back to back would time the kernel zeroing fresh pages.
        state.PauseTiming();
        program.main->document().waitForHistoryIdle();
        state.ResumeTiming();
    }
}

// One undo and one redo a round.
void UndoRedo(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    program.penSketch()->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    OpenProgram::settle();
    for (auto _ : state) {
        program.main->undoButton->click();
        OpenProgram::settle();
        program.main->redoButton->click();
        OpenProgram::settle();
    }
    state.counters["per_step_ms"] =
        benchmark::Counter(double(state.iterations()) * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Revert(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    program.penSketch()->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    for (auto _ : state) {
        program.main->revertButton->click();
        OpenProgram::settle();
    }
}

void QuarterTurn(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    for (auto _ : state) {
        program.main->rotateClockwiseButton->click();
        OpenProgram::settle();
    }
}

// The image size dialog's "OK" at 90 % of the width, then back, a round.
void ImageSize(benchmark::State& state)
{
    OpenProgram program(int(state.range(0)));
    program.main->imageSizeAction->trigger();
    auto* dialog = program.main->findChild<ImageSizeDialog*>();
    const Size s = kSizes[state.range(0)];
    for (auto _ : state) {
        for (const Size to : {Size{s.width * 9 / 10, s.height * 9 / 10}, s}) {
            dialog->widthEdit->setText(QString::number(to.width));
            dialog->heightEdit->setText(QString::number(to.height));
            dialog->okButton->click();
            OpenProgram::settle();
            program.main->imageSizeAction->trigger();
        }
    }
}

double residentMegabytes()
{
    return double(bench::residentBytes()) / 1e6;
}

// What the whole program holds (resident, MB) after opening the photograph,
// after twenty pen sketches and after twenty colour pencils on top, each
// step packed away as it would be between a user's clicks. The second
// argument is the history's memory budget in MB (0: the default), its file
// in a folder of the benchmark's own. Run once: the counters are the result,
// not the time; at the end, packed_MB is what the history holds in memory,
// disk_MB in its file, kept_blocks_MB the freed blocks kept for reuse; undo_ms
// is the mean of the twenty undos that follow. Run each budget in a process
// of its own (--benchmark_filter='Memory.*/256'): blocks the one before
// kept would count in the next.
void MemoryTwentyEffects(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir folder;
        OpenProgram program(int(state.range(0)));
        Document& doc = program.main->document();
        HistoryStorage storage = doc.historyStorage();
        storage.folder = folder.path().toStdString();
        if (state.range(1) > 0)
            storage.memoryBudget = std::size_t(state.range(1)) << 20;
        doc.setHistoryStorage(storage);
        state.counters["budget_MB"] = double(storage.memoryBudget) / double(1 << 20);
        doc.waitForHistoryIdle();
        state.counters["open_MB"] = residentMegabytes();
        const auto twenty = [&](const char* id, const char* counter) {
            program.main->effectAction(id)->trigger();
            OpenProgram::settle();
            auto* ok = program.main->effectDialog(id)->findChild<QPushButton*>(QStringLiteral("Button1"));
            for (int step = 0; step < 20; ++step) {
                ok->click();
                OpenProgram::settle();
                doc.waitForHistoryIdle();
            }
            state.counters[counter] = residentMegabytes();
        };
        twenty("pen-sketch", "sketches_MB");
        twenty("color-pencil", "colour_MB");
        state.counters["disk_MB"] = double(doc.historyMemory().diskBytes) / 1e6;
        state.counters["packed_MB"] = double(doc.historyMemory().packedBytes) / 1e6;
        state.counters["kept_blocks_MB"] = double(freedBlockCounts().bytes) / 1e6;
        const auto start = std::chrono::steady_clock::now();
        for (int step = 0; step < 20; ++step) {
            program.main->undoButton->click();
            OpenProgram::settle();
        }
        state.counters["undo_ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 20;
    }
}
BENCHMARK(MemoryTwentyEffects)->Args({2, 0})->Args({2, 256})->Iterations(1)->Unit(benchmark::kMillisecond);

// Esc in the middle of a water colour on a 200 MP photograph: the time from
// the key to the window answering again (the click returning, with the
// document as it was). The effect runs for the argument's milliseconds
// first; the figure is the time counted, not the whole iteration.
void CancelWaterColour200MP(benchmark::State& state)
{
    setMessageSink([](const ShownMessage& m) { std::fprintf(stderr, "message: %s\n", qPrintable(m.text)); });
    const std::unique_ptr<MainWindow> main = createWindows();
    main->show();
    OpenProgram::settle();
    Document& doc = main->document();
    doc.open(photo({16384, 12208}));
    main->effectAction("water-color")->trigger();
    OpenProgram::settle();
    auto* ok = main->effectDialog("water-color")->findChild<QPushButton*>(QStringLiteral("Button1"));
    const int steps = doc.undoCount();
    for (auto _ : state) {
        std::chrono::steady_clock::time_point pressed;
        QTimer::singleShot(int(state.range(0)), main.get(), [&] {
            pressed = std::chrono::steady_clock::now();
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(main.get(), &esc);
        });
        ok->click();
        const std::chrono::duration<double> answered = std::chrono::steady_clock::now() - pressed;
        if (doc.undoCount() != steps) {
            state.SkipWithError("the water colour ended before Esc");
            break;
        }
        state.SetIterationTime(answered.count());
    }
    setMessageSink({});
}
BENCHMARK(CancelWaterColour200MP)->Arg(100)->Arg(500)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The live preview at 24 MP. A move of an effect window's main control, as
// the hand makes it (a slider step, a radio button, a box typed into).
void moveMainControl(EffectDialog* d, int step)
{
    if (auto* bar = d->findChild<QSlider*>()) {
        bar->setValue(bar->value() + (step % 2 == 0 ? 1 : -1));
        return;
    }
    if (auto* box = d->findChild<QLineEdit*>()) {
        // Typed: a digit replaces the text, as textEdited reports it.
        box->selectAll();
        const QString digit = QString::number(step % 2 == 0 ? 2 : 1);
        QKeyEvent press(QEvent::KeyPress, step % 2 == 0 ? Qt::Key_2 : Qt::Key_1, Qt::NoModifier, digit);
        QCoreApplication::sendEvent(box, &press);
        return;
    }
    const QList<QRadioButton*> buttons = d->findChildren<QRadioButton*>();
    buttons.at(step % 2 == 0 ? buttons.size() - 1 : 0)->click();
}

// Waits until the preview shows the newest move's picture.
void waitForLatestPreview(MainWindow& main)
{
    LivePreview& preview = main.livePreview();
    while (!preview.showsLatest())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

template <class F>
double secondsOf(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A copy of the picture, the fastest of three: the unit the targets count in.
double copySeconds(const TBitmap32& picture)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i)
        best = std::min(best, secondsOf([&] {
                            TBitmap32 copy = picture;
                            benchmark::DoNotOptimize(copy.ScanLine(0));
                        }));
    return best;
}

// From a move to the preview painted (the view's visible part repainted),
// for every effect whose window previews in the view. Beside it, measured in
// the same process: the effect's own time and a copy of the picture; the
// target is effect + 2 copies.
void PreviewMove24MP(benchmark::State& state, const char* command)
{
    OpenProgram program(2);
    MainWindow& main = *program.main;
    main.setLivePreview(true);
    main.effectAction(command)->trigger();
    OpenProgram::settle();
    EffectDialog* d = main.effectDialog(command);
    int step = 0;
    for (auto _ : state) {
        moveMainControl(d, step++);
        waitForLatestPreview(main);
        main.pictureView->repaint();
    }
    Document& doc = main.document();
    double effect = 1e9;
    for (int i = 0; i < 3; ++i)
        effect =
            std::min(effect, secondsOf([&] { benchmark::DoNotOptimize(doc.runEffect(d->effect(), d->values())); }));
    const double copy = copySeconds(doc.source());
    state.counters["effect_ms"] = effect * 1e3;
    state.counters["copy_ms"] = copy * 1e3;
    state.counters["target_ms"] = (effect + 2 * copy) * 1e3;
    main.setLivePreview(false);
}
// Registered in main, one per effect: "PreviewMove24MP/pen-sketch".
constexpr const char* kPreviewed[] = {"pencil-sketch", "pen-sketch", "dozadir", "pen-and-ink", "color-pencil",
                                      "realism",       "abstract",   "pop-art", "water-color", "brume",
                                      "hsl-adjust",    "emboss",     "texture", "stria"};

// The apply button after a preview of the same values: the whole click,
// against a copy of the picture.
void ApplyAfterPreview24MP(benchmark::State& state)
{
    OpenProgram program(2);
    MainWindow& main = *program.main;
    main.setLivePreview(true);
    EffectDialog* d = program.penSketch();
    auto* ok = d->findChild<QPushButton*>(QStringLiteral("Button1"));
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        moveMainControl(d, step++);
        waitForLatestPreview(main);
        main.document().waitForHistoryIdle();
        state.ResumeTiming();
        ok->click();
        OpenProgram::settle();
    }
    state.counters["copy_ms"] = copySeconds(main.document().source()) * 1e3;
    main.setLivePreview(false);
}
BENCHMARK(ApplyAfterPreview24MP)->UseRealTime()->Unit(benchmark::kMillisecond);

// Twenty moves 10 ms apart, as a dragged slider makes them; the figure is
// the time from the last move to the view showing its picture (what is on
// show 50 ms after the last move is the last move's when it is below 50).
void PreviewBurst24MP(benchmark::State& state, const char* command)
{
    OpenProgram program(2);
    MainWindow& main = *program.main;
    main.setLivePreview(true);
    main.effectAction(command)->trigger();
    OpenProgram::settle();
    EffectDialog* d = main.effectDialog(command);
    int step = 0;
    for (auto _ : state) {
        std::chrono::steady_clock::time_point last;
        for (int move = 0; move < 20; ++move) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
            last = std::chrono::steady_clock::now();
            moveMainControl(d, step++);
            while (std::chrono::steady_clock::now() < until)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        waitForLatestPreview(main);
        main.pictureView->repaint();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - last).count());
    }
    state.counters["cancelled"] = main.livePreview().cancelledCount();
    main.setLivePreview(false);
}

#define PLUMORA_CLICK(fn) BENCHMARK(fn)->DenseRange(1, 2)->UseRealTime()->Unit(benchmark::kMillisecond)
PLUMORA_CLICK(OpenJpeg);
PLUMORA_CLICK(PenSketchOk);
PLUMORA_CLICK(UndoRedo);
PLUMORA_CLICK(Revert);
PLUMORA_CLICK(QuarterTurn);
PLUMORA_CLICK(ImageSize);

}  // namespace
}  // namespace plumora

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const char* command : plumora::kPreviewed)
        benchmark::RegisterBenchmark((std::string("PreviewMove24MP/") + command).c_str(), plumora::PreviewMove24MP,
                                     command)
            ->UseRealTime()
            ->MinTime(2)
            ->Unit(benchmark::kMillisecond);
    for (const char* command : {"pen-sketch", "water-color"})
        benchmark::RegisterBenchmark((std::string("PreviewBurst24MP/") + command).c_str(), plumora::PreviewBurst24MP,
                                     command)
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
