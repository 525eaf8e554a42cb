#include "platform/audio_input.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/pulse/pulse_context.h"
#include "platform/linux/pulse/pulse_default_stream.h"
#include "core/serial_queue.h"

#include <stdexcept>

namespace {

// The default source of the PulseAudio (or pipewire-pulse) server, followed
// when the user picks another one and across restarts of the server. A
// Linux desktop has no microphone permission to ask for.
class PulseAudioInput final : public AudioInput {
public:
    PulseAudioInput()
        : context_(queueLabel(".mic"))
        // Delivered with the loop's lock held, so removeTap() waits for a
        // running tap and none runs after it.
        , stream_(
              context_, PulseDefaultStream::Device::input,
              [this](const PcmBuffer& buffer) {
                  if (tap_)
                      tap_(buffer);
              },
              [this](const std::optional<QString>& trouble) {
                  if (trouble_)
                      trouble_(trouble);
              })
    {
    }

    ~PulseAudioInput() override { stop(); }

    Permission authorizationStatus() override { return Permission::authorized; }
    QCoro::Task<bool> requestAccess() override { co_return true; }

    AudioFormat inputFormat() override
    {
        // A monitor of the speakers is no microphone: without a real one
        // there is nothing to record.
        const auto source = stream_.current();
        if (!source || source->sampleSpec.rate == 0 || source->sampleSpec.channels == 0)
            return {};
        source_ = source->name;
        return {double(source->sampleSpec.rate), int(source->sampleSpec.channels), AudioFormat::SampleType::float32};
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

    void setTroubleHandler(Trouble handler) override
    {
        PulseContext::Lock lock(context_);
        trouble_ = std::move(handler);
    }

    void start() override
    {
        if (running_)
            return;
        if (!(tapFormat_.sampleRate > 0))
            throw std::runtime_error("не задан формат записи микрофона");
        stream_.start(source_, tapFormat_, bufferSize_);
        running_ = true;
    }

    void stop() override
    {
        stream_.stop();
        running_ = false;
    }

private:
    PulseContext context_;
    Tap tap_;
    Trouble trouble_;
    PulseDefaultStream stream_;
    bool running_ = false;
    std::string source_;
    AudioFormat tapFormat_;
    uint32_t bufferSize_ = 4096;
};

} // namespace

std::unique_ptr<AudioInput> LinuxPlatform::microphoneInput()
{
    return std::make_unique<PulseAudioInput>();
}
