#pragma once

#include "core/flipped.h"

#include <QRectF>
#include <QSize>
#include <QString>

#include <array>
#include <optional>

// The editor's geometry as plain numbers, so that every rule can be checked
// without a window. Rectangles here are in points with the origin at the
// bottom-left corner of their container, y growing upward; flipped() turns
// one into Qt's top-left coordinates.
namespace ShotPreviewLayout {

// The height of the bottom bar with the size label and the delivery buttons.
inline constexpr double barHeight = 64;
// The width of the tool strip on the left.
inline constexpr double stripWidth = 52;
// The header strip above the content that carries the "Снимок экрана" pill;
// Linux windows have no toolbar inside their title bar.
inline constexpr double headerHeight = 40;

struct Sizes {
    double maxH = 0;         // the height budget for the picture
    double imageWidth = 0;   // the shown size of the picture
    double imageHeight = 0;
    double shownHeight = 0;  // the height the picture may take, at least 320
    double shown = 0;        // the content height above the bar, at least 480 where the budget allows
    double contentWidth = 0; // the window's content width
    bool scrolls = false;    // a picture taller than its room scrolls vertically

    // The content below the header: contentWidth × (shown + 64).
    double contentHeight() const { return shown + barHeight; }
};

// The sizes for a picture of `pixels` on a screen whose usable height is
// `visibleHeight` points (none without a screen: 680 points of budget).
Sizes sizes(QSize pixels, std::optional<double> visibleHeight);

// Where the scroll view with the canvas sits in the content.
QRectF scrollFrame(const Sizes& sizes);

// "2880 × 1800", followed by "  ·  66%" when the picture is shown at another
// scale than half its pixel width (two percent or more off).
QString sizeLabel(QSize pixels, double imageWidth);

// The parts of the tool strip, relative to the strip (height `shown`).
struct Strip {
    std::array<QRectF, 5> tools;
    QRectF firstSeparator;
    QRectF colorWell;
    QRectF weightWell;
    QRectF secondSeparator;
    QRectF undo;
};
Strip strip(double shown);

struct Delivery {
    QString title;
    QRectF frame; // in the bottom bar
    QString toolTip;
};
// Save, copy, share, for content width `contentWidth`.
std::array<Delivery, 3> deliveries(double contentWidth);

// The buttons inside the popovers and the popovers' sizes.
inline constexpr QSizeF colorPopoverSize{148, 80};
inline constexpr QSizeF weightPopoverSize{46, 182};
QRectF colorChoiceFrame(int index);
QRectF weightChoiceFrame(int index);

// `rect` in a container `height` high, in top-left coordinates.
using ::flipped;

} // namespace ShotPreviewLayout
