#pragma once

#include "tests/support/qt_wait.h"
#include "tests/support/spawned_child.h"

#include <QString>

#include <csignal>

// Lets the crash child (KORVALA_CRASH_CHILD) write a 1 kHz track at `track`
// and a video at `video` for `seconds`, then kills it with SIGKILL: the
// files stay as a killed recording leaves them.
inline bool killRecordingAfter(const QString& track, const QString& video, int seconds)
{
    SpawnedChild child(KORVALA_CRASH_CHILD, {track, video});
    if (!child.started())
        return false;
    const QByteArray wanted = "handed " + QByteArray::number(seconds);
    QByteArray said;
    const bool handed = waitUntil([&] {
        said += child.readOutput();
        return said.contains(wanted);
    }, 60000);
    return child.killWith(SIGKILL) && handed;
}
