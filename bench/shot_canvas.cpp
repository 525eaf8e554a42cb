// The annotation canvas under load: a 3024 × 1964 shot shown 1000 points wide
// with 100 marks (20 of each tool, blurs of 300 × 200 points).
//   flattened    the full-size picture with every mark
//   flattened_one_tool/N  the same with the 20 marks of tool N only (arrow, pen,
//                box, blur, text), to see where the time goes
//   bare_floor   drawing the bare shot into a new image of the same size, the
//                least any flattening can cost
//   repaint_drag one on-screen repaint while a new arrow is dragged over them
//   first_paint  the paint after one more mark is committed
//   undo_paint   the paint after an undo (the layer of committed marks is rebuilt)
#include "shots/shot_canvas.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

const QSize shotSize(3024, 1964);
const QSize shownSize(1000, 649);

QImage makeShot()
{
    QImage shot(shotSize, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < shot.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(shot.scanLine(y));
        for (int x = 0; x < shot.width(); ++x)
            line[x] = qRgb((x * 255) / shot.width(), (y * 255) / shot.height(), random.bounded(256));
    }
    return shot;
}

void mouse(ShotCanvas& canvas, QEvent::Type type, QPointF canvasPoint)
{
    const QPointF at = canvas.widgetPoint(canvasPoint);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, canvas.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&canvas, &event);
}

void drag(ShotCanvas& canvas, std::initializer_list<QPointF> points)
{
    mouse(canvas, QEvent::MouseButtonPress, *points.begin());
    for (const QPointF& p : points)
        mouse(canvas, QEvent::MouseMove, p);
    mouse(canvas, QEvent::MouseButtonRelease, *(points.end() - 1));
}

// 20 marks of every tool, or of `only` that one (the same marks either way).
std::unique_ptr<ShotCanvas> loadedCanvas(const QImage& shot, std::optional<ShotTool> only = std::nullopt)
{
    auto canvas = std::make_unique<ShotCanvas>(shot);
    canvas->resize(shownSize);
    QRandomGenerator random(11);
    const auto point = [&](double w, double h) {
        return QPointF(random.bounded(shownSize.width() - w), random.bounded(shownSize.height() - h));
    };
    const auto use = [&](ShotTool tool) {
        canvas->setTool(tool);
        return !only || *only == tool;
    };
    for (int i = 0; i < 20; ++i) {
        canvas->setWeight(allShotWeights[size_t(i) % allShotWeights.size()]);
        canvas->setColor(allShotColors[size_t(i) % allShotColors.size()]);

        const QPointF tail = point(300, 200);
        const QPointF tip = tail + QPointF(random.bounded(50, 300), random.bounded(0, 200));
        if (use(ShotTool::arrow))
            drag(*canvas, {tail, tip});

        QPointF p = point(200, 100);
        QList<QPointF> pen;
        for (int s = 0; s < 40; ++s)
            pen.append(p += QPointF(5, random.bounded(-5, 6)));
        if (use(ShotTool::pen)) {
            mouse(*canvas, QEvent::MouseButtonPress, pen.first());
            for (const QPointF& sample : pen)
                mouse(*canvas, QEvent::MouseMove, sample);
            mouse(*canvas, QEvent::MouseButtonRelease, pen.last());
        }

        const QPointF corner = point(200, 150);
        const QPointF opposite = corner + QPointF(random.bounded(20, 200), random.bounded(20, 150));
        if (use(ShotTool::box))
            drag(*canvas, {corner, opposite});

        const QPointF blur = point(300, 200);
        if (use(ShotTool::blur))
            drag(*canvas, {blur, blur + QPointF(300, 200)});

        const QPointF origin = point(260, 60);
        if (use(ShotTool::text)) {
            mouse(*canvas, QEvent::MouseButtonPress, origin);
            mouse(*canvas, QEvent::MouseButtonRelease, origin);
            canvas->editor()->setText(QStringLiteral("Пометка номер %1").arg(i));
            canvas->commitText();
        }
    }
    const int expected = only ? 20 : 100;
    if (canvas->marks().size() != expected)
        qFatal("expected %d marks, have %d", expected, int(canvas->marks().size()));
    return canvas;
}

const QImage& shot()
{
    static const QImage image = makeShot();
    return image;
}

void bare_floor(benchmark::State& state)
{
    for (auto _ : state) {
        QImage picture(shot().size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&picture);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(picture.rect(), shot());
        painter.end();
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void flattened(benchmark::State& state)
{
    auto canvas = loadedCanvas(shot());
    for (auto _ : state) {
        QImage picture = canvas->flattened();
        benchmark::DoNotOptimize(picture.constBits());
    }
}

// Where the time of `flattened` goes: 20 marks of one tool.
void flattened_one_tool(benchmark::State& state)
{
    const auto tool = allShotTools[size_t(state.range(0))];
    auto canvas = loadedCanvas(shot(), tool);
    for (auto _ : state) {
        QImage picture = canvas->flattened();
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void repaint_drag(benchmark::State& state)
{
    // The canvas paints into a screen-sized image as it would into its
    // window's backing store (the offscreen platform skips hidden repaints).
    auto canvas = loadedCanvas(shot());
    QImage screen(shownSize, QImage::Format_ARGB32_Premultiplied);
    canvas->setTool(ShotTool::arrow);
    mouse(*canvas, QEvent::MouseButtonPress, {100, 100});
    mouse(*canvas, QEvent::MouseMove, {400, 300});
    canvas->render(&screen); // the layer of committed marks is built once, at the first paint
    int step = 0;
    for (auto _ : state) {
        mouse(*canvas, QEvent::MouseMove, {400.0 + step % 200, 300.0 - step % 100});
        canvas->render(&screen);
        benchmark::DoNotOptimize(screen.constBits());
        ++step;
    }
    mouse(*canvas, QEvent::MouseButtonRelease, {400, 300});
}

void first_paint(benchmark::State& state)
{
    auto canvas = loadedCanvas(shot());
    QImage screen(shownSize, QImage::Format_ARGB32_Premultiplied);
    canvas->render(&screen);
    canvas->setTool(ShotTool::box);
    for (auto _ : state) {
        drag(*canvas, {{10, 10}, {60, 60}});
        canvas->render(&screen);
        benchmark::DoNotOptimize(screen.constBits());
    }
}

void undo_paint(benchmark::State& state)
{
    auto canvas = loadedCanvas(shot());
    QImage screen(shownSize, QImage::Format_ARGB32_Premultiplied);
    canvas->setTool(ShotTool::box);
    for (auto _ : state) {
        state.PauseTiming();
        drag(*canvas, {{10, 10}, {60, 60}});
        canvas->render(&screen);
        state.ResumeTiming();
        canvas->undo();
        canvas->render(&screen);
        benchmark::DoNotOptimize(screen.constBits());
    }
}

} // namespace

BENCHMARK(bare_floor)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(flattened)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(flattened_one_tool)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(repaint_drag)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(first_paint)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(undo_paint)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Repetitions(7)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
