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
