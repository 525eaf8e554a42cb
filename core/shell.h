#pragma once

#include <QString>

#include <exception>

// What a flow may ask of the application's shell, one small duty each, so
// that a flow never holds the shell itself. The tray controller implements
// them all; tests implement the few a flow under test needs.

// The one-line status at the top of the menu.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void showStatus(const QString& text) = 0;
};

// The one error report: the log, the status line and the alert.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void report(const std::exception& error) = 0;
};

// A short notice that takes no focus and hides itself after `seconds`.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    virtual void notify(const QString& text, double seconds) = 0;
};

// Told when something the menu shows changed outside the status line.
class MenuChanges {
public:
    virtual ~MenuChanges() = default;
    virtual void menuChanged() = 0;
};
