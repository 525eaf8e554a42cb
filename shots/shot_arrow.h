#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPointF>

// The tapered arrow of the arrow tool and of its toolbar icon.
namespace ShotArrow {

// The closed outline of an arrow from `from` to its tip at `to`, in canvas
// coordinates (y up). The head is 12 units long but never longer than the
// arrow's length / 1.8; the shaft widens from the tail to the head.
QPainterPath path(QPointF from, QPointF to, double unit);

// A size × size image, transparent but for a black arrow pointing up and to
// the right, for the toolbar to tint.
QImage icon(int size);

} // namespace ShotArrow
