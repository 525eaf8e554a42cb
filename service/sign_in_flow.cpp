#include "service/sign_in_flow.h"

#include "core/described_error.h"
#include "core/log.h"
#include "service/limit_flow.h"
#include "service/sign_in_window.h"

#include <QPointer>

SignInFlow::SignInFlow(const Store& store, ApiFactory api, StatusSink& status, LimitFlow& limit, Workspace& workspace)
    : store_(store)
    , api_(std::move(api))
    , status_(status)
    , limit_(limit)
    , window_(std::make_unique<SignInWindow>(workspace))
{
}

SignInFlow::~SignInFlow() = default;

void SignInFlow::signIn()
{
    window_->show([flow = QPointer<SignInFlow>(this)](QString email, QString password) {
        return attempt(flow, std::move(email), std::move(password));
    });
}

QCoro::Task<std::optional<QString>> SignInFlow::attempt(QPointer<SignInFlow> flow, QString email, QString password)
{
    if (!flow)
        co_return std::nullopt;
    const Api api = flow->api_();
    QString token;
    try {
        auto call = api.signIn(email, password);
        token = co_await std::move(call);
    } catch (const std::exception& error) {
        // Nothing is stored: a token from an earlier sign-in stays.
        const QString text = QString::fromUtf8(error.what());
        Log::warn(QStringLiteral("вход не удался: ") + text);
        co_return text;
    }
    if (!flow)
        co_return std::nullopt;

    flow->store_.setToken(token);
    flow->status_.showStatus(QStringLiteral("Вошли"));
    auto limit = flow->limit_.refreshLimit();
    co_await std::move(limit);
    co_return std::nullopt;
}
