// Two hours of a meeting through both track writers, faster than real time,
// on the recording's clock: the microphone from the start, the computer's
// sound two and a half seconds late, with a two-second gap every twenty
// minutes, buffers arriving up to 40 ms late, and a sound card whose clock
// runs 0.01 % fast. Prints both tracks' decoded lengths and the process's
// memory along the way.
#include "platform/linux/linux_platform.h"
#include "recording/track_writer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr double hours = 2.0;
constexpr uint32_t frames = 4096;

// A 48 kHz source cut into buffers, with its own clock rate.
struct Source {
    TrackWriter& writer;
    AudioFormat format;
    double firstArrival;
    double clockRate;
    std::vector<std::vector<float>> planes;
    int64_t delivered = 0;

    double nextArrival() const { return firstArrival + double(delivered + frames) / (format.sampleRate * clockRate); }

    void deliver(double arrival, bool lost)
    {
        delivered += frames;
        if (lost)
            return;
        std::vector<void*> views;
        for (auto& plane : planes)
            views.push_back(plane.data());
        writer.append(PcmBuffer::view(format, frames, views), arrival);
    }
};

long residentKilobytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * 4;
}

long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Seconds of audio FFmpeg decodes from `path`.
double decodedSeconds(const QString& path)
{
    QProcess decode;
    decode.start("sh", {"-c", "ffmpeg -v error -i \"$1\" -ac 1 -ar 44100 -f s16le - | wc -c", "sh", path});
    decode.waitForFinished(-1);
    return decode.readAllStandardOutput().trimmed().toDouble() / 2 / 44100;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    TrackWriter microphone(dir.filePath("mikrofon.m4a"), LinuxPlatform::audioMedia(), 0.0);
    TrackWriter system(dir.filePath("sistema.m4a"), LinuxPlatform::audioMedia(), 0.0);

    std::mt19937 random(23);
    std::uniform_real_distribution<double> lateness(0.0, 0.04);
    Source mic {microphone, {48000, 1, AudioFormat::SampleType::float32}, 0.05, 1.0, {}};
    Source sound {system, {48000, 2, AudioFormat::SampleType::float32}, 2.5, 1.0001, {}};
    mic.planes.assign(1, std::vector<float>(frames));
    sound.planes.assign(2, std::vector<float>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        mic.planes[0][i] = 0.3f * float(std::sin(i * 0.0577));
        sound.planes[0][i] = sound.planes[1][i] = 0.3f * float(std::sin(i * 0.1309));
    }

    const double end = hours * 3600;
    const auto report = [&](int minute) {
        std::printf("%6d  %11.1f  %7.1f  %13.2f  %16.2f\n", minute, residentKilobytes() / 1024.0,
                    peakKilobytes() / 1024.0, QCoro::waitFor(microphone.length()), QCoro::waitFor(system.length()));
        std::fflush(stdout);
    };
    int nextReport = 30;
    std::printf("minute  resident MB  peak MB  written mic s  written system s\n");
    while (std::min(mic.nextArrival(), sound.nextArrival()) < end) {
        Source& source = mic.nextArrival() <= sound.nextArrival() ? mic : sound;
        const double due = source.nextArrival();
        const bool lost = &source == &sound && std::fmod(due, 1200.0) > 600.0 && std::fmod(due, 1200.0) < 602.0;
        source.deliver(due + lateness(random), lost);
        // Faster than real time, but no faster than the encoders: the queue
        // of a live capture never holds more than a few buffers either.
        while (microphone.pendingBuffers() > 32 || system.pendingBuffers() > 32)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (due >= nextReport * 60.0) {
            report(nextReport);
            nextReport *= 2;
        }
    }
    report(int(end / 60));
    const double length = std::max({end, QCoro::waitFor(microphone.length()), QCoro::waitFor(system.length())});
    const QString micPath = QCoro::waitFor(microphone.finish(length));
    const QString systemPath = QCoro::waitFor(system.finish(length));
    std::printf("stopped at %.3f s; peak %.1f MB\n", end, peakKilobytes() / 1024.0);
    const double micSeconds = decodedSeconds(micPath);
    const double systemSeconds = decodedSeconds(systemPath);
    std::printf("decoded: microphone %.3f s, system %.3f s, difference %.1f ms\n", micSeconds, systemSeconds,
                (micSeconds - systemSeconds) * 1000);
    return 0;
}
