// A portal backend for the Wayland test desktop, in place of a compositor's:
// ScreenCast answers with a PipeWire node of a known test picture, Screenshot with a PNG whose every pixel is known, Access (which the
// frontend needs before it offers Screenshot) always grants, Settings holds
// the desktop's colour scheme. Tests steer it over D-Bus at
// /org/korvala/FakePortal: the answer of the next requests, the end of every
// picture stream, the colour scheme, and what the frontend passed on.

#include "platform/linux/portal/portal_streams.h"
#include "test_picture_source.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QImage>
#include <QUrl>

#include <map>
#include <memory>

namespace {

QImage knownScreen(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = TestPictureSource::screenshotPixel(x, y);
    }
    return image;
}

// What ScreenCast.Start hands the frontend to keep for the next session.
struct RestoreData {
    QString vendor;
    uint version = 0;
    QDBusVariant data;
};

QDBusArgument& operator<<(QDBusArgument& argument, const RestoreData& restore)
{
    argument.beginStructure();
    argument << restore.vendor << restore.version << restore.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, RestoreData& restore)
{
    argument.beginStructure();
    argument >> restore.vendor >> restore.version >> restore.data;
    argument.endStructure();
    return argument;
}

// Settings.ReadAll's answer: values by key, by namespace.
using SettingsTree = QMap<QString, QVariantMap>;

} // namespace

Q_DECLARE_METATYPE(RestoreData)
Q_DECLARE_METATYPE(SettingsTree)

namespace {

class FakePortal : public QObject {
    Q_OBJECT
public:
    uint answer = 0;
    QVariantMap requests;
    int streamWidth = 1920;
    int streamHeight = 1080;
    std::map<QString, std::unique_ptr<TestPictureSource>> sources;
    int sessionsStarted = 0;
    // org.freedesktop.appearance color-scheme: 0 no preference, 1 dark, 2 light.
    uint colorScheme = 0;
};

class AccessAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Access")
public:
    AccessAdaptor(FakePortal* portal) : QDBusAbstractAdaptor(portal) {}

public slots:
    uint AccessDialog(const QDBusObjectPath&, const QString&, const QString&, const QString&, const QString&,
                      const QString&, const QVariantMap&, QVariantMap&)
    {
        return 0;
    }
};

class ScreenshotAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Screenshot")
    Q_PROPERTY(uint version READ version)
public:
    ScreenshotAdaptor(FakePortal* portal) : QDBusAbstractAdaptor(portal), portal_(portal) {}
    uint version() const { return 2; }

public slots:
    uint Screenshot(const QDBusObjectPath&, const QString&, const QString&, const QVariantMap& options,
                    QVariantMap& results)
    {
        portal_->requests.insert(QStringLiteral("screenshot"), options);
        if (portal_->answer != 0)
            return portal_->answer;
        const QString path = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                 .filePath(QStringLiteral("fake-screenshot-%1.png").arg(++shots_));
        if (!knownScreen(portal_->streamWidth, portal_->streamHeight).save(path, "PNG"))
            return 2;
        results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(path).toString());
        return 0;
    }

private:
    FakePortal* portal_;
    int shots_ = 0;
};

// The backend's side of a ScreenCast session; the frontend closes it when
// the client does.
class SessionAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")
public:
    SessionAdaptor(QObject* session, FakePortal* portal, QString path)
        : QDBusAbstractAdaptor(session), portal_(portal), path_(std::move(path))
    {
    }

public slots:
    void Close()
    {
        portal_->sources.erase(path_);
        QDBusConnection::sessionBus().unregisterObject(path_);
        parent()->deleteLater();
    }

signals:
    void Closed();

private:
    FakePortal* portal_;
    QString path_;
};

class ScreenCastAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes READ availableSourceTypes)
    Q_PROPERTY(uint AvailableCursorModes READ availableCursorModes)
    Q_PROPERTY(uint version READ version)
public:
    ScreenCastAdaptor(FakePortal* portal) : QDBusAbstractAdaptor(portal), portal_(portal) {}
    // Monitor and window.
    uint availableSourceTypes() const { return 1 | 2; }
    // Hidden, embedded and metadata: the frontend refuses any mode not listed.
    uint availableCursorModes() const { return 1 | 2 | 4; }
    uint version() const { return 4; }

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QVariantMap&,
                       QVariantMap&)
    {
        if (portal_->answer != 0)
            return portal_->answer;
        auto* object = new QObject(portal_);
        new SessionAdaptor(object, portal_, session.path());
        QDBusConnection::sessionBus().registerObject(session.path(), object);
        return 0;
    }

    uint SelectSources(const QDBusObjectPath&, const QDBusObjectPath&, const QString&, const QVariantMap& options,
                       QVariantMap&)
    {
        portal_->requests.insert(QStringLiteral("select_sources"), options);
        return portal_->answer;
    }

    uint Start(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QString&,
               const QVariantMap&, QVariantMap& results)
    {
        if (portal_->answer != 0)
            return portal_->answer;
        // A live test picture as a PipeWire node.
        auto source = TestPictureSource::start(QStringLiteral("korvala-fake-screen-%1").arg(++portal_->sessionsStarted),
                                               portal_->streamWidth, portal_->streamHeight);
        if (!source)
            return 2;
        PortalStream stream;
        stream.nodeId = source->nodeId();
        portal_->sources[session.path()] = std::move(source);
        stream.properties.insert(QStringLiteral("source_type"), uint(1));
        results.insert(QStringLiteral("streams"), QVariant::fromValue(PortalStreams{stream}));
        results.insert(QStringLiteral("persist_mode"), uint(2));
        RestoreData restore{QStringLiteral("korvala-fake"), 1, QDBusVariant(QStringLiteral("monitor-1"))};
        results.insert(QStringLiteral("restore_data"), QVariant::fromValue(restore));
        return 0;
    }

private:
    FakePortal* portal_;
};

class SettingsAdaptor : public QDBusAbstractAdaptor, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Settings")
    Q_PROPERTY(uint version READ version)
public:
    SettingsAdaptor(FakePortal* portal) : QDBusAbstractAdaptor(portal), portal_(portal) {}
    uint version() const { return 1; }

    void tell()
    {
        emit SettingChanged(appearance(), colorSchemeKey(), QDBusVariant(portal_->colorScheme));
    }

public slots:
    SettingsTree ReadAll(const QStringList& namespaces)
    {
        SettingsTree tree;
        if (namespaces.isEmpty() || namespaces.contains(appearance()) || namespaces.contains(QStringLiteral("*")))
            tree.insert(appearance(), {{colorSchemeKey(), QVariant::fromValue(portal_->colorScheme)}});
        return tree;
    }

    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group != appearance() || key != colorSchemeKey()) {
            // The frontend asks every backend and takes the first that knows.
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no such setting"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(portal_->colorScheme));
    }

signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    static QString appearance() { return QStringLiteral("org.freedesktop.appearance"); }
    static QString colorSchemeKey() { return QStringLiteral("color-scheme"); }

    FakePortal* portal_;
};

// The tests' handle on the fake.
class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.korvala.FakePortal")
public:
    ControlAdaptor(QObject* control, FakePortal* portal, SettingsAdaptor* settings)
        : QDBusAbstractAdaptor(control), portal_(portal), settings_(settings)
    {
    }

public slots:
    // 0 grants, 1 is the user's refusal, 2 another end.
    void SetAnswer(uint answer) { portal_->answer = answer; }
    // What the client's last requests carried, by request: "select_sources",
    // "screenshot".
    QVariantMap Requests() { return portal_->requests; }
    void ForgetRequests() { portal_->requests.clear(); }
    // As if the user stopped sharing: every picture source goes away.
    void EndStreams() { portal_->sources.clear(); }
    void SetStreamSize(int width, int height)
    {
        portal_->streamWidth = width;
        portal_->streamHeight = height;
    }
    // As if the user chose another look for the desktop.
    void SetColorScheme(uint scheme)
    {
        portal_->colorScheme = scheme;
        settings_->tell();
    }

private:
    FakePortal* portal_;
    SettingsAdaptor* settings_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerPortalStreamTypes();
    qDBusRegisterMetaType<RestoreData>();
    qDBusRegisterMetaType<SettingsTree>();

    FakePortal portal;
    new AccessAdaptor(&portal);
    new ScreenshotAdaptor(&portal);
    new ScreenCastAdaptor(&portal);
    auto* settings = new SettingsAdaptor(&portal);
    QObject control;
    new ControlAdaptor(&control, &portal, settings);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal)
        || !bus.registerObject(QStringLiteral("/org/korvala/FakePortal"), &control)
        || !bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.korvalatest"))) {
        qCritical("fake portal: cannot take its name on the session bus: %s", qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}

#include "fake_portal_backend.moc"
