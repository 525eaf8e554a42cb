#pragma once

#include <QRectF>
#include <QSizeF>
#include <QtGlobal>

// The area the user outlined: what a screenshot is cropped to.
struct SelectedArea {
    // In points of the screen it was drawn on, origin at that screen's
    // top-left corner, y growing downward.
    QRectF rect;
    // The display the area was drawn on, numbered as the screen capture
    // numbers displays (ScreenCapture::displayNumber).
    quint32 displayID = 0;
    // That screen's size in points.
    QSizeF screenSize;

    friend bool operator==(const SelectedArea&, const SelectedArea&) = default;
};
