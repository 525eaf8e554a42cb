#pragma once

#include <QString>

// Where a desktop's permission to share the screen is remembered between
// runs (a portal's restore token), so that the desktop asks only once.
class RestoreTokenKeeper {
public:
    virtual ~RestoreTokenKeeper() = default;
    // Empty when nothing is remembered.
    virtual QString restoreToken() const = 0;
    virtual void keepRestoreToken(const QString& token) = 0;
};
