#pragma once

#include "tests/support/qt_wait.h"

#include <QFile>
#include <QProcess>

#include <csignal>

// An X server (Xvfb) of one test alone, which it may stop and kill. Tests
// that may run at once look for a free display from different numbers.
class PrivateXServer {
public:
    explicit PrivateXServer(const QString& screen, int first = 200)
    {
        for (int n = first; n < first + 30 && !number_; ++n)
            if (!QFile::exists(lock(n)) && !QFile::exists(socket(n)))
                number_ = n;
        server_.start("Xvfb", {name(), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
        server_.waitForStarted();
        waitUntil([&] { return QFile::exists(socket(number_)); }, 10000);
    }
    ~PrivateXServer()
    {
        kill();
        // A killed server leaves its lock and socket behind.
        QFile::remove(lock(number_));
        QFile::remove(socket(number_));
    }
    QString name() const { return QStringLiteral(":%1").arg(number_); }
    void signal(int number) { ::kill(pid_t(server_.processId()), number); }
    void kill()
    {
        if (server_.state() == QProcess::NotRunning)
            return;
        signal(SIGKILL);
        server_.waitForFinished();
    }

private:
    static QString lock(int n) { return QStringLiteral("/tmp/.X%1-lock").arg(n); }
    static QString socket(int n) { return QStringLiteral("/tmp/.X11-unix/X%1").arg(n); }

    int number_ = 0;
    QProcess server_;
};
