#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

// One request to org.freedesktop.portal.Desktop: the method returns a
// Request object at once and the answer comes later as its Response signal,
// after whatever the desktop asks the user.
struct PortalResponse {
    // The portal's codes: 0 granted, 1 the user refused, 2 any other end
    // (also a missing portal, a failed call, a frontend gone or the time up).
    enum Code : uint { success = 0, cancelled = 1, failed = 2 };
    uint code = failed;
    QVariantMap results;
    // Why it failed, for the log; empty on success.
    QString error;

    bool ok() const { return code == success; }
};

// Calls `method` of `interface` with `arguments` followed by `options` (to
// which it adds the handle token) and awaits the Response. Never throws and
// never waits longer than `timeoutSeconds` for the answer.
QCoro::Task<PortalResponse> portalRequest(QDBusConnection bus, QString interface, QString method,
                                          QVariantList arguments, QVariantMap options, int timeoutSeconds);

// A token of the characters a D-Bus object path allows, unique in this process.
QString portalToken();

// Steps that show nothing to the user answer at once; a step that opens the
// desktop's dialog waits for the user, but not for ever.
inline constexpr int quickAnswerSeconds = 30;
inline constexpr int userAnswerSeconds = 300;

// A call's arguments and options, built outside the coroutines: GCC 12
// cannot keep an initializer list in a coroutine frame.
template <class... Values>
QVariantList portalArguments(const Values&... values)
{
    return QVariantList{QVariant::fromValue(values)...};
}

inline QVariantMap portalOptions(const QString& key, const QVariant& value)
{
    QVariantMap options;
    options.insert(key, value);
    return options;
}
