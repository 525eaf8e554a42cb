#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QVariantMap>

// One entry of the "streams" result of ScreenCast.Start: a PipeWire node and
// its properties (D-Bus signature "(ua{sv})").
struct PortalStream {
    uint nodeId = 0;
    QVariantMap properties;
};
using PortalStreams = QList<PortalStream>;

Q_DECLARE_METATYPE(PortalStream)
Q_DECLARE_METATYPE(PortalStreams)

QDBusArgument& operator<<(QDBusArgument& argument, const PortalStream& stream);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalStream& stream);

// Registers the types with QtDBus; safe to call more than once.
void registerPortalStreamTypes();

// The streams of a Start result, however QtDBus handed them over.
PortalStreams portalStreamsFrom(const QVariant& value);
