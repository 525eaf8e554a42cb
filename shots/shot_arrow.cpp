#include "shots/shot_arrow.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ShotArrow {

QPainterPath path(QPointF from, QPointF to, double unit)
{
    const QPointF d = to - from;
    const double L = std::max(std::hypot(d.x(), d.y()), 1.0);
    const QPointF u = d / L;
    const QPointF n(-u.y(), u.x());
    // Along the arrow by a, to its left by b.
    const auto P = [&](double a, double b) { return from + a * u + b * n; };

    const double H = L * 0.5 < unit * 12 * 0.9 ? L * 0.5 / 0.9 : unit * 12;
    const double W = 0.4 * H;
    const double T = 0.1 * H;
    const double N = 0.07 * H;
    const double B = L - 0.95 * H;

    QPainterPath outline;
    outline.moveTo(P(0, -T / 2));
    outline.cubicTo(P(0.55 * B, -0.6 * T), P(0.9 * B, -0.32 * W), P(B, -W / 2));
    outline.cubicTo(P(B - 0.2 * N, -(W / 2 + 0.03 * H)), P(B - N, -0.42 * H), P(B - N, -H / 2));
    outline.lineTo(P(L, 0));
    outline.lineTo(P(B - N, H / 2));
    outline.cubicTo(P(B - N, 0.42 * H), P(B - 0.2 * N, W / 2 + 0.03 * H), P(B, W / 2));
    outline.cubicTo(P(0.9 * B, 0.32 * W), P(0.55 * B, 0.6 * T), P(0, T / 2));
    outline.closeSubpath();
    return outline;
}

QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The arrow is laid out with y up, like every other arrow.
    painter.translate(0, size);
    painter.scale(1, -1);
    painter.fillPath(path(QPointF(2, 3), QPointF(size - 1.5, size - 2.5), size / 14.0), Qt::black);
    return image;
}

} // namespace ShotArrow
