#pragma once

#include "platform/audio_file.h"
#include "core/serial_queue.h"
#include "core/pcm_buffer.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>

// Writes one audio track of a recording: mono, 44.1 kHz AAC in an ".m4a".
// append() may be called from any thread and only copies the buffer; the
// conversion, encoding and file writes happen in order on the writer's own
// ".writer" queue.
class TrackWriter {
public:
    // Creates the file. Throws MediaError when it cannot be opened, RecorderFailure
    // when the mono format cannot be made.
    TrackWriter(const QString& path, std::shared_ptr<AudioMedia> media);
    ~TrackWriter();

    TrackWriter(const TrackWriter&) = delete;
    TrackWriter& operator=(const TrackWriter&) = delete;

    const QString& path() const { return path_; }

    // Copies `buffer` now and queues the copy; a buffer that cannot be copied
    // is dropped. `buffer` only has to live until append returns.
    void append(const PcmBuffer& buffer);

    // Closes the file after every buffer appended before this call has been
    // written; resumes on the main thread with the file's path. Buffers
    // appended later are converted and dropped.
    QCoro::Task<QString> finish();

    // Buffers appended and not yet written; lets a producer that is not a
    // live capture (a batch import, a benchmark) keep the queue short.
    size_t pendingBuffers() const { return pending_->load(); }

    // The format every buffer is brought to before it is written.
    static AudioFormat monoFormat();

private:
    struct State;

    QString path_;
    std::shared_ptr<State> state_;
    std::shared_ptr<std::atomic<size_t>> pending_ = std::make_shared<std::atomic<size_t>>(0);
    // Last, so that it is stopped (and its pending work has run) before the
    // rest goes.
    std::unique_ptr<SerialQueue> queue_;
};
