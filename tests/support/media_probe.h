#pragma once

#include <QString>

#include <vector>

// What FFmpeg reads back from a written file.
struct ProbedAudio {
    bool opened = false;
    QString codec;
    int channels = 0;
    int sampleRate = 0;
    // As the container states it, in seconds.
    double duration = 0;
    // Every decoded sample of the first channel.
    std::vector<float> samples;
};

struct ProbedVideo {
    bool opened = false;
    QString codec;
    int width = 0;
    int height = 0;
    // Presentation time of every decoded frame, in seconds.
    std::vector<double> frameTimes;
};

ProbedAudio probeAudio(const QString& path);
ProbedVideo probeVideo(const QString& path);

// The amplitude of the sine at `frequency` in `samples` (Goertzel).
double toneAmplitude(const std::vector<float>& samples, int sampleRate, double frequency);
