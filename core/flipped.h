#pragma once

#include <QRect>
#include <QRectF>

// Layouts here are reasoned about with the origin at the bottom left of
// their container, y growing upward; flipped() gives such a frame in a
// container `height` high in Qt's top-left coordinates (and back).
inline QRectF flipped(const QRectF& rect, double height)
{
    return {rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height()};
}

inline QRect flipped(const QRect& rect, int height)
{
    return {rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height()};
}
