#include "service/limit_flow.h"

#include <QPointer>

LimitFlow::LimitFlow(const Store& store, ApiFactory api, StatusSink& status)
    : store_(store), api_(std::move(api)), status_(status)
{
}

QCoro::Task<void> LimitFlow::refreshLimit()
{
    if (!store_.token()) {
        status_.showStatus(QStringLiteral("Нужен вход"));
        co_return;
    }
    const QPointer<LimitFlow> self(this);
    const Api api = api_();
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
        status_.showStatus(QStringLiteral("Лимит расшифровки исчерпан"));
    else
        status_.showStatus(QStringLiteral("Осталось %1 ч из %2").arg(speech->left).arg(speech->limit));
}
