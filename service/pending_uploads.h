#pragma once

#include "core/store.h"

#include <QString>

#include <exception>
#include <vector>

// The tracks whose sending failed for a reason that may pass (no connection,
// a timeout, a server in trouble), kept in the settings so that neither a
// lost connection nor a restart loses them. A track leaves only once the
// service has answered with its job, so nothing is sent twice.
class PendingUploads {
public:
    using Track = Store::WaitingTrack;

    explicit PendingUploads(const Store& store) : store_(store) {}

    // Whether sending again later may succeed: no connection, a timeout,
    // a 5xx answer. A refusal (401, 429, another 4xx) will not pass.
    static bool mayPass(const std::exception& error);
    // The pause before the next try after `failures` tries in a row failed:
    // 30 s, 2 min, 10 min, then every 30 min.
    static double pauseAfter(int failures);
    // The status line while tracks wait.
    static QString waitingText(int count);

    std::vector<Track> tracks() const { return store_.waitingTracks(); }
    bool empty() const { return tracks().empty(); }
    // Adds a track at the end unless it already waits.
    void keep(const Track& track);
    void drop(const QString& path);

private:
    Store store_;
};
