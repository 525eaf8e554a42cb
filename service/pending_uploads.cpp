#include "service/pending_uploads.h"

#include "service/api.h"

#include <algorithm>
#include <iterator>

bool PendingUploads::mayPass(const std::exception& error)
{
    const auto* failure = dynamic_cast<const Api::Failure*>(&error);
    if (!failure)
        return false;
    return failure->kind() == Api::Failure::Kind::network ||
           (failure->kind() == Api::Failure::Kind::rejected && failure->status() >= 500);
}

double PendingUploads::pauseAfter(int failures)
{
    constexpr double pauses[] = {30, 120, 600};
    return failures < int(std::size(pauses)) ? pauses[std::max(failures, 0)] : 1800;
}

QString PendingUploads::waitingText(int count)
{
    const int tens = count % 100;
    const int ones = count % 10;
    const char* words = "дорожек ждут";
    if (ones == 1 && tens != 11)
        words = "дорожка ждёт";
    else if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        words = "дорожки ждут";
    return QStringLiteral("Нет связи — %1 %2 отправки").arg(count).arg(QString::fromUtf8(words));
}

void PendingUploads::keep(const Track& track)
{
    std::vector<Track> kept = tracks();
    if (std::any_of(kept.begin(), kept.end(), [&](const Track& t) { return t.path == track.path; }))
        return;
    kept.push_back(track);
    store_.setWaitingTracks(kept);
}

void PendingUploads::drop(const QString& path)
{
    std::vector<Track> kept = tracks();
    std::erase_if(kept, [&](const Track& t) { return t.path == path; });
    store_.setWaitingTracks(kept);
}
