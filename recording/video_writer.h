#pragma once

#include "core/serial_queue.h"
#include "platform/video_file.h"

#include <QImage>
#include <QString>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// Writes the picture of a video recording into an H.264 ".mp4". Frames come
// from the capture thread; encoding and writing happen on the writer's own
// ".video" queue. The file's timeline starts at the first frame.
class VideoWriter {
public:
    // One captured picture: BGRA (QImage::Format_RGB32 or ARGB32) and the
    // capture time in seconds on any steady clock. A null image is a frame
    // that carries no picture.
    struct Frame {
        QImage image;
        double presentationTime = 0;
    };

    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };

    // The frame size for content of the given size: 960 wide, the content's
    // aspect ratio, an even height of at least 2.
    static Size size(int forDisplayWidth, int height);

    // Throws RecorderFailure::writerFailed when no file of this kind can be
    // written at `path`.
    VideoWriter(const QString& path, int width, int height, std::shared_ptr<VideoMedia> media);
    ~VideoWriter();

    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Queues the frame and returns at once. A frame that finds the encoder
    // still busy with earlier ones is dropped.
    void append(Frame frame);

    // Completes the file and resumes on the main thread with its path; with
    // nothing (and no file left behind) when no frame was written. A file
    // that holds a frame is never removed: when it cannot be completed (a
    // full disk) its path still comes back, the file plays up to its last
    // whole fragment and failure() says what went wrong. Never throws.
    QCoro::Task<std::optional<QString>> finish();

    // What the first failed write of the file said; read from any thread.
    std::optional<QString> failure() const;

    // Frames that may wait for the encoder before new ones are dropped.
    static constexpr int maxWaitingFrames = 3;

private:
    struct State;

    QString path_;
    std::shared_ptr<State> state_;
    std::unique_ptr<SerialQueue> queue_;
};
