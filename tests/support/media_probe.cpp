#include "tests/support/media_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>

namespace {

// Opens the file and decodes its best stream of `type`, calling `onFrame` for
// each frame. Returns the stream, or nullptr.
template <class OnFrame>
bool decode(const QString& path, AVMediaType type, AVFormatContext*& format, AVCodecContext*& decoder, int& index,
            OnFrame onFrame)
{
    if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(format, nullptr) < 0)
        return false;
    const AVCodec* codec = nullptr;
    index = av_find_best_stream(format, type, -1, -1, &codec, 0);
    if (index < 0 || !codec)
        return false;
    decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[index]->codecpar);
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        return false;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            onFrame(frame, format->streams[index]);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0)
            drain();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    return true;
}

} // namespace

ProbedAudio probeAudio(const QString& path)
{
    ProbedAudio result;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    int index = -1;
    result.opened = decode(path, AVMEDIA_TYPE_AUDIO, format, decoder, index, [&](AVFrame* frame, AVStream*) {
        if (frame->format == AV_SAMPLE_FMT_FLTP || frame->format == AV_SAMPLE_FMT_FLT) {
            const auto* samples = reinterpret_cast<const float*>(frame->data[0]);
            const int step = frame->format == AV_SAMPLE_FMT_FLT ? frame->ch_layout.nb_channels : 1;
            for (int i = 0; i < frame->nb_samples; ++i)
                result.samples.push_back(samples[i * step]);
        }
    });
    if (result.opened) {
        const AVCodecParameters* parameters = format->streams[index]->codecpar;
        result.codec = avcodec_get_name(parameters->codec_id);
        result.channels = parameters->ch_layout.nb_channels;
        result.sampleRate = parameters->sample_rate;
        result.duration = format->duration > 0 ? double(format->duration) / AV_TIME_BASE : 0;
    }
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return result;
}

ProbedVideo probeVideo(const QString& path)
{
    ProbedVideo result;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    int index = -1;
    result.opened = decode(path, AVMEDIA_TYPE_VIDEO, format, decoder, index, [&](AVFrame* frame, AVStream* stream) {
        const int64_t time = frame->best_effort_timestamp;
        result.frameTimes.push_back(time == AV_NOPTS_VALUE ? -1 : time * av_q2d(stream->time_base));
    });
    if (result.opened) {
        const AVCodecParameters* parameters = format->streams[index]->codecpar;
        result.codec = avcodec_get_name(parameters->codec_id);
        result.width = parameters->width;
        result.height = parameters->height;
    }
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return result;
}

double toneAmplitude(const std::vector<float>& samples, int sampleRate, double frequency)
{
    if (samples.empty())
        return 0;
    const double omega = 2 * M_PI * frequency / sampleRate;
    const double coefficient = 2 * std::cos(omega);
    double previous = 0;
    double beforePrevious = 0;
    for (float sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(power, 0.0)) / samples.size();
}
