#include "gnome_desktop.h"

#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

namespace {

const QString mutter = QStringLiteral("org.gnome.Mutter");
const QString remote = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

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
    process.start("gdbus", QStringList{"call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore",
                                       "--object-path", "/org/freedesktop/impl/portal/PermissionStore", "--method"}
                               + arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The first object path of a reply, or the error in `error`.
QString path(const QDBusMessage& reply, QString& error)
{
    if (reply.type() != QDBusMessage::ReplyMessage)
        error = reply.errorMessage();
    return reply.arguments().value(0).value<QDBusObjectPath>().path();
}

} // namespace

GnomeDesktop::GnomeDesktop() : bus_(QDBusConnection::sessionBus())
{
    session_ = path(call(bus_, remote, "/org/gnome/Mutter/RemoteDesktop", remote, "CreateSession"), error_);
    if (!error_.isEmpty())
        return;
    const QString id = QDBusInterface(remote, session_, remote + ".Session", bus_).property("SessionId").toString();
    const QString cast = path(call(bus_, mutter + ".ScreenCast", "/org/gnome/Mutter/ScreenCast", mutter + ".ScreenCast",
                                   "CreateSession", {QVariantMap{{"remote-desktop-session-id", id}}}),
                              error_);
    // The pointer moves in the coordinates of a recorded monitor's stream.
    if (error_.isEmpty())
        stream_ = path(call(bus_, mutter + ".ScreenCast", cast, mutter + ".ScreenCast.Session", "RecordMonitor",
                            {QString(), QVariantMap()}),
                       error_);
    if (error_.isEmpty())
        path(sessionCall("Start"), error_);
}

GnomeDesktop::~GnomeDesktop()
{
    if (!session_.isEmpty())
        sessionCall("Stop");
}

QDBusMessage GnomeDesktop::sessionCall(const QString& method, const QVariantList& arguments)
{
    return call(bus_, remote, session_, remote + ".Session", method, arguments);
}

void GnomeDesktop::move(QPoint at)
{
    sessionCall("NotifyPointerMotionAbsolute", {stream_, double(at.x()), double(at.y())});
}

void GnomeDesktop::press(bool down, int button)
{
    sessionCall("NotifyPointerButton", {button, down});
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
    for (quint32 modifier : held)
        sessionCall("NotifyKeyboardKeysym", {modifier, true});
    sessionCall("NotifyKeyboardKeysym", {keysym, true});
    sessionCall("NotifyKeyboardKeysym", {keysym, false});
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        sessionCall("NotifyKeyboardKeysym", {*it, false});
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
    const QString file = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("gnome-desktop-screen.png");
    const QDBusMessage taken = call(bus, "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                                    "org.gnome.Shell.Screenshot", "Screenshot", {false, false, file});
    if (taken.type() != QDBusMessage::ReplyMessage || !taken.arguments().value(0).toBool())
        return {};
    QImage picture(file);
    QFile::remove(file);
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
