#pragma once

#include <QString>
#include <QUrl>

// Whether `url` is an http or https address with a host: the only kind of
// address the program hands to the desktop or talks to. A local file or
// another program's scheme is not one.
bool isWebAddress(const QUrl& url);
// The same for text, read strictly.
bool isWebAddress(const QString& text);
