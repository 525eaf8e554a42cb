#include "platform/linux/portal/portal_screen_capture.h"

#include "platform/linux/portal/portal_screenshot.h"
#include "platform/linux/portal/portal_streams.h"
#include "platform/linux/portal/screen_cast_stream.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

std::vector<ShareableDisplay> qtDisplays()
{
    std::vector<ShareableDisplay> displays;
    if (!qGuiApp)
        return displays;
    uint32_t number = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        displays.push_back({++number, geometry.width(), geometry.height(), QRectF(geometry)});
    }
    return displays;
}

} // namespace

PortalScreenCapture::PortalScreenCapture(QDBusConnection bus, std::shared_ptr<RestoreTokenKeeper> tokens)
    : bus_(std::move(bus)), tokens_(std::move(tokens))
{
    registerPortalStreamTypes();
}

PortalScreenCapture::~PortalScreenCapture() = default;

QCoro::Task<std::optional<ShareableContent>> PortalScreenCapture::shareableContent()
{
    ShareableContent content;
    content.displays = qtDisplays();
    if (content.displays.empty())
        co_return std::nullopt;
    co_return content;
}

quint32 PortalScreenCapture::displayNumber(const QScreen* screen) const
{
    // The numbers shareableContent() gives: Qt's screens counted from 1.
    const auto screens = QGuiApplication::screens();
    const auto index = screens.indexOf(const_cast<QScreen*>(screen));
    return index < 0 ? 1 : static_cast<quint32>(index + 1);
}

QCoro::Task<std::optional<QImage>> PortalScreenCapture::captureImage(ContentFilter filter,
                                                                     StreamConfiguration configuration)
{
    // A screenshot shows screens; a single window or the user's pick is the
    // stream's business.
    if (filter.kind == ContentFilter::Kind::Window || filter.kind == ContentFilter::Kind::DesktopChoice)
        co_return std::nullopt;
    auto taking = portalScreenshot(bus_);
    const std::optional<QImage> screenshot = co_await std::move(taking);
    if (!screenshot)
        co_return std::nullopt;
    QImage image = displayPart(screenshot->convertToFormat(QImage::Format_RGB32), filter.display, qtDisplays());
    if (image.isNull())
        co_return std::nullopt;
    if (configuration.width > 0 && configuration.height > 0 && image.size() != QSize(configuration.width, configuration.height))
        image = image.scaled(configuration.width, configuration.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    co_return image;
}

std::unique_ptr<Stream> PortalScreenCapture::makeStream(const ContentFilter& filter,
                                                        const StreamConfiguration& configuration,
                                                        std::shared_ptr<StreamDelegate>)
{
    // The picture ending by itself is only logged (the video keeps what it
    // has): the delegate hears of nothing here.
    return std::make_unique<ScreenCastStream>(bus_, filter, configuration, tokens_);
}
