#include "tests/support/fake_screen_capture.h"

#include "platform/serial_queue.h"

namespace {

class FakeStream final : public Stream {
public:
    FakeStream(FakeScreenCapture& owner) : owner_(owner) {}

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override
    {
        outputs_.push_back({std::move(output), type, queue});
        return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> startCapture() override
    {
        if (!owner_.streamStarts)
            co_return QStringLiteral("не запустился");
        ++owner_.streamsStarted;
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
        co_return std::nullopt;
    }

private:
    struct Output {
        std::shared_ptr<StreamOutput> output;
        StreamOutputType type;
        SerialQueue* queue;
    };
    FakeScreenCapture& owner_;
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

std::unique_ptr<Stream> FakeScreenCapture::makeStream(const ContentFilter&, const StreamConfiguration&,
                                                      std::shared_ptr<StreamDelegate>)
{
    return std::make_unique<FakeStream>(*this);
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
