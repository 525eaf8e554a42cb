#pragma once

#include <QString>

#include <optional>

// The finished files of one recording, as paths, and how long it ran.
struct RecorderResult {
    QString microphone;
    // A track without sound when the computer's sound was never captured.
    QString system;
    // Unset for an audio-only recording, and when no frame was written or
    // the video could not be completed.
    std::optional<QString> video;
    // Seconds from the start to the moment capture had stopped.
    double duration = 0;
};
