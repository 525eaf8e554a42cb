#pragma once

#include "platform/audio_file.h"

#include <atomic>

// The real FFmpeg media with failures switched in on demand.
class FaultInjectingAudioMedia final : public AudioMedia {
public:
    // How many of the next resampler requests answer nullptr.
    std::atomic<int> failResamplers = 0;
    std::atomic<int> resamplersMade = 0;
    // How many of the next file writes throw.
    std::atomic<int> failWrites = 0;
    bool failOpen = false;
    // How many of the next files another program creates just before this
    // one does (holding "taken").
    std::atomic<int> takeFirst = 0;

    std::unique_ptr<AudioFile> createFile(const QString& path, const FileSettings& settings) override;
    std::unique_ptr<AudioResampler> makeResampler(const AudioFormat& from, const AudioFormat& to) override;
    void makePlain(const QString& path) override;
};
