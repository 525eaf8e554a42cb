#include "platform/linux/screen_capture_session.h"

#include "platform/linux/desktop_capture.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/portal/portal_screen_capture.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/screen_capture.h"

bool sessionUsesDesktopPortal(const QProcessEnvironment& environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland")
           || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
           || environment.value(QStringLiteral("DISPLAY")).isEmpty();
}

std::shared_ptr<ScreenCapture> LinuxPlatform::screenCaptureForSession(std::shared_ptr<RestoreTokenKeeper> tokens)
{
    // The computer's sound does not depend on the picture: both kinds of
    // session record it from the sound server.
    if (sessionUsesDesktopPortal(QProcessEnvironment::systemEnvironment())) {
        return std::make_shared<DesktopScreenCapture>(
            std::make_shared<PortalScreenCapture>(QDBusConnection::sessionBus(), std::move(tokens)));
    }
    return std::make_shared<DesktopScreenCapture>(std::make_shared<X11ScreenCapture>());
}
