#pragma once

#include "core/pcm_buffer.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

// The microphone: its permission, its format, and a tap that receives its
// audio while it runs.
class AudioInput {
public:
    enum class Permission { notDetermined, authorized, denied, restricted };
    using Tap = std::function<void(const PcmBuffer&)>;
    // A short Russian reason when the input stopped delivering by itself
    // (the sound server went away, the device was unplugged) and keeps
    // trying to come back; nullopt once it delivers again. Runs on the audio
    // thread.
    using Trouble = std::function<void(const std::optional<QString>& trouble)>;

    virtual ~AudioInput() = default;

    virtual Permission authorizationStatus() = 0;
    // Asks the user (when the desktop has such a prompt); true when granted.
    virtual QCoro::Task<bool> requestAccess() = 0;

    // The format the input delivers; a sample rate of 0 when there is no
    // input device (or no sound server).
    virtual AudioFormat inputFormat() = 0;
    // `tap` gets planar buffers of about `bufferSize` frames in `format` on
    // the audio thread; a buffer is valid only during the call. One tap at a
    // time: installing over an existing one throws std::logic_error.
    virtual void installTap(uint32_t bufferSize, const AudioFormat& format, Tap tap) = 0;
    // Once it returns, the tap is not running and will not run again.
    virtual void removeTap() = 0;
    virtual bool hasTap() const = 0;
    // Once it returns, an earlier handler is not called again.
    virtual void setTroubleHandler(Trouble handler) = 0;
    // Throws MediaError-like std::runtime_error when the input cannot start.
    virtual void start() = 0;
    virtual void stop() = 0;
};
