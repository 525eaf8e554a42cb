#pragma once

#include "app/menu_bar_controller.h"
#include "platform/linux/linux_platform.h"
#include "tests/support/fake_alerts.h"
#include "tests/support/fake_audio_input.h"
#include "tests/support/fake_screen_capture.h"
#include "tests/support/fake_workspace.h"

#include <memory>

// Gives a controller's dependencies fake alerts and a fake workspace and
// returns them, for the test to read and drive; the recorder gets a fake
// microphone and screen and writes real files. A test may replace any of them.
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
    dependencies.recorder = {std::make_unique<FakeAudioInput>(), std::make_shared<FakeScreenCapture>(),
                             LinuxPlatform::audioMedia(), LinuxPlatform::videoMedia()};
    return desktop;
}
