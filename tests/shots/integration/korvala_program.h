#pragma once

#include "tests/support/event_loop_process.h"
#include "tests/support/qt_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>

// The real program in a home of its own, signed in, on the X server that
// `environment` names; told to quit when this goes.
class KorvalaProgram {
public:
    explicit KorvalaProgram(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
        : environment_(std::move(environment))
    {
        environment_.insert("HOME", home_.path());
        environment_.insert("XDG_CONFIG_HOME", home_.filePath(".config"));
        QDir(home_.path()).mkpath(".config/korvala");
        QFile settings(home_.filePath(".config/korvala/korvala.conf"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("[General]\ntoken=integration\n");
    }
    ~KorvalaProgram()
    {
        if (app_.state() == QProcess::NotRunning)
            return;
        run(KORVALA_PROGRAM, {"quit"});
        if (!app_.waitForFinished(10000))
            app_.kill();
    }

    QByteArray run(const QString& program, const QStringList& arguments)
    {
        return runWithEventLoop(program, arguments, environment_);
    }

    QStringList visibleWindows(const QString& name)
    {
        return QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--name", name})).split('\n', Qt::SkipEmptyParts);
    }

    // Starts the program, asks it for a screenshot once `overlays` selection
    // overlays are up drags out `area` (pixels of the X screen) and gives the
    // editor's window id, or nothing when a step never came.
    QString shoot(const QRect& area, int overlays = 1)
    {
        app_.setProcessEnvironment(environment_);
        app_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app_.start(KORVALA_PROGRAM, {});
        if (!waitUntil([&] { return run(KORVALA_PROGRAM, {"status"}).startsWith("Готов"); }, 20000))
            return {};
        run(KORVALA_PROGRAM, {"screenshot"});
        if (!waitUntil([&] { return visibleWindows("выбор области").size() >= overlays; }, 10000))
            return {};
        QTest::qWait(300);
        const auto at = [](QPoint p) { return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())}; };
        run("xdotool", at(area.topLeft()) << "mousedown" << "1");
        run("xdotool", at(area.center()));
        run("xdotool", at(area.bottomRight() + QPoint(1, 1)) << "mouseup" << "1");
        QStringList editors;
        if (!waitUntil([&] { return !(editors = visibleWindows("^Korvala$")).isEmpty(); }, 10000))
            return {};
        QTest::qWait(500);
        return editors.first();
    }

    // Presses Ctrl+S and gives the picture saved, once the program says so.
    QImage save()
    {
        run("xdotool", {"key", "ctrl+s"});
        const QString folder = home_.filePath(QString::fromUtf8("Documents/Корвала — записи встреч"));
        QString saved;
        waitUntil([&] {
            QDirIterator files(folder, {"skrinshot-*.png"}, QDir::Files);
            if (files.hasNext())
                saved = files.next();
            return !saved.isEmpty() && run(KORVALA_PROGRAM, {"status"}).startsWith("Снимок сохранён");
        }, 10000);
        return saved.isEmpty() ? QImage() : QImage(saved);
    }

private:
    QTemporaryDir home_;
    QProcessEnvironment environment_;
    QProcess app_;
};
