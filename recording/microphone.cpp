#include "recording/microphone.h"

#include "recording/recorder_failure.h"

Microphone::Microphone(std::unique_ptr<AudioInput> engine)
    : engine_(std::move(engine))
    , level_(std::make_shared<LevelMeter>())
{
}

QCoro::Task<void> Microphone::requestMicrophone()
{
    switch (engine_->authorizationStatus()) {
    case AudioInput::Permission::authorized:
        co_return;
    case AudioInput::Permission::notDetermined:
        if (co_await engine_->requestAccess())
            co_return;
        throw RecorderFailure::microphoneDenied();
    case AudioInput::Permission::denied:
    case AudioInput::Permission::restricted:
        break;
    }
    throw RecorderFailure::microphoneDenied();
}

void Microphone::startMicrophone(std::shared_ptr<TrackWriter> writer)
{
    const AudioFormat format = engine_->inputFormat();
    if (!(format.sampleRate > 0))
        throw RecorderFailure::noAudioDevice();
    engine_->installTap(tapBufferSize, format, [level = level_, writer = std::move(writer)](const PcmBuffer& buffer) {
        level->measure(buffer);
        if (writer)
            writer->append(buffer);
    });
    try {
        engine_->start();
    } catch (...) {
        // Leave the input as it was, so that the next start can tap it again.
        engine_->removeTap();
        throw;
    }
}

void Microphone::stopMicrophone()
{
    // The input hands its last, part-filled buffer to the tap as it stops:
    // the tap goes only after that.
    engine_->stop();
    engine_->removeTap();
}
