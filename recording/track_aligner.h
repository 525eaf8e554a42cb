#pragma once

#include <cstdint>
#include <deque>
#include <vector>

// Keeps one audio track on the recording's clock, so that every track of a
// recording starts at its start and lasts as long as it ran.
//
// A buffer's last sample is at best as old as the buffer's arrival, so the
// source's lag behind the recording's clock (the moment of arrival against
// the frames the source has given) is never less than the truth; sources
// that deliver in bursts only look later than they are for a while. A
// buffer whose lag is above the one applied so far is therefore held back
// (for a window at most) and placed by the least lag seen from it to the end
// of that window; a source that keeps time is written at once. A lag that
// stays higher (a source that began late, audio the server dropped, a
// stream that was away) becomes silence before the buffer; a lag below what
// was applied (a source handing over its past at once) drops the oldest
// frames. Differences within the tolerance are left alone, so delivery that
// is merely uneven costs no sound. Mono float samples; not thread-safe (one
// writer queue).
class TrackAligner {
public:
    explicit TrackAligner(double sampleRate, double tolerance = defaultTolerance, double window = defaultWindow);

    // What goes into the track, in order: silence, then samples.
    struct Piece {
        int64_t silence = 0;
        std::vector<float> samples;
    };

    // Takes `samples` that arrived `elapsed` seconds into the recording;
    // gives what is due to be written now.
    std::vector<Piece> push(const float* samples, int64_t frames, double elapsed);
    // Gives everything still held back, as at the end of a recording.
    std::vector<Piece> flush();
    // Silence that brings the track to `duration` seconds (after flush()).
    int64_t padding(double duration);

    // Frames given out so far, silence included.
    int64_t written() const { return written_; }
    double seconds() const { return double(written_) / sampleRate_; }

    static constexpr double defaultTolerance = 0.1;
    static constexpr double defaultWindow = 3.0;

private:
    struct Held {
        std::vector<float> samples;
        double elapsed;
        // Frames the recording's clock was ahead of the source at arrival.
        int64_t lag;
    };

    int64_t frameAt(double seconds) const;
    Piece place(Held held, int64_t lag);
    void release(std::vector<Piece>& out, bool all);

    double sampleRate_;
    int64_t tolerance_;
    double window_;
    std::deque<Held> held_;
    // Frames the source has given, and the track has taken out.
    int64_t given_ = 0;
    int64_t written_ = 0;
    // The lag applied to the source so far: written minus placed source frames.
    int64_t applied_ = 0;
    int64_t placed_ = 0;
};
