#include "recording/track_writer.h"

#include "core/log.h"
#include "recording/recorder_failure.h"

#include <QFuture>

#include <qcoro/qcorofuture.h>

#include <cmath>

struct TrackWriter::State {
    std::shared_ptr<AudioMedia> media;
    std::unique_ptr<AudioFile> file;
    std::unique_ptr<AudioResampler> converter;
    // The source format the converter was made for.
    AudioFormat converterFormat;

    void write(const PcmBuffer& buffer);
    PcmBuffer convertToMono(const PcmBuffer& buffer);
};

AudioFormat TrackWriter::monoFormat()
{
    return {44100.0, 1, AudioFormat::SampleType::float32};
}

TrackWriter::TrackWriter(const QString& path, std::shared_ptr<AudioMedia> media)
    : path_(path)
    , state_(std::make_shared<State>())
    , queue_(std::make_unique<SerialQueue>(queueLabel(".writer")))
{
    state_->media = std::move(media);
    state_->file = state_->media->createFile(path, AudioMedia::FileSettings {});
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
    auto copy = buffer.copied();
    if (!copy)
        return;
    auto shared = std::make_shared<PcmBuffer>(std::move(*copy));
    ++*pending_;
    queue_->async([weak = std::weak_ptr<State>(state_), shared, pending = pending_] {
        --*pending;
        auto state = weak.lock();
        if (!state)
            return;
        try {
            state->write(*shared);
        } catch (const std::exception& error) {
            Log::warn(QStringLiteral("не записался кусок дорожки: ") + QString::fromStdString(error.what()));
        }
    });
}

QCoro::Task<QString> TrackWriter::finish()
{
    const QString path = path_;
    QFuture<QString> done = queue_->run([weak = std::weak_ptr<State>(state_), path] {
        if (auto state = weak.lock()) {
            if (auto file = std::move(state->file)) {
                try {
                    file->close();
                } catch (const std::exception& error) {
                    Log::warn(QStringLiteral("дорожка не дописалась: ") + QString::fromStdString(error.what()));
                }
            }
        }
        return path;
    });
    co_return co_await done;
}

void TrackWriter::State::write(const PcmBuffer& buffer)
{
    if (buffer.frameLength() == 0)
        return;
    const PcmBuffer converted = convertToMono(buffer);
    if (converted.frameLength() > 0 && file)
        file->write(converted);
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
