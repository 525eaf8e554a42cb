#pragma once

#include "platform/linux/pulse/pulse_context.h"
#include "core/pcm_buffer.h"

#include <functional>
#include <string>
#include <vector>

// Records one source (a microphone, or a sink's monitor for the computer's
// own sound) as float32 and hands it on in planar buffers of a fixed number
// of frames. The consumer runs on the context's loop thread with its lock
// held and gets views valid only during the call.
//
// The stream stays on its source: when the source goes away it ends rather
// than being moved by the server to its fallback, which may be a monitor
// (for a microphone) or the microphone (for the computer's sound). Which
// device to record next is its owner's choice.
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

    // Set before start() or open().
    void setStoppedHandler(StoppedHandler handler) { stopped_ = std::move(handler); }

    // Connects the stream and waits until it records. Call without the lock.
    // Throws std::runtime_error.
    void start();
    // Connects the stream on a connected context without waiting: a stream
    // that then fails to record ends through the stopped handler. With the
    // lock held, also on the loop thread. Throws std::runtime_error when the
    // server refuses at once.
    void open();
    // Call without the lock, or on the loop thread. Hands on what was
    // recorded so far, the last buffer shorter than the others; once it
    // returns the consumer is not called again.
    void stop();

    const std::string& sourceName() const { return sourceName_; }
    // Connected and not ended; with the lock held.
    bool recording() const { return stream_ && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); }

private:
    void connectStream();
    // Lets go of a stream the server would not start, saying why.
    [[noreturn]] void failToStart();
    void stateChanged();
    void read(size_t bytes);
    // Hands the first `frames` (at most one buffer's) of pending_ on.
    void deliver(size_t frames);

    PulseContext& context_;
    std::string sourceName_;
    AudioFormat format_;
    uint32_t framesPerBuffer_;
    Consumer consumer_;
    StoppedHandler stopped_;
    // Whether an end is told through stopped_; a waiting start() sees a
    // failure itself.
    bool tellsEnd_ = false;
    pa_stream* stream_ = nullptr;
    // Interleaved samples not yet handed on.
    std::vector<float> pending_;
    std::vector<std::vector<float>> planes_;
};
