// The version check at launch and the update offer it may lead to.

#include "service/update_flow.h"

#include "core/log.h"
#include "core/web_address.h"

#include <QPointer>

#include <algorithm>

namespace {

constexpr qint64 defaultSnoozeDays = 3;
// Far beyond any sensible snooze; a longer one is taken as a date the
// calendar cannot give, and the offer is not postponed at all.
constexpr qint64 longestSnoozeDays = 1'000'000;

} // namespace

UpdateFlow::UpdateFlow(const Store& store, ApiFactory api, Alerts& alerts, Workspace& workspace, Clock& clock,
                       MenuChanges& menu)
    : store_(store), api_(std::move(api)), alerts_(alerts), workspace_(workspace), clock_(clock), menu_(menu)
{
}

void UpdateFlow::setOffer(std::optional<Offer> offer)
{
    offer_ = std::move(offer);
    menu_.menuChanged();
}

QCoro::Task<void> UpdateFlow::checkVersion()
{
    const QPointer<UpdateFlow> self(this);
    const Api api = api_();
    Api::VersionCheck check;
    try {
        auto call = api.checkVersion();
        check = co_await std::move(call);
    } catch (const std::exception&) {
        // Whatever went wrong, the program runs as if this version were current.
        co_return;
    }
    if (!self || check.status == u"ok")
        co_return;

    setOffer(Offer{check.title, check.updateUrl});
    if (check.status == u"required") {
        offerUpdate(check);
        co_return;
    }
    const std::optional<QDateTime> remindAfter = store_.updateRemindAfter();
    if (!remindAfter || *remindAfter <= clock_.now())
        offerUpdate(check);
}

void UpdateFlow::offerUpdate(const Api::VersionCheck& offer)
{
    Alerts::Alert alert{offer.title.value_or(QStringLiteral("Есть обновление")), offer.message.value_or(QString()),
                        {QStringLiteral("Скачать")}};
    if (offer.status != u"required")
        alert.buttons.append(QStringLiteral("Потом"));
    if (alerts_.run(alert) == Alerts::firstButton) {
        openUpdate();
        return;
    }

    const qint64 days = offer.remindAfterDays ? std::max<qint64>(1, *offer.remindAfterDays) : defaultSnoozeDays;
    const QDateTime until = days <= longestSnoozeDays ? clock_.now().addDays(days) : QDateTime();
    store_.setUpdateRemindAfter(until);
}

void UpdateFlow::openUpdate()
{
    if (!offer_ || !offer_->updateUrl)
        return;
    // The address comes from the service; only a web address may reach the
    // desktop, never a local file or another program's scheme.
    const QUrl address(*offer_->updateUrl, QUrl::StrictMode);
    if (!isWebAddress(address)) {
        Log::warn(QStringLiteral("адрес обновления не веб-адрес, не открываем: ") + *offer_->updateUrl);
        return;
    }
    workspace_.openUrl(address);
}
