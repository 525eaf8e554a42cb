#include "tests/support/fake_screen_capture.h"

#include <QGuiApplication>
#include <QScreen>

#include "core/serial_queue.h"

namespace {

class FakeStream final : public Stream {
public:
    FakeStream(FakeScreenCapture& owner, std::shared_ptr<FakeScreenCapture::StreamRecord> record)
        : owner_(owner), record_(std::move(record))
    {
    }

    ~FakeStream() override { record_->running = false; }

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override
    {
        if (type == StreamOutputType::Audio && !record_->configuration.capturesAudio)
            return QStringLiteral("без звука");
        record_->outputs.emplace_back(type, output);
        if (type == StreamOutputType::Screen)
            outputs_.push_back({std::move(output), type, queue});
        return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> startCapture() override
    {
        if (!owner_.streamStarts)
            co_return QStringLiteral("не запустился");
        if (owner_.refusesPictures && !outputs_.empty())
            co_return Stream::denied;
        ++owner_.streamsStarted;
        if (owner_.onStreamStart)
            owner_.onStreamStart();
        record_->running = true;
        if (owner_.startWaits)
            co_await owner_.startWaits();
        for (const auto& out : outputs_) {
            for (const QImage& frame : owner_.streamFrames) {
                out.queue->async([output = out.output, type = out.type, frame] {
                    output->didOutputSampleBuffer(SampleBuffer{type, frame, 0}, type);
                });
            }
        }
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> stopCapture() override
    {
        ++owner_.streamsStopped;
        if (owner_.onStreamStop)
            owner_.onStreamStop();
        record_->running = false;
        co_return std::nullopt;
    }

private:
    struct Output {
        std::shared_ptr<StreamOutput> output;
        StreamOutputType type;
        SerialQueue* queue;
    };
    FakeScreenCapture& owner_;
    std::shared_ptr<FakeScreenCapture::StreamRecord> record_;
    std::vector<Output> outputs_;
};

} // namespace

QCoro::Task<std::optional<ShareableContent>> FakeScreenCapture::shareableContent()
{
    ++listings;
    // A copy: QCoro moves from an lvalue given to co_return.
    std::optional<ShareableContent> listed = content;
    co_return listed;
}

QCoro::Task<std::optional<QImage>> FakeScreenCapture::captureImage(ContentFilter filter,
                                                                   StreamConfiguration configuration)
{
    stillRequests.push_back({std::move(filter), configuration});
    co_return still ? still(stillRequests.back()) : std::nullopt;
}

std::unique_ptr<Stream> FakeScreenCapture::makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::shared_ptr<StreamDelegate> delegate)
{
    auto record = std::make_shared<StreamRecord>();
    record->filter = filter;
    record->configuration = configuration;
    record->delegate = std::move(delegate);
    streams.push_back(record);
    return std::make_unique<FakeStream>(*this, record);
}

void FakeScreenCapture::deliverAudio(const PcmBuffer& buffer)
{
    const SampleBuffer sample {StreamOutputType::Audio, {}, 0, &buffer};
    for (const auto& stream : streams) {
        if (!stream->running)
            continue;
        for (const auto& [type, output] : stream->outputs) {
            if (type == StreamOutputType::Audio)
                output->didOutputSampleBuffer(sample, type);
        }
    }
}

void FakeScreenCapture::stopBySelf(const QString& description)
{
    if (streams.empty())
        return;
    streams.back()->running = false;
    if (streams.back()->delegate)
        streams.back()->delegate->didStopWithError(description);
}

ShareableDisplay fakeDisplay(uint32_t id, int width, int height, double x)
{
    return {id, width, height, QRectF(x, 0, width, height)};
}

ShareableApplication fakeApplication(const QString& name, qint64 pid, const QString& bundleID)
{
    ShareableApplication application;
    application.applicationName = name;
    application.processID = pid;
    application.bundleIdentifier = bundleID.isEmpty() ? name : bundleID;
    return application;
}

ShareableWindow fakeWindow(uint32_t id, const std::optional<QString>& title,
                           const std::optional<ShareableApplication>& owner, QRectF frame, int layer)
{
    ShareableWindow window;
    window.windowID = id;
    window.title = title;
    window.owningApplication = owner;
    window.frame = frame;
    window.windowLayer = layer;
    window.isOnScreen = true;
    return window;
}

quint32 FakeScreenCapture::displayNumber(const QScreen* screen) const
{
    return static_cast<quint32>(QGuiApplication::screens().indexOf(const_cast<QScreen*>(screen)) + 1);
}
