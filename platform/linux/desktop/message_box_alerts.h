#pragma once

#include "platform/alerts.h"

// Alerts as application-modal Qt message boxes.
class MessageBoxAlerts final : public Alerts {
public:
    int run(const Alert& alert) override;
};
