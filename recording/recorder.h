#pragma once

#include "capture/capture_target.h"
#include "core/clock.h"
#include "platform/audio_file.h"
#include "platform/audio_input.h"
#include "platform/screen_capture.h"
#include "core/serial_queue.h"
#include "platform/video_file.h"
#include "recording/microphone.h"
#include "recording/recorder_failure.h"
#include "recording/recorder_result.h"
#include "recording/stream_receivers.h"
#include "recording/track_writer.h"
#include "recording/video_writer.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

// One recording at a time of a capture target into the recordings folder:
// the microphone track, the computer's sound track and, for a display, an
// application or a window, the video. One instance for the program's life,
// on the main thread; the sources deliver on their own threads.
class Recorder final : public QObject {
    Q_OBJECT

public:
    using Failure = RecorderFailure;
    using Result = RecorderResult;

    // The platform pieces, all of them given: tests pass fakes, main() the
    // desktop's own.
    struct Dependencies {
        std::unique_ptr<AudioInput> engine;
        std::shared_ptr<ScreenCapture> capture;
        std::shared_ptr<AudioMedia> audioMedia;
        std::shared_ptr<VideoMedia> videoMedia;
    };

    Recorder(QString directory, Dependencies dependencies, Clock& clock);
    ~Recorder() override;

    bool isRecording() const { return startedAt_.has_value(); }

    // Starts a recording of `target`. Returns normally also when the
    // computer's sound could not be captured: systemAudioFailure() then says
    // why; and when a video's screen was refused: the sound is recorded
    // without it and pictureRefusal() says why. Throws when the microphone
    // or a file cannot be had. Does nothing while a recording runs.
    QCoro::Task<void> start(CaptureTarget target);
    // Stops the sources, then finishes every file, each track as long as the
    // recording ran. Throws writerFailed("запись не была начата") when
    // nothing runs, or writerFailed naming the file when any write of the
    // recording failed (what was written before stays on the disk).
    QCoro::Task<Result> stop();

    // What the first failed write of the running recording said (a full
    // disk): from then on that file no longer grows. Cheap enough to ask on
    // every tick of the recording's clock.
    std::optional<QString> writeFailure() const;

    // More than ten minutes into a recording and the microphone never went
    // above a whisper (but did deliver sound).
    bool microphoneTooQuiet() const;

    // What keeps a track from being recorded right now, in a few Russian
    // words for the status line: the sound server gone (both tracks wait for
    // it to come back), no microphone, no output device, the computer's
    // sound lost for good. nullopt while all records, and when idle.
    std::optional<QString> audioTrouble() const;

    const std::optional<QString>& systemAudioFailure() const { return systemAudioFailure_; }
    // Why a video recording records no picture: its screen was refused at
    // the start, and it runs as an audio recording (target() says so).
    const std::optional<QString>& pictureRefusal() const { return pictureRefusal_; }
    const CaptureTarget& target() const { return target_; }
    // Whether a video's screen or window is picked in the desktop's own
    // dialog as the recording starts (CaptureTarget::desktopChoice()) rather
    // than named beforehand.
    bool desktopPicksContent() const { return capture_->desktopPicksContent(); }
    const QString& directory() const { return directory_; }
    // The files the recording being made writes.
    QStringList filesInUse() const;
    const std::shared_ptr<AudioMedia>& audioMedia() const { return audioMedia_; }
    const LevelMeter& level() const { return microphone_.level(); }

    // The content filter for `target`, the whole `fallback` display when
    // the application or the window is gone.
    static ContentFilter filter(const CaptureTarget& target, const ShareableContent& content,
                                const ShareableDisplay& fallback);

    // The three file paths of a recording started at `stamp` in `directory`.
    // When a file of an earlier recording already has one of these names,
    // "-2", "-3", … follows the stamp: both recordings are kept.
    struct Paths {
        QString microphone;
        QString system;
        QString video;
    };
    static Paths paths(const QString& directory, const QString& stamp);
    // "yyyy-MM-dd-HHmm" of `now` in the user's time zone.
    static QString stamp(const QDateTime& now);

    static constexpr double tooQuietAfter = 600.0;
    static constexpr float tooQuietPeak = 0.05f;
    static constexpr double watchdogSeconds = 5.0;

private:
    // Creates both track files under the first free names; the video keeps
    // the same base.
    void createTracks(const QString& stamp, double startedAt);
    QCoro::Task<void> startSystemAudio();
    void watchSystemAudio();
    // Hands a source's trouble, from any thread, to `field` on the main
    // thread while this recording runs.
    std::function<void(const std::optional<QString>&)> troubleReporter(std::optional<QString> Recorder::*field,
                                                                        const QString& source);

    Clock& clock_;
    Microphone microphone_;
    std::shared_ptr<ScreenCapture> capture_;
    std::shared_ptr<AudioMedia> audioMedia_;
    std::shared_ptr<VideoMedia> videoMedia_;
    // Frames go from the capture thread through this queue to the video
    // writer; it outlives every stream.
    SerialQueue screenQueue_;

    std::shared_ptr<TrackWriter> micWriter_;
    std::shared_ptr<TrackWriter> systemWriter_;
    std::shared_ptr<VideoWriter> videoWriter_;
    std::unique_ptr<Stream> stream_;
    std::unique_ptr<Stream> startingStream_;
    std::shared_ptr<ScreenVideoOutput> videoOutput_;
    CaptureTarget target_ = CaptureTarget::audioOnly();
    std::optional<QString> videoPath_;
    std::shared_ptr<SystemAudioOutput> systemOutput_;
    std::shared_ptr<StreamWatcher> streamWatcher_;
    // Monotonic seconds of the clock at the start.
    std::optional<double> startedAt_;
    // The moment every track and the duration count from: just before the
    // first source starts.
    double timelineStart_ = 0;
    QString directory_;
    std::optional<QString> systemAudioFailure_;
    std::optional<QString> pictureRefusal_;
    // Set when the computer's sound ends by itself after the start.
    bool systemAudioLost_ = false;
    std::optional<QString> microphoneTrouble_;
    std::optional<QString> systemTrouble_;
    // Counts the starts, so that news of an earlier recording is dropped.
    int recordingNumber_ = 0;
};
