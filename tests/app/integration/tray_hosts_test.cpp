// The tray as the desktops users have show it. GNOME's AppIndicator extension
// and KDE host a StatusNotifierItem and draw its menu from the dbusmenu
// export: a watcher of the test's own stands in for them and reads the menu
// as they do. xfce4-panel's tray embeds the icon (XEmbed) when the program
// came first, and hosts the item when the panel did: both are clicked as a
// user clicks them.

#include "app/menu_bar_controller.h"
#include "tests/app/integration/korvala_session.h"
#include "tests/support/dev_service.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/exported_menu.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRect>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");

// What a StatusNotifierItem host offers: Qt takes the D-Bus tray only when the
// watcher's introspection lists IsStatusNotifierHostRegistered and it is true.
class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void RegisterStatusNotifierHost(const QString&) {}
};

QDBusMessage callItem(const QString& item, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(item, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
}

QDBusMessage callMenu(const QString& item, const QString& method, const QVariantList& arguments)
{
    return callItem(item, "/MenuBar", "com.canonical.dbusmenu", method, arguments);
}

// A host reports the menu's opening, a click on an item and the closing.
void aboutToShow(const QString& item) { callMenu(item, "AboutToShow", {0}); }
void menuEvent(const QString& item, int id, const QString& event)
{
    callMenu(item, "Event", {id, event, QVariant::fromValue(QDBusVariant(0)), 0u});
}

QStringList visibleWindows(const QStringList& search)
{
    return QString::fromUtf8(runWithEventLoop("xdotool", QStringList {"search", "--onlyvisible"} + search))
        .split('\n', Qt::SkipEmptyParts);
}

QRect geometry(const QString& window)
{
    QVariantMap shell; // X=…, Y=…, WIDTH=…, HEIGHT=… a line
    const QString answer = QString::fromUtf8(runWithEventLoop("xdotool", {"getwindowgeometry", "--shell", window}));
    for (const QString& line : answer.split('\n'))
        shell.insert(line.section('=', 0, 0), line.section('=', 1));
    return {shell["X"].toInt(), shell["Y"].toInt(), shell["WIDTH"].toInt(), shell["HEIGHT"].toInt()};
}

class TrayHostsTest : public KorvalaSessionTest {
protected:
    void SetUp() override
    {
        KorvalaSessionTest::SetUp();
        ASSERT_TRUE(service.started());
        // No accessibility bus: the panel would start one that outlives it.
        environment.insert("NO_AT_BRIDGE", "1");
        settings->setValue("baseURL", service.baseURL().toString());
        settings->setValue("warnedAboutConsent", true);
    }

    void TearDown() override
    {
        KorvalaSessionTest::TearDown();
        end(panel);
        end(xfconf);
        QDBusConnection::sessionBus().unregisterService(watcherName);
        QDBusConnection::sessionBus().unregisterObject("/StatusNotifierWatcher");
    }

    void startKorvala()
    {
        watcher.items.clear();
        KorvalaSessionTest::startKorvala(QProcess::SeparateChannels);
        ASSERT_TRUE(!hosting || waitUntil([&] { return !watcher.items.isEmpty(); }, 20000)) << "no item registered";
    }

    // Quits the program and answers what it wrote to standard error.
    QString quitKorvala()
    {
        korvala({"quit"});
        EXPECT_TRUE(appEnded());
        return QString::fromUtf8(app.readAllStandardError());
    }

    // Serves as the session's StatusNotifierWatcher, then starts the
    // program and answers the item it registers.
    QString hostItem()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        hosting = bus.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
            && bus.registerService(watcherName);
        EXPECT_TRUE(hosting);
        startKorvala();
        return watcher.items.value(0);
    }

    // xfce4-panel with its tray alone, as a top bar 28 pixels high.
    void startPanel()
    {
        const QString channel = home.filePath(".config/xfce4/xfconf/xfce-perchannel-xml");
        ASSERT_TRUE(QDir().mkpath(channel));
        QFile config(channel + "/xfce4-panel.xml");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)");
        config.close();
        // The settings daemon is ours, so that it reads this home's panel.
        xfconf.setProcessEnvironment(environment);
        xfconf.start(XFCONFD, {});
        ASSERT_TRUE(waitUntil(
            [] { return QDBusConnection::sessionBus().interface()->isServiceRegistered("org.xfce.Xfconf").value(); },
            10000)) << "xfconfd did not come up";
        panel.setProcessEnvironment(environment);
        // evilwm owns no WM_S0 selection; the panel would wait for one.
        panel.start("xfce4-panel", {"--disable-wm-check", "--sm-client-disable"});
        ASSERT_TRUE(panel.waitForStarted());
    }

    // Where a window of ours that was not among `before` shows within `timeoutMs`.
    static std::optional<QRect> newWindow(const QStringList& before, int timeoutMs)
    {
        std::optional<QRect> found;
        waitUntil(
            [&] {
                for (const QString& window : visibleWindows({"--classname", "korvala"})) {
                    if (!before.contains(window))
                        found = geometry(window);
                }
                return found.has_value();
            },
            timeoutMs);
        return found;
    }

    // Clicks where `target` answers until a menu of ours opens; answers where
    // it opened and keeps the point clicked last in `clicked`.
    std::optional<QRect> menuOpenedByClick(const std::function<QPoint()>& target, const QStringList& before)
    {
        std::optional<QRect> menu;
        waitUntil(
            [&] {
                clicked = target();
                runWithEventLoop("xdotool",
                                 {"mousemove", QString::number(clicked.x()), QString::number(clicked.y()), "click", "1"});
                return (menu = newWindow(before, 700)).has_value();
            },
            10000);
        return menu;
    }

    // A picture of the whole screen for the record.
    static void keepPicture(const QString& name)
    {
        const QDir kept(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath()));
        runWithEventLoop("import", {"-window", "root", kept.filePath(name)});
    }

    DevServiceProcess service {{"--polls", "1"}};
    Watcher watcher;
    bool hosting = false;
    QProcess panel;
    QProcess xfconf;
    QPoint clicked;
};

// A menu popped up at a point has its corner there.
MATCHER_P(AtPointer, point, "")
{
    return arg && (arg->topLeft() - point).manhattanLength() <= 4;
}

TEST_F(TrayHostsTest, AStatusNotifierHostReadsTheMenusAndClicksThroughTheExport)
{
    // Signed out: what the host draws once the launch has asked the service.
    const QString signedOut = hostItem();
    ASSERT_FALSE(signedOut.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return status() != "Готов к записи"; }, 20000));
    const QStringList tail = {"---", "Мои расшифровки…", "Папка с записями…", "---", "Выйти"};
    aboutToShow(signedOut);
    EXPECT_EQ(texts(exportedMenu(signedOut, "/MenuBar")), QStringList({status(), "---", "Войти…"}) + tail);
    menuEvent(signedOut, 0, "closed");
    quitKorvala();

    // Signed in: the commands, then a click on "Сделать снимок…" as the host sends it.
    settings->setValue("token", service.demoToken());
    startKorvala();
    const QString signedIn = watcher.items.value(0);
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Осталось"); }, 20000)) << status().toStdString();
    aboutToShow(signedIn);
    QList<MenuLine> menu = exportedMenu(signedIn, "/MenuBar");
    ASSERT_EQ(texts(menu), QStringList({status(), "---", "Начать аудиозапись", "Начать видеозапись…", "---", "Сделать снимок…"})
                               + tail);
    EXPECT_FALSE(menu.value(0).enabled) << "the status line is no command";
    menuEvent(signedIn, menu.value(5).id, "clicked");
    menuEvent(signedIn, 0, "closed");
    ASSERT_TRUE(waitUntil([] { return !visibleWindows({"--name", "выбор области"}).isEmpty(); }, 10000))
        << "the area selector did not open";
    runWithEventLoop("xdotool", {"key", "Escape"});
    ASSERT_TRUE(waitUntil([] { return visibleWindows({"--name", "выбор области"}).isEmpty(); }, 10000));

    // While the host shows the menu the status line follows, and nothing else moves.
    aboutToShow(signedIn);
    const QList<MenuLine> opened = exportedMenu(signedIn, "/MenuBar");
    ASSERT_EQ(korvala({"record-audio"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return (menu = exportedMenu(signedIn, "/MenuBar")).value(0).text != opened.value(0).text; }, 10000))
        << "the open menu kept its old status line";
    EXPECT_EQ(menu.mid(1), opened.mid(1)) << "an open menu is not rebuilt under the pointer";
    menuEvent(signedIn, 0, "closed");
    EXPECT_TRUE(waitUntil([&] { return texts(exportedMenu(signedIn, "/MenuBar")).contains("Остановить и отправить"); }));
}

// xfce4-panel's tray as a user meets it: the program started before the panel
// (as a session starts both) is embedded once the tray appears, and says
// nothing of a missing tray; started after it, it is hosted as an item. On
// both paths the primary click opens the menu at the pointer.
TEST_F(TrayHostsTest, XfcePanelOpensTheMenuOnAPrimaryClickOnEitherPath)
{
    QElapsedTimer running;
    running.start();
    startKorvala();
    startPanel();
    QStringList icons;
    ASSERT_TRUE(waitUntil([&] { return !(icons = visibleWindows({"--classname", "korvala"})).isEmpty(); }, 15000))
        << "the panel's tray did not embed the icon";
    // The panel may still be placing the icon: it is looked up at every click.
    const std::optional<QRect> embedded = menuOpenedByClick([&] { return geometry(icons.first()).center(); }, icons);
    EXPECT_THAT(embedded, AtPointer(clicked)) << "XEmbed";
    const QPoint icon = clicked;
    keepPicture("tray-left-click-xembed.png");
    runWithEventLoop("xdotool", {"key", "Escape"});
    // The secondary click opens it too, and an open menu holds no command back.
    ASSERT_TRUE(waitUntil([&] { return !newWindow(icons, 0); }, 5000));
    runWithEventLoop("xdotool", {"mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "3"});
    EXPECT_TRUE(newWindow(icons, 5000)) << "the secondary click opened no menu";
    EXPECT_EQ(korvala({"status"}).exitCode, 0);
    keepPicture("tray-menu.png");
    runWithEventLoop("xdotool", {"key", "Escape"});

    // The panel came a moment after the program; the time to tell of a
    // missing tray runs out, and nothing is told.
    const qint64 deadlineMs = qint64(MenuBarController::trayWaitSeconds * 1000);
    waitUntil([&] { return running.elapsed() > deadlineMs + 2000; }, deadlineMs + 5000);
    const QString told = quitKorvala();
    EXPECT_FALSE(told.contains("[korvala]")) << told.toStdString();

    ASSERT_TRUE(waitUntil([] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(watcherName).value(); }))
        << "the panel's tray hosts no items";
    startKorvala();
    // The panel lists an item by the bus connection that serves it.
    QStringList hosted;
    ASSERT_TRUE(waitUntil([&] {
        const QDBusMessage reply = callItem(watcherName, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties",
                                            "Get", {watcherName, "RegisteredStatusNotifierItems"});
        hosted = reply.arguments().value(0).value<QDBusVariant>().variant().toStringList();
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        return std::any_of(hosted.begin(), hosted.end(), [&](const QString& entry) {
            return bus->servicePid(entry.section('/', 0, 0)).value() == uint(app.processId());
        });
    })) << "the panel hosts no item of the program: " << hosted.join(' ').toStdString();
    // The hosted item takes the place the embedded icon had.
    const QStringList none = visibleWindows({"--classname", "korvala"});
    EXPECT_THAT(menuOpenedByClick([&] { return icon; }, none), AtPointer(icon)) << "StatusNotifierItem";
    keepPicture("tray-left-click-item.png");
    runWithEventLoop("xdotool", {"key", "Escape"});
}

} // namespace

#include "tray_hosts_test.moc"
