#include "gnome_desktop.h"


#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QProcess>
#include <QThread>

namespace {

const QString mutter = QStringLiteral("org.gnome.Mutter");

QDBusMessage call(QDBusConnection bus, const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, 10000);
}

// The permission store speaks GVariant types that QtDBus builds only with
// pains (variants in structures in variants): gdbus writes them as text.
bool gdbus(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("gdbus"),
                  QStringList {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                               QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                               QStringLiteral("--object-path"), QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
                               QStringLiteral("--method")}
                      + arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

GnomeDesktop::GnomeDesktop() : bus_(QDBusConnection::sessionBus())
{
    const QString remote = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
    const QDBusMessage created = call(bus_, mutter + ".RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop", remote, "CreateSession");
    if (created.type() != QDBusMessage::ReplyMessage) {
        error_ = created.errorMessage();
        return;
    }
    session_ = created.arguments().value(0).value<QDBusObjectPath>().path();
    QDBusInterface session(mutter + ".RemoteDesktop", session_, remote + ".Session", bus_);
    const QString id = session.property("SessionId").toString();
    const QDBusMessage cast = call(bus_, mutter + ".ScreenCast", "/org/gnome/Mutter/ScreenCast", mutter + ".ScreenCast",
                                   "CreateSession", {QVariantMap {{"remote-desktop-session-id", id}}});
    if (cast.type() != QDBusMessage::ReplyMessage) {
        error_ = cast.errorMessage();
        return;
    }
    const QString castSession = cast.arguments().value(0).value<QDBusObjectPath>().path();
    // The pointer moves in the coordinates of a recorded monitor's stream.
    const QDBusMessage recorded = call(bus_, mutter + ".ScreenCast", castSession, mutter + ".ScreenCast.Session",
                                       "RecordMonitor", {QString(), QVariantMap()});
    if (recorded.type() != QDBusMessage::ReplyMessage) {
        error_ = recorded.errorMessage();
        return;
    }
    stream_ = recorded.arguments().value(0).value<QDBusObjectPath>().path();
    const QDBusMessage started = call(bus_, mutter + ".RemoteDesktop", session_, remote + ".Session", "Start");
    if (started.type() != QDBusMessage::ReplyMessage)
        error_ = started.errorMessage();
}

GnomeDesktop::~GnomeDesktop()
{
    if (!session_.isEmpty())
        call(bus_, mutter + ".RemoteDesktop", session_, "org.gnome.Mutter.RemoteDesktop.Session", "Stop");
}

void GnomeDesktop::move(QPoint at)
{
    call(bus_, mutter + ".RemoteDesktop", session_, "org.gnome.Mutter.RemoteDesktop.Session",
         "NotifyPointerMotionAbsolute", {stream_, double(at.x()), double(at.y())});
}

void GnomeDesktop::press(bool down, int button)
{
    call(bus_, mutter + ".RemoteDesktop", session_, "org.gnome.Mutter.RemoteDesktop.Session", "NotifyPointerButton",
         {button, down});
}

void GnomeDesktop::click(QPoint at, int button)
{
    move(at);
    QThread::msleep(50);
    press(true, button);
    QThread::msleep(50);
    press(false, button);
}

void GnomeDesktop::drag(QPoint from, QPoint to)
{
    move(from);
    QThread::msleep(50);
    press(true);
    // In steps, as a hand moves: the selector follows motion events.
    for (int step = 1; step <= 10; ++step) {
        move(from + (to - from) * step / 10);
        QThread::msleep(20);
    }
    press(false);
}

void GnomeDesktop::key(quint32 keysym, const QList<quint32>& held)
{
    const auto send = [this](quint32 sym, bool down) {
        call(bus_, mutter + ".RemoteDesktop", session_, "org.gnome.Mutter.RemoteDesktop.Session",
             "NotifyKeyboardKeysym", {sym, down});
    };
    for (quint32 modifier : held)
        send(modifier, true);
    send(keysym, true);
    send(keysym, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        send(*it, false);
}

QImage GnomeDesktop::screen()
{
    // The shell takes screenshots for a few bus names only, among them the
    // screenshot tool's: the test takes that name, and so its pictures never
    // wait on the portal the program under test is using.
    QDBusConnection bus = QDBusConnection::sessionBus();
    static const bool named = bus.registerService(QStringLiteral("org.gnome.Screenshot"));
    if (!named)
        return {};
    const QString path = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(QStringLiteral("gnome-desktop-screen.png"));
    const QDBusMessage taken = call(bus, QStringLiteral("org.gnome.Shell.Screenshot"), "/org/gnome/Shell/Screenshot",
                                    QStringLiteral("org.gnome.Shell.Screenshot"), "Screenshot", {false, false, path});
    if (taken.type() != QDBusMessage::ReplyMessage || !taken.arguments().value(0).toBool())
        return {};
    QImage picture(path);
    QFile::remove(path);
    return picture.convertToFormat(QImage::Format_RGB32);
}

bool GnomeDesktop::allowScreenshots(bool allowed)
{
    return gdbus({"org.freedesktop.impl.portal.PermissionStore.SetPermission", "screenshot", "true", "screenshot", "",
                  allowed ? "['yes']" : "['no']"});
}

bool GnomeDesktop::keepScreenCastToken(const QString& token)
{
    return gdbus({"org.freedesktop.impl.portal.PermissionStore.Set", "screencast", "true", token, "{'': ['yes']}",
                  "<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 1, "
                  "<'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>"});
}

bool GnomeDesktop::forgetScreenCastToken(const QString& token)
{
    return gdbus({"org.freedesktop.impl.portal.PermissionStore.Delete", "screencast", token});
}
