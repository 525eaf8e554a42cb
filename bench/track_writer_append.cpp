// What the audio thread pays per buffer: TrackWriter::append of one 4096-frame
// stereo float buffer, next to a plain memcpy of the same bytes.
#include "platform/linux/linux_platform.h"
#include "recording/track_writer.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t frames = 4096;

void appendBuffer(benchmark::State& state)
{
    QTemporaryDir dir;
    TrackWriter writer(dir.filePath("bench.m4a"), LinuxPlatform::audioMedia());
    std::vector<float> left(frames, 0.25f);
    std::vector<float> right(frames, -0.25f);
    const PcmBuffer buffer = PcmBuffer::view({48000, 2, AudioFormat::SampleType::float32}, frames,
                                             {left.data(), right.data()});
    int count = 0;
    for (auto _ : state) {
        writer.append(buffer);
        if (++count % 64 == 0) {
            // Let the encoder catch up outside the timing, as it does between
            // real buffers 85 ms apart.
            state.PauseTiming();
            while (writer.pendingBuffers() > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            state.ResumeTiming();
        }
    }
}

// The copy alone, to tell it apart from handing the copy to the queue.
void copyBuffer(benchmark::State& state)
{
    std::vector<float> left(frames, 0.25f);
    std::vector<float> right(frames, -0.25f);
    const PcmBuffer buffer = PcmBuffer::view({48000, 2, AudioFormat::SampleType::float32}, frames,
                                             {left.data(), right.data()});
    for (auto _ : state) {
        auto copy = buffer.copied();
        benchmark::DoNotOptimize(copy);
    }
}

void memcpyBuffer(benchmark::State& state)
{
    std::vector<float> source(frames * 2, 0.25f);
    std::vector<float> target(frames * 2);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size() * sizeof(float));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(appendBuffer)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(copyBuffer)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(memcpyBuffer)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
