#pragma once

#include "core/clock.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// A short notice at the top of the screen under the pointer that takes no
// focus, lets clicks through and hides itself. Main thread only.
namespace Toast {

// Hides after `seconds` of `clock`.
void show(const QString& text, double seconds, Clock& clock);

// The most recently shown notice, kept after it hides; null before the first.
QWidget* panel();

} // namespace Toast
