#pragma once

// The one fixture of the controller and its flows: a controller over a
// fresh settings file, fake alerts and workspace, a fake microphone and
// screen under a real recorder, a manual clock, a journal that keeps every
// entry, and the documents folder inside the test's own folder.

#include "app/menu_bar_controller.h"
#include "core/log.h"
#include "platform/linux/linux_platform.h"
#include "service/api.h"
#include "tests/support/fake_alerts.h"
#include "tests/support/fake_audio_input.h"
#include "tests/support/fake_screen_capture.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/dev_service.h"
#include "tests/support/documents_folder.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"
#include "tests/support/task_outcome.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousJournal = Log::setJournal(journal);
        ASSERT_TRUE(documents.place(folder.filePath("config"), folder.filePath("Documents")));
    }

    void TearDown() override
    {
        controller.reset();
        // Sleepers still suspended on the manual clock run out and end.
        for (int round = 0; round < 10 && clock.pending() > 0; ++round)
            clock.advance(3600);
        Log::setJournal(previousJournal);
    }

    // A controller over a fresh settings file; `token` absent means signed
    // out, `baseURL` absent means the built-in service.
    MenuBarController& make(std::optional<QString> token = std::nullopt, std::optional<QUrl> baseURL = std::nullopt)
    {
        controller.reset();
        MenuBarController::Dependencies dependencies;
        dependencies.defaults = Store::openAt(folder.filePath(QStringLiteral("korvala-%1.conf").arg(++made)));
        settings = dependencies.defaults.get();
        if (baseURL)
            settings->setValue("baseURL", baseURL->toString());
        if (token)
            store().setToken(*token);
        auto fakeAlerts = std::make_unique<FakeAlerts>();
        alerts = fakeAlerts.get();
        dependencies.alerts = std::move(fakeAlerts);
        auto fakeWorkspace = std::make_unique<FakeWorkspace>();
        workspace = fakeWorkspace.get();
        dependencies.workspace = std::move(fakeWorkspace);
        auto input = std::make_unique<FakeAudioInput>();
        mic = input.get();
        dependencies.recorder = {std::move(input), capture, LinuxPlatform::audioMedia(), LinuxPlatform::videoMedia()};
        dependencies.hasShot = hasShot;
        dependencies.captureArea = captureArea;
        dependencies.captureLines = captureLines;
        dependencies.trayAvailable = trayAvailable;
        if (moreDependencies)
            moreDependencies(dependencies);
        controller = std::make_unique<MenuBarController>(std::move(dependencies), clock);
        statusLines.clear();
        alertsAtLine.clear();
        QObject::connect(controller.get(), &MenuBarController::statusLineChanged, [this](const QString& text) {
            statusLines.append(text);
            alertsAtLine.push_back(alerts->shown.size());
        });
        controller->rebuildMenu();
        return *controller;
    }

    // The settings of the controller made last.
    Store store() { return Store(*settings); }

    // Runs a flow to its end: the event loop carries its requests, and the
    // clock jumps `step` seconds whenever the flow sleeps.
    template <typename T>
    TaskOutcome<T, Api::Failure> drive(QCoro::Task<T> task, double step = 4.0)
    {
        auto outcome = captureOutcome<Api::Failure>(std::move(task));
        const bool ended = waitUntil(
            [&] {
                if (clock.pending() > 0)
                    clock.advance(step);
                return outcome.isReady();
            },
            60'000);
        EXPECT_TRUE(ended) << "the flow did not end";
        return QCoro::waitFor(std::move(outcome));
    }

    QTemporaryDir folder;
    DocumentsFolder documents;
    ManualClock clock {QDateTime(QDate(2026, 12, 4), QTime(9, 0))};
    std::shared_ptr<RecordingJournal> journal = std::make_shared<RecordingJournal>();
    std::shared_ptr<Journal> previousJournal;
    std::shared_ptr<FakeScreenCapture> capture = std::make_shared<FakeScreenCapture>();
    // What the next make() hands the controller besides the fakes.
    std::function<bool()> hasShot;
    Screenshot::Capture captureArea;
    std::function<QCoro::Task<std::vector<MenuBarController::CaptureLine>>()> captureLines;
    std::function<bool()> trayAvailable = [] { return true; };
    std::function<void(MenuBarController::Dependencies&)> moreDependencies;

    FakeAlerts* alerts = nullptr;
    FakeWorkspace* workspace = nullptr;
    FakeAudioInput* mic = nullptr;
    QSettings* settings = nullptr;
    // Every status line set, and how many alerts had been shown by then.
    QStringList statusLines;
    std::vector<size_t> alertsAtLine;
    std::unique_ptr<MenuBarController> controller;

private:
    int made = 0;
};

// The same with the stand-in service, which every controller made here
// talks to unless told otherwise.
class ServiceControllerTest : public ControllerTest {
protected:
    void SetUp() override
    {
        ControllerTest::SetUp();
        ASSERT_TRUE(service.started());
    }

    MenuBarController& make(std::optional<QString> token = std::nullopt, std::optional<QUrl> baseURL = std::nullopt)
    {
        return ControllerTest::make(token, baseURL.value_or(service.baseURL()));
    }

    // The requests the stand-in got for `path` (its part after "/api/v1/").
    std::vector<DevServiceProcess::Request> requestsTo(const QString& path)
    {
        std::vector<DevServiceProcess::Request> result;
        for (DevServiceProcess::Request& request : service.requests()) {
            if (request.path == QStringLiteral("/api/v1/") + path)
                result.push_back(std::move(request));
        }
        return result;
    }

    DevServiceProcess service;
};
