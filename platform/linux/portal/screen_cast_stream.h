#pragma once

#include "platform/linux/portal/pipewire_video_stream.h"
#include "platform/restore_token_keeper.h"
#include "platform/screen_capture.h"

#include <QDBusConnection>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// One session of the desktop's ScreenCast portal and its PipeWire picture,
// feeding the screen outputs. A display filter offers screens in the
// desktop's dialog, a window filter windows, the desktop's choice both. The
// portal carries no sound: audio outputs are refused.
class ScreenCastStream final : public Stream {
public:
    ScreenCastStream(QDBusConnection bus, ContentFilter filter, StreamConfiguration configuration,
                     std::shared_ptr<RestoreTokenKeeper> tokens);
    ~ScreenCastStream() override;

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override;
    QCoro::Task<std::optional<QString>> startCapture() override;
    QCoro::Task<std::optional<QString>> stopCapture() override;

private:
    struct Output {
        std::shared_ptr<StreamOutput> output;
        SerialQueue* queue;
    };

    // What PipeWire's thread and the outputs' queues share.
    struct State {
        StreamConfiguration configuration;
        std::mutex mutex;
        std::vector<Output> outputs;
        std::atomic<bool> stopped{false};
        double lastAccepted = -1e9;
    };

    QCoro::Task<std::optional<QString>> startPicture();
    static void deliver(const std::shared_ptr<State>& state, std::shared_ptr<PipeWireVideoStream::Lease> lease);
    void halt();
    void closeSession();

    QDBusConnection bus_;
    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    std::shared_ptr<RestoreTokenKeeper> tokens_;
    std::shared_ptr<State> state_;
    std::unique_ptr<PipeWireVideoStream> picture_;
    QString session_;
    bool started_ = false;
};
