// CPU time of encoding a long stereo 48 kHz float recording into a track,
// next to the ffmpeg command line doing the same with the same encoder
// options, on the same samples:
//   bench_track_writer_encode [minutes=60]
#include "platform/linux/linux_platform.h"
#include "recording/track_writer.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr uint32_t frames = 4096;
constexpr int patternBuffers = 120; // about ten seconds, repeated

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    const long buffers = std::lround(minutes * 60 * 48000 / frames);

    // Speech-like material: two tones with a slow swell and some noise.
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0, 0.02f);
    std::vector<std::vector<float>> left(patternBuffers, std::vector<float>(frames));
    std::vector<std::vector<float>> right = left;
    std::vector<std::vector<float>> interleaved(patternBuffers, std::vector<float>(frames * 2));
    for (int b = 0; b < patternBuffers; ++b) {
        for (uint32_t i = 0; i < frames; ++i) {
            const double t = (double(b) * frames + i) / 48000;
            const double swell = 0.5 + 0.5 * std::sin(2 * M_PI * 0.3 * t);
            left[b][i] = float(0.4 * swell * std::sin(2 * M_PI * 220 * t)) + noise(random);
            right[b][i] = float(0.3 * swell * std::sin(2 * M_PI * 330 * t)) + noise(random);
            interleaved[b][2 * i] = left[b][i];
            interleaved[b][2 * i + 1] = right[b][i];
        }
    }

    QTemporaryDir dir;
    const AudioFormat stereo {48000, 2, AudioFormat::SampleType::float32};
    const double before = cpuSeconds(RUSAGE_SELF);
    {
        TrackWriter writer(dir.filePath("ours.m4a"), LinuxPlatform::audioMedia());
        for (long b = 0; b < buffers; ++b) {
            const int p = int(b % patternBuffers);
            writer.append(PcmBuffer::view(stereo, frames, {left[p].data(), right[p].data()}));
            while (writer.pendingBuffers() > 64)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        QCoro::waitFor(writer.finish());
    }
    const double ours = cpuSeconds(RUSAGE_SELF) - before;

    const std::string command = "ffmpeg -v error -y -f f32le -ar 48000 -ac 2 -i - -ac 1 -ar 44100 -c:a aac "
                                "-aac_coder fast -b:a 24k "
                                + dir.filePath("ffmpeg.m4a").toStdString();
    FILE* ffmpeg = popen(command.c_str(), "w");
    for (long b = 0; b < buffers; ++b)
        fwrite(interleaved[b % patternBuffers].data(), sizeof(float), frames * 2, ffmpeg);
    pclose(ffmpeg);
    const double theirs = cpuSeconds(RUSAGE_CHILDREN);

    std::printf("%.1f minutes of 48 kHz stereo float, %ld buffers of %u frames\n", minutes, buffers, frames);
    std::printf("TrackWriter: %.2f s CPU\nffmpeg:      %.2f s CPU\nratio:       %.2f\n", ours, theirs, ours / theirs);
}
