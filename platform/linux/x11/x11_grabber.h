#pragma once

#include "platform/screen_capture.h"

#include <QImage>
#include <QString>
#include <QSize>

#include <optional>

class X11Session;

// Still pictures of the X screen, scaled to the requested size. Runs on any
// thread but the main one: it waits for the server.
// The picture of a filter at the configuration's size, with the pointer when
// it asks for it; nothing when the display or window is gone or the server
// cannot be read.
std::optional<QImage> grabFilter(X11Session& session, const ContentFilter& filter,
                                 const StreamConfiguration& configuration);

// Why a filter's pictures stopped for good: its window was destroyed or its
// monitor removed. Nothing while the source exists (a minimised window comes
// back) or when the server itself cannot be read.
std::optional<QString> lostSource(X11Session& session, const ContentFilter& filter);
