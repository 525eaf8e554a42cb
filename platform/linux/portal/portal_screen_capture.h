#pragma once

#include "platform/restore_token_keeper.h"
#include "platform/screen_capture.h"

#include <QDBusConnection>

#include <memory>

// Screen capture on a Wayland desktop, through xdg-desktop-portal: still
// images from its Screenshot portal, streams from its ScreenCast portal as
// PipeWire video. A portal cannot list windows: the content is the screens
// Qt knows, and which screen or window a stream shows is the user's choice in
// the desktop's own dialog, remembered through the portal's restore token.
class PortalScreenCapture final : public ScreenCapture {
public:
    // `tokens` keeps the restore token between runs (none: the desktop asks
    // every time). The portal carries no sound: its streams refuse audio
    // outputs, and the session's sound comes from the sound server beside it.
    PortalScreenCapture(QDBusConnection bus, std::shared_ptr<RestoreTokenKeeper> tokens);
    ~PortalScreenCapture() override;

    QCoro::Task<std::optional<ShareableContent>> shareableContent() override;
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
    bool desktopPicksContent() const override { return true; }
    quint32 displayNumber(const QScreen* screen) const override;
    // A translucent full-screen window does not show the desktop beneath it
    // here (GNOME paints black behind full-screen windows), and Qt cannot
    // grab a Wayland screen: overlays show a still taken through the portal.
    bool desktopComposites() const override { return false; }

private:
    QDBusConnection bus_;
    std::shared_ptr<RestoreTokenKeeper> tokens_;
};
