#pragma once

#include "platform/linux/pulse/pulse_context.h"
#include "platform/linux/pulse/pulse_record_stream.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The computer's own sound: the monitor of the default sink, recorded on a
// loop thread labelled ".system". Korvala itself plays no sound, so nothing
// of ours can reach this track: that is how the program's own audio stays
// excluded without asking the server for it.
class PulseSystemAudio {
public:
    using Consumer = PulseRecordStream::Consumer;
    // Called once, on the loop thread, with a Russian description of why the
    // recording ended by itself.
    using Stopped = std::function<void(const QString& description)>;

    PulseSystemAudio(Consumer consumer, Stopped stopped);
    ~PulseSystemAudio();

    PulseSystemAudio(const PulseSystemAudio&) = delete;
    PulseSystemAudio& operator=(const PulseSystemAudio&) = delete;

    // Connects and waits until the monitor records; the reason when it does
    // not. Blocks on the server: call it away from the main thread.
    std::optional<QString> start();
    // Once it returns neither the consumer nor `stopped` is called again.
    void stop();

    // The user-facing text for a server error that ended the recording.
    static QString describeStop(int error);

    // Frames per buffer handed on: about 21 ms at 48 kHz.
    static constexpr uint32_t framesPerBuffer = 1024;

private:
    Consumer consumer_;
    Stopped stopped_;
    PulseContext context_;
    std::unique_ptr<PulseRecordStream> stream_;
};
