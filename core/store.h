#pragma once

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

// The persisted settings and where recordings go. A small value over a
// QSettings that its owner keeps alive. The only code that knows the keys;
// every setter writes through at once, so an answer holds even if the
// program is killed right after.
class Store {
public:
    explicit Store(QSettings& defaults) : defaults_(&defaults) {}

    // ~/.config/korvala/korvala.conf (under $XDG_CONFIG_HOME), readable by
    // its owner only, since it holds the sign-in token.
    static std::unique_ptr<QSettings> openStandard();
    // The same for any path: creates the file with mode 0600 if it is missing.
    static std::unique_ptr<QSettings> openAt(const QString& path);

    QSettings& defaults() const { return *defaults_; }

    // Present means signed in, whatever the value.
    std::optional<QString> token() const;
    void setToken(const QString& token);
    bool warnedAboutConsent() const;
    void setWarnedAboutConsent(bool warned);
    // Whether a call that opens the microphone brings an offer to record
    // it; on unless the user turned it off.
    bool callWatch() const;
    void setCallWatch(bool on);

    // The "baseURL" override when it is an absolute http(s) URL; otherwise
    // the built-in origin.
    QUrl baseURL() const;
    // Set only when the stored value is a date.
    std::optional<QDateTime> updateRemindAfter() const;
    // Nothing forgets a postponement.
    void setUpdateRemindAfter(std::optional<QDateTime> until);
    // The desktop's permission to share the screen (a portal's restore
    // token); empty when none is kept.
    QString portalRestoreToken() const;
    void setPortalRestoreToken(const QString& token);
    // Tracks whose sending failed for a reason that may pass, oldest first.
    struct WaitingTrack {
        QString path;
        QString label;
    };
    std::vector<WaitingTrack> waitingTracks() const;
    void setWaitingTracks(const std::vector<WaitingTrack>& tracks);
    // The documents folder (else the temporary folder) plus
    // "Корвала — записи встреч". Reading it creates nothing.
    QString recordingsDirectory() const;

    static QUrl builtInBaseURL();
    static const char* const folderName;

private:
    QSettings* defaults_;
};
