#include "recording/track_writer.h"

#include "core/log.h"
#include "core/promised.h"
#include "core/clock.h"
#include "recording/recorder_failure.h"

#include <QFileInfo>
#include <QFuture>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <functional>
#include <cmath>

struct TrackWriter::State {
    std::shared_ptr<AudioMedia> media;
    std::unique_ptr<AudioFile> file;
    std::unique_ptr<AudioResampler> converter;
    // The source format the converter was made for.
    AudioFormat converterFormat;
    std::optional<TrackAligner> aligner;
    std::optional<double> startedAt;

    mutable std::mutex failureLock;
    std::optional<QString> failure;

    void write(const PcmBuffer& buffer, double arrivedAt);
    void writePieces(std::vector<TrackAligner::Piece> pieces);
    void writeToFile(const PcmBuffer& mono);
    void writeSilence(int64_t frames);
    // Runs one write of the file unless it failed before; a failure is kept.
    void writeGuarded(const std::function<void()>& write);
    void fail(const QString& reason);
    PcmBuffer convertToMono(const PcmBuffer& buffer);
};

AudioFormat TrackWriter::monoFormat()
{
    return {44100.0, 1, AudioFormat::SampleType::float32};
}

TrackWriter::TrackWriter(const QString& path, std::shared_ptr<AudioMedia> media, std::optional<double> startedAt,
                         const Clock* clock)
    : path_(path)
    , startedAt_(startedAt)
    , clock_(clock)
    , state_(std::make_shared<State>())
    , queue_(std::make_unique<SerialQueue>(queueLabel(".writer")))
{
    state_->media = std::move(media);
    state_->file = state_->media->createFile(path, AudioMedia::FileSettings {});
    state_->startedAt = startedAt;
    if (startedAt)
        state_->aligner.emplace(monoFormat().sampleRate);
}

TrackWriter::~TrackWriter()
{
    // Work still queued finds the state gone and skips; the file is completed
    // by whoever lets go of the state last.
    state_.reset();
    queue_.reset();
}

void TrackWriter::append(const PcmBuffer& buffer)
{
    append(buffer, startedAt_ && clock_ ? clock_->uptime() : 0.0);
}

void TrackWriter::append(const PcmBuffer& buffer, double arrivedAt)
{
    auto copy = buffer.copied();
    if (!copy)
        return;
    auto shared = std::make_shared<PcmBuffer>(std::move(*copy));
    ++*pending_;
    queue_->async([weak = std::weak_ptr<State>(state_), shared, pending = pending_, arrivedAt] {
        --*pending;
        auto state = weak.lock();
        if (!state)
            return;
        try {
            state->write(*shared, arrivedAt);
        } catch (const std::exception& error) {
            Log::warn(QStringLiteral("не записался кусок дорожки: ") + QString::fromStdString(error.what()));
        }
    });
}

std::optional<QString> TrackWriter::failure() const
{
    std::lock_guard guard(state_->failureLock);
    return state_->failure;
}

QCoro::Task<double> TrackWriter::length()
{
    // Not a coroutine itself: GCC 12 destroys a lambda made inside one twice.
    return awaited(queue_->run([weak = std::weak_ptr<State>(state_)] {
        const auto state = weak.lock();
        if (!state || !state->aligner)
            return 0.0;
        state->writePieces(state->aligner->flush());
        return state->aligner->seconds();
    }));
}

QCoro::Task<QString> TrackWriter::finish(std::optional<double> duration)
{
    return awaited(queue_->run([weak = std::weak_ptr<State>(state_), path = path_, duration] {
        const auto state = weak.lock();
        if (!state)
            return path;
        if (state->file) {
            try {
                // The last stretch the sources did not deliver before they
                // stopped, so that every track lasts as long as the recording.
                if (state->aligner) {
                    state->writePieces(state->aligner->flush());
                    if (duration)
                        state->writeSilence(state->aligner->padding(*duration));
                }
                state->file->close();
            } catch (const std::exception& error) {
                state->fail(QString::fromStdString(error.what()));
            }
            state->file.reset();
        }
        std::lock_guard guard(state->failureLock);
        if (state->failure)
            throw RecorderFailure::writerFailed(QFileInfo(path).fileName() + QStringLiteral(": ") + *state->failure);
        return path;
    }));
}

void TrackWriter::State::fail(const QString& reason)
{
    std::lock_guard guard(failureLock);
    if (failure)
        return;
    failure = reason.isEmpty() ? QStringLiteral("неизвестная ошибка") : reason;
    Log::warn(QStringLiteral("дорожка больше не пишется: ") + *failure);
}

void TrackWriter::State::write(const PcmBuffer& buffer, double arrivedAt)
{
    if (buffer.frameLength() == 0)
        return;
    const PcmBuffer converted = convertToMono(buffer);
    if (converted.frameLength() == 0)
        return;
    if (!aligner) {
        writeToFile(converted);
        return;
    }
    writePieces(aligner->push(converted.floatChannelData()[0], converted.frameLength(), arrivedAt - *startedAt));
}

void TrackWriter::State::writePieces(std::vector<TrackAligner::Piece> pieces)
{
    for (TrackAligner::Piece& piece : pieces) {
        writeSilence(piece.silence);
        if (!piece.samples.empty())
            writeToFile(PcmBuffer::view(monoFormat(), uint32_t(piece.samples.size()), {piece.samples.data()}));
    }
}

void TrackWriter::State::writeToFile(const PcmBuffer& mono)
{
    writeGuarded([&] { file->write(mono); });
}

void TrackWriter::State::writeSilence(int64_t frames)
{
    if (frames > 0)
        writeGuarded([&] { file->writeSilence(frames); });
}

void TrackWriter::State::writeGuarded(const std::function<void()>& write)
{
    if (!file)
        return;
    // A file that failed once (a full disk) is not written to again: its
    // fragments so far stay whole, and the journal gets one line, not one a
    // buffer.
    {
        std::lock_guard guard(failureLock);
        if (failure)
            return;
    }
    try {
        write();
    } catch (const MediaError& error) {
        fail(QString::fromStdString(error.what()));
    }
}

PcmBuffer TrackWriter::State::convertToMono(const PcmBuffer& buffer)
{
    const AudioFormat mono = monoFormat();
    if (buffer.format() == mono)
        return PcmBuffer::view(mono, buffer.frameLength(), {buffer.plane(0)});

    const double frames = std::trunc(double(buffer.frameLength()) * mono.sampleRate / buffer.format().sampleRate);
    const uint32_t capacity = uint32_t(std::min(frames, 4.0e9)) + 1024;
    auto output = PcmBuffer::allocate(mono, capacity);
    if (!output)
        throw RecorderFailure::writerFailed(QStringLiteral("не нашлось памяти под звук"));

    // A source that changes its format (another input device chosen in the
    // middle of a recording) gets a converter of its own; the old one would
    // read its planes wrongly.
    if (converter && !(converterFormat == buffer.format()))
        converter.reset();
    if (!converter) {
        converter = media->makeResampler(buffer.format(), mono);
        if (!converter)
            throw RecorderFailure::writerFailed(QStringLiteral("не удалось свести звук к моно"));
        converterFormat = buffer.format();
    }
    converter->convert(buffer, *output);
    return std::move(*output);
}
