#include "platform/linux/portal/portal_request.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QFuture>
#include <QPromise>
#include <QTimer>

#include <qcoro/qcorodbuspendingcall.h>
#include <qcoro/qcorofuture.h>

#include <atomic>
#include <memory>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// Settles the request once: by the Response signal, by the frontend leaving
// the bus, or by the time limit.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    ResponseWaiter(QDBusConnection bus, int timeoutSeconds)
        : bus_(std::move(bus)), watcher_(portalService, bus_, QDBusServiceWatcher::WatchForUnregistration)
    {
        promise_.start();
        connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { settle({PortalResponse::failed, {}, QStringLiteral("the portal left the bus")}); });
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this,
                [this] { settle({PortalResponse::failed, {}, QStringLiteral("the portal did not answer in time")}); });
        timer_.start(std::chrono::seconds(timeoutSeconds));
    }

    ~ResponseWaiter() override
    {
        stopListening();
        settle({PortalResponse::failed, {}, QStringLiteral("abandoned")});
    }

    QFuture<PortalResponse> future() { return promise_.future(); }

    bool listen(const QString& path)
    {
        if (path == path_)
            return true;
        stopListening();
        path_ = path;
        return bus_.connect(portalService, path_, QStringLiteral("org.freedesktop.portal.Request"),
                            QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
    }

    void settle(PortalResponse response)
    {
        if (settled_)
            return;
        settled_ = true;
        timer_.stop();
        promise_.addResult(std::move(response));
        promise_.finish();
    }

public slots:
    void response(uint code, const QVariantMap& results)
    {
        settle({code, results, code == PortalResponse::success ? QString() : QStringLiteral("answered %1").arg(code)});
    }

private:
    void stopListening()
    {
        if (!path_.isEmpty())
            bus_.disconnect(portalService, path_, QStringLiteral("org.freedesktop.portal.Request"),
                            QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
        path_.clear();
    }

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    QTimer timer_;
    QPromise<PortalResponse> promise_;
    QString path_;
    bool settled_ = false;
};

// Where the frontend will put the Request object: known before the call, so
// that a quick answer cannot arrive before anyone listens.
QString expectedRequestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

} // namespace

QString portalToken()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("korvala%1").arg(++counter);
}

QCoro::Task<PortalResponse> portalRequest(QDBusConnection bus, QString interface, QString method,
                                          QVariantList arguments, QVariantMap options, int timeoutSeconds)
{
    if (!bus.isConnected())
        co_return PortalResponse{PortalResponse::failed, {}, QString::fromUtf8("no session bus")};
    const QString token = portalToken();
    options.insert(QString::fromUtf8("handle_token"), token);
    auto waiter = std::make_unique<ResponseWaiter>(bus, timeoutSeconds);
    if (!waiter->listen(expectedRequestPath(bus, token)))
        co_return PortalResponse{PortalResponse::failed, {}, QString::fromUtf8("cannot listen for the answer")};

    QDBusMessage message = QDBusMessage::createMethodCall(portalService, portalPath, interface, method);
    arguments << options;
    message.setArguments(arguments);
    const QDBusPendingCall call = bus.asyncCall(message);
    const QDBusMessage reply = co_await call;
    if (reply.type() != QDBusMessage::ReplyMessage)
        co_return PortalResponse{PortalResponse::failed, {}, reply.errorMessage()};
    // Frontends older than the token scheme choose the path themselves.
    const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && !waiter->listen(handle))
        co_return PortalResponse{PortalResponse::failed, {}, QString::fromUtf8("cannot listen for the answer")};
    auto answer = waiter->future();
    PortalResponse response = co_await answer;
    co_return response;
}

#include "portal_request.moc"
