#include "shots/share_flow.h"

#include "core/web_address.h"
#include "shots/screenshot.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QUrl>

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
    try {
        png = Screenshot::pngData(bitmap);
    } catch (const Screenshot::Failure& failure) {
        errors_.report(failure);
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
    // Only a web address goes to the browser: the service's answer is not
    // trusted to name a program or a local file for the desktop to open.
    if (isWebAddress(shared->link))
        self->workspace_.openUrl(QUrl(shared->link));
    self->notices_.notify(QStringLiteral("Ссылка скопирована · действует ") + shared->days, 2.5);
    self->status_.showStatus(QStringLiteral("Ссылка на снимок в буфере — вставляйте"));
}
