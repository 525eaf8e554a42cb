#pragma once

#include "platform/screen_capture.h"

#include <QDBusConnection>
#include <QImage>

#include <qcoro/qcorotask.h>

#include <optional>
#include <vector>

// A picture of all screens from the desktop's Screenshot portal, taken
// without asking the user; nothing when the desktop gives none. The file the
// portal leaves behind is removed.
QCoro::Task<std::optional<QImage>> portalScreenshot(QDBusConnection bus);

// The part of a screenshot of all screens that shows `display`, its frame
// given in points like the others in `displays`.
QImage displayPart(const QImage& screenshot, const ShareableDisplay& display,
                   const std::vector<ShareableDisplay>& displays);
