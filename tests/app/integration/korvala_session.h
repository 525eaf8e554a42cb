#pragma once

// The program in a home of the test's own on the test desktop, driven by
// `korvala COMMAND` as a shortcut or a status bar would drive it.

#include "core/store.h"
#include "tests/support/qt_wait.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class KorvalaSessionTest : public ::testing::Test {
protected:
    struct Outcome {
        int exitCode = -1;
        QString out;
        QString err;
    };

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        settings = Store::openAt(settingsFile());
    }

    void TearDown() override { end(app); }

    QString settingsFile() const { return home.filePath(".config/korvala/korvala.conf"); }

    // Starts the program and waits until it answers commands.
    void startKorvala(QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        settings->sync();
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(channels);
        app.start(program, {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return korvala({"status"}).exitCode == 0; }, 20000));
    }

    // The event loop turns meanwhile: the program may be asking the test's
    // own D-Bus services while it answers.
    Outcome korvala(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000);
        end(process);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    QString status() { return korvala({"status"}).out.trimmed(); }

    // The runner above may already have seen the program end, where
    // QProcess::waitForFinished() would answer false.
    bool appEnded(int timeoutMs = 10000)
    {
        return waitUntil([&] { return app.state() == QProcess::NotRunning; }, timeoutMs);
    }

    static void end(QProcess& process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished();
    }

    QTemporaryDir home;
    QString program = KORVALA_PROGRAM;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<QSettings> settings;
    QProcess app;
};
