#pragma once

// A controller wired to the stand-in service, a manual clock and fakes for
// the desktop, for the tests of the controller's service flows.

#include "core/log.h"
#include "app/menu_bar_controller.h"
#include "service/api.h"
#include "tests/support/dev_service.h"
#include "tests/support/fake_alerts.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_workspace.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"
#include "tests/support/recording_journal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <type_traits>

// How a flow ended: its value (Done for a flow without one), the service
// failure it threw, or anything else it threw.
struct Done {};

template <typename T>
struct FlowOutcome {
    using Value = std::conditional_t<std::is_void_v<T>, Done, T>;
    bool finished = false;
    std::optional<Value> value;
    std::optional<Api::Failure> failure;
    std::exception_ptr other;
};

class ServiceFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.started());
        journal = std::make_shared<RecordingJournal>();
        previousJournal = Log::setJournal(journal);
        clock = std::make_shared<ManualClock>();
        Clock::setShared(clock);
    }

    void TearDown() override
    {
        controller.reset();
        Clock::setShared(nullptr);
        Log::setJournal(previousJournal);
    }

    // A controller over a fresh settings file that points at the stand-in;
    // `token` absent means signed out.
    MenuBarController& make(std::optional<QString> token = std::nullopt, std::optional<QUrl> baseURL = std::nullopt)
    {
        MenuBarController::Dependencies dependencies;
        dependencies.defaults = Store::openAt(folder.filePath(QStringLiteral("korvala-%1.conf").arg(++made)));
        dependencies.defaults->setValue("baseURL", baseURL.value_or(service.baseURL()).toString());
        if (token)
            dependencies.defaults->setValue("token", *token);
        const FakeDesktop desktop = installFakeDesktop(dependencies);
        alerts = desktop.alerts;
        workspace = desktop.workspace;
        controller = std::make_unique<MenuBarController>(std::move(dependencies));
        controller->rebuildMenu();
        return *controller;
    }

    // Runs a flow to its end: the event loop carries its requests, and the
    // clock jumps four seconds whenever the flow sleeps.
    template <typename T>
    FlowOutcome<T> drive(QCoro::Task<T> task, double step = 4.0)
    {
        auto outcome = std::make_shared<FlowOutcome<T>>();
        auto watcher = watch(std::move(task), outcome);
        QDeadlineTimer deadline(60'000);
        while (!outcome->finished && !deadline.hasExpired()) {
            if (clock->pending() > 0) {
                clock->advance(step);
                continue;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::usleep(200);
        }
        EXPECT_TRUE(outcome->finished) << "the flow did not end";
        return *outcome;
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

    QTemporaryDir folder;
    DevServiceProcess service;
    std::shared_ptr<RecordingJournal> journal;
    std::shared_ptr<Journal> previousJournal;
    std::shared_ptr<ManualClock> clock;
    FakeAlerts* alerts = nullptr;
    FakeWorkspace* workspace = nullptr;
    std::unique_ptr<MenuBarController> controller;

private:
    template <typename T>
    static QCoro::Task<void> watch(QCoro::Task<T> task, std::shared_ptr<FlowOutcome<T>> outcome)
    {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                outcome->value = Done{};
            } else {
                outcome->value = co_await std::move(task);
            }
        } catch (const Api::Failure& failure) {
            outcome->failure = failure;
        } catch (...) {
            outcome->other = std::current_exception();
        }
        outcome->finished = true;
    }

    int made = 0;
};
