#pragma once

#include "platform/screen_capture.h"

#include <QByteArray>
#include <QFuture>

#include <memory>
#include <mutex>
#include <optional>

class QThreadPool;

// Screen capture on an X11 desktop: RandR monitors, the window manager's
// clients, pictures read with MIT-SHM (or GetImage). Every request to the
// server runs on worker threads; awaiting tasks resume on their own thread.
class X11ScreenCapture final : public ScreenCapture {
public:
    // `displayName` as in $DISPLAY; empty for the environment's.
    explicit X11ScreenCapture(QByteArray displayName = {});
    ~X11ScreenCapture() override;

    QCoro::Task<std::optional<ShareableContent>> shareableContent() override;
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
    quint32 displayNumber(const QScreen* screen) const override;
    bool desktopComposites() const override;

    struct State;

private:
    std::shared_ptr<State> state_;
    std::unique_ptr<QThreadPool> pool_;
    std::mutex listingMutex_;
    std::optional<QFuture<std::optional<ShareableContent>>> listing_;
};
