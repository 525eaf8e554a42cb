// The program on a real GNOME Wayland desktop (scripts/testenv/gnome-up.sh):
// started as a user starts it, a native Wayland client, driven through its
// tray in GNOME's top bar, `korvala COMMAND`, and the pointer and keyboard of
// mutter's RemoteDesktop API. Pictures of what the desktop showed are kept
// in the desktop's folder.

#include "core/store.h"
#include "tests/portal/gnome_desktop.h"
#include "tests/support/dev_service.h"
#include "tests/support/exported_menu.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"

#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDir>
#include <QDirIterator>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

constexpr quint32 escapeKey = 0xff1b;
constexpr quint32 controlKey = 0xffe3;
constexpr quint32 returnKey = 0xff0d;
const QRgb windowColour = qRgb(214, 38, 152);

// A window of one colour, placed by the shell wherever it likes.
class ColourWindow final : public QWidget {
public:
    enum Size { small, maximized, fullScreen };
    explicit ColourWindow(Size size)
    {
        resize(520, 380);
        size == fullScreen ? showFullScreen() : size == maximized ? showMaximized() : show();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(windowColour)); }
};

// The pixels of `colour` on the screen, within `tolerance` a channel.
QRect area(const QImage& screen, QRgb colour, int tolerance = 0)
{
    QRect found;
    for (int y = 0; y < screen.height(); y += 2) {
        for (int x = 0; x < screen.width(); x += 2) {
            const QRgb pixel = screen.pixel(x, y);
            if (std::abs(qRed(pixel) - qRed(colour)) <= tolerance && std::abs(qGreen(pixel) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(pixel) - qBlue(colour)) <= tolerance)
                found |= QRect(x, y, 2, 2);
        }
    }
    return found;
}

// Where `after` differs from `before` within `part`.
QRect changed(const QImage& before, const QImage& after, const QRect& part)
{
    QRect found;
    for (int y = part.top(); y <= part.bottom(); ++y) {
        for (int x = part.left(); x <= part.right(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y))
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

// The menu that GNOME's tray host reads from the program.
QStringList gnomeMenu()
{
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
    const QStringList items = watcher.property("RegisteredStatusNotifierItems").toStringList();
    if (items.size() != 1)
        return {};
    const QString service = items.first().section('@', 0, 0);
    QDBusInterface item(service, items.first().section('@', 1), "org.kde.StatusNotifierItem");
    return texts(exportedMenu(service, item.property("Menu").value<QDBusObjectPath>().path()));
}

QString keptPicture(const QString& name)
{
    return QDir(qEnvironmentVariable("KORVALA_TESTENV", QDir::tempPath())).filePath(name);
}

class KorvalaOnGnome : public ::testing::Test {
protected:
    // One input session for the whole run: the headless shell has a
    // keyboard only while a session holds one, and a window gets the
    // keyboard only if one was there when it appeared.
    static void SetUpTestSuite()
    {
        desktop = new GnomeDesktop;
        // The shell starts in its overview.
        QTest::qWait(500);
        desktop->key(escapeKey);
    }
    static void TearDownTestSuite() { delete std::exchange(desktop, nullptr); }

    void SetUp() override
    {
        ASSERT_TRUE(desktop->ready()) << desktop->error().toStdString();
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(service.started());
        ASSERT_TRUE(GnomeDesktop::allowScreenshots(true));
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        // Signed in, the consent warning already acknowledged.
        settings = Store::openAt(home.filePath(".config/korvala/korvala.conf"));
        settings->setValue("token", service.demoToken());
        settings->setValue("baseURL", service.baseURL().toString());
        settings->setValue("warnedAboutConsent", true);
        settings->sync();
    }

    void launch()
    {
        settings->sync();
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        QObject::connect(&app, &QProcess::readyReadStandardError, &app, [this] {
            const QByteArray told = app.readAllStandardError();
            appErrors += told;
            std::fwrite(told.constData(), 1, told.size(), stderr);
        });
        app.start(KORVALA_PROGRAM, {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return korvala({"status"}).first == 0; }, 20000));
    }

    void TearDown() override
    {
        window.reset();
        for (QProcess* process : {&tone, &speakers}) {
            process->kill();
            process->waitForFinished();
        }
        if (app.state() != QProcess::NotRunning) {
            korvala({"quit"});
            if (!waitUntil([&] { return app.state() == QProcess::NotRunning; }, 10000))
                app.kill();
            app.waitForFinished();
        }
    }

    std::pair<int, QString> korvala(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(KORVALA_PROGRAM, arguments);
        // Our own windows keep answering the compositor meanwhile.
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000);
        if (process.state() != QProcess::NotRunning)
            process.kill();
        process.waitForFinished();
        if (process.exitCode() != 0)
            qWarning("korvala %s: %s", qPrintable(arguments.join(' ')), process.readAllStandardError().constData());
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()).trimmed()};
    }

    QString status() { return korvala({"status"}).second; }

    // The screen once `condition` holds for it, or a null picture.
    static QImage screenWhen(const std::function<bool(const QImage&)>& condition, int timeoutMs = 10000)
    {
        QImage screen;
        const bool seen = waitUntil([&] {
            screen = GnomeDesktop::screen();
            return !screen.isNull() && condition(screen);
        }, timeoutMs);
        if (!seen)
            screen.save(keptPicture("gnome-unexpected.png"));
        return seen ? screen : QImage();
    }

    // The window over the screen and a 1000 Hz tone into the speakers, as a
    // call's other side.
    void showCall(ColourWindow::Size size)
    {
        window = std::make_unique<ColourWindow>(size);
        const auto filled = [](const QImage& screen) { return area(screen, windowColour).width() > 1800; };
        ASSERT_FALSE(screenWhen(filled).isNull());
        // Two processes of the test's own, not a shell's pipeline: a tone
        // left playing by one test would add to the next one's.
        tone.setStandardOutputProcess(&speakers);
        tone.start("sox", {"-q", "-n", "-t", "raw", "-r", "44100", "-e", "floating-point", "-b", "32", "-c", "1", "-",
                           "synth", "120", "sine", "1000"});
        speakers.start("pacat", {"-d", "speakers", "--format=float32le", "--rate=44100", "--channels=1",
                                 "--latency-msec=20"});
        ASSERT_TRUE(tone.waitForStarted() && speakers.waitForStarted());
    }

    QString recordingsFolder() const
    {
        const QStringList found = QDir(home.filePath("Documents")).entryList({"Корвала*"}, QDir::Dirs);
        return found.isEmpty() ? QString() : QDir(home.filePath("Documents")).filePath(found.first());
    }

    // Waits for the recording's clock (a video's, or what `running` names)
    // to reach `seconds`.
    bool recordingFor(int seconds, int timeoutMs = 20000, const QString& running = "Идёт видеозапись")
    {
        const QString reached = QString("%1 — 00:0%2").arg(running).arg(seconds);
        return waitUntil([&] {
            const QString now = status();
            return now.startsWith(running + " — 00:0") && now >= reached;
        }, timeoutMs);
    }

    // The one monitor's row in GNOME's chooser (the only pure white in it),
    // once the chooser shows.
    QRect chooserRow()
    {
        QRect row;
        const QImage asked = screenWhen([&](const QImage& screen) {
            row = area(screen, qRgb(255, 255, 255)).intersected(QRect(screen.rect().center() - QPoint(300, 100), QSize(600, 200)));
            return row.width() > 200 && row.height() > 20;
        });
        if (asked.isNull())
            return {};
        asked.save(keptPicture("gnome-chooser.png"));
        return row;
    }

    // Stops and checks the recording: the microphone track holds its 440 Hz,
    // the system track the speakers' 1000 Hz, and the video, when there is
    // to be one, shows the window.
    void stopAndExpectRecording(bool withVideo = true)
    {
        ASSERT_EQ(korvala({"stop"}).first, 0);
        ASSERT_TRUE(waitUntil([&] { return status().startsWith("Осталось"); }, 60000)) << status().toStdString();
        const QDir folder(recordingsFolder());
        const QStringList videos = folder.entryList({"*-ekran.mp4"}, QDir::Files);
        ASSERT_EQ(videos.size(), withVideo ? 1 : 0) << folder.path().toStdString();
        for (const auto& [name, frequency] : {std::pair {"mikrofon", 440.0}, std::pair {"sistema", 1000.0}}) {
            const QStringList tracks = folder.entryList({QStringLiteral("*-%1.m4a").arg(name)}, QDir::Files);
            ASSERT_EQ(tracks.size(), 1) << name;
            const ProbedAudio audio = probeAudio(folder.filePath(tracks.first()));
            EXPECT_GT(audio.duration, 2.5) << name;
            EXPECT_GT(toneAmplitude(audio.samples, audio.sampleRate, frequency), 0.05) << name;
        }
        if (!withVideo)
            return;
        const QString frame = home.filePath("frame.png");
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-sseof", "-1", "-i", folder.filePath(videos.first()),
                                     "-frames:v", "1", frame});
        const QImage decoded(frame);
        ASSERT_FALSE(decoded.isNull());
        const QRgb middle = decoded.pixel(decoded.width() / 2, decoded.height() / 2);
        EXPECT_LE(std::abs(qRed(middle) - qRed(windowColour)) + std::abs(qGreen(middle) - qGreen(windowColour))
                      + std::abs(qBlue(middle) - qBlue(windowColour)),
                  40)
            << "the video shows the window: " << QColor(middle).name().toStdString();
    }

    static inline GnomeDesktop* desktop = nullptr;
    QTemporaryDir home;
    DevServiceProcess service {{"--polls", "1"}};
    std::unique_ptr<QSettings> settings;
    QProcessEnvironment environment;
    QProcess app;
    QByteArray appErrors;
    std::unique_ptr<ColourWindow> window;
    QProcess tone;
    QProcess speakers;
};

} // namespace

TEST_F(KorvalaOnGnome, AnAreaOverAWindowIsSavedWithTheWindowsPixels)
{
    launch();
    ColourWindow window(ColourWindow::small);
    const QImage before = screenWhen([](const QImage& screen) { return area(screen, windowColour).width() > 400; });
    ASSERT_FALSE(before.isNull()) << "the test window did not show";
    const QRect shown = area(before, windowColour);

    ASSERT_EQ(korvala({"screenshot"}).first, 0);
    // The selector covers the screen, top bar and all, with the desktop dimmed.
    const QImage selecting = screenWhen([&](const QImage& screen) {
        return area(screen, windowColour).isEmpty() && area(screen, qRgb(139, 25, 99), 8).width() > 400;
    });
    ASSERT_FALSE(selecting.isNull()) << "no area selector over the desktop";
    selecting.save(keptPicture("gnome-area-selector.png"));

    const QRect selected = shown.adjusted(40, 40, -40, -40);
    desktop->drag(selected.topLeft(), selected.bottomRight() + QPoint(1, 1));
    // The editor comes up with the picture: the window's colour shows in a
    // second place.
    const QImage editing = screenWhen([&](const QImage& screen) {
        const QRect coloured = area(screen, windowColour);
        return !coloured.isEmpty() && coloured != shown;
    });
    ASSERT_FALSE(editing.isNull()) << "no editor";
    QTest::qWait(500);
    GnomeDesktop::screen().save(keptPicture("gnome-editor.png"));
    desktop->key('s', {controlKey});

    QString saved;
    ASSERT_TRUE(waitUntil([&] {
        QDirIterator files(recordingsFolder(), {"skrinshot-*.png"}, QDir::Files);
        saved = files.hasNext() ? files.next() : QString();
        return !saved.isEmpty() && status().startsWith("Снимок сохранён");
    }, 10000)) << "nothing saved: " << status().toStdString();
    const QImage shot(saved);

    // Escape reaches the selector: it goes, and nothing is taken.
    desktop->key(escapeKey);
    ASSERT_EQ(korvala({"screenshot"}).first, 0);
    ASSERT_FALSE(screenWhen([&](const QImage& screen) { return area(screen, windowColour).isEmpty(); }).isNull());
    desktop->key(escapeKey);
    EXPECT_FALSE(screenWhen([&](const QImage& screen) { return !area(screen, windowColour).isEmpty(); }).isNull())
        << "Escape did not end the selection";
    // The editor keeps twice the pixels of a screen of one pixel a point,
    // as on the X11 desktop; every one is the window's.
    EXPECT_EQ(shot.size(), selected.size() * 2);
    EXPECT_EQ(area(shot, windowColour), shot.rect().adjusted(0, 0, shot.width() % 2, shot.height() % 2));
}

TEST_F(KorvalaOnGnome, ARefusedScreenshotIsToldAtOnce)
{
    launch();
    const QImage before = GnomeDesktop::screen();
    const QRect below(0, 40, before.width(), before.height() - 40);
    ASSERT_TRUE(GnomeDesktop::allowScreenshots(false));
    ASSERT_EQ(korvala({"screenshot"}).first, 0);
    // The message comes up straight away (the stills come before the
    // selector) and holds the commands until it is answered.
    const QImage told = screenWhen([&](const QImage& screen) { return !changed(before, screen, below).isEmpty(); });
    ASSERT_FALSE(told.isNull()) << "no message";
    told.save(keptPicture("gnome-screenshot-refused.png"));
    EXPECT_EQ(korvala({"screenshot"}).first, 2);
    ASSERT_TRUE(GnomeDesktop::allowScreenshots(true));
    desktop->key(returnKey);
    EXPECT_TRUE(waitUntil([&] { return korvala({"screenshot"}).first == 0; }, 5000)) << "the message was answered";
    desktop->key(escapeKey);
}

TEST_F(KorvalaOnGnome, TheTrayMenuInTheTopBarRunsItsItems)
{
    // The top bar without an icon of ours: an earlier run's gone, and drawn so.
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
    const auto noItems = [&] { return watcher.property("RegisteredStatusNotifierItems").toStringList().isEmpty(); };
    ASSERT_TRUE(waitUntil(noItems, 10000));
    QImage bare = GnomeDesktop::screen();
    const QRect statusArea(bare.width() / 2 + 200, 0, bare.width() / 2 - 200, 30);
    ASSERT_FALSE(screenWhen([&](const QImage& screen) {
        return changed(std::exchange(bare, screen), screen, statusArea).isEmpty();
    }).isNull());
    launch();
    // The icon is new in the top bar; what sits right of it stays put.
    QRect icon;
    ASSERT_FALSE(screenWhen([&](const QImage& screen) { return !(icon = changed(bare, screen, statusArea)).isEmpty(); }).isNull())
        << "no icon in the top bar";
    QTest::qWait(300);
    const QImage closed = GnomeDesktop::screen();
    desktop->click(icon.center());
    QRect menu;
    const QImage open = screenWhen([&](const QImage& screen) {
        menu = changed(closed, screen, QRect(icon.center().x() - 400, 40, 800, 500).intersected(screen.rect()));
        return menu.height() > 100;
    });
    ASSERT_FALSE(open.isNull()) << "the menu did not open";
    open.save(keptPicture("gnome-tray-menu.png"));

    // What GNOME draws is the program's menu, the status line first.
    const QStringList lines = korvala({"menu"}).second.split('\n');
    EXPECT_EQ(gnomeMenu(), lines);
    EXPECT_EQ(lines.value(0), status());

    // The last item, "Выйти", ends the program.
    desktop->click(QPoint(menu.center().x(), menu.bottom() - 24));
    ASSERT_TRUE(waitUntil([&] { return app.state() == QProcess::NotRunning; }, 10000)) << "«Выйти» did not run";
    EXPECT_EQ(app.exitCode(), 0);
}

TEST_F(KorvalaOnGnome, TheFirstRecordingAsksInGnomesChooserAndTheNextDoesNot)
{
    launch();
    ASSERT_NO_FATAL_FAILURE(showCall(ColourWindow::fullScreen));
    ASSERT_EQ(korvala({"record-video"}).first, 0);
    // The chooser, centred: "Entire Screen" with the monitor's row, and
    // "Share", blue once a row is picked.
    const QRect row = chooserRow();
    ASSERT_FALSE(row.isEmpty()) << "no chooser";
    desktop->click(row.center());
    // "Share" sits right of the middle, above the row; the check box of
    // "Remember this selection" is left of it.
    const QRect band(GnomeDesktop::screen().rect().center().x(), row.top() - 250, 400, 200);
    QRect share;
    ASSERT_FALSE(screenWhen([&](const QImage& screen) {
        share = area(screen, qRgb(53, 132, 228), 8).intersected(band);
        return share.width() > 30;
    }).isNull()) << "«Share» did not light up";
    // The button is the right end of that blue, its top the blue's top.
    desktop->click(QPoint(share.right() - 30, share.top() + 14));

    ASSERT_TRUE(recordingFor(4, 30000)) << status().toStdString();
    // Mutter sends a frame only when the screen changes: once the chooser
    // has faded out, a move of the pointer gives a frame of the window alone.
    ASSERT_FALSE(screenWhen([](const QImage& screen) {
        return screen.pixel(screen.rect().center()) == windowColour && area(screen, windowColour).width() > 1800;
    }).isNull());
    desktop->move(QPoint(40, 600));
    QTest::qWait(500);
    ASSERT_NO_FATAL_FAILURE(stopAndExpectRecording());
    settings->sync();
    const QString token = Store(*settings).portalRestoreToken();
    EXPECT_FALSE(token.isEmpty()) << "the permission is kept";

    // The next recording starts at once: nothing comes over the window.
    ASSERT_EQ(korvala({"record-video"}).first, 0);
    ASSERT_TRUE(recordingFor(2)) << status().toStdString();
    EXPECT_GT(area(GnomeDesktop::screen(), windowColour).width(), 1800) << "asked again";
    ASSERT_EQ(korvala({"stop"}).first, 0);
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Осталось"); }, 60000)) << status().toStdString();
    settings->sync();
    EXPECT_EQ(Store(*settings).portalRestoreToken(), token) << "the desktop gave the permission back";
}

TEST_F(KorvalaOnGnome, ACancelledChooserCostsThePictureButNotTheSound)
{
    launch();
    ASSERT_NO_FATAL_FAILURE(showCall(ColourWindow::fullScreen));
    ASSERT_EQ(korvala({"record-video"}).first, 0);
    ASSERT_FALSE(chooserRow().isEmpty()) << "no chooser";
    desktop->key(escapeKey);
    ASSERT_TRUE(recordingFor(4, 30000, "Идёт аудиозапись")) << status().toStdString();
    GnomeDesktop::screen().save(keptPicture("gnome-chooser-cancelled.png"));
    // The notice that the screen is not recorded holds commands back until
    // it is answered.
    desktop->key(escapeKey);
    ASSERT_NO_FATAL_FAILURE(stopAndExpectRecording(false));
}

TEST_F(KorvalaOnGnome, SharingStoppedFromGnomesIndicatorEndsOnlyThePicture)
{
    // A permission the desktop keeps, offered by the program: no chooser.
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    ASSERT_TRUE(GnomeDesktop::keepScreenCastToken(token));
    Store(*settings).setPortalRestoreToken(token);
    launch();
    ASSERT_NO_FATAL_FAILURE(showCall(ColourWindow::maximized));
    ASSERT_EQ(korvala({"record-video"}).first, 0);
    ASSERT_TRUE(recordingFor(3)) << status().toStdString();

    // GNOME's sharing indicator in the top bar stops every share, this
    // test's input session among them.
    const QImage sharing = GnomeDesktop::screen();
    const QRect indicator = area(sharing, qRgb(205, 147, 9), 12).intersected(QRect(0, 0, sharing.width(), 30));
    ASSERT_FALSE(indicator.isEmpty()) << "no sharing indicator";
    sharing.save(keptPicture("gnome-sharing-indicator.png"));
    const qsizetype toldBefore = appErrors.count('\n');
    desktop->click(indicator.center());
    ASSERT_TRUE(waitUntil([&] { return appErrors.count('\n') > toldBefore; }, 10000)) << "no warning";
    delete std::exchange(desktop, new GnomeDesktop);

    // The sound goes on without the picture.
    const QString stoppedAt = status();
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Идёт видеозапись — 00:") && status() > stoppedAt; }, 5000))
        << status().toStdString();
    QTest::qWait(2500);
    stopAndExpectRecording();
    const QDir folder(recordingsFolder());
    const ProbedVideo video = probeVideo(folder.filePath(folder.entryList({"*-ekran.mp4"}).value(0)));
    const ProbedAudio sound = probeAudio(folder.filePath(folder.entryList({"*-sistema.m4a"}).value(0)));
    ASSERT_FALSE(video.frameTimes.empty());
    EXPECT_GT(sound.duration, video.frameTimes.back() + 2) << "the tracks went on after the picture stopped";
}
