#include "platform/audio_file.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/media/fragmented_mp4.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// AAC-LC (the native encoder) in an MPEG-4 audio file.
class FfmpegAudioFile final : public AudioFile {
public:
    FfmpegAudioFile(const QString& path, const AudioMedia::FileSettings& settings)
        : output_(path)
    {
        try {
            open(settings);
        } catch (...) {
            release();
            throw;
        }
    }

    ~FfmpegAudioFile() override
    {
        try {
            close();
        } catch (const MediaError&) {
        }
        release();
    }

    void open(const AudioMedia::FileSettings& settings)
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec)
            throw MediaError("нет кодировщика AAC");
        encoder_ = avcodec_alloc_context3(codec);
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = settings.sampleRate;
        encoder_->bit_rate = settings.bitRate;
        encoder_->time_base = {1, settings.sampleRate};
        av_channel_layout_default(&encoder_->ch_layout, 1);
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // The fast coder is several times quicker at the same size, which
        // matters for an hour-long track encoded beside a live capture.
        av_opt_set(encoder_->priv_data, "aac_coder", "fast", 0);
        int result = avcodec_open2(encoder_, codec, nullptr);
        if (result < 0)
            throw MediaError("кодировщик AAC не запустился: " + ffmpegError(result));
        fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, encoder_->frame_size * 4);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        last_ = av_packet_alloc();
        previous_ = av_packet_alloc();
        stream_ = output_.addStream(encoder_);
        output_.start();
    }

    void release()
    {
        av_packet_free(&packet_);
        av_packet_free(&last_);
        av_packet_free(&previous_);
        av_frame_free(&frame_);
        if (fifo_)
            av_audio_fifo_free(fifo_);
        fifo_ = nullptr;
        avcodec_free_context(&encoder_);
    }

    void write(const PcmBuffer& mono) override
    {
        if (closed_ || mono.frameLength() == 0)
            return;
        if (mono.format().channelCount != 1 || mono.format().sampleType != AudioFormat::SampleType::float32)
            throw MediaError("в файл идёт только моно float");
        void* planes[] = {mono.plane(0)};
        if (av_audio_fifo_write(fifo_, planes, int(mono.frameLength())) < int(mono.frameLength()))
            throw MediaError("не хватило памяти под звук");
        while (av_audio_fifo_size(fifo_) >= encoder_->frame_size)
            encodeFromFifo(encoder_->frame_size);
    }

    void writeSilence(int64_t frames) override
    {
        if (closed_ || frames <= 0)
            return;
        const int size = encoder_->frame_size;
        // Up to a whole frame, then a few silent frames through the encoder,
        // until its packets for silence repeat byte for byte.
        const int64_t lead = (size - av_audio_fifo_size(fifo_) % size) % size + int64_t(size) * silentFramesFirst;
        if (frames <= lead + size) {
            writeZeros(frames);
            return;
        }
        writeZeros(lead);
        frames -= lead;
        // The encoder holds one frame back: copies of the last silent packet
        // go in before it. Every later packet moves on by as much.
        if (repeatsSilence()) {
            const int64_t whole = frames / size;
            for (int64_t i = 1; i <= whole; ++i) {
                av_packet_ref(packet_, last_);
                packet_->pts = packet_->dts = last_->pts + i * size;
                output_.write(packet_, encoder_, stream_);
                av_packet_unref(packet_);
            }
            const int64_t added = whole * size;
            last_->pts += added;
            last_->dts += added;
            shift_ += added;
            frames -= added;
        }
        writeZeros(frames);
    }

    void close() override
    {
        if (closed_ || !encoder_)
            return;
        closed_ = true;
        while (av_audio_fifo_size(fifo_) > 0)
            encodeFromFifo(std::min(av_audio_fifo_size(fifo_), encoder_->frame_size));
        send(nullptr);
        output_.finish(encoder_->initial_padding, nextPts_ + shift_);
    }

private:
    void writeZeros(int64_t frames)
    {
        std::vector<float> zeros(size_t(std::min<int64_t>(frames, 8192)), 0.0f);
        while (frames > 0) {
            const auto chunk = uint32_t(std::min<int64_t>(frames, int64_t(zeros.size())));
            write(PcmBuffer::view({double(encoder_->sample_rate), 1, AudioFormat::SampleType::float32}, chunk,
                                  {zeros.data()}));
            frames -= chunk;
        }
    }

    bool repeatsSilence() const
    {
        return last_->data && previous_->data && last_->size == previous_->size
            && std::memcmp(last_->data, previous_->data, size_t(last_->size)) == 0;
    }

    void encodeFromFifo(int samples)
    {
        av_frame_unref(frame_);
        frame_->nb_samples = samples;
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = encoder_->sample_rate;
        av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (av_frame_get_buffer(frame_, 0) < 0)
            throw MediaError("не хватило памяти под звук");
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), samples);
        frame_->pts = nextPts_;
        nextPts_ += samples;
        send(frame_);
    }

    void send(AVFrame* frame)
    {
        int result = avcodec_send_frame(encoder_, frame);
        if (result < 0)
            throw MediaError("кодировщик AAC не принял звук: " + ffmpegError(result));
        while ((result = avcodec_receive_packet(encoder_, packet_)) >= 0) {
            packet_->pts += shift_;
            packet_->dts += shift_;
            // The last two packets, to tell when silence repeats.
            av_packet_unref(previous_);
            av_packet_move_ref(previous_, last_);
            av_packet_ref(last_, packet_);
            output_.write(packet_, encoder_, stream_);
            av_packet_unref(packet_);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            throw MediaError("кодировщик AAC сбился: " + ffmpegError(result));
    }

    FragmentedMp4 output_;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVPacket* last_ = nullptr;
    AVPacket* previous_ = nullptr;
    int64_t nextPts_ = 0;
    // Samples of silence written as copied packets, past the encoder.
    int64_t shift_ = 0;
    // Silent frames the encoder gets before its packets are copied.
    static constexpr int silentFramesFirst = 4;
    bool closed_ = false;
};

// libswresample with an explicit averaging matrix: its own downmix would
// weigh each channel 0.707 and clip a loud stereo signal.
class SwrResampler final : public AudioResampler {
public:
    SwrResampler(SwrContext* context, const AudioFormat& from, const AudioFormat& to)
        : context_(context)
        , from_(from)
        , to_(to)
    {
    }
    ~SwrResampler() override { swr_free(&context_); }

    void convert(const PcmBuffer& input, PcmBuffer& output) override
    {
        if (!(input.format() == from_) || !(output.format() == to_))
            throw MediaError("звук не того формата, для которого сделан пересчёт");
        std::vector<const uint8_t*> in(from_.channelCount);
        for (int channel = 0; channel < from_.channelCount; ++channel)
            in[channel] = static_cast<const uint8_t*>(input.plane(channel));
        std::vector<uint8_t*> out(to_.channelCount);
        for (int channel = 0; channel < to_.channelCount; ++channel)
            out[channel] = static_cast<uint8_t*>(output.plane(channel));
        const int converted = swr_convert(context_, out.data(), int(output.frameCapacity()), in.data(),
                                          int(input.frameLength()));
        if (converted < 0)
            throw MediaError("звук не пересчитался: " + ffmpegError(converted));
        output.setFrameLength(uint32_t(converted));
    }

private:
    SwrContext* context_;
    AudioFormat from_;
    AudioFormat to_;
};

AVSampleFormat planarFormat(const AudioFormat& format)
{
    return format.sampleType == AudioFormat::SampleType::float32 ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P;
}

class FfmpegAudioMedia final : public AudioMedia {
public:
    std::unique_ptr<AudioFile> createFile(const QString& path, const FileSettings& settings) override
    {
        return std::make_unique<FfmpegAudioFile>(path, settings);
    }

    std::unique_ptr<AudioResampler> makeResampler(const AudioFormat& from, const AudioFormat& to) override
    {
        if (from.channelCount < 1 || from.channelCount > 64 || to.channelCount != 1 || !(from.sampleRate >= 1)
            || !(to.sampleRate >= 1) || from.sampleRate > 1e6)
            return nullptr;
        AVChannelLayout inLayout {};
        AVChannelLayout outLayout {};
        av_channel_layout_default(&inLayout, from.channelCount);
        av_channel_layout_default(&outLayout, 1);
        SwrContext* context = nullptr;
        int result = swr_alloc_set_opts2(&context, &outLayout, planarFormat(to), int(to.sampleRate), &inLayout,
                                         planarFormat(from), int(from.sampleRate), 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (result < 0 || !context)
            return nullptr;
        std::vector<double> matrix(from.channelCount, 1.0 / from.channelCount);
        if (swr_set_matrix(context, matrix.data(), from.channelCount) < 0 || swr_init(context) < 0) {
            swr_free(&context);
            return nullptr;
        }
        return std::make_unique<SwrResampler>(context, from, to);
    }

    void makePlain(const QString& path) override
    {
        av_log_set_level(AV_LOG_ERROR);
        replaceWithPlainMp4(path);
    }
};

} // namespace

std::shared_ptr<AudioMedia> LinuxPlatform::audioMedia()
{
    static const auto media = std::make_shared<FfmpegAudioMedia>();
    return media;
}
