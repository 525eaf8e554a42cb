#include "service/busy_spinner.h"

#include <QPainter>
#include <QPalette>

namespace {

constexpr int spokes = 12;

} // namespace

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    setVisible(false);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % spokes;
        update();
    });
}

void BusySpinner::start()
{
    step_ = 0;
    timer_.start();
    setVisible(true);
}

void BusySpinner::stop()
{
    timer_.stop();
    setVisible(false);
}

void BusySpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QColor color = palette().color(QPalette::WindowText);
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the current step is solid; those behind it fade out.
        const int age = (step_ - i + spokes) % spokes;
        color.setAlphaF(1.0 - 0.75 * age / (spokes - 1));
        painter.setPen(QPen(color, side / 9.0, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -side * 0.24), QPointF(0, -side * 0.44));
        painter.restore();
    }
}
