// Start-up and idle memory of Korvala beside a minimal Qt tray program, both
// started the same way in one run. Needs an X server and a session bus (run
// it inside scripts/testenv/with-env.sh); it starts its own system tray.
//
// Start-up: from the process start until both the tray icon is embedded in
// the tray and the program's name is owned on the session bus.
// Memory: resident set size after 10 s of idling.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Program {
    const char* label;
    QString path;
    QByteArray windowClass; // the instance name of its windows
    QString busName;
};

// Whether a window of `instance` sits inside another window (a tray embeds
// its icons; top-level windows are children of the root).
bool embedded(xcb_connection_t* connection, xcb_window_t window, const QByteArray& instance, int depth)
{
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    if (!tree)
        return false;
    bool found = false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        if (depth > 0) {
            xcb_icccm_get_wm_class_reply_t wmClass;
            if (xcb_icccm_get_wm_class_reply(connection, xcb_icccm_get_wm_class(connection, children[i]), &wmClass,
                                             nullptr)) {
                found = instance == wmClass.instance_name;
                xcb_icccm_get_wm_class_reply_wipe(&wmClass);
            }
        }
        if (!found)
            found = embedded(connection, children[i], instance, depth + 1);
    }
    free(tree);
    return found;
}

long residentKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void finish(QProcess& process, const QString& busName)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    for (int i = 0; i < 500 && bus->isServiceRegistered(busName).value(); ++i)
        QThread::msleep(10);
}

// Milliseconds until the icon is embedded and the name owned; -1 on a timeout.
double startUp(const Program& program, xcb_connection_t* connection, xcb_window_t root,
               const QProcessEnvironment& environment)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program.path, {});
    bool icon = false;
    bool name = false;
    double took = -1;
    while (clock.elapsed() < 20000) {
        icon = icon || embedded(connection, root, program.windowClass, 0);
        name = name || bus->isServiceRegistered(program.busName).value();
        if (icon && name) {
            took = clock.nsecsElapsed() / 1e6;
            break;
        }
        QThread::usleep(500);
    }
    finish(process, program.busName);
    return took;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));

    QProcess tray;
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28"});
    if (!tray.waitForStarted()) {
        std::fprintf(stderr, "trayer did not start\n");
        return 1;
    }
    QThread::msleep(1000);

    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X server\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

    const std::vector<Program> programs = {
        {"minimal QSystemTrayIcon", MINIMAL_PROGRAM, "bench_minimal_tray", "bench.MinimalTray"},
        {"korvala", KORVALA_PROGRAM, "korvala", "app.korvala.Korvala"},
    };

    std::vector<std::vector<double>> times(programs.size());
    // Alternating, so that a busy moment of the machine hits both alike.
    for (int run = 0; run < runs; ++run) {
        for (size_t p = 0; p < programs.size(); ++p)
            times[p].push_back(startUp(programs[p], connection, root, environment));
    }

    std::printf("%-26s %10s %10s %10s %14s\n", "program", "min ms", "median ms", "max ms", "RSS@10s MiB");
    for (size_t p = 0; p < programs.size(); ++p) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(programs[p].path, {});
        process.waitForStarted();
        QThread::sleep(10);
        const long rss = residentKiB(process.processId());
        finish(process, programs[p].busName);

        std::vector<double> sorted = times[p];
        std::sort(sorted.begin(), sorted.end());
        std::printf("%-26s %10.1f %10.1f %10.1f %14.1f\n", programs[p].label, sorted.front(),
                    sorted[sorted.size() / 2], sorted.back(), rss / 1024.0);
    }

    tray.terminate();
    tray.waitForFinished(5000);
    xcb_disconnect(connection);
    return 0;
}
