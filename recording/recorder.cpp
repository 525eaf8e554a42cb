#include "recording/recorder.h"

#include "core/log.h"
#include "capture/capture_choices.h"
#include "core/clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>

namespace {

// A stream's own refusal, as the platform worded it.
[[noreturn]] void refuse(const QString& reason)
{
    throw std::runtime_error(reason.toStdString());
}

} // namespace

Recorder::Recorder(QString directory, Dependencies dependencies, Clock& clock)
    : clock_(clock)
    , microphone_(std::move(dependencies.engine))
    , capture_(std::move(dependencies.capture))
    , audioMedia_(std::move(dependencies.audioMedia))
    , videoMedia_(std::move(dependencies.videoMedia))
    , screenQueue_(queueLabel(".screen"))
    , directory_(std::move(directory))
{
}

Recorder::~Recorder()
{
    // A recording still running when the program quits is left as it is on
    // disk; only the sources are stopped so that none calls into freed memory.
    if (startedAt_)
        microphone_.stopMicrophone();
    stream_.reset();
    startingStream_.reset();
}

QString Recorder::stamp(const QDateTime& now)
{
    return now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"));
}

Recorder::Paths Recorder::paths(const QString& directory, const QString& stamp)
{
    const QDir folder(directory);
    for (int attempt = 1;; ++attempt) {
        const QString base = QStringLiteral("vstrecha-") + stamp
            + (attempt > 1 ? QStringLiteral("-") + QString::number(attempt) : QString());
        Paths candidate {folder.filePath(base + QStringLiteral("-mikrofon.m4a")),
                         folder.filePath(base + QStringLiteral("-sistema.m4a")),
                         folder.filePath(base + QStringLiteral("-ekran.mp4"))};
        // The three names go together: a taken video name moves the audio
        // tracks along too, so that one recording's files share one base.
        if (!QFileInfo::exists(candidate.microphone) && !QFileInfo::exists(candidate.system)
            && !QFileInfo::exists(candidate.video))
            return candidate;
    }
}

QCoro::Task<void> Recorder::start(CaptureTarget target)
{
    if (startedAt_)
        co_return;
    co_await microphone_.requestMicrophone();
    target_ = target;
    const QString stamp = Recorder::stamp(clock_.now());
    if (!QDir().mkpath(directory_))
        throw Failure::writerFailed(QStringLiteral("не удалось создать папку ") + directory_);
    ++recordingNumber_;
    microphoneTrouble_.reset();
    systemTrouble_.reset();
    pictureRefusal_.reset();
    systemAudioLost_ = false;
    timelineStart_ = clock_.uptime();
    createTracks(stamp, timelineStart_);
    microphone_.engine().setTroubleHandler(
        troubleReporter(&Recorder::microphoneTrouble_, QStringLiteral("микрофон")));
    microphone_.startMicrophone(micWriter_);

    std::optional<QString> failure;
    bool pictureRefused = false;
    try {
        co_await startSystemAudio();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
        const auto* refusal = dynamic_cast<const RecorderFailure*>(&error);
        pictureRefused = refusal && refusal->kind() == Failure::Case::screenRecordingDenied;
    }
    if (pictureRefused && target_.kind() != CaptureTarget::Kind::AudioOnly) {
        // Only the picture was refused (the desktop's dialog cancelled, no
        // screen to list). The computer's sound does not come through the
        // screen here, so the recording goes on as an audio recording
        // instead of losing the other participants.
        Log::warn(QStringLiteral("экран не записывается, звук пишется: ") + *failure);
        pictureRefusal_ = failure;
        failure.reset();
        target_ = CaptureTarget::audioOnly();
        videoWriter_.reset();
        videoOutput_.reset();
        videoPath_.reset();
        try {
            co_await startSystemAudio();
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
    }
    systemAudioFailure_ = failure;
    if (failure)
        Log::warn(QStringLiteral("звук системы недоступен: ") + *failure);

    startedAt_ = clock_.uptime();
    watchSystemAudio();
}

void Recorder::createTracks(const QString& stamp, double startedAt)
{
    micWriter_.reset();
    systemWriter_.reset();
    // Names are checked first, but only creating the file tells for sure
    // that no other recording (of this or another running Korvala) took it
    // in the meantime: a clash moves the whole recording to the next name.
    constexpr int attempts = 100;
    for (int attempt = 0;; ++attempt) {
        const Paths planned = paths(directory_, stamp);
        QString creating = planned.microphone;
        try {
            micWriter_ = std::make_shared<TrackWriter>(planned.microphone, audioMedia_, startedAt, &clock_);
            creating = planned.system;
            systemWriter_ = std::make_shared<TrackWriter>(planned.system, audioMedia_, startedAt, &clock_);
            if (target_.kind() == CaptureTarget::Kind::AudioOnly)
                videoPath_.reset();
            else
                videoPath_ = planned.video;
            return;
        } catch (const MediaError& error) {
            // The microphone's file, if made, holds nothing yet.
            if (micWriter_) {
                micWriter_.reset();
                QFile::remove(planned.microphone);
            }
            if (!dynamic_cast<const FileExistsError*>(&error) || attempt + 1 >= attempts)
                throw Failure::writerFailed(QFileInfo(creating).fileName() + QStringLiteral(": ")
                                            + QString::fromStdString(error.what()));
        }
    }
}

QStringList Recorder::filesInUse() const
{
    // Also while a start or a stop is under way.
    QStringList files;
    for (const auto& writer : {micWriter_, systemWriter_}) {
        if (writer)
            files.append(writer->path());
    }
    if (videoPath_)
        files.append(*videoPath_);
    return files;
}

std::optional<QString> Recorder::writeFailure() const
{
    for (const auto& writer : {micWriter_, systemWriter_}) {
        if (writer) {
            if (auto failure = writer->failure())
                return QFileInfo(writer->path()).fileName() + QStringLiteral(": ") + *failure;
        }
    }
    if (videoWriter_ && videoPath_) {
        if (auto failure = videoWriter_->failure())
            return QFileInfo(*videoPath_).fileName() + QStringLiteral(": ") + *failure;
    }
    return std::nullopt;
}

QCoro::Task<void> Recorder::startSystemAudio()
{
    // Here the computer's sound does not come through the screen: an audio
    // recording reads no picture, so it does not list the screen at all. A
    // session whose screen cannot be listed (Wayland) still gives the sound,
    // and the time a listing takes would only delay the system track.
    const bool audioOnly = target_.kind() == CaptureTarget::Kind::AudioOnly;
    std::optional<ShareableContent> content = ShareableContent {};
    if (!audioOnly) {
        auto listing = capture_->shareableContent();
        content = co_await listing;
    }
    ShareableDisplay fallback;
    if (content && !content->displays.empty())
        fallback = content->displays.front();
    else if (!audioOnly)
        throw Failure::screenRecordingDenied();
    const ContentFilter contentFilter = filter(target_, *content, fallback);

    StreamConfiguration configuration;
    configuration.capturesAudio = true;
    configuration.excludesCurrentProcessAudio = true;
    if (audioOnly) {
        configuration.width = 2;
        configuration.height = 2;
        configuration.minimumFrameInterval = 1.0;
    } else {
        const QRectF rect = contentFilter.contentRect();
        const int contentWidth = rect.width() > 0 ? int(rect.width()) : fallback.width;
        const int contentHeight = rect.height() > 0 ? int(rect.height()) : fallback.height;
        const VideoWriter::Size size = VideoWriter::size(contentWidth, contentHeight);
        configuration.width = size.width;
        configuration.height = size.height;
        configuration.minimumFrameInterval = 0.1;
        configuration.showsCursor = true;
        videoWriter_ = std::make_shared<VideoWriter>(*videoPath_, size.width, size.height, videoMedia_);
    }

    const QPointer<Recorder> self(this);
    auto watcher = std::make_shared<StreamWatcher>(
        [self](const QString& text) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, text] {
                    if (self) {
                        self->systemAudioFailure_ = QStringLiteral("Звук собеседников прервался: ") + text;
                        self->systemAudioLost_ = true;
                    }
                    Log::warn(QStringLiteral("поток системного звука остановлен: ") + text);
                },
                Qt::QueuedConnection);
        },
        troubleReporter(&Recorder::systemTrouble_, QStringLiteral("звук системы")));

    std::unique_ptr<Stream> stream = capture_->makeStream(contentFilter, configuration, watcher);
    if (!stream)
        throw Failure::screenRecordingDenied();
    auto output = std::make_shared<SystemAudioOutput>(
        [writer = systemWriter_](const PcmBuffer& buffer) { writer->append(buffer); });
    if (auto refused = stream->addStreamOutput(output, StreamOutputType::Audio, nullptr))
        refuse(*refused);
    if (!audioOnly && videoWriter_) {
        auto frames = std::make_shared<ScreenVideoOutput>([writer = videoWriter_](const SampleBuffer& sample) {
            writer->append({sample.image, sample.presentationTime});
        });
        if (auto refused = stream->addStreamOutput(frames, StreamOutputType::Screen, &screenQueue_))
            refuse(*refused);
        videoOutput_ = frames;
    }

    // Held by the recorder while it starts: a start that waits on the
    // desktop (its chooser) may already have the sound running, and a quit
    // in the meantime must end that stream with the recorder.
    startingStream_ = std::move(stream);
    auto starting = startingStream_->startCapture();
    std::optional<QString> refused = co_await starting;
    stream = std::move(startingStream_);
    if (refused) {
        if (*refused == Stream::denied)
            throw Failure::screenRecordingDenied();
        refuse(*refused);
    }
    stream_ = std::move(stream);
    systemOutput_ = output;
    streamWatcher_ = watcher;
}

void Recorder::watchSystemAudio()
{
    if (systemAudioFailure_ || !systemOutput_)
        return;
    // Runs once per recording; a recording stopped in the meantime makes
    // the check do nothing. Bound to the recorder as a timer, so nothing of
    // it outlives the recorder.
    clock_.after(watchdogSeconds, this, [this, output = systemOutput_] {
        if (!isRecording())
            return;
        if (output->received() == 0) {
            systemAudioFailure_ =
                QStringLiteral("Собеседников не слышно: система не отдаёт звук. Остановите и начните запись заново.");
            systemAudioLost_ = true;
            Log::warn(QStringLiteral("звук системы не идёт: за 5 секунд не пришло ни одного буфера"));
        }
    });
}

QCoro::Task<Recorder::Result> Recorder::stop()
{
    if (!startedAt_ || !micWriter_ || !systemWriter_)
        throw Failure::writerFailed(QStringLiteral("запись не была начата"));

    microphone_.stopMicrophone();
    microphone_.engine().setTroubleHandler({});
    if (stream_) {
        auto stopping = stream_->stopCapture();
        co_await stopping;
    }
    stream_.reset();
    systemOutput_.reset();
    videoOutput_.reset();
    streamWatcher_.reset();
    // Frames already passed on by the stream reach the video writer before
    // it is finished.
    screenQueue_.sync([] {});

    Result result;
    result.duration = clock_.uptime() - timelineStart_;

    const auto micWriter = micWriter_;
    const auto systemWriter = systemWriter_;
    const auto videoWriter = videoWriter_;
    const std::optional<QString> video = videoPath_;
    // Both tracks end together: at the stop, or with the one that ran a
    // little ahead of the clock.
    const double micLength = co_await micWriter->length();
    const double systemLength = co_await systemWriter->length();
    const double length = std::max({result.duration, micLength, systemLength});
    // Every file is finished and the recorder is idle again whatever one
    // writer says: a failed track must not leave a recording that can be
    // neither stopped nor replaced by a new one.
    std::exception_ptr failure;
    const std::array<std::pair<std::shared_ptr<TrackWriter>, QString*>, 2> tracks {
        {{micWriter, &result.microphone}, {systemWriter, &result.system}}};
    for (const auto& [writer, path] : tracks) {
        try {
            *path = co_await writer->finish(length);
        } catch (...) {
            *path = writer->path();
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (videoWriter) {
        result.video = co_await videoWriter->finish();
        if (auto videoFailure = videoWriter->failure(); videoFailure && !failure)
            failure = std::make_exception_ptr(
                Failure::writerFailed(QFileInfo(*video).fileName() + QStringLiteral(": ") + *videoFailure));
    }

    micWriter_.reset();
    systemWriter_.reset();
    videoWriter_.reset();
    videoPath_.reset();
    startedAt_.reset();
    if (failure)
        std::rethrow_exception(failure);
    co_return result;
}

std::function<void(const std::optional<QString>&)> Recorder::troubleReporter(std::optional<QString> Recorder::*field,
                                                                              const QString& source)
{
    const QPointer<Recorder> self(this);
    return [self, field, source, recording = recordingNumber_](const std::optional<QString>& trouble) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, field, source, recording, trouble] {
                if (!self || self->recordingNumber_ != recording)
                    return;
                if (self->*field == trouble)
                    return;
                self->*field = trouble;
                Log::warn(source + (trouble ? QStringLiteral(" не пишется: ") + *trouble
                                            : QStringLiteral(" снова пишется")));
            },
            Qt::QueuedConnection);
    };
}

std::optional<QString> Recorder::audioTrouble() const
{
    if (!startedAt_)
        return std::nullopt;
    if (microphoneTrouble_)
        return microphoneTrouble_;
    if (systemTrouble_)
        return systemTrouble_;
    if (systemAudioLost_)
        return QStringLiteral("Собеседников не слышно");
    return std::nullopt;
}

bool Recorder::microphoneTooQuiet() const
{
    if (!startedAt_)
        return false;
    if (!(clock_.uptime() - *startedAt_ > tooQuietAfter))
        return false;
    const float peak = level().peak();
    return peak > 0.0f && peak < tooQuietPeak;
}

ContentFilter Recorder::filter(const CaptureTarget& target, const ShareableContent& content,
                               const ShareableDisplay& fallback)
{
    if (std::optional<ContentFilter> shown = CaptureChoices::filter(target, content))
        return *shown;
    if (target.kind() == CaptureTarget::Kind::Application)
        Log::warn(QStringLiteral("приложение ") + target.bundleID() + QStringLiteral(" больше не запущено — пишем весь экран"));
    else if (target.kind() == CaptureTarget::Kind::Window)
        Log::warn(QStringLiteral("окно ") + QString::number(target.id()) + QStringLiteral(" закрыто — пишем весь экран"));
    return CaptureChoices::withoutOwnWindows(fallback, content);
}
