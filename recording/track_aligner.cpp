#include "recording/track_aligner.h"

#include <algorithm>
#include <cmath>

TrackAligner::TrackAligner(double sampleRate, double tolerance)
    : sampleRate_(sampleRate)
    , tolerance_(std::llround(tolerance * sampleRate))
{
}

int64_t TrackAligner::frameAt(double seconds) const
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return std::llround(seconds * sampleRate_);
}

TrackAligner::Placement TrackAligner::place(double elapsed, int64_t frames)
{
    Placement placement;
    const int64_t due = frameAt(elapsed);
    const int64_t end = written_ + frames;
    if (due - end > tolerance_)
        placement.silence = due - end;
    else if (end - due > tolerance_)
        placement.skip = std::min(frames, end - due);
    written_ += placement.silence + frames - placement.skip;
    return placement;
}

int64_t TrackAligner::padding(double duration)
{
    const int64_t missing = std::max<int64_t>(frameAt(duration) - written_, 0);
    written_ += missing;
    return missing;
}
