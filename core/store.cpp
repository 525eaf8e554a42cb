#include "core/store.h"

#include "core/log.h"
#include "core/version.h"
#include "core/web_address.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>
#include <set>

const char* const Store::folderName = "Корвала — записи встреч";

std::unique_ptr<QSettings> Store::openStandard()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return openAt(config + "/korvala/korvala.conf");
}

std::unique_ptr<QSettings> Store::openAt(const QString& path)
{
    // QSettings saves through a new file that keeps the permissions of the one
    // it replaces, so creating it private once keeps it private.
    QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    QFile file(path);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

std::optional<QString> Store::token() const
{
    const QVariant value = defaults_->value("token");
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void Store::setToken(const QString& token)
{
    defaults_->setValue("token", token);
    defaults_->sync();
}

bool Store::warnedAboutConsent() const
{
    return defaults_->value("warnedAboutConsent", false).toBool();
}

void Store::setWarnedAboutConsent(bool warned)
{
    defaults_->setValue("warnedAboutConsent", warned);
    defaults_->sync();
}

bool Store::callWatch() const
{
    return defaults_->value("callWatch", true).toBool();
}

void Store::setCallWatch(bool on)
{
    defaults_->setValue("callWatch", on);
    defaults_->sync();
}

QUrl Store::builtInBaseURL()
{
    return QUrl(QStringLiteral(KORVALA_BASE_URL));
}

QUrl Store::baseURL() const
{
    const QVariant value = defaults_->value("baseURL");
    if (!value.isValid())
        return builtInBaseURL();

    const QString text = value.toString();
    const QUrl url(text, QUrl::StrictMode);
    if (isWebAddress(url))
        return url;

    // The rest of the program needs a usable address; say once per value
    // that the override was ignored rather than at every request.
    static std::mutex warnedMutex;
    static std::set<QString> warned;
    bool first;
    {
        std::lock_guard lock(warnedMutex);
        first = warned.insert(text).second;
    }
    if (first)
        Log::warn("baseURL в настройках не адрес http(s), используется " + builtInBaseURL().toString() + ": " + text);
    return builtInBaseURL();
}

std::optional<QDateTime> Store::updateRemindAfter() const
{
    const QVariant value = defaults_->value("updateRemindAfter");
    if (value.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    const QDateTime date = value.toDateTime();
    if (!date.isValid())
        return std::nullopt;
    return date;
}

void Store::setUpdateRemindAfter(std::optional<QDateTime> until)
{
    if (until && until->isValid())
        defaults_->setValue("updateRemindAfter", *until);
    else
        defaults_->remove("updateRemindAfter");
    defaults_->sync();
}

QString Store::portalRestoreToken() const
{
    return defaults_->value("portalRestoreToken").toString();
}

void Store::setPortalRestoreToken(const QString& token)
{
    defaults_->setValue("portalRestoreToken", token);
    defaults_->sync();
}

std::vector<Store::WaitingTrack> Store::waitingTracks() const
{
    std::vector<WaitingTrack> tracks;
    const int count = defaults_->beginReadArray("waitingTracks");
    for (int i = 0; i < count; ++i) {
        defaults_->setArrayIndex(i);
        const QString path = defaults_->value("path").toString();
        if (!path.isEmpty())
            tracks.push_back({path, defaults_->value("label").toString()});
    }
    defaults_->endArray();
    return tracks;
}

void Store::setWaitingTracks(const std::vector<WaitingTrack>& tracks)
{
    // The old array goes first: a shorter one would keep the old tail's entries.
    defaults_->remove("waitingTracks");
    defaults_->beginWriteArray("waitingTracks", int(tracks.size()));
    for (int i = 0; i < int(tracks.size()); ++i) {
        defaults_->setArrayIndex(i);
        defaults_->setValue("path", tracks[i].path);
        defaults_->setValue("label", tracks[i].label);
    }
    defaults_->endArray();
    defaults_->sync();
}

QString Store::recordingsDirectory() const
{
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString base = documents.isEmpty() ? QDir::tempPath() : documents.first();
    return QDir(base).filePath(QString::fromUtf8(folderName));
}
