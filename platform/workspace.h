#pragma once

#include <QString>
#include <QUrl>
#include <QWindow>

#include <functional>
#include <memory>

// What the desktop does for us: browsers, the file manager, the settings
// program, and how visible the application is.
class Workspace {
public:
    // The places of the system settings that flows send the user to.
    enum class SettingsPane {
        privacyScreenCapture, // the screen and its sound may not be captured
        soundInput,           // the microphone is refused or set too quiet
        soundOutput,          // the computer's own sound does not come
    };

    // The look the user chose for the desktop; unknown where it does not say.
    enum class ColorScheme { unknown, dark, light };

    // A tray application normally has no window in the task bar; the
    // screenshot editor asks for one while it is up.
    enum class ActivationPolicy { accessory, regular };

    // A registration for the active-desktop notification; destroying it
    // ends the registration.
    class Observation {
    public:
        virtual ~Observation() = default;
    };

    virtual ~Workspace() = default;

    // Opens a web address in the default browser. False when nothing took it.
    virtual bool openUrl(const QUrl& url) = 0;
    // Shows a folder in the file manager. False when the folder does not
    // exist or nothing could show it; it is never created here.
    virtual bool openFolder(const QString& path) = 0;
    // Shows the folder of a file with the file selected where the file
    // manager can do that, else the folder.
    virtual bool revealFile(const QString& path) = 0;
    // Opens the settings program at the place for `pane` (settingsPlace()
    // names it). False when this desktop has nothing to open for it.
    virtual bool openSettings(SettingsPane pane) = 0;

    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual ActivationPolicy activationPolicy() const = 0;

    // Calls `changed` on the main thread each time the user switches to
    // another virtual desktop, until the returned registration is destroyed.
    // A desktop that cannot tell never calls it.
    virtual std::unique_ptr<Observation> observeActiveSpace(std::function<void()> changed) = 0;
    // Puts a shown top-level window on the virtual desktop in use now.
    virtual void moveToActiveSpace(QWindow* window) = 0;

    virtual ColorScheme colorScheme() = 0;
    // Calls `changed` on the main thread with each new choice of the user,
    // until the returned registration is destroyed.
    virtual std::unique_ptr<Observation> observeColorScheme(std::function<void(ColorScheme)> changed) = 0;
};

// The names the settings places are known by in logs and in tests.
inline QString settingsAnchor(Workspace::SettingsPane pane)
{
    switch (pane) {
    case Workspace::SettingsPane::privacyScreenCapture:
        return QStringLiteral("Privacy_ScreenCapture");
    case Workspace::SettingsPane::soundInput:
        return QStringLiteral("Sound_Input");
    case Workspace::SettingsPane::soundOutput:
        return QStringLiteral("Sound_Output");
    }
    return {};
}
