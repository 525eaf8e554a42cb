#include "platform/linux/desktop/autostart_entry.h"

#include "platform/linux/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

AutostartEntry::AutostartEntry(const QString& configFolder, const QString& applicationId)
    : path_(configFolder + QStringLiteral("/autostart/") + applicationId + QStringLiteral(".desktop"))
{
}

AutostartEntry AutostartEntry::standard(const QString& applicationId)
{
    // Honours XDG_CONFIG_HOME when it is an absolute path, as the
    // autostart rules ask.
    return AutostartEntry(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), applicationId);
}

bool AutostartEntry::isOn() const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QFileInfo info(path_);
    return parseDesktopEntry(file.read(256 * 1024), info.fileName(), path_, {}).has_value();
}

std::optional<QString> AutostartEntry::turnOn(const QByteArray& menuEntry, const QString& program) const
{
    QByteArray text;
    bool inMainGroup = false;
    for (const QByteArray& line : menuEntry.split('\n')) {
        if (line.startsWith('['))
            inMainGroup = line.trimmed() == "[Desktop Entry]";
        if (inMainGroup && (line.startsWith("Exec=") || line.startsWith("TryExec=") || line.startsWith("Hidden=")))
            continue;
        text += line + '\n';
        if (line.trimmed() == "[Desktop Entry]")
            text += "Exec=" + desktopExecValue(program).toUtf8() + '\n';
    }
    while (text.endsWith("\n\n"))
        text.chop(1);

    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("Не удалось создать папку %1").arg(info.absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return QStringLiteral("Не удалось записать %1: %2").arg(path_, file.errorString());
    return std::nullopt;
}

std::optional<QString> AutostartEntry::turnOff() const
{
    QFile file(path_);
    if (!file.exists() || file.remove())
        return std::nullopt;
    return QStringLiteral("Не удалось удалить %1: %2").arg(path_, file.errorString());
}

QString desktopExecValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    if (std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); })) {
        argument.clear();
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument = u'"' + argument + u'"';
    }
    // A literal percent sign is doubled (field codes start with one); then the
    // value as a whole is a string, whose backslashes are escaped once more.
    argument.replace(u'%', QStringLiteral("%%"));
    argument.replace(u'\\', QStringLiteral("\\\\"));
    argument.replace(u'\n', QStringLiteral("\\n"));
    argument.replace(u'\t', QStringLiteral("\\t"));
    argument.replace(u'\r', QStringLiteral("\\r"));
    return argument;
}
