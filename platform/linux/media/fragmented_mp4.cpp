#include "platform/linux/media/fragmented_mp4.h"

#include "platform/audio_file.h"

#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int ioBufferSize = 64 * 1024;

uint64_t readBigEndian(const uint8_t* data, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | data[i];
    return value;
}

} // namespace

std::string describeWriteError(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "на диске кончилось место";
    case EROFS:
        return "диск доступен только для чтения";
    case EACCES:
    case EPERM:
        return "нет прав на запись";
    case EIO:
        return "ошибка ввода-вывода";
    default:
        return std::strerror(error);
    }
}

std::string ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

FragmentedMp4::FragmentedMp4(const QString& path)
    : path_(path)
{
    const QByteArray name = path.toUtf8();
    av_log_set_level(AV_LOG_ERROR);
    if (avformat_alloc_output_context2(&format_, nullptr, nullptr, name.constData()) < 0 || !format_)
        throw MediaError("нет формата файла для " + name.toStdString());
    // Never over an existing file: two recordings (even of two running
    // programs) that picked the same name must not truncate each other.
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        const int error = errno;
        avformat_free_context(format_);
        format_ = nullptr;
        if (error == EEXIST)
            throw FileExistsError("файл " + name.toStdString() + " уже есть");
        throw MediaError("не открылся файл " + name.toStdString() + ": " + describeWriteError(error));
    }
    created_ = true;
    // Held while the file is written, so that another running Korvala
    // looking for unfinished recordings leaves this one alone.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    auto* buffer = static_cast<uint8_t*>(av_malloc(ioBufferSize));
    io_ = avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr, &FragmentedMp4::writeBytes, nullptr);
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
}

FragmentedMp4::~FragmentedMp4()
{
    if (started_ && !finished_) {
        try {
            finish();
        } catch (const MediaError&) {
        }
    }
    closeOutput();
    avformat_free_context(format_);
    // A file whose header never made it holds nothing: it goes, so that a
    // start that failed leaves no empty track behind.
    if (!started_ && created_)
        ::unlink(path_.toUtf8().constData());
}

AVStream* FragmentedMp4::addStream(const AVCodecContext* encoder)
{
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (!stream)
        throw MediaError("не удалось завести дорожку в файле");
    if (avcodec_parameters_from_context(stream->codecpar, encoder) < 0)
        throw MediaError("не удалось передать параметры дорожки");
    stream->time_base = encoder->time_base;
    return stream;
}

void FragmentedMp4::start()
{
    AVDictionary* options = nullptr;
    // One fragment a second; every fragment's offsets relative to its own
    // moof, so that a fragment needs nothing written after it.
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    av_dict_set(&options, "flush_packets", "1", 0);
    const int result = avformat_write_header(format_, &options);
    av_dict_free(&options);
    if (result < 0)
        throw MediaError("не записалось начало файла: " + ffmpegError(result));
    avio_flush(io_);
    // The muxer does not look at what its writes answered: a disk that is
    // full already shows only here.
    if (failed_)
        throw MediaError("не записалось начало файла: " + describeWriteError(writeError_));
    started_ = true;
}

void FragmentedMp4::write(AVPacket* packet, const AVCodecContext* encoder, AVStream* stream)
{
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    if (failed_)
        throw MediaError("файл больше не пишется: " + describeWriteError(writeError_));
    const int result = av_interleaved_write_frame(format_, packet);
    if (result < 0 && !failed_)
        throw MediaError("не записался кусок файла: " + ffmpegError(result));
    if (failed_)
        throw MediaError("файл больше не пишется: " + describeWriteError(writeError_));
    ++packets_;
}

void FragmentedMp4::finish(int64_t leadIn, int64_t length)
{
    if (finished_)
        return;
    finished_ = true;
    const int result = av_write_trailer(format_);
    avio_flush(io_);
    if (!pending_.empty() && !failed_)
        writeOut(pending_.data(), pending_.size());
    pending_.clear();
    const bool complete = result >= 0 && !failed_;
    closeOutput();
    if (failed_)
        throw MediaError("файл не дописался: " + describeWriteError(writeError_));
    if (!complete)
        throw MediaError("файл не дописался: " + ffmpegError(result));

    // Without a sample there is nothing to gather into a moov: the empty
    // fragmented file is as readable as it gets.
    if (packets_ == 0)
        return;
    // The fragmented file plays, but some players want one moov with every
    // sample; when the rewrite fails the fragmented one stays as it is.
    try {
        replaceWithPlainMp4(path_, leadIn, length);
    } catch (const MediaError&) {
    }
}

void replaceWithPlainMp4(const QString& path, int64_t leadIn, int64_t length)
{
    // Rewritten beside and swapped in, so that the fragmented file remains
    // whole until the ordinary one is complete.
    const QFileInfo info(path);
    const QString temporary = info.absolutePath() + "/." + info.completeBaseName() + ".part." + info.suffix();
    // Claimed exclusively like the track itself: a name taken by someone
    // else is left alone.
    const int claim = ::open(temporary.toUtf8().constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (claim < 0)
        throw MediaError("не создался временный файл " + temporary.toStdString() + ": " + std::strerror(errno));
    ::close(claim);
    try {
        remuxToPlainMp4(path, temporary, leadIn, length);
        if (::rename(temporary.toUtf8().constData(), path.toUtf8().constData()) != 0)
            throw MediaError(std::string("не удалось заменить файл: ") + std::strerror(errno));
    } catch (const MediaError&) {
        ::unlink(temporary.toUtf8().constData());
        throw;
    }
}

int FragmentedMp4::writeBytes(void* opaque, uint8_t* data, int size)
{
    auto* self = static_cast<FragmentedMp4*>(opaque);
    if (self->failed_)
        return AVERROR(EIO);
    self->pending_.insert(self->pending_.end(), data, data + size);
    self->commitCompleteBoxes();
    return self->failed_ ? AVERROR(EIO) : size;
}

void FragmentedMp4::commitCompleteBoxes()
{
    // Walk the complete top-level boxes; a moof is held back until the mdat
    // that carries its samples is complete too.
    size_t offset = 0;
    size_t committable = 0;
    while (pending_.size() - offset >= 8) {
        const uint8_t* box = pending_.data() + offset;
        uint64_t size = readBigEndian(box, 4);
        if (size == 1) {
            if (pending_.size() - offset < 16)
                break;
            size = readBigEndian(box + 8, 8);
        }
        if (size < 8 || size > pending_.size() - offset)
            break;
        offset += size;
        if (std::memcmp(box + 4, "moof", 4) != 0)
            committable = offset;
    }
    if (committable == 0)
        return;
    writeOut(pending_.data(), committable);
    pending_.erase(pending_.begin(), pending_.begin() + committable);
}

void FragmentedMp4::writeOut(const uint8_t* data, size_t size)
{
    // One write call for the whole run of boxes.
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd_, data + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            writeError_ = written < 0 ? errno : ENOSPC;
            failed_ = true;
            // A box cut short would hide every fragment before it from
            // players: the file goes back to its last whole box and stays
            // playable up to there.
            if (::ftruncate(fd_, off_t(committed_)) == 0)
                ::lseek(fd_, off_t(committed_), SEEK_SET);
            return;
        }
        done += size_t(written);
    }
    committed_ += size;
}

void FragmentedMp4::closeOutput()
{
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
        if (format_)
            format_->pb = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void remuxToPlainMp4(const QString& from, const QString& to, int64_t leadIn, int64_t length)
{
    AVFormatContext* input = nullptr;
    int result = avformat_open_input(&input, from.toUtf8().constData(), nullptr, nullptr);
    if (result < 0)
        throw MediaError("не открылся файл для переписи: " + ffmpegError(result));
    AVFormatContext* output = nullptr;
    const char* muxer = QFileInfo(from).suffix().compare("m4a", Qt::CaseInsensitive) == 0 ? "ipod" : "mp4";
    auto cleanup = [&] {
        if (output) {
            if (output->pb)
                avio_closep(&output->pb);
            avformat_free_context(output);
        }
        avformat_close_input(&input);
    };
    auto fail = [&](const std::string& what, int code) {
        cleanup();
        throw MediaError(what + ": " + ffmpegError(code));
    };

    if ((result = avformat_find_stream_info(input, nullptr)) < 0)
        fail("не прочитались дорожки", result);
    if ((result = avformat_alloc_output_context2(&output, nullptr, muxer, to.toUtf8().constData())) < 0)
        fail("нет формата файла", result);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(output, nullptr);
        if (!stream || (result = avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar)) < 0)
            fail("не переносится дорожка", result);
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[i]->time_base;
    }
    if ((result = avio_open(&output->pb, to.toUtf8().constData(), AVIO_FLAG_WRITE)) < 0)
        fail("не открылся файл", result);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);
    result = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (result < 0)
        fail("не записалось начало файла", result);

    // The fragments keep no edit list: the encoder's priming comes back as a
    // negative start (which the muxer turns into an edit list), and the last
    // packet is cut to the samples that were really given.
    // The demuxer may not know how long the samples of the fragments last;
    // without that the edit list ends early and players skip the last
    // pictures. A sample lasts until the next one of its stream; the last
    // keeps the length of the one before.
    std::vector<AVPacket*> held(input->nb_streams, nullptr);
    std::vector<int64_t> lastDuration(input->nb_streams, 0);
    auto writeHeld = [&](unsigned index) {
        AVPacket* previous = held[index];
        held[index] = nullptr;
        if (previous->duration <= 0)
            previous->duration = lastDuration[index];
        lastDuration[index] = previous->duration;
        if (length >= 0 && previous->pts + previous->duration > length)
            previous->duration = std::max<int64_t>(length - previous->pts, 0);
        av_packet_rescale_ts(previous, input->streams[index]->time_base, output->streams[index]->time_base);
        previous->pos = -1;
        const int written = av_interleaved_write_frame(output, previous);
        av_packet_free(&previous);
        return written;
    };
    AVPacket* packet = av_packet_alloc();
    while (result >= 0 && (result = av_read_frame(input, packet)) >= 0) {
        const unsigned index = unsigned(packet->stream_index);
        if (leadIn > 0 || length >= 0) {
            packet->pts -= leadIn;
            packet->dts -= leadIn;
        }
        if (held[index]) {
            if (held[index]->duration <= 0 && packet->pts > held[index]->pts)
                held[index]->duration = packet->pts - held[index]->pts;
            result = writeHeld(index);
        }
        held[index] = av_packet_clone(packet);
        av_packet_unref(packet);
    }
    if (result == AVERROR_EOF) {
        result = 0;
        for (unsigned index = 0; index < held.size() && result >= 0; ++index) {
            if (held[index])
                result = writeHeld(index);
        }
    }
    for (AVPacket*& left : held)
        av_packet_free(&left);
    av_packet_free(&packet);
    if (result < 0)
        fail("не переписался кусок файла", result);
    if ((result = av_write_trailer(output)) < 0)
        fail("не записался конец файла", result);
    cleanup();
}
