#pragma once

#include "tests/support/qt_wait.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a program while the event loop keeps turning, so that our windows
// answer the X server while a tool such as xdotool works on them. Gives its
// standard output; a program still running after 15 s is killed.
inline QByteArray runWithEventLoop(const QString& program, const QStringList& arguments,
                                   const QProcessEnvironment& environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return {};
    waitUntil([&] { return process.state() == QProcess::NotRunning; }, 15000);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    return process.readAllStandardOutput();
}
