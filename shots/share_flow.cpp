// Sharing an annotated shot as a link: the upload, the clipboard, the browser
// and the notices that tell the user how it went.

#include "app/menu_bar_controller.h"
#include "service/api.h"
#include "shots/screenshot.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QUrl>

namespace {

// Only a web address goes to the browser: the service's answer is not
// trusted to name a program or a local file for the desktop to open.
bool isWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

QCoro::Task<void> uploadShot(QPointer<MenuBarController> self, QByteArray png)
{
    std::optional<Api::SharedShot> shared;
    std::optional<Api::Failure> failure;
    try {
        shared = co_await Api::from(self->store()).shareShot(png);
    } catch (const Api::Failure& error) {
        failure = error;
    }
    if (!self)
        co_return;
    if (failure) {
        self->notify(QStringLiteral("Не удалось поделиться"), 1);
        self->report(*failure);
        co_return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(shared->link);
    if (isWebAddress(shared->link))
        self->workspace().openUrl(QUrl(shared->link));
    self->notify(QStringLiteral("Ссылка скопирована · действует ") + shared->days, 2.5);
    self->show(QStringLiteral("Ссылка на снимок в буфере — вставляйте"));
}

} // namespace

void MenuBarController::share(const QImage& bitmap)
{
    if (!store_.token()) {
        report(Api::Failure::rejected(
            QStringLiteral("Чтобы делиться ссылкой, войдите в аккаунт — пункт «Войти…» в меню.")));
        return;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (bitmap.isNull() || !bitmap.save(&buffer, "PNG") || png.isEmpty()) {
        report(Screenshot::Failure::writeFailed(QStringLiteral("не удалось собрать png")));
        return;
    }
    notify(QStringLiteral("Отправляем снимок…"), 60);
    uploadShot(QPointer<MenuBarController>(this), std::move(png));
}
