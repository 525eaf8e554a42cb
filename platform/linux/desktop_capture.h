#pragma once

#include "platform/screen_capture.h"

#include <memory>

// The screen-capture service of a Linux session. Pictures and listings come
// from `pictures` (X11, or nothing on a session we cannot read); the
// computer's sound comes from the sound server, so an audio-only stream runs
// even where no picture can be had.
class DesktopScreenCapture final : public ScreenCapture {
public:
    explicit DesktopScreenCapture(std::shared_ptr<ScreenCapture> pictures);

    QCoro::Task<std::optional<ShareableContent>> shareableContent() override;
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    // Never null. The picture part ending by itself (the X connection breaks)
    // only logs a warning: the video keeps what it has and the sound goes on.
    // The delegate hears of the sound stopping.
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
    bool desktopPicksContent() const override { return pictures_->desktopPicksContent(); }
    quint32 displayNumber(const QScreen* screen) const override { return pictures_->displayNumber(screen); }
    bool desktopComposites() const override { return pictures_->desktopComposites(); }

private:
    std::shared_ptr<ScreenCapture> pictures_;
};
