#pragma once

#include "app/menu_bar_controller.h"
#include "tests/support/fake_alerts.h"
#include "tests/support/fake_workspace.h"

#include <memory>

// Gives a controller's dependencies fake alerts and a fake workspace and
// returns them, for the test to read and drive.
struct FakeDesktop {
    FakeAlerts* alerts = nullptr;
    FakeWorkspace* workspace = nullptr;
};

inline FakeDesktop installFakeDesktop(MenuBarController::Dependencies& dependencies)
{
    auto alerts = std::make_unique<FakeAlerts>();
    auto workspace = std::make_unique<FakeWorkspace>();
    const FakeDesktop desktop {alerts.get(), workspace.get()};
    dependencies.alerts = std::move(alerts);
    dependencies.workspace = std::move(workspace);
    return desktop;
}
