#pragma once

#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/alerts.h"
#include "platform/workspace.h"
#include "service/api_factory.h"

#include <QObject>

#include <optional>

#include <qcoro/qcorotask.h>

// The version check at launch, the update offer it may lead to, and the
// menu item that downloads the update.
class UpdateFlow final : public QObject {
public:
    // An update the service offers; set by the version check.
    struct Offer {
        std::optional<QString> title;
        std::optional<QString> updateUrl;
    };

    UpdateFlow(const Store& store, ApiFactory api, Alerts& alerts, Workspace& workspace, Clock& clock,
               MenuChanges& menu);

    // Asks the service about this version once; never throws.
    QCoro::Task<void> checkVersion();
    // The update alert; "Потом" postpones optional offers.
    void offerUpdate(const Api::VersionCheck& offer);
    // The menu item: the offer's address in the browser, if it is a web address.
    void openUpdate();

    const std::optional<Offer>& offer() const { return offer_; }
    // Sets the pending offer and tells the menu.
    void setOffer(std::optional<Offer> offer);

private:
    Store store_;
    ApiFactory api_;
    Alerts& alerts_;
    Workspace& workspace_;
    Clock& clock_;
    MenuChanges& menu_;
    std::optional<Offer> offer_;
};
