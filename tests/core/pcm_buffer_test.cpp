#include "core/pcm_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PcmBuffer, CopyOfAViewOwnsItsPlanesAndKeepsEveryChannel)
{
    float left[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    float right[5] = {-0.1f, -0.2f, -0.3f, -0.4f, -0.5f};
    const AudioFormat stereo {48000, 2, AudioFormat::SampleType::float32};
    const PcmBuffer view = PcmBuffer::view(stereo, 4, {left, right});
    EXPECT_FALSE(view.ownsMemory());

    auto copy = view.copied();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->ownsMemory());
    EXPECT_EQ(copy->format(), stereo);
    EXPECT_EQ(copy->frameLength(), 4u);
    // The capture memory is reused by the next callback.
    std::memset(left, 0, sizeof left);
    std::memset(right, 0, sizeof right);
    EXPECT_FLOAT_EQ(copy->floatChannelData()[0][3], 0.4f);
    EXPECT_FLOAT_EQ(copy->floatChannelData()[1][0], -0.1f);
    EXPECT_EQ(copy->int16ChannelData(), nullptr);
}

TEST(PcmBuffer, CopiesInt16ZeroFrameAndZeroChannelBuffers)
{
    int16_t samples[3] = {1, -2, 32767};
    const AudioFormat mono16 {44100, 1, AudioFormat::SampleType::int16};
    auto copy = PcmBuffer::view(mono16, 3, {samples}).copied();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->int16ChannelData()[0][2], 32767);
    EXPECT_EQ(copy->floatChannelData(), nullptr);

    auto empty = PcmBuffer::view(mono16, 0, {samples}).copied();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->frameLength(), 0u);

    auto noChannels = PcmBuffer::view({44100, 0, AudioFormat::SampleType::float32}, 16, {}).copied();
    ASSERT_TRUE(noChannels);
    EXPECT_EQ(noChannels->frameLength(), 16u);
}

TEST(PcmBuffer, RefusesWhatCannotBeCopied)
{
    const AudioFormat stereo {48000, 2, AudioFormat::SampleType::float32};
    float left[2] = {};
    EXPECT_FALSE(PcmBuffer::view(stereo, 2, {left}).copied()) << "a missing plane";
    EXPECT_FALSE(PcmBuffer::allocate({0, 1, AudioFormat::SampleType::float32}, 16)) << "no sample rate";

    auto buffer = PcmBuffer::allocate(stereo, 8);
    ASSERT_TRUE(buffer);
    buffer->setFrameLength(100);
    EXPECT_EQ(buffer->frameLength(), 8u);
}
