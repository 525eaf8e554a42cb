#include "platform/linux/desktop_capture.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/screen_capture.h"

namespace {

// A session whose screen cannot be read (a Wayland session without X11
// access): nothing is listed and nothing is captured.
class UnavailableScreenCapture final : public ScreenCapture {
public:
    QCoro::Task<std::optional<ShareableContent>> shareableContent() override { co_return std::nullopt; }
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter, StreamConfiguration) override
    {
        co_return std::nullopt;
    }
    std::unique_ptr<Stream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                       std::shared_ptr<StreamDelegate>) override
    {
        return nullptr;
    }
};

} // namespace

std::shared_ptr<ScreenCapture> ScreenCapture::forSession()
{
    // Under Wayland, Xwayland shows only its own windows and a black root:
    // listing it would offer a picture that is not the user's screen.
    // The computer's sound does not depend on the picture: both kinds of
    // session record it.
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return std::make_shared<DesktopScreenCapture>(std::make_shared<UnavailableScreenCapture>());
    return std::make_shared<DesktopScreenCapture>(std::make_shared<X11ScreenCapture>());
}
