// Times what the user waits for in the desktop program's windows, driven on
// the offscreen platform: an event sent, handled and painted.
//
//   build/bench/plumora_window_bench [--benchmark_repetitions=5]

#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "document/document.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>

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

}  // namespace
}  // namespace plumora

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
