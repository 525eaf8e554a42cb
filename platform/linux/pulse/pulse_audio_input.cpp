#include "platform/audio_input.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/pulse/pulse_context.h"
#include "platform/linux/pulse/pulse_record_stream.h"
#include "core/serial_queue.h"

#include <stdexcept>

namespace {

// The default source of the PulseAudio (or pipewire-pulse) server. A Linux
// desktop has no microphone permission to ask for.
class PulseAudioInput final : public AudioInput {
public:
    PulseAudioInput()
        : context_(queueLabel(".mic"))
    {
    }

    ~PulseAudioInput() override { stop(); }

    Permission authorizationStatus() override { return Permission::authorized; }
    QCoro::Task<bool> requestAccess() override { co_return true; }

    AudioFormat inputFormat() override
    {
        if (!context_.connect())
            return {};
        const auto source = context_.defaultSourceName();
        if (!source || source->empty())
            return {};
        const auto sampleSpec = context_.sourceSpec(*source);
        if (!sampleSpec || sampleSpec->rate == 0 || sampleSpec->channels == 0)
            return {};
        source_ = *source;
        return {double(sampleSpec->rate), int(sampleSpec->channels), AudioFormat::SampleType::float32};
    }

    void installTap(uint32_t bufferSize, const AudioFormat& format, Tap tap) override
    {
        PulseContext::Lock lock(context_);
        if (tap_)
            throw std::logic_error("a tap is already installed on the microphone");
        tap_ = std::move(tap);
        tapFormat_ = format;
        bufferSize_ = bufferSize;
    }

    void removeTap() override
    {
        PulseContext::Lock lock(context_);
        tap_ = nullptr;
    }

    bool hasTap() const override
    {
        PulseContext::Lock lock(const_cast<PulseContext&>(context_));
        return bool(tap_);
    }

    void start() override
    {
        if (stream_)
            return;
        if (!(tapFormat_.sampleRate > 0))
            throw std::runtime_error("не задан формат записи микрофона");
        // Delivered with the loop's lock held, so removeTap() waits for a
        // running tap and none runs after it.
        stream_ = std::make_unique<PulseRecordStream>(context_, source_, tapFormat_, bufferSize_,
                                                      [this](const PcmBuffer& buffer) {
                                                          if (tap_)
                                                              tap_(buffer);
                                                      });
        try {
            stream_->start();
        } catch (...) {
            stream_.reset();
            throw;
        }
    }

    void stop() override { stream_.reset(); }

private:
    PulseContext context_;
    std::unique_ptr<PulseRecordStream> stream_;
    std::string source_;
    Tap tap_;
    AudioFormat tapFormat_;
    uint32_t bufferSize_ = 4096;
};

} // namespace

std::unique_ptr<AudioInput> LinuxPlatform::microphoneInput()
{
    return std::make_unique<PulseAudioInput>();
}
