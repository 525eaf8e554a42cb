#pragma once

#include "platform/audio_input.h"

#include <stdexcept>

// A microphone driven by the test: it answers permission from a script and
// delivers whatever buffers the test pushes, on the calling thread.
class FakeAudioInput final : public AudioInput {
public:
    Permission status = Permission::authorized;
    bool grantOnRequest = true;
    int requests = 0;
    AudioFormat format {48000, 1, AudioFormat::SampleType::float32};
    bool failStart = false;
    bool running = false;
    uint32_t tapBufferSize = 0;

    Permission authorizationStatus() override { return status; }
    QCoro::Task<bool> requestAccess() override
    {
        ++requests;
        co_return grantOnRequest;
    }
    AudioFormat inputFormat() override { return format; }
    void installTap(uint32_t bufferSize, const AudioFormat&, Tap tap) override
    {
        if (tap_)
            throw std::logic_error("a tap is already installed");
        tapBufferSize = bufferSize;
        tap_ = std::move(tap);
    }
    void removeTap() override { tap_ = nullptr; }
    void setTroubleHandler(Trouble handler) override { trouble_ = std::move(handler); }
    bool hasTap() const override { return bool(tap_); }
    void start() override
    {
        if (failStart)
            throw std::runtime_error("устройство занято");
        running = true;
    }
    void stop() override { running = false; }

    // Hands `buffer` to the tap as the audio thread would.
    void deliver(const PcmBuffer& buffer)
    {
        if (tap_ && running)
            tap_(buffer);
    }

    // Tells of trouble (or its end, with nullopt) as the audio thread would.
    void trouble(const std::optional<QString>& trouble)
    {
        if (trouble_)
            trouble_(trouble);
    }

private:
    Tap tap_;
    Trouble trouble_;
};
