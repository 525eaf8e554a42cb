#include "shots/share_flow.h"

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

} // namespace

ShareFlow::ShareFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status,
                     ErrorReporter& errors, NoticeSink& notices)
    : store_(store), api_(std::move(api)), workspace_(workspace), status_(status), errors_(errors), notices_(notices)
{
}

void ShareFlow::share(const QImage& bitmap)
{
    if (!store_.token()) {
        errors_.report(Api::Failure::rejected(
            QStringLiteral("Чтобы делиться ссылкой, войдите в аккаунт — пункт «Войти…» в меню.")));
        return;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (bitmap.isNull() || !bitmap.save(&buffer, "PNG") || png.isEmpty()) {
        errors_.report(Screenshot::Failure::writeFailed(QStringLiteral("не удалось собрать png")));
        return;
    }
    notices_.notify(QStringLiteral("Отправляем снимок…"), 60);
    upload(QPointer<ShareFlow>(this), std::move(png));
}

QCoro::Task<void> ShareFlow::upload(QPointer<ShareFlow> self, QByteArray png)
{
    std::optional<Api::SharedShot> shared;
    std::optional<Api::Failure> failure;
    try {
        shared = co_await self->api_().shareShot(png);
    } catch (const Api::Failure& error) {
        failure = error;
    }
    if (!self)
        co_return;
    if (failure) {
        self->notices_.notify(QStringLiteral("Не удалось поделиться"), 1);
        self->errors_.report(*failure);
        co_return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(shared->link);
    if (isWebAddress(shared->link))
        self->workspace_.openUrl(QUrl(shared->link));
    self->notices_.notify(QStringLiteral("Ссылка скопирована · действует ") + shared->days, 2.5);
    self->status_.showStatus(QStringLiteral("Ссылка на снимок в буфере — вставляйте"));
}
