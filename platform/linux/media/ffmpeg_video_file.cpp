#include "platform/linux/media/fragmented_mp4.h"
#include "platform/linux/linux_platform.h"
#include "platform/video_file.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

const AVCodec* h264Encoder()
{
    return avcodec_find_encoder_by_name("libx264");
}

// libx264 at real-time settings, pictures converted from BGRA with libswscale.
class FfmpegVideoFile final : public VideoFile {
public:
    FfmpegVideoFile(const QString& path, const Settings& settings)
        : output_(path)
        , settings_(settings)
    {
        try {
            open();
        } catch (...) {
            release();
            throw;
        }
    }

    ~FfmpegVideoFile() override
    {
        try {
            finish();
        } catch (const MediaError&) {
        }
        release();
    }

    void open()
    {
        const Settings& settings = settings_;
        const AVCodec* codec = h264Encoder();
        if (!codec)
            throw MediaError("нет кодировщика H.264 (libx264)");
        encoder_ = avcodec_alloc_context3(codec);
        encoder_->width = settings.width;
        encoder_->height = settings.height;
        encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder_->time_base = {1, 1000};
        // Without it x264 takes the millisecond time base for the frame rate,
        // gives each picture a thousandth of a second's bits, and the first
        // seconds of a video come out as grey, washed-out blocks while its
        // rate control climbs down.
        encoder_->framerate = {settings.framesPerSecond, 1};
        encoder_->bit_rate = settings.bitRate;
        encoder_->gop_size = settings.keyFrameInterval;
        encoder_->max_b_frames = 0;
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Frames arrive live and uneven: no look-ahead, no frame reordering,
        // every frame out as soon as it is in.
        av_opt_set(encoder_->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder_->priv_data, "tune", "zerolatency", 0);
        const int result = avcodec_open2(encoder_, codec, nullptr);
        if (result < 0)
            throw MediaError("кодировщик H.264 не запустился: " + ffmpegError(result));
        frame_ = av_frame_alloc();
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = settings.width;
        frame_->height = settings.height;
        if (av_frame_get_buffer(frame_, 0) < 0)
            throw MediaError("не хватило памяти под кадр");
        packet_ = av_packet_alloc();
        held_ = av_packet_alloc();
        stream_ = output_.addStream(encoder_);
        output_.start();
    }

    void release()
    {
        sws_freeContext(scaler_);
        scaler_ = nullptr;
        av_packet_free(&packet_);
        av_packet_free(&held_);
        av_frame_free(&frame_);
        avcodec_free_context(&encoder_);
    }

    void write(const QImage& picture, int64_t milliseconds) override
    {
        if (finished_)
            return;
        if (milliseconds <= lastPts_)
            throw MediaError("время кадра не растёт");
        QImage source = picture;
        if (source.format() != QImage::Format_ARGB32 && source.format() != QImage::Format_RGB32
            && source.format() != QImage::Format_ARGB32_Premultiplied)
            source = source.convertToFormat(QImage::Format_RGB32);
        // Format_(A)RGB32 is B, G, R, A in memory on this little-endian machine.
        scaler_ = sws_getCachedContext(scaler_, source.width(), source.height(), AV_PIX_FMT_BGRA, settings_.width,
                                       settings_.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr);
        if (!scaler_)
            throw MediaError("кадр не переводится в YUV");
        if (av_frame_make_writable(frame_) < 0)
            throw MediaError("не хватило памяти под кадр");
        const uint8_t* planes[] = {source.constBits()};
        const int strides[] = {int(source.bytesPerLine())};
        sws_scale(scaler_, planes, strides, 0, source.height(), frame_->data, frame_->linesize);
        frame_->pts = milliseconds;
        lastPts_ = milliseconds;
        send(frame_);
    }

    void finish() override
    {
        if (finished_ || !encoder_)
            return;
        finished_ = true;
        send(nullptr);
        output_.finish();
    }

private:
    void send(AVFrame* frame)
    {
        int result = avcodec_send_frame(encoder_, frame);
        if (result < 0)
            throw MediaError("кодировщик H.264 не принял кадр: " + ffmpegError(result));
        while ((result = avcodec_receive_packet(encoder_, packet_)) >= 0) {
            // A picture lasts until the next one; the last keeps the length of
            // the one before, so that players show it at all.
            if (held_->data) {
                held_->duration = std::max<int64_t>(packet_->pts - held_->pts, 1);
                lastDuration_ = held_->duration;
                output_.write(held_, encoder_, stream_);
                av_packet_unref(held_);
            }
            av_packet_move_ref(held_, packet_);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            throw MediaError("кодировщик H.264 сбился: " + ffmpegError(result));
        if (!frame && held_->data) {
            held_->duration = lastDuration_;
            output_.write(held_, encoder_, stream_);
            av_packet_unref(held_);
        }
    }

    FragmentedMp4 output_;
    Settings settings_;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVPacket* held_ = nullptr;
    int64_t lastDuration_ = 100;
    SwsContext* scaler_ = nullptr;
    int64_t lastPts_ = -1;
    bool finished_ = false;
};

class FfmpegVideoMedia final : public VideoMedia {
public:
    void check(const QString& path, const VideoFile::Settings& settings) override
    {
        if (!h264Encoder())
            throw MediaError("нет кодировщика H.264 (libx264)");
        if (settings.width < 2 || settings.height < 2 || settings.width % 2 || settings.height % 2)
            throw MediaError("размер кадра не годится для H.264");
        if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
            throw MediaError("нет папки " + QFileInfo(path).absolutePath().toStdString());
    }

    std::unique_ptr<VideoFile> createFile(const QString& path, const VideoFile::Settings& settings) override
    {
        return std::make_unique<FfmpegVideoFile>(path, settings);
    }
};

} // namespace

std::shared_ptr<VideoMedia> LinuxPlatform::videoMedia()
{
    static const auto media = std::make_shared<FfmpegVideoMedia>();
    return media;
}
