#pragma once

#include "platform/linux/pulse/pulse_context.h"
#include "recording/pcm_buffer.h"

#include <functional>
#include <string>
#include <vector>

// Records one source (a microphone, or a sink's monitor for the computer's
// own sound) as float32 and hands it on in planar buffers of a fixed number
// of frames. The consumer runs on the context's loop thread with its lock
// held and gets views valid only during the call.
class PulseRecordStream {
public:
    using Consumer = std::function<void(const PcmBuffer&)>;
    // Told, with the server's error code, when a recording stream ends by
    // itself (the server goes away, the source is removed). Runs on the
    // loop thread with the lock held; never after stop().
    using StoppedHandler = std::function<void(int error)>;

    // `format` gives the rate and channel count to record in.
    PulseRecordStream(PulseContext& context, std::string sourceName, const AudioFormat& format,
                      uint32_t framesPerBuffer, Consumer consumer);
    ~PulseRecordStream();

    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    // Set before start().
    void setStoppedHandler(StoppedHandler handler) { stopped_ = std::move(handler); }
    // Set before start(): the stream ends, rather than being moved to
    // another source, when its source goes away.
    void keepToSource() { keepToSource_ = true; }

    // Connects the stream and waits until it records. Call without the lock.
    // Throws std::runtime_error.
    void start();
    // Call without the lock. Hands on what was recorded so far, the last
    // buffer shorter than the others; once it returns the consumer is not
    // called again.
    void stop();

private:
    void read(size_t bytes);
    // Hands the first `frames` (at most one buffer's) of pending_ on.
    void deliver(size_t frames);

    PulseContext& context_;
    std::string sourceName_;
    AudioFormat format_;
    uint32_t framesPerBuffer_;
    Consumer consumer_;
    StoppedHandler stopped_;
    bool keepToSource_ = false;
    pa_stream* stream_ = nullptr;
    // Interleaved samples not yet handed on.
    std::vector<float> pending_;
    std::vector<std::vector<float>> planes_;
};
