#pragma once

#include "platform/audio_file.h"

#include <QImage>
#include <QString>

#include <memory>

// An H.264 video file being written (".mp4", no sound), in the same
// crash-tolerant form as AudioFile.
class VideoFile {
public:
    struct Settings {
        int width = 960;
        int height = 540;
        int bitRate = 500000;
        // A key frame at least every this many frames.
        int keyFrameInterval = 10;
        // How many pictures a second to expect. Their times still come from
        // write(); the encoder shares its bit rate out by this.
        int framesPerSecond = 10;
    };

    virtual ~VideoFile() = default;
    // Encodes one picture shown from `millisecondsFromStart` on; times must
    // grow. A picture of another size is scaled to the file's. Throws MediaError.
    virtual void write(const QImage& picture, int64_t millisecondsFromStart) = 0;
    // Flushes the encoder and completes the file. Throws MediaError.
    virtual void finish() = 0;
};

// Where the video writer gets its files from; tests put a failing one in.
class VideoMedia {
public:
    virtual ~VideoMedia() = default;
    // Throws MediaError when files of these settings cannot be written at
    // `path` at all (no encoder, no folder), before any frame is at hand.
    virtual void check(const QString& path, const VideoFile::Settings& settings) = 0;
    // Opens the file when the first frame is there. Throws MediaError.
    virtual std::unique_ptr<VideoFile> createFile(const QString& path, const VideoFile::Settings& settings) = 0;
};
