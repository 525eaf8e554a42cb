#include "platform/linux/portal/portal_streams.h"

#include <QDBusMetaType>

QDBusArgument& operator<<(QDBusArgument& argument, const PortalStream& stream)
{
    argument.beginStructure();
    argument << stream.nodeId << stream.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalStream& stream)
{
    argument.beginStructure();
    argument >> stream.nodeId >> stream.properties;
    argument.endStructure();
    return argument;
}

void registerPortalStreamTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalStream>();
        qDBusRegisterMetaType<PortalStreams>();
        return true;
    }();
    (void)registered;
}

PortalStreams portalStreamsFrom(const QVariant& value)
{
    registerPortalStreamTypes();
    if (value.canConvert<QDBusArgument>()) {
        PortalStreams streams;
        value.value<QDBusArgument>() >> streams;
        return streams;
    }
    return value.value<PortalStreams>();
}
