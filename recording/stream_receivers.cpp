#include "recording/stream_receivers.h"

void StreamWatcher::didStopWithError(const QString& description)
{
    if (onStop)
        onStop(description);
}

void StreamWatcher::didChangeAudioTrouble(const std::optional<QString>& trouble)
{
    if (onTrouble)
        onTrouble(trouble);
}

void SystemAudioOutput::didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type)
{
    if (type != StreamOutputType::Audio)
        return;
    const PcmBuffer* buffer = asPcmBuffer(sample);
    if (!buffer)
        return;
    {
        std::lock_guard guard(lock_);
        ++received_;
    }
    // Called without the lock: the watchdog never waits for a writer.
    if (onBuffer)
        onBuffer(*buffer);
}

int64_t SystemAudioOutput::received() const
{
    std::lock_guard guard(lock_);
    return received_;
}

void ScreenVideoOutput::didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type)
{
    if (type != StreamOutputType::Screen || sample.image.isNull())
        return;
    if (onFrame)
        onFrame(sample);
}
