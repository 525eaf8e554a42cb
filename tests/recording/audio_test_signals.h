#pragma once

#include "core/pcm_buffer.h"

#include <cmath>
#include <cstdint>

// A tone cut into buffers: each call continues the wave where the last ended.
class ToneSource {
public:
    ToneSource(AudioFormat format, double frequency, double amplitude)
        : format_(format)
        , frequency_(frequency)
        , amplitude_(amplitude)
    {
    }

    PcmBuffer next(uint32_t frames)
    {
        auto buffer = *PcmBuffer::allocate(format_, frames);
        buffer.setFrameLength(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            const double value = amplitude_ * std::sin(2 * M_PI * frequency_ * double(position_ + i) / format_.sampleRate);
            for (int channel = 0; channel < format_.channelCount; ++channel) {
                if (auto* planes = buffer.floatChannelData())
                    planes[channel][i] = float(value);
                else
                    buffer.int16ChannelData()[channel][i] = int16_t(std::lround(value * 32767));
            }
        }
        position_ += frames;
        return buffer;
    }

private:
    AudioFormat format_;
    double frequency_;
    double amplitude_;
    uint64_t position_ = 0;
};
