#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Tells once that the session is ending, whatever its way: logout
// (SIGTERM, or the session manager's end of session), Ctrl+C (SIGINT), a
// closed terminal (SIGHUP). The program then finishes what it records and
// quits. Main thread only; one instance for the program's life.
class SessionEnd final : public QObject {
public:
    explicit SessionEnd(std::function<void()> onEnd);
    ~SessionEnd() override;

    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

private:
    void end();

    std::function<void()> onEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool ended_ = false;
};
