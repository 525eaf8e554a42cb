#pragma once

// Small pieces the benchmark programs share.

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs the event loop for `ms` milliseconds.
inline void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

inline void sendMouse(QWidget* view, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

// A window of one colour.
class Swatch : public QRasterWindow {
public:
    explicit Swatch(QColor colour) : colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(0, 0), size()), colour_); }

private:
    QColor colour_;
};

// Ten overlapping windows of different colours, titled "Окно 1" to "Окно 10",
// as a picker sees them on a busy desktop.
inline std::vector<std::unique_ptr<Swatch>> showTenWindows()
{
    std::vector<std::unique_ptr<Swatch>> swatches;
    for (int i = 0; i < 10; ++i) {
        auto swatch = std::make_unique<Swatch>(QColor::fromHsv(i * 36, 200, 220));
        swatch->setTitle(QStringLiteral("Окно %1").arg(i + 1));
        swatch->setGeometry(40 + 170 * i, 100 + 40 * i, 640, 420);
        swatch->show();
        swatches.push_back(std::move(swatch));
    }
    return swatches;
}
