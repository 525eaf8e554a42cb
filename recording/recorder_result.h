#pragma once

#include <QString>

#include <optional>

// The finished files of one recording: both audio tracks, the screen video
// when there is one, and how long the recording ran, in seconds. The
// recorder hands it to the upload flow (as Recorder::Result).
struct RecorderResult {
    QString microphone;
    QString system;
    std::optional<QString> video;
    double duration = 0;
};
