#pragma once

#include "platform/audio_input.h"
#include "recording/level_meter.h"
#include "recording/track_writer.h"

#include <qcoro/qcorotask.h>

#include <memory>

// The user's microphone for the recorder: its permission, and a tap that
// feeds every buffer to the level meter and then to the microphone track.
// The input ("engine") and the meter are made once and serve every recording.
class Microphone {
public:
    explicit Microphone(std::unique_ptr<AudioInput> engine);

    // Throws RecorderFailure::microphoneDenied when refused now or before.
    QCoro::Task<void> requestMicrophone();
    // Installs the tap (feeding `writer`, which may be null) and starts the
    // input. Throws RecorderFailure::noAudioDevice when there is no input, or
    // the input's own error when it does not start; either way no tap is
    // left behind.
    void startMicrophone(std::shared_ptr<TrackWriter> writer);
    // Stops the input (its last buffer still reaches the tap), then removes the tap.
    void stopMicrophone();

    const LevelMeter& level() const { return *level_; }
    AudioInput& engine() { return *engine_; }

    // Frames per tap buffer asked of the input.
    static constexpr uint32_t tapBufferSize = 4096;

private:
    std::unique_ptr<AudioInput> engine_;
    std::shared_ptr<LevelMeter> level_;
};
