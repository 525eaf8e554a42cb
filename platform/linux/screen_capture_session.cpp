#include "platform/linux/screen_capture_session.h"

#include "app/store.h"
#include "platform/linux/desktop_capture.h"
#include "platform/linux/portal/portal_screen_capture.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/screen_capture.h"

bool sessionUsesDesktopPortal(const QProcessEnvironment& environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland")
           || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
           || environment.value(QStringLiteral("DISPLAY")).isEmpty();
}

std::shared_ptr<ScreenCapture> ScreenCapture::forSession()
{
    // The computer's sound does not depend on the picture: both kinds of
    // session record it from the sound server.
    if (sessionUsesDesktopPortal(QProcessEnvironment::systemEnvironment())) {
        // The restore token lives beside the other settings, so the desktop
        // asks for the screen once rather than at every recording.
        return std::make_shared<DesktopScreenCapture>(
            std::make_shared<PortalScreenCapture>(QDBusConnection::sessionBus(), Store::openStandard()));
    }
    return std::make_shared<DesktopScreenCapture>(std::make_shared<X11ScreenCapture>());
}
