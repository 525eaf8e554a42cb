#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// Points the user's documents folder (and so the recordings folder) into a
// test's own folder through XDG_CONFIG_HOME/user-dirs.dirs; the previous
// XDG_CONFIG_HOME comes back when the object goes.
class DocumentsFolder {
public:
    DocumentsFolder() : previous_(qgetenv("XDG_CONFIG_HOME")) {}
    ~DocumentsFolder() { qputenv("XDG_CONFIG_HOME", previous_); }
    DocumentsFolder(const DocumentsFolder&) = delete;
    DocumentsFolder& operator=(const DocumentsFolder&) = delete;

    // Returns false when the settings file could not be written.
    bool place(const QString& configHome, const QString& documents)
    {
        QDir().mkpath(configHome);
        QFile dirs(configHome + "/user-dirs.dirs");
        if (!dirs.open(QIODevice::WriteOnly))
            return false;
        dirs.write("XDG_DOCUMENTS_DIR=\"" + documents.toUtf8() + "\"\n");
        dirs.close();
        qputenv("XDG_CONFIG_HOME", configHome.toUtf8());
        return true;
    }

private:
    QByteArray previous_;
};
