#include "platform/linux/portal/portal_screenshot.h"

#include "core/log.h"
#include "platform/linux/portal/portal_request.h"

#include <QFile>
#include <QUrl>

QCoro::Task<std::optional<QImage>> portalScreenshot(QDBusConnection bus)
{
    QVariantMap options = portalOptions(QString::fromUtf8("interactive"), false);
    options.insert(QString::fromUtf8("modal"), false);
    const PortalResponse response =
        co_await portalRequest(bus, QString::fromUtf8("org.freedesktop.portal.Screenshot"),
                               QString::fromUtf8("Screenshot"), portalArguments(QString()), options, quickAnswerSeconds);
    if (!response.ok()) {
        Log::warn(QString::fromUtf8("портал снимков экрана не дал снимок: ") + response.error);
        co_return std::nullopt;
    }
    const QString path = QUrl(response.results.value(QString::fromUtf8("uri")).toString()).toLocalFile();
    QImage screenshot(path);
    // The portal leaves its file in the user's pictures; the picture is ours
    // to deliver, not a second copy to find there later.
    if (!path.isEmpty())
        QFile::remove(path);
    if (screenshot.isNull()) {
        Log::warn(QString::fromUtf8("портал снимков экрана вернул нечитаемый файл: ") + path);
        co_return std::nullopt;
    }
    co_return screenshot;
}

QImage displayPart(const QImage& screenshot, const ShareableDisplay& display,
                   const std::vector<ShareableDisplay>& displays)
{
    QRectF desktop;
    for (const ShareableDisplay& each : displays)
        desktop = desktop.united(each.frame);
    if (screenshot.isNull() || desktop.width() <= 0 || display.frame.isEmpty())
        return screenshot;
    // The screenshot spans every screen at one scale: its pixels over the
    // desktop's points.
    const double scale = screenshot.width() / desktop.width();
    const QRectF frame = display.frame.translated(-desktop.topLeft());
    const QRect part = QRectF(frame.x() * scale, frame.y() * scale, frame.width() * scale, frame.height() * scale)
                           .toAlignedRect()
                           .intersected(screenshot.rect());
    return part.isEmpty() ? QImage() : screenshot.copy(part);
}
