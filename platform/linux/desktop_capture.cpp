#include "platform/linux/desktop_capture.h"

#include "core/log.h"
#include "platform/linux/blocking_work.h"
#include "platform/linux/pulse/pulse_system_audio.h"

#include <qcoro/qcorofuture.h>

#include <vector>

namespace {

// On this desktop the picture is a source of its own: when it ends the sound
// is not affected, so the recording only notes it.
class PictureWatcher final : public StreamDelegate {
public:
    void didStopWithError(const QString& description) override
    {
        Log::warn(QStringLiteral("запись изображения остановилась, звук пишется дальше: ") + description);
    }
};

class DesktopStream final : public Stream {
public:
    DesktopStream(std::unique_ptr<Stream> picture, const StreamConfiguration& configuration,
                  std::shared_ptr<StreamDelegate> delegate)
        : picture_(std::move(picture))
        , capturesAudio_(configuration.capturesAudio)
        , delegate_(std::move(delegate))
    {
    }

    ~DesktopStream() override
    {
        if (sound_)
            sound_->stop();
    }

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override
    {
        if (!output)
            return QStringLiteral("Нет получателя");
        if (started_)
            return QStringLiteral("Поток уже запущен");
        if (type == StreamOutputType::Audio) {
            if (!capturesAudio_)
                return QStringLiteral("Этот поток не передаёт звук");
            audioOutputs_.push_back(std::move(output));
            return std::nullopt;
        }
        if (!picture_)
            return QStringLiteral("Изображение экрана недоступно");
        auto refused = picture_->addStreamOutput(std::move(output), type, queue);
        if (!refused)
            hasScreenOutput_ = true;
        return refused;
    }

    QCoro::Task<std::optional<QString>> startCapture() override
    {
        if (started_)
            co_return QStringLiteral("Поток уже запущен");
        if (!audioOutputs_.empty()) {
            // Outputs are fixed from here on: the loop thread reads the list
            // without a lock.
            sound_ = std::make_shared<PulseSystemAudio>(
                [outputs = audioOutputs_](const PcmBuffer& buffer) {
                    const SampleBuffer sample {StreamOutputType::Audio, {}, 0, &buffer};
                    for (const auto& output : outputs)
                        output->didOutputSampleBuffer(sample, StreamOutputType::Audio);
                },
                [delegate = delegate_](const std::optional<QString>& trouble) {
                    if (delegate)
                        delegate->didChangeAudioTrouble(trouble);
                });
            auto sound = sound_;
            auto starting = runOnThread([sound] { return sound->start(); });
            if (auto refused = co_await starting) {
                sound_.reset();
                co_return refused;
            }
        }
        // No frame output, no grabbing: an audio-only recording reads no
        // pictures at all.
        if (hasScreenOutput_) {
            auto starting = picture_->startCapture();
            if (auto refused = co_await starting) {
                co_await stopSound();
                co_return refused;
            }
        }
        started_ = true;
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> stopCapture() override
    {
        co_await stopSound();
        if (started_ && hasScreenOutput_) {
            auto stopping = picture_->stopCapture();
            co_await stopping;
        }
        co_return std::nullopt;
    }

private:
    QCoro::Task<void> stopSound()
    {
        if (!sound_)
            co_return;
        auto sound = std::move(sound_);
        auto stopping = runOnThread([sound] {
            sound->stop();
            return true;
        });
        co_await stopping;
    }

    std::unique_ptr<Stream> picture_;
    const bool capturesAudio_;
    const std::shared_ptr<StreamDelegate> delegate_;
    std::vector<std::shared_ptr<StreamOutput>> audioOutputs_;
    bool hasScreenOutput_ = false;
    bool started_ = false;
    std::shared_ptr<PulseSystemAudio> sound_;
};

} // namespace

DesktopScreenCapture::DesktopScreenCapture(std::shared_ptr<ScreenCapture> pictures)
    : pictures_(std::move(pictures))
{
}

QCoro::Task<std::optional<ShareableContent>> DesktopScreenCapture::shareableContent()
{
    auto listing = pictures_->shareableContent();
    co_return co_await listing;
}

QCoro::Task<std::optional<QImage>> DesktopScreenCapture::captureImage(ContentFilter filter,
                                                                      StreamConfiguration configuration)
{
    auto capturing = pictures_->captureImage(std::move(filter), configuration);
    co_return co_await capturing;
}

std::unique_ptr<Stream> DesktopScreenCapture::makeStream(const ContentFilter& filter,
                                                         const StreamConfiguration& configuration,
                                                         std::shared_ptr<StreamDelegate> delegate)
{
    auto picture = pictures_->makeStream(filter, configuration, std::make_shared<PictureWatcher>());
    if (!configuration.capturesAudio)
        return picture;
    return std::make_unique<DesktopStream>(std::move(picture), configuration, std::move(delegate));
}
