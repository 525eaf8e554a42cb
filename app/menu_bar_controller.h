#pragma once

#include "core/store.h"
#include "capture/capture_target.h"
#include "platform/alerts.h"
#include "service/api.h"
#include "platform/workspace.h"
#include "recording/recorder.h"

#include <QDateTime>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AreaSelector;
class CapturePickerWindow;
class QAction;
class ShotPreviewWindow;
class SignInWindow;
struct RecorderResult;

// The owner of everything long-lived: the tray icon and its one menu, the
// settings, the status line at the top of the menu and the one error alert.
// The recording, service and screenshot flows are further operations of this
// object. Main thread only.
class MenuBarController final : public QObject {
    Q_OBJECT

public:
    // One line of what the capture picker would offer, as `korvala targets` prints it.
    struct CaptureLine {
        QString id; // "display-N" or "window-N"
        QString title;
        QString subtitle;
    };

    // An update the service offers; set by the version check.
    struct UpdateOffer {
        std::optional<QString> title;
        std::optional<QString> updateUrl;
    };

    // What the controller is built from. main() passes the real desktop;
    // tests pass fakes and a temporary settings file.
    struct Dependencies {
        std::unique_ptr<QSettings> defaults;
        std::unique_ptr<Alerts> alerts;
        std::unique_ptr<Workspace> workspace;
        // The platform pieces of the one recorder (microphone, screen
        // capture, media); empty for the desktop's own.
        Recorder::Dependencies recorder;
        // Whether the screenshot editor holds a picture; when not given, the
        // controller's own editor answers.
        std::function<bool()> hasShot;
        // A still image of a display at its full pixel size, or nothing; the
        // screenshot flow fails with captureFailed without one.
        std::function<QCoro::Task<std::optional<QImage>>(quint32 displayID)> captureDisplay;
        // What the capture picker would offer; unset means nothing can be listed.
        std::function<QCoro::Task<std::vector<CaptureLine>>()> captureLines;
        // The tray image; when it cannot be read the "●" stands in.
        QString trayImage = QStringLiteral(":/tray.png");
    };

    // How a command from outside the menu was taken.
    enum class CommandOutcome { started, notOffered, waitingForAnswer, unknown };

    explicit MenuBarController(Dependencies dependencies);
    ~MenuBarController() override;

    // Shows the tray icon with its menu and starts the launch's background work.
    void launch();

    // The one way to change the status line. While the menu is open or an
    // item is highlighted only the first item's title changes; otherwise the
    // menu is rebuilt.
    void show(const QString& text);
    // The one error report: a warning in the log, the description in the
    // status line, and the "Не получилось" alert.
    void report(const std::exception& error);

    void rebuildMenu();
    // A short notice that takes no focus.
    void notify(const QString& text, double seconds);

    static constexpr double lostCloseSeconds = 60;

    QString statusLine() const { return statusLine_; }
    bool isMenuOpen() const { return isMenuOpen_; }
    QMenu& menu() { return menu_; }
    QSystemTrayIcon& item() { return item_; }
    Store& store() { return store_; }
    Alerts& alerts() { return *alerts_; }
    Workspace& workspace() { return *workspace_; }
    Recorder& recorder() { return *recorder_; }

    // The displays and windows of CaptureChoices, as `korvala targets` prints them.
    static QCoro::Task<std::vector<CaptureLine>> captureChoiceLines(std::shared_ptr<ScreenCapture> service);

    const std::optional<UpdateOffer>& update() const { return update_; }
    // Sets the pending offer; a closed menu shows it at once.
    void setUpdate(std::optional<UpdateOffer> offer);

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

    // The one area selector and the one screenshot editor of the run.
    AreaSelector& areaSelector();
    ShotPreviewWindow& shotPreview();

    bool canListCaptureTargets() const { return static_cast<bool>(captureLines_); }
    QCoro::Task<std::vector<CaptureLine>> captureTargets();

    // Menu actions whose flows are their own subjects.
    void signIn();
    void start();
    void pickCapture();
    void stop();

    // The recording flow: the consent warning, then the recorder's start.
    void begin(CaptureTarget target);
    // One beat of the recording clock: the status line from the time since
    // the start and the recorder's state.
    void tick();
    // The status line of a running recording `elapsedSeconds` after its start.
    // `trouble` (a track not being recorded) goes before the too-quiet warning.
    static QString clockText(double elapsedSeconds, bool tooQuiet, bool video,
                             const std::optional<QString>& trouble = std::nullopt);
    // The clock's timer; none unless a recording runs.
    const QTimer* clockTimer() const { return timer_.get(); }
    const std::optional<QDateTime>& startedAt() const { return startedAt_; }
    // Created on first use and kept for the life of the controller.
    CapturePickerWindow& capturePicker();
    void takeScreenshot();
    void revealShot();
    void openSite();
    void openUpdate();
    // Uploads an annotated shot and puts its link on the clipboard; returns
    // at once, the upload goes on in a task.
    void share(const QImage& bitmap);
    // Menu actions of this object.
    void openFolder();
    void quit();

    // The service flows (service/*_flow.cpp). Each builds its Api from the
    // store right before its calls.
    SignInWindow& signInWindow() { return *signInWindow_; }
    // The remaining transcription limit into the status line; never throws.
    QCoro::Task<void> refreshLimit();
    // Sends both tracks of a finished recording and waits for each job;
    // the status line tells how far it got. Throws what the service threw.
    QCoro::Task<void> upload(RecorderResult result);
    // Polls the job every four seconds until it is ready or failed.
    QCoro::Task<Api::Recording> waitUntilReady(qint64 id, Api api);
    // Asks the service about this version once; never throws.
    QCoro::Task<void> checkVersion();
    // The update alert; "Потом" postpones optional offers.
    void offerUpdate(const Api::VersionCheck& offer);

signals:
    void statusLineChanged(const QString& text);

private:
    // Whether the menu offers `command` now, and its item if so.
    CommandOutcome offered(const QString& command, QAction** action);
    void menuWillOpen();
    void menuDidClose();
    // Whether the menu counts as open. Some tray hosts never report that
    // their menu closed; one that seems open far longer than anyone keeps a
    // menu open is taken as closed, so that state changes reach it again.
    bool menuHeldOpen();
    // Refreshes a closed, untouched menu so that it shows the present state.
    void refreshIdleMenu();
    QAction* addCommand(const QString& title, const QString& command, void (MenuBarController::*action)());
    // The background work of the launch: the limit and the version check.
    void startLaunchTasks();
    void openSettings(Workspace::SettingsPane pane);
    // Whether the screenshot editor holds a picture.
    bool holdsShot();
    QCoro::Task<> startRecording(CaptureTarget target);
    void startTimer();
    QCoro::Task<> stopRecording();

    std::unique_ptr<QSettings> defaults_;
    Store store_;
    std::unique_ptr<Alerts> alerts_;
    std::unique_ptr<Workspace> workspace_;
    std::function<bool()> hasShot_;
    std::function<QCoro::Task<std::vector<CaptureLine>>()> captureLines_;
    QString trayImage_;
    std::function<QCoro::Task<std::optional<QImage>>(quint32)> captureDisplay_;
    std::shared_ptr<ScreenCapture> capture_;
    AreaSelector* areaSelector_ = nullptr;
    ShotPreviewWindow* shotPreview_ = nullptr;
    // Made once at launch over the recordings folder, used for every recording.
    std::unique_ptr<Recorder> recorder_;

    QSystemTrayIcon item_;
    QMenu menu_;
    QString statusLine_ = QStringLiteral("Готов к записи");
    std::optional<UpdateOffer> update_;
    std::unique_ptr<SignInWindow> signInWindow_;
    bool isMenuOpen_ = false;
    double openedAt_ = 0;
    std::unique_ptr<QTimer> timer_;
    std::optional<QDateTime> startedAt_;
    // A recording's start is under way (the desktop may be asking the user).
    bool startingRecording_ = false;
    std::unique_ptr<CapturePickerWindow> capturePicker_;
};

// The tray image, or the "●" drawn as one when the image cannot be read.
QIcon trayIcon(const QString& imagePath);
// The settings place a failure asks the user to visit, if any.
std::optional<Workspace::SettingsPane> settingsPaneFor(const std::exception& error);
