#include "recording/level_meter.h"

#include <cmath>

void LevelMeter::measure(const PcmBuffer& buffer)
{
    float* const* planes = buffer.floatChannelData();
    if (!planes)
        return;
    float bufferPeak = 0;
    for (int channel = 0; channel < buffer.format().channelCount; ++channel) {
        const float* samples = planes[channel];
        if (!samples)
            continue;
        for (uint32_t frame = 0; frame < buffer.frameLength(); ++frame) {
            // A NaN fails the comparison and leaves the maximum alone.
            const float magnitude = std::fabs(samples[frame]);
            if (magnitude > bufferPeak)
                bufferPeak = magnitude;
        }
    }
    std::lock_guard guard(lock_);
    if (bufferPeak > peak_)
        peak_ = bufferPeak;
}

float LevelMeter::peak() const
{
    std::lock_guard guard(lock_);
    return peak_;
}
