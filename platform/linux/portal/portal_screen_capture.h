#pragma once

#include "platform/restore_token_keeper.h"
#include "platform/screen_capture.h"

#include <QDBusConnection>

#include <functional>
#include <memory>

// Screen capture on a Wayland desktop, through xdg-desktop-portal: still
// images from its Screenshot portal, streams from its ScreenCast portal as
// PipeWire video. A portal cannot list windows: the content is the screens
// Qt knows, and which screen or window a stream shows is the user's choice in
// the desktop's own dialog, remembered through the portal's restore token.
// A stream of a display filter offers screens in that dialog, of a window
// filter windows, of the desktop's choice both.
class PortalScreenCapture final : public ScreenCapture {
public:
    // The system sound of a stream, which the portal does not carry: made
    // for each stream that is given an audio output, with the stream's
    // delegate (whose stop is about the sound alone).
    using SoundStreams = std::function<std::unique_ptr<Stream>(const StreamConfiguration&,
                                                               std::shared_ptr<StreamDelegate>)>;

    // `tokens` keeps the restore token between runs (none: the desktop asks
    // every time); `sound` may be empty.
    PortalScreenCapture(QDBusConnection bus, std::shared_ptr<RestoreTokenKeeper> tokens, SoundStreams sound = {});
    ~PortalScreenCapture() override;

    QCoro::Task<std::optional<ShareableContent>> shareableContent() override;
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
    bool desktopPicksContent() const override { return true; }
    quint32 displayNumber(const QScreen* screen) const override;

    // The part of a screenshot of all screens that shows `display`, its
    // frame given in points like the others in `displays`.
    // A picture of 32-bit BGRx pixels in an image of exactly `outWidth` ×
    // `outHeight`, its shape kept: scaled to the largest size that fits,
    // centred, the rest black. What the user shares (another screen, a
    // window) need not have the shape of the video.
    static QImage fitPicture(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight);

    static QImage displayPart(const QImage& screenshot, const ShareableDisplay& display,
                              const std::vector<ShareableDisplay>& displays);

private:
    QDBusConnection bus_;
    std::shared_ptr<RestoreTokenKeeper> tokens_;
    SoundStreams sound_;
};
