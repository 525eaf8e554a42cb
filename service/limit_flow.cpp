// The remaining monthly transcription limit in the status line.

#include "app/menu_bar_controller.h"

#include <QPointer>

QCoro::Task<void> MenuBarController::refreshLimit()
{
    if (!store_.token()) {
        show(QStringLiteral("Нужен вход"));
        co_return;
    }
    const QPointer<MenuBarController> self(this);
    const Api api = Api::from(store_);
    std::optional<Api::Limits> speech;
    try {
        auto call = api.speechLimit();
        speech = co_await std::move(call);
    } catch (const std::exception&) {
        // The limit is a courtesy: without it the status line keeps what it said.
        co_return;
    }
    if (!self || !speech)
        co_return;

    if (speech->left < 1)
        show(QStringLiteral("Лимит расшифровки исчерпан"));
    else
        show(QStringLiteral("Осталось %1 ч из %2").arg(speech->left).arg(speech->limit));
}
