#pragma once

#include "platform/audio_file.h"
#include "platform/serial_queue.h"
#include "recording/pcm_buffer.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

// Writes one audio track of a recording: mono, 44.1 kHz AAC in an ".m4a".
// append() may be called from any thread and only copies the buffer; the
// conversion, encoding and file writes happen in order on the writer's own
// ".writer" queue.
class TrackWriter {
public:
    // Creates the file. Throws MediaError when it cannot be opened, RecorderFailure
    // when the mono format cannot be made.
    explicit TrackWriter(const QString& path, std::shared_ptr<AudioMedia> media = AudioMedia::system());
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

    // The format every buffer is brought to before it is written.
    static AudioFormat monoFormat();

private:
    struct State;

    QString path_;
    std::shared_ptr<State> state_;
    // Last, so that it is stopped (and its pending work has run) before the
    // rest goes.
    std::unique_ptr<SerialQueue> queue_;
};
