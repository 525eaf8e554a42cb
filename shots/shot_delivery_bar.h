#pragma once

#include "shots/screenshot.h"

#include <QSize>

#include <functional>

class QWidget;

// The bar under the picture, `width` points wide: the size of the picture of
// `pixels`, shown `imageWidth` points wide, and the three deliveries (save,
// copy, share); `chosen` gets the delivery clicked. Placing it is the
// caller's.
QWidget* buildDeliveryBar(QWidget* parent, QSize pixels, double imageWidth, double width,
                          std::function<void(Screenshot::Destination)> chosen);
