#include "recording/track_aligner.h"

#include <algorithm>
#include <cmath>

TrackAligner::TrackAligner(double sampleRate, double tolerance, double window)
    : sampleRate_(sampleRate)
    , tolerance_(std::llround(tolerance * sampleRate))
    , window_(window)
{
}

int64_t TrackAligner::frameAt(double seconds) const
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return std::llround(seconds * sampleRate_);
}

std::vector<TrackAligner::Piece> TrackAligner::push(const float* samples, int64_t frames, double elapsed)
{
    std::vector<Piece> out;
    if (frames <= 0)
        return out;
    given_ += frames;
    held_.push_back({std::vector<float>(samples, samples + frames), elapsed, frameAt(elapsed) - given_});
    release(out, false);
    return out;
}

std::vector<TrackAligner::Piece> TrackAligner::flush()
{
    std::vector<Piece> out;
    release(out, true);
    return out;
}

void TrackAligner::release(std::vector<Piece>& out, bool all)
{
    while (!held_.empty()) {
        // The least lag from this buffer to the end of its window, as far
        // as the buffers have come in.
        const double windowEnd = held_.front().elapsed + window_;
        int64_t lag = held_.front().lag;
        for (const Held& later : held_) {
            if (later.elapsed > windowEnd)
                break;
            lag = std::min(lag, later.lag);
        }
        // A lag within the tolerance of the one applied needs no more
        // proof: a source that keeps time is written at once. Only a lag
        // that may mean a gap waits for its whole window.
        const bool decided = all || held_.back().elapsed >= windowEnd || lag <= applied_ + tolerance_;
        if (!decided)
            return;
        Held front = std::move(held_.front());
        held_.pop_front();
        out.push_back(place(std::move(front), lag));
    }
}

TrackAligner::Piece TrackAligner::place(Held held, int64_t lag)
{
    Piece piece;
    const auto frames = int64_t(held.samples.size());
    if (lag - applied_ > tolerance_) {
        piece.silence = lag - applied_;
    } else if (applied_ - lag > tolerance_) {
        const int64_t skip = std::min(frames, applied_ - lag);
        held.samples.erase(held.samples.begin(), held.samples.begin() + skip);
        piece.silence = -skip;
    }
    applied_ += piece.silence;
    placed_ += frames;
    written_ = placed_ + applied_;
    piece.silence = std::max<int64_t>(piece.silence, 0);
    piece.samples = std::move(held.samples);
    return piece;
}

int64_t TrackAligner::padding(double duration)
{
    const int64_t missing = std::max<int64_t>(frameAt(duration) - written_, 0);
    written_ += missing;
    applied_ += missing;
    return missing;
}
