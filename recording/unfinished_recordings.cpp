#include "recording/unfinished_recordings.h"

#include "core/log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <map>

#include <cerrno>
#include <sys/file.h>

namespace {

// The names our recorder gives its files, and the temporary name a file has
// while it is being rewritten; see Recorder::paths.
const QRegularExpression trackName(
    QStringLiteral("^(vstrecha-(\\d{4}-\\d{2}-\\d{2}-\\d{4})(?:-\\d+)?)-(?:(mikrofon|sistema)\\.m4a|(ekran)\\.mp4)$"));
const QRegularExpression partName(
    QStringLiteral("^\\.(vstrecha-\\d{4}-\\d{2}-\\d{2}-\\d{4}(?:-\\d+)?-(?:mikrofon|sistema|ekran))\\.part\\.(m4a|mp4)$"));

quint64 bigEndian(const QByteArray& bytes, int from, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | quint8(bytes[from + i]);
    return value;
}

// Finishes one file: taken only when no running program holds it (every
// writer locks its file), cut back to whole boxes, then rewritten.
bool finishFile(const QString& path, AudioMedia& media)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    if (::flock(file.handle(), LOCK_EX | LOCK_NB) != 0) {
        Log::info(QStringLiteral("файл пишется другой программой, не трогаем: ") + path);
        return false;
    }
    const UnfinishedRecordings::Boxes boxes = UnfinishedRecordings::readBoxes(path);
    if (!boxes.fragmented)
        return false;
    // Past the last whole box the demuxer would stop reading altogether.
    if (boxes.wholeLength < file.size() && !file.resize(boxes.wholeLength)) {
        Log::warn(QStringLiteral("не удалось обрезать недописанный файл ") + path);
        return false;
    }
    try {
        media.makePlain(path);
    } catch (const MediaError& error) {
        Log::warn(QStringLiteral("недописанный файл остался как есть: ") + path + QStringLiteral(": ")
                  + QString::fromUtf8(error.what()));
        return false;
    }
    Log::info(QStringLiteral("недописанный файл дописан: ") + path);
    return true;
}

} // namespace

UnfinishedRecordings::Boxes UnfinishedRecordings::readBoxes(const QString& path)
{
    Boxes boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    const qint64 size = file.size();
    qint64 offset = 0;
    while (size - offset >= 8) {
        file.seek(offset);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 length = bigEndian(header, 0, 4);
        const bool fragment = header.mid(4, 4) == "moof";
        boxes.fragmented = boxes.fragmented || fragment;
        if (length == 1) {
            if (header.size() < 16)
                break;
            length = bigEndian(header, 8, 8);
        } else if (length == 0) {
            // The last box, up to the end of the file.
            length = quint64(size - offset);
        }
        if (length < 8 || length > quint64(size - offset))
            break;
        offset += qint64(length);
        // A fragment without the samples after it is not whole.
        if (!fragment)
            boxes.wholeLength = offset;
    }
    return boxes;
}

std::vector<UnfinishedRecordings::Recovered> UnfinishedRecordings::finish(const QString& directory, AudioMedia& media,
                                                                          const QStringList& inUse)
{
    const QDir folder(directory);
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        const QRegularExpressionMatch part = partName.match(name);
        if (part.hasMatch() && !inUse.contains(folder.filePath(part.captured(1) + '.' + part.captured(2)))) {
            Log::info(QStringLiteral("удаляем остаток прерванной дописки: ") + name);
            QFile::remove(folder.filePath(name));
        }
    }

    std::map<QString, Recovered> found;
    std::map<QString, bool> finished;
    for (const QString& name : names) {
        const QRegularExpressionMatch match = trackName.match(name);
        const QString path = folder.filePath(name);
        if (!match.hasMatch() || inUse.contains(path))
            continue;
        Recovered& recording = found[match.captured(1)];
        recording.base = match.captured(1);
        recording.startedAt = QDateTime::fromString(match.captured(2), QStringLiteral("yyyy-MM-dd-HHmm"));
        if (match.captured(3) == QLatin1String("mikrofon"))
            recording.files.microphone = path;
        else if (match.captured(3) == QLatin1String("sistema"))
            recording.files.system = path;
        else
            recording.files.video = path;
        if (finishFile(path, media))
            finished[recording.base] = true;
    }

    std::vector<Recovered> recovered;
    for (auto& [base, recording] : found) {
        if (finished[base])
            recovered.push_back(std::move(recording));
    }
    // The names begin with the start's stamp, so their order is the starts'.
    return recovered;
}
