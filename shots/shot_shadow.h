#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>

class QPainter;

// Draws the soft shadow of a filled shape: the shape moved by `offset`,
// filled with `color` and blurred with a Gaussian whose blur radius (about
// two standard deviations) is `blurRadius`. The shape, offset and radius are
// in the painter's world coordinates and are scaled with its transform.
// QPainter has no shadows of its own, so this renders a blurred mask of the
// visible part and draws it under whatever comes next.
void drawShadow(QPainter& painter, const QPainterPath& shape, QPointF offset, double blurRadius,
                const QColor& color);
