#pragma once

#include "core/pcm_buffer.h"

#include <mutex>

// The loudest microphone sample since the meter was made. Fed on the audio
// thread, read on the main thread; never reset.
class LevelMeter {
public:
    void measure(const PcmBuffer& buffer);
    float peak() const;

private:
    mutable std::mutex lock_;
    float peak_ = 0;
};
