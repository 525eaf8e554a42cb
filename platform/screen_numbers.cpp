#include "platform/screen_numbers.h"

#include <QScreen>

quint32 displayNumberAmong(const std::vector<MonitorNumber>& monitors, const QRect& screenGeometry)
{
    for (const MonitorNumber& monitor : monitors) {
        if (monitor.geometry == screenGeometry)
            return monitor.number;
    }
    for (const MonitorNumber& monitor : monitors) {
        if (monitor.primary)
            return monitor.number;
    }
    return monitors.empty() ? 0 : monitors.front().number;
}

QRect nativeGeometry(const QScreen* screen)
{
    if (!screen)
        return {};
    // Qt keeps a screen's top-left corner in device pixels and scales only
    // its size by the device pixel ratio.
    const QRect logical = screen->geometry();
    return {logical.topLeft(), (QSizeF(logical.size()) * screen->devicePixelRatio()).toSize()};
}
