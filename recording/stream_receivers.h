#pragma once

#include "platform/screen_capture.h"
#include "core/pcm_buffer.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

// The receivers a recording attaches to its capture stream. The stream calls
// them on its own threads; each touches only its own fields and what its
// function captured.

// Told when the stream stops by itself, and when its audio is in trouble.
class StreamWatcher final : public StreamDelegate {
public:
    explicit StreamWatcher(std::function<void(const QString&)> onStop,
                           std::function<void(const std::optional<QString>&)> onTrouble = {})
        : onStop(std::move(onStop))
        , onTrouble(std::move(onTrouble))
    {
    }

    void didStopWithError(const QString& description) override;
    void didChangeAudioTrouble(const std::optional<QString>& trouble) override;

    const std::function<void(const QString&)> onStop;
    const std::function<void(const std::optional<QString>&)> onTrouble;
};

// The computer's sound: every usable buffer is counted, then handed to
// `onBuffer`, which must copy it before returning (the view belongs to the
// stream).
class SystemAudioOutput final : public StreamOutput {
public:
    explicit SystemAudioOutput(std::function<void(const PcmBuffer&)> onBuffer)
        : onBuffer(std::move(onBuffer))
    {
    }

    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) override;
    // Buffers handed to onBuffer so far; read from any thread.
    int64_t received() const;

    const std::function<void(const PcmBuffer&)> onBuffer;

private:
    mutable std::mutex lock_;
    int64_t received_ = 0;
};

// The picture: every frame that carries an image goes to `onFrame`.
class ScreenVideoOutput final : public StreamOutput {
public:
    explicit ScreenVideoOutput(std::function<void(const SampleBuffer&)> onFrame)
        : onFrame(std::move(onFrame))
    {
    }

    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) override;

    const std::function<void(const SampleBuffer&)> onFrame;
};
