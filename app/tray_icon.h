#pragma once

#include <QIcon>
#include <QString>

// The tray image, or the "●" drawn as one when the image cannot be read.
QIcon trayIcon(const QString& imagePath);
