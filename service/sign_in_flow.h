#pragma once

#include "core/shell.h"
#include "core/store.h"
#include "service/api_factory.h"

#include <QObject>
#include <QPointer>

#include <memory>

class LimitFlow;
class SignInWindow;
class Workspace;

// "Войти…": the sign-in window, and what its submit does with the service.
class SignInFlow final : public QObject {
public:
    SignInFlow(const Store& store, ApiFactory api, StatusSink& status, LimitFlow& limit, Workspace& workspace);
    ~SignInFlow() override;

    // Opens the window; its submit signs in and, on success, stores the token.
    void signIn();
    // Made with the flow, its window only while it is shown.
    SignInWindow& window() { return *window_; }

private:
    // Static, with the flow held weakly: the window may replace its
    // callback while this waits, and a lambda's captures die with it.
    static QCoro::Task<std::optional<QString>> attempt(QPointer<SignInFlow> flow, QString email, QString password);

    Store store_;
    ApiFactory api_;
    StatusSink& status_;
    LimitFlow& limit_;
    std::unique_ptr<SignInWindow> window_;
};
