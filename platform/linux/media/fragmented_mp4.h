#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVStream;
struct AVIOContext;
}

// An MPEG-4 file written as a series of one-second fragments, so that a
// process killed while writing leaves a file that decodes up to its last
// fragment. The bytes reach the disk only in whole top-level boxes (a
// fragment's moof together with its mdat), so the file on disk never ends
// inside a box and needs no repair. finish() completes the fragmented file and
// then rewrites it as an ordinary MPEG-4 file (one moov at the front) through
// a temporary file that replaces it atomically; if that rewrite fails the
// fragmented file stays and still plays.
class FragmentedMp4 {
public:
    // Creates `path` (never over an existing file) for writing with the muxer
    // that its name selects. Throws FileExistsError when the name is taken,
    // MediaError otherwise.
    explicit FragmentedMp4(const QString& path);
    ~FragmentedMp4();

    FragmentedMp4(const FragmentedMp4&) = delete;
    FragmentedMp4& operator=(const FragmentedMp4&) = delete;

    // Adds the stream that `encoder` produces; call before start().
    AVStream* addStream(const AVCodecContext* encoder);
    // Writes the header. Throws MediaError.
    void start();
    // Writes one encoded packet (time base of `encoder`). Throws MediaError.
    void write(AVPacket* packet, const AVCodecContext* encoder, AVStream* stream);
    // Writes the trailer, closes the file and makes it an ordinary MP4. For
    // audio, `leadIn` is the encoder's priming and `length` the samples that
    // were really given, so that the ordinary file plays exactly those.
    // Throws MediaError.
    void finish(int64_t leadIn = 0, int64_t length = -1);

    const QString& path() const { return path_; }

private:
    static int writeBytes(void* opaque, uint8_t* data, int size);
    void commitCompleteBoxes();
    void writeOut(const uint8_t* data, size_t size);
    void closeOutput();

    QString path_;
    int fd_ = -1;
    AVFormatContext* format_ = nullptr;
    AVIOContext* io_ = nullptr;
    bool created_ = false;
    bool started_ = false;
    bool finished_ = false;
    // Bytes the muxer produced that do not yet form complete boxes.
    std::vector<uint8_t> pending_;
    bool failed_ = false;
    // The errno of the write that failed.
    int writeError_ = 0;
    // Bytes on disk, all of them whole boxes.
    uint64_t committed_ = 0;
    int64_t packets_ = 0;
};

// Makes the fragmented MPEG-4 file at `path` an ordinary one: rewritten
// beside it as ".<name>.part.<suffix>" (created exclusively) and renamed over
// it, so that it stays whole and fragmented until the rewrite is complete.
// Throws MediaError, the file at `path` then untouched.
void replaceWithPlainMp4(const QString& path, int64_t leadIn = 0, int64_t length = -1);

// Rewrites a fragmented MPEG-4 file at `from` as an ordinary one at `to`
// without re-encoding. Throws MediaError.
void remuxToPlainMp4(const QString& from, const QString& to, int64_t leadIn = 0, int64_t length = -1);

// The user's words for a failed write's errno.
std::string describeWriteError(int error);

// FFmpeg's text for an error code.
std::string ffmpegError(int code);
