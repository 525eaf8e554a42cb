#include "recording/video_writer.h"

#include "core/log.h"
#include "recording/recorder_failure.h"

#include <QFile>
#include <QFuture>

#include <qcoro/qcorofuture.h>

#include <cmath>

struct VideoWriter::State {
    std::shared_ptr<VideoMedia> media;
    VideoFile::Settings settings;
    QString path;
    std::unique_ptr<VideoFile> file;
    bool started = false;
    // Writing could not start or a write failed; every later frame is
    // ignored.
    bool failed = false;
    mutable std::mutex failureLock;
    std::optional<QString> failure;
    int frames = 0;
    double firstTime = 0;
    int64_t lastMilliseconds = -1;
    std::atomic<int> waiting = 0;

    void handle(const Frame& frame);
    void fail(const QString& what, const std::exception& error);
    std::optional<QString> complete();
};

VideoWriter::Size VideoWriter::size(int forDisplayWidth, int height)
{
    if (forDisplayWidth < 1 || height < 1)
        return {960, 960};
    long h = std::lround(double(height) * 960.0 / double(forDisplayWidth));
    h -= h % 2;
    // H.264 in 4:2:0 needs at least two rows; a content over 480 times wider
    // than tall would otherwise give none.
    return {960, int(std::max(h, 2L))};
}

VideoWriter::VideoWriter(const QString& path, int width, int height, std::shared_ptr<VideoMedia> media)
    : path_(path)
    , state_(std::make_shared<State>())
    , queue_(std::make_unique<SerialQueue>(queueLabel(".video")))
{
    state_->media = std::move(media);
    state_->settings.width = width;
    state_->settings.height = height;
    state_->path = path;
    try {
        state_->media->check(path, state_->settings);
    } catch (const std::exception& error) {
        throw RecorderFailure::writerFailed(QString::fromStdString(error.what()));
    }
}

VideoWriter::~VideoWriter()
{
    state_.reset();
    queue_.reset();
}

void VideoWriter::append(Frame frame)
{
    // The encoder is behind: drop this frame rather than let frames pile up.
    if (state_->waiting.load() >= maxWaitingFrames)
        return;
    ++state_->waiting;
    queue_->async([weak = std::weak_ptr<State>(state_), frame = std::move(frame)] {
        if (auto state = weak.lock()) {
            --state->waiting;
            state->handle(frame);
        }
    });
}

void VideoWriter::State::handle(const Frame& frame)
{
    if (failed || frame.image.isNull() || !std::isfinite(frame.presentationTime))
        return;
    if (!started) {
        try {
            file = media->createFile(path, settings);
        } catch (const std::exception& error) {
            fail(QStringLiteral("картинка не пишется: "), error);
            return;
        }
        started = true;
        firstTime = frame.presentationTime;
    }
    const int64_t milliseconds = std::llround((frame.presentationTime - firstTime) * 1000.0);
    // Two frames within one millisecond, or a clock that went back: the file's
    // times must grow.
    if (milliseconds <= lastMilliseconds)
        return;
    try {
        file->write(frame.image, milliseconds);
        lastMilliseconds = milliseconds;
        ++frames;
    } catch (const std::exception& error) {
        // Told once and not tried again: a full disk would otherwise fill
        // the journal ten times a second.
        fail(QStringLiteral("картинка больше не пишется: "), error);
    }
}

void VideoWriter::State::fail(const QString& what, const std::exception& error)
{
    failed = true;
    const QString reason = QString::fromStdString(error.what());
    std::lock_guard guard(failureLock);
    if (failure)
        return;
    failure = reason.isEmpty() ? QStringLiteral("неизвестно") : reason;
    Log::warn(what + *failure);
}

std::optional<QString> VideoWriter::failure() const
{
    std::lock_guard guard(state_->failureLock);
    return state_->failure;
}

std::optional<QString> VideoWriter::State::complete()
{
    if (!started)
        return std::nullopt;
    auto finishing = std::move(file);
    if (frames > 0 && finishing) {
        try {
            finishing->finish();
        } catch (const std::exception& error) {
            fail(QStringLiteral("картинка не дописалась: "), error);
        }
        // Whatever the finish said, the frames written so far stay.
        return path;
    }
    // The file was made by this writer and holds no picture.
    finishing.reset();
    QFile::remove(path);
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> VideoWriter::finish()
{
    QFuture<std::optional<QString>> done = queue_->run([weak = std::weak_ptr<State>(state_)] {
        std::optional<QString> result;
        if (auto state = weak.lock())
            result = state->complete();
        return result;
    });
    co_return co_await done;
}
