#pragma once

#include "core/shell.h"

#include <QStringList>

#include <exception>
#include <utility>
#include <vector>

// The shell's small duties, recorded, for a flow tested on its own.
class FakeShell final : public StatusSink, public ErrorReporter, public NoticeSink, public MenuChanges {
public:
    void showStatus(const QString& text) override { statusLines.append(text); }
    void report(const std::exception& error) override { reported.append(QString::fromUtf8(error.what())); }
    void notify(const QString& text, double seconds) override { notices.push_back({text, seconds}); }
    void menuChanged() override { ++menuChanges; }

    QStringList statusLines;
    QStringList reported;
    std::vector<std::pair<QString, double>> notices;
    int menuChanges = 0;
};
