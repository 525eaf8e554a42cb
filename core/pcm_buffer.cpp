#include "core/pcm_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

PcmBuffer::PcmBuffer(const AudioFormat& format, uint32_t capacity, std::vector<void*> planes,
                     std::unique_ptr<std::byte[]> storage)
    : format_(format)
    , frameCapacity_(capacity)
    , planes_(std::move(planes))
    , storage_(std::move(storage))
{
}

std::optional<PcmBuffer> PcmBuffer::allocate(const AudioFormat& format, uint32_t frameCapacity)
{
    if (format.channelCount < 0 || !(format.sampleRate > 0))
        return std::nullopt;
    // One block for all planes, each plane starting on a 64-byte boundary.
    const size_t planeBytes = (size_t(frameCapacity) * format.bytesPerSample() + 63) / 64 * 64;
    const size_t total = std::max<size_t>(planeBytes * format.channelCount, 1);
    std::unique_ptr<std::byte[]> storage(new (std::nothrow) std::byte[total + 64]);
    if (!storage)
        return std::nullopt;
    auto base = reinterpret_cast<uintptr_t>(storage.get());
    auto* aligned = reinterpret_cast<std::byte*>((base + 63) / 64 * 64);
    std::vector<void*> planes(format.channelCount);
    for (int channel = 0; channel < format.channelCount; ++channel)
        planes[channel] = aligned + planeBytes * channel;
    return PcmBuffer(format, frameCapacity, std::move(planes), std::move(storage));
}

PcmBuffer PcmBuffer::view(const AudioFormat& format, uint32_t frameLength, std::vector<void*> planes)
{
    planes.resize(std::max(format.channelCount, 0), nullptr);
    PcmBuffer buffer(format, frameLength, std::move(planes), nullptr);
    buffer.frameLength_ = frameLength;
    return buffer;
}

void PcmBuffer::setFrameLength(uint32_t frames)
{
    frameLength_ = std::min(frames, frameCapacity_);
}

float* const* PcmBuffer::floatChannelData() const
{
    if (format_.sampleType != AudioFormat::SampleType::float32)
        return nullptr;
    return reinterpret_cast<float* const*>(planes_.data());
}

int16_t* const* PcmBuffer::int16ChannelData() const
{
    if (format_.sampleType != AudioFormat::SampleType::int16)
        return nullptr;
    return reinterpret_cast<int16_t* const*>(planes_.data());
}

std::optional<PcmBuffer> PcmBuffer::copied() const
{
    auto copy = allocate(format_, frameLength_);
    if (!copy)
        return std::nullopt;
    copy->setFrameLength(frameLength_);
    const size_t bytes = size_t(frameLength_) * format_.bytesPerSample();
    for (int channel = 0; channel < format_.channelCount; ++channel) {
        if (planes_[channel] == nullptr)
            return std::nullopt;
        std::memcpy(copy->planes_[channel], planes_[channel], bytes);
    }
    return copy;
}
