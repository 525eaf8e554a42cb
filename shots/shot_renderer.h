#pragma once

#include "shots/shot_mark.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QSizeF>

class QPainter;
class QPaintDevice;

// One cell of a pixelating blur: the rectangle it fills (canvas coordinates)
// and the screenshot pixel whose colour it takes (column, row from the top).
struct ShotBlurCell {
    QRectF rect;
    QPoint sample;
};

// The cells that pixelate `span` on a canvas of `bounds` points showing a
// screenshot of `pixels`. Cells are squares of max(width / 100, 6) points,
// clipped to the span; a span narrower or lower than 2 points has none.
QList<ShotBlurCell> blurCells(QRectF span, QSizeF bounds, QSize pixels);

// Draws marks for a canvas of `bounds` points that shows `bitmap`. The
// painter's world transform must map canvas coordinates (y up) onto its device;
// any uniform scale in it scales every size of the weight table with it.
class ShotRenderer {
public:
    ShotRenderer(const QImage& bitmap, QSizeF bounds) : bitmap_(bitmap), bounds_(bounds) {}

    void draw(QPainter& painter, const ShotMark& mark) const;

    // The semibold system font whose em is `size` units on `device`.
    static QFont textFont(double size, const QPaintDevice& device);

private:
    void drawArrow(QPainter& painter, const ShotMark& mark) const;
    void drawPen(QPainter& painter, const ShotMark& mark) const;
    void drawBox(QPainter& painter, const ShotMark& mark) const;
    void drawText(QPainter& painter, const ShotMark& mark) const;
    void drawBlur(QPainter& painter, const ShotMark& mark) const;

    const QImage& bitmap_;
    QSizeF bounds_;
};
