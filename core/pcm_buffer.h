#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The shape of PCM audio: rate, channel count and sample type. Samples are
// always non-interleaved: one plane per channel.
struct AudioFormat {
    enum class SampleType { float32, int16 };

    double sampleRate = 0;
    int channelCount = 0;
    SampleType sampleType = SampleType::float32;

    int bytesPerSample() const { return sampleType == SampleType::float32 ? 4 : 2; }
    bool operator==(const AudioFormat&) const = default;
};

// A block of planar PCM audio. It either owns its planes or is a view of
// memory that somebody else owns (a capture callback's buffer, valid only
// while the callback runs); copied() turns either into an owning buffer.
class PcmBuffer {
public:
    // An owning buffer with room for `frameCapacity` frames and a frame length
    // of 0; nothing when the format is unusable or the memory cannot be had.
    static std::optional<PcmBuffer> allocate(const AudioFormat& format, uint32_t frameCapacity);
    // A view of `planes` (one per channel, each at least `frameLength` samples).
    static PcmBuffer view(const AudioFormat& format, uint32_t frameLength, std::vector<void*> planes);

    PcmBuffer(PcmBuffer&&) noexcept = default;
    PcmBuffer& operator=(PcmBuffer&&) noexcept = default;
    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    const AudioFormat& format() const { return format_; }
    uint32_t frameLength() const { return frameLength_; }
    uint32_t frameCapacity() const { return frameCapacity_; }
    // Clamped to the capacity.
    void setFrameLength(uint32_t frames);
    bool ownsMemory() const { return storage_ != nullptr; }

    // The channel planes when the samples are of that type, else nullptr.
    float* const* floatChannelData() const;
    int16_t* const* int16ChannelData() const;
    void* plane(int channel) const { return planes_[channel]; }

    // An owning deep copy with capacity = frame length, or nothing when the
    // copy cannot be made (no memory, or samples of neither type).
    std::optional<PcmBuffer> copied() const;

private:
    PcmBuffer(const AudioFormat& format, uint32_t capacity, std::vector<void*> planes,
              std::unique_ptr<std::byte[]> storage);

    AudioFormat format_;
    uint32_t frameLength_ = 0;
    uint32_t frameCapacity_ = 0;
    std::vector<void*> planes_;
    std::unique_ptr<std::byte[]> storage_;
};
