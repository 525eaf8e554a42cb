#pragma once

#include "platform/screen_capture.h"

#include <QImage>
#include <QPoint>

class X11Session;

// The X server draws one picture of everything mapped, so a display's
// picture shows our own windows unless they are painted over. Where a window
// the filter leaves out (its excluded windows and, when it asks, every
// window of this process) lies over `picture` (the root's pixels whose
// top-left lies at `origin`), what lies beneath it is painted in its place:
// the desktop's background, then the other top-level windows bottom to top,
// each from the picture Composite keeps of it. Nothing is done, beyond
// finding the windows, when none of them lies over the picture. False when
// the server could not be read.
bool paintOverLeftOutWindows(X11Session& session, const ContentFilter& filter, QImage& picture, QPoint origin);
