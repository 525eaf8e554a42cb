#pragma once

#include "capture/capture_target.h"
#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/alerts.h"
#include "platform/call_streams.h"
#include "platform/desktop_notifications.h"
#include "platform/workspace.h"
#include "recording/recorder.h"
#include "shots/screenshot.h"

#include <QMenu>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CallWatch;
class LimitFlow;
class PendingUploads;
class QAction;
class RecordingFlow;
class RecoveryFlow;
class ScreenshotFlow;
class ShareFlow;
class SignInFlow;
class UpdateFlow;
class UploadFlow;

// The application's shell: the tray icon and its one menu built from state,
// the status line at the top of the menu, the one error alert, and the
// commands that reach the menu from outside. It owns the flows and serves
// each the few small duties it asks of the shell. Main thread only.
class MenuBarController final : public QObject,
                                public StatusSink,
                                public ErrorReporter,
                                public NoticeSink,
                                public MenuChanges {
    Q_OBJECT

public:
    // One line of what the capture picker would offer, as `korvala targets` prints it.
    struct CaptureLine {
        QString id; // "display-N" or "window-N"
        QString title;
        QString subtitle;
    };

    // What the controller is built from. main() passes the real desktop;
    // tests pass fakes and a temporary settings file.
    struct Dependencies {
        std::unique_ptr<QSettings> defaults;
        std::unique_ptr<Alerts> alerts;
        std::unique_ptr<Workspace> workspace;
        // The platform pieces of the one recorder (microphone, screen
        // capture, media).
        Recorder::Dependencies recorder;
        // Whether the screenshot editor holds a picture; when not given, the
        // screenshot flow's editor answers.
        std::function<bool()> hasShot;
        // The still of a selected area, or nothing; the screenshot flow
        // fails with captureFailed without one.
        Screenshot::Capture captureArea;
        // What the capture picker would offer; unset means nothing can be listed.
        std::function<QCoro::Task<std::vector<CaptureLine>>()> captureLines;
        // The record streams of other programs and the desktop's
        // notifications, for the offers around a call; without both there
        // are none.
        std::unique_ptr<CallStreams> callStreams;
        std::unique_ptr<DesktopNotifications> notifications;
        // The tray image; when it cannot be read the "●" stands in.
        QString trayImage = QStringLiteral(":/tray.png");
        // Whether the desktop shows tray icons now; when not given, Qt answers.
        std::function<bool()> trayAvailable;
    };

    // How a command from outside the menu was taken.
    enum class CommandOutcome { started, notOffered, waitingForAnswer, unknown };

    // `clock` serves every wait and every "now" of the run and outlives the controller.
    MenuBarController(Dependencies dependencies, Clock& clock);
    ~MenuBarController() override;

    // Shows the tray icon with its menu and starts the launch's background
    // work: the limit, the version check, the recovery of unfinished
    // recordings and the tracks left waiting to be sent, none waiting for
    // another.
    void launch();

    // The one way to change the status line. While the menu is open or an
    // item is highlighted only the first item's title changes; otherwise the
    // menu is rebuilt.
    void showStatus(const QString& text) override;
    // The one error report: a warning in the log, the description in the
    // status line, and the "Не получилось" alert.
    void report(const std::exception& error) override;
    // A Toast notice.
    void notify(const QString& text, double seconds) override;
    // Rebuilds a closed, untouched menu so that it shows the present state.
    void menuChanged() override;

    void rebuildMenu();
    void openFolder();
    void quit();
    // The session ends (logout, a signal): finishes a running recording as a
    // stop does, without sending it, then quits; after `deadlineSeconds` it
    // quits whatever is left, and the next start finishes the files.
    void endSession(double deadlineSeconds = 20);

    static constexpr double lostCloseSeconds = 60;
    // How long a session's panel may take to bring up its tray after we start
    // before the user is told that there is none.
    static constexpr double trayWaitSeconds = 5;

    QString statusLine() const { return statusLine_; }
    bool isMenuOpen() const { return isMenuOpen_; }
    // The tray's menu, for a test to open and close as a tray host does.
    QMenu& menu() { return menu_; }
    // What the tray shows when the pointer rests on the icon.
    QString toolTip() const { return item_.toolTip(); }

    // The menu as `korvala menu` prints it: one title a line, "---" for a separator.
    QStringList menuLines();
    // Runs the menu item bearing `command` the way a click does, from the
    // event loop after the caller has its answer. Only items the menu offers
    // now can be run, and, but for "quit", none while an alert of ours waits
    // for its answer: the menu cannot be used then either.
    CommandOutcome trigger(const QString& command);
    // Starts a video recording of `target` the way picking its tile in the
    // capture picker does, under the same conditions as trigger("record-video").
    CommandOutcome recordVideo(CaptureTarget target);
    // The menu title of a command, for telling the user what is not offered.
    static QString titleOfCommand(const QString& command);
    static QStringList commandNames();
    // Whether the desktop, not our picker, chooses what a video records.
    bool desktopPicksContent();

    bool canListCaptureTargets() const { return static_cast<bool>(captureLines_); }
    QCoro::Task<std::vector<CaptureLine>> captureTargets();
    // The displays and windows of CaptureChoices, as `korvala targets` prints them.
    static QCoro::Task<std::vector<CaptureLine>> captureChoiceLines(std::shared_ptr<ScreenCapture> service);

    // The flows, for the command service and the tests to drive.
    RecordingFlow& recording() { return *recording_; }
    RecoveryFlow& recovery() { return *recovery_; }
    UploadFlow& uploads() { return *upload_; }
    LimitFlow& limit() { return *limit_; }
    SignInFlow& signIn() { return *signIn_; }
    UpdateFlow& updates() { return *update_; }
    ScreenshotFlow& screenshots() { return *screenshot_; }
    ShareFlow& sharing() { return *share_; }
    // The offers around a call, on or off; the choice is kept.
    void setCallWatch(bool on);
    bool callWatchOn() const { return store_.callWatch(); }
    // Null when the controller was made without the call's platform pieces.
    CallWatch* callWatch() { return callWatch_.get(); }

signals:
    void statusLineChanged(const QString& text);

private:
    // Whether the menu offers `command` now, and its item if so.
    CommandOutcome offered(const QString& command, QAction** action);
    void menuWillOpen();
    void menuDidClose();
    // The primary click on the icon: the menu is all there is, so it opens
    // at the pointer as the secondary click's does.
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    // Whether the menu counts as open. Some tray hosts never report that
    // their menu closed; one that seems open far longer than anyone keeps a
    // menu open is taken as closed, so that state changes reach it again.
    bool menuHeldOpen();
    // The items of now, status line first.
    void fillMenu(QMenu& menu);
    QAction* addCommand(QMenu& menu, const QString& title, const QString& command, std::function<void()> action);

    std::unique_ptr<QSettings> defaults_;
    Store store_;
    std::unique_ptr<Alerts> alerts_;
    std::unique_ptr<Workspace> workspace_;
    Clock& clock_;
    std::function<bool()> hasShot_;
    std::function<QCoro::Task<std::vector<CaptureLine>>()> captureLines_;
    QString trayImage_;
    std::function<bool()> trayAvailable_;

    QSystemTrayIcon item_;
    QMenu menu_;
    QString statusLine_ = QStringLiteral("Готов к записи");
    bool isMenuOpen_ = false;
    double openedAt_ = 0;

    std::unique_ptr<LimitFlow> limit_;
    std::unique_ptr<PendingUploads> pending_;
    std::unique_ptr<UploadFlow> upload_;
    std::unique_ptr<SignInFlow> signIn_;
    std::unique_ptr<UpdateFlow> update_;
    std::unique_ptr<RecordingFlow> recording_;
    std::unique_ptr<RecoveryFlow> recovery_;
    std::unique_ptr<ShareFlow> share_;
    std::unique_ptr<ScreenshotFlow> screenshot_;
    std::unique_ptr<CallStreams> callStreams_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::unique_ptr<CallWatch> callWatch_;
};

// The settings place a failure asks the user to visit, if any.
std::optional<Workspace::SettingsPane> settingsPaneFor(const std::exception& error);
