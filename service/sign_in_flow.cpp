// "Войти…": the sign-in window, and what its submit does with the service.

#include "core/described_error.h"
#include "core/log.h"
#include "app/menu_bar_controller.h"
#include "service/sign_in_window.h"

#include <QPointer>

namespace {

QString descriptionOf(const std::exception& error)
{
    const auto* described = dynamic_cast<const DescribedError*>(&error);
    return described ? described->description() : QString::fromUtf8(error.what());
}

// A free coroutine rather than a capturing lambda: the window may replace
// its callback while this waits, and a lambda's captures die with it.
QCoro::Task<std::optional<QString>> attemptSignIn(QPointer<MenuBarController> controller, QString email,
                                                  QString password)
{
    if (!controller)
        co_return std::nullopt;
    const Api api = Api::from(controller->store());
    QString token;
    try {
        auto call = api.signIn(email, password);
        token = co_await std::move(call);
    } catch (const std::exception& error) {
        // Nothing is stored: a token from an earlier sign-in stays.
        const QString text = descriptionOf(error);
        Log::warn(QStringLiteral("вход не удался: ") + text);
        co_return text;
    }
    if (!controller)
        co_return std::nullopt;

    controller->store().setToken(token);
    controller->show(QStringLiteral("Вошли"));
    auto limit = controller->refreshLimit();
    co_await std::move(limit);
    co_return std::nullopt;
}

} // namespace

void MenuBarController::signIn()
{
    signInWindow_->show([controller = QPointer<MenuBarController>(this)](QString email, QString password) {
        return attemptSignIn(controller, std::move(email), std::move(password));
    });
}
