#pragma once

#include "platform/audio_file.h"
#include "core/serial_queue.h"
#include "core/pcm_buffer.h"
#include "recording/track_aligner.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// Writes one audio track of a recording: mono, 44.1 kHz AAC in an ".m4a".
// append() may be called from any thread and only copies the buffer; the
// conversion, encoding and file writes happen in order on the writer's own
// ".writer" queue.
class Clock;

class TrackWriter {
public:
    // Creates the file. Throws MediaError when it cannot be opened (FileExistsError
    // when the name is taken), RecorderFailure when the mono format cannot be made.
    // With `startedAt` (seconds of the monotonic clock) the track is kept on
    // the recording's clock from that moment (see TrackAligner); without it
    // every appended frame is written as it comes. `clock` tells when a
    // buffer given without its time arrived.
    TrackWriter(const QString& path, std::shared_ptr<AudioMedia> media, std::optional<double> startedAt = std::nullopt,
                const Clock* clock = nullptr);
    ~TrackWriter();

    TrackWriter(const TrackWriter&) = delete;
    TrackWriter& operator=(const TrackWriter&) = delete;

    const QString& path() const { return path_; }

    // Copies `buffer` now and queues the copy; a buffer that cannot be copied
    // is dropped. `buffer` only has to live until append returns.
    void append(const PcmBuffer& buffer);
    // As append(), for a buffer that arrived at `arrivedAt` on the monotonic
    // clock rather than now.
    void append(const PcmBuffer& buffer, double arrivedAt);

    // Seconds of track written once every buffer appended before this call
    // has been, including what the clock keeping still held back (call it
    // when the source has stopped); resumes on the main thread.
    QCoro::Task<double> length();

    // Closes the file after every buffer appended before this call has been
    // written, with silence up to `duration` seconds from the start when the
    // track is shorter; resumes on the main thread with the file's path.
    // Buffers appended later are converted and dropped. Throws
    // RecorderFailure::writerFailed when any write of the track failed: the
    // file then keeps what was written before, playable.
    QCoro::Task<QString> finish(std::optional<double> duration = std::nullopt);

    // What the first failed write of the file said; set from the writer's
    // queue, read from any thread. The track stops growing on the disk then.
    std::optional<QString> failure() const;

    // Buffers appended and not yet written; lets a producer that is not a
    // live capture (a batch import, a benchmark) keep the queue short.
    size_t pendingBuffers() const { return pending_->load(); }

    // The format every buffer is brought to before it is written.
    static AudioFormat monoFormat();

private:
    struct State;

    QString path_;
    std::optional<double> startedAt_;
    const Clock* clock_;
    std::shared_ptr<State> state_;
    std::shared_ptr<std::atomic<size_t>> pending_ = std::make_shared<std::atomic<size_t>>(0);
    // Last, so that it is stopped (and its pending work has run) before the
    // rest goes.
    std::unique_ptr<SerialQueue> queue_;
};
