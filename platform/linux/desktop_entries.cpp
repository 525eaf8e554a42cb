#include "platform/linux/desktop_entries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

QString unescape(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        default: out += next; break;
        }
    }
    return out;
}

} // namespace

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& text, const QString& id, const QString& path,
                                              const QString& localeName)
{
    // Localised keys in the order of preference: Name[ru_RU], Name[ru], Name.
    const QString language = localeName.section(u'_', 0, 0);
    QString name, localeExact, localeLanguage, icon, wmClass, type;
    bool hidden = false;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescape(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Name"))
            name = value;
        else if (!localeName.isEmpty() && key == QStringLiteral("Name[%1]").arg(localeName))
            localeExact = value;
        else if (!language.isEmpty() && key == QStringLiteral("Name[%1]").arg(language))
            localeLanguage = value;
        else if (key == QLatin1String("Icon"))
            icon = value;
        else if (key == QLatin1String("StartupWMClass"))
            wmClass = value;
        else if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true");
    }
    if (type != QLatin1String("Application") || hidden)
        return std::nullopt;
    if (!localeExact.isEmpty())
        name = localeExact;
    else if (!localeLanguage.isEmpty())
        name = localeLanguage;
    return DesktopEntry{id, path, name, icon, wmClass};
}

DesktopEntries DesktopEntries::scan(const QStringList& applicationFolders, const QString& localeName)
{
    DesktopEntries result;
    QSet<QString> seen;
    for (const QString& folder : applicationFolders) {
        const QDir base(folder);
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = base.relativeFilePath(path);
            id.replace(u'/', u'-');
            if (seen.contains(id))
                continue;
            seen.insert(id);
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            // Entries are small; a huge file is not one.
            if (auto entry = parseDesktopEntry(file.read(256 * 1024), id, path, localeName))
                result.entries_.push_back(std::move(*entry));
        }
    }
    return result;
}

QStringList DesktopEntries::standardFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList folders{dataHome + QStringLiteral("/applications")};
    for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        folders << dir + QStringLiteral("/applications");
    return folders;
}

std::optional<DesktopEntry> DesktopEntries::forWindowClass(const QString& instance, const QString& windowClass) const
{
    if (windowClass.isEmpty() && instance.isEmpty())
        return std::nullopt;
    for (const auto& entry : entries_) {
        if (!windowClass.isEmpty() && entry.startupWMClass == windowClass)
            return entry;
    }
    const auto named = [&](const QString& wanted) -> std::optional<DesktopEntry> {
        if (wanted.isEmpty())
            return std::nullopt;
        for (const auto& entry : entries_) {
            // "org.gnome.Nautilus" is named after its last component too, and
            // "kde4-kate" after its file's own name.
            const QString file = QFileInfo(entry.path).completeBaseName();
            if (file.compare(wanted, Qt::CaseInsensitive) == 0
                || file.section(u'.', -1).compare(wanted, Qt::CaseInsensitive) == 0)
                return entry;
        }
        return std::nullopt;
    };
    if (auto entry = named(windowClass))
        return entry;
    return named(instance);
}
