#pragma once

#include <QString>
#include <QStringList>

// Modal alerts: a message, an informative text and buttons in order. The
// answer numbers the buttons from 1000, so flows read the same whichever
// implementation runs them.
class Alerts {
public:
    struct Alert {
        QString message;
        QString informativeText;
        QStringList buttons;
    };

    static constexpr int firstButton = 1000;
    static constexpr int secondButton = 1001;
    // The alert ended without a button being chosen (closed by the window manager).
    static constexpr int noButton = 0;

    virtual ~Alerts() = default;

    // Main thread only; returns once the user has answered.
    virtual int run(const Alert& alert) = 0;
};
