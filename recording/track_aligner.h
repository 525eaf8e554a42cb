#pragma once

#include <cstdint>

// Keeps one audio track on the recording's clock, so that every track of a
// recording starts at its start and lasts as long as it ran. A buffer is
// taken to end when it arrives: a track that has fallen behind that moment
// by more than the tolerance (a source that began late, audio the server
// dropped, a stream that was away) gets silence for the missing time first;
// a track that has run ahead of it (a source that hands over its past at
// once) loses the oldest frames of the buffer. Within the tolerance nothing
// is changed, so the ordinary unevenness of delivery costs no sound.
// Counts in frames of the written track; not thread-safe (one writer queue).
class TrackAligner {
public:
    explicit TrackAligner(double sampleRate, double tolerance = defaultTolerance);

    struct Placement {
        // Frames of silence to write before the buffer.
        int64_t silence = 0;
        // Frames to leave out at the buffer's start.
        int64_t skip = 0;
    };
    // Where a buffer of `frames` that arrived `elapsed` seconds into the
    // recording goes; counts what is then written.
    Placement place(double elapsed, int64_t frames);
    // Frames of silence that bring the track to `duration` seconds.
    int64_t padding(double duration);

    int64_t written() const { return written_; }
    double seconds() const { return double(written_) / sampleRate_; }

    static constexpr double defaultTolerance = 0.15;

private:
    int64_t frameAt(double seconds) const;

    double sampleRate_;
    int64_t tolerance_;
    int64_t written_ = 0;
};
