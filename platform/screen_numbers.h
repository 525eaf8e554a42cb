#pragma once

#include <QRect>
#include <QtGlobal>

#include <vector>

class QScreen;

// Display numbers: the one place that turns a Qt screen into the number that
// capture targets use for the same display.
//
// On X11 a display is a RandR monitor, and its number is the monitor's name
// atom (the `name` field of xcb_randr_get_monitors). The atom is stable for as
// long as the X server runs, unique per monitor, and it is what the screen
// capture lists, so an area drawn on a screen can be captured from the same
// display. A QScreen is matched to its monitor by geometry in device pixels.

struct MonitorNumber {
    quint32 number = 0;
    QRect geometry; // device pixels on the X screen
    bool primary = false;
};

// The number of the monitor whose geometry is `screenGeometry`. A screen with
// no such monitor gets the main display's number: the primary monitor, else
// the first one; 0 when there are no monitors at all.
quint32 displayNumberAmong(const std::vector<MonitorNumber>& monitors, const QRect& screenGeometry);

// The geometry of `screen` in device pixels, as monitors give theirs.
QRect nativeGeometry(const QScreen* screen);
