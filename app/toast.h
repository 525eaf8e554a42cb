#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// A short notice at the top of the screen under the pointer that takes no
// focus, lets clicks through and hides itself. Main thread only.
namespace Toast {

void show(const QString& text, double seconds);

// The most recently shown notice, kept after it hides; null before the first.
QWidget* panel();

} // namespace Toast
