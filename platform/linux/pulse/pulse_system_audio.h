#pragma once

#include "platform/linux/pulse/pulse_context.h"
#include "platform/linux/pulse/pulse_default_stream.h"

#include <QString>

#include <functional>
#include <optional>

// The computer's own sound: the monitor of the default sink, recorded on a
// loop thread labelled ".system", following the default sink when the user
// switches to a headset or unplugs it, and across restarts of the server.
// Korvala itself plays no sound, so nothing of ours can reach this track:
// that is how the program's own audio stays excluded without asking the
// server for it.
class PulseSystemAudio {
public:
    using Consumer = PulseDefaultStream::Consumer;
    using Trouble = PulseDefaultStream::Trouble;

    PulseSystemAudio(Consumer consumer, Trouble trouble);
    ~PulseSystemAudio();

    PulseSystemAudio(const PulseSystemAudio&) = delete;
    PulseSystemAudio& operator=(const PulseSystemAudio&) = delete;

    // Connects and waits until the monitor records; the reason when it does
    // not. Blocks on the server: call it away from the main thread.
    std::optional<QString> start();
    // Once it returns neither the consumer nor `trouble` is called again.
    void stop();

    // Frames per buffer handed on: about 21 ms at 48 kHz.
    static constexpr uint32_t framesPerBuffer = 1024;

private:
    PulseContext context_;
    PulseDefaultStream stream_;
};
