#include "tests/support/exported_menu.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

QList<MenuLine> exportedMenu(const QString& service, const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, "com.canonical.dbusmenu", "GetLayout");
    call.setArguments({0, -1, QStringList()});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    QList<MenuLine> lines;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return lines;
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument entry = child.variant().value<QDBusArgument>();
        QList<QDBusVariant> submenu;
        entry.beginStructure();
        entry >> id >> properties >> submenu;
        entry.endStructure();
        const bool separator = properties.value("type").toString() == "separator";
        lines.append({id, separator ? "---" : properties.value("label").toString(),
                      properties.value("enabled", true).toBool()});
    }
    root.endArray();
    root.endStructure();
    return lines;
}

QStringList texts(const QList<MenuLine>& lines)
{
    QStringList result;
    for (const MenuLine& line : lines)
        result.append(line.text);
    return result;
}
