#include "platform/linux/pulse/pulse_record_stream.h"

#include <algorithm>
#include <stdexcept>

PulseRecordStream::PulseRecordStream(PulseContext& context, std::string sourceName, const AudioFormat& format,
                                     uint32_t framesPerBuffer, Consumer consumer)
    : context_(context)
    , sourceName_(std::move(sourceName))
    , format_(format)
    , framesPerBuffer_(framesPerBuffer)
    , consumer_(std::move(consumer))
    , planes_(std::max(format.channelCount, 0), std::vector<float>(framesPerBuffer))
{
    format_.sampleType = AudioFormat::SampleType::float32;
}

PulseRecordStream::~PulseRecordStream()
{
    stop();
}

void PulseRecordStream::start()
{
    if (!context_.connect())
        throw std::runtime_error("звуковой сервер недоступен");
    PulseContext::Lock lock(context_);
    if (stream_)
        return;
    tellsEnd_ = false;
    connectStream();
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) {
            tellsEnd_ = true;
            return;
        }
        if (!PA_STREAM_IS_GOOD(state)) {
            failToStart();
        }
        pa_threaded_mainloop_wait(context_.loop());
    }
}

void PulseRecordStream::open()
{
    if (stream_)
        return;
    if (!context_.ready())
        throw std::runtime_error("звуковой сервер недоступен");
    tellsEnd_ = true;
    connectStream();
}

void PulseRecordStream::connectStream()
{
    pa_sample_spec sampleSpec {PA_SAMPLE_FLOAT32LE, uint32_t(format_.sampleRate), uint8_t(format_.channelCount)};
    if (!pa_sample_spec_valid(&sampleSpec))
        throw std::runtime_error("формат записи не годится для звукового сервера");
    stream_ = pa_stream_new(context_.context(), "Korvala", &sampleSpec, nullptr);
    if (!stream_)
        throw std::runtime_error("звуковой сервер не дал поток записи");
    pa_stream_set_state_callback(
        stream_, [](pa_stream*, void* self) { static_cast<PulseRecordStream*>(self)->stateChanged(); }, this);
    pa_stream_set_read_callback(
        stream_, [](pa_stream*, size_t bytes, void* self) { static_cast<PulseRecordStream*>(self)->read(bytes); },
        this);
    // Fragments of one buffer's size: the server wakes us about as often as
    // we hand buffers on.
    pa_buffer_attr attributes {};
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize = uint32_t(framesPerBuffer_ * pa_frame_size(&sampleSpec));
    const char* device = sourceName_.empty() ? nullptr : sourceName_.c_str();
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, device, &attributes, flags) < 0)
        failToStart();
}

void PulseRecordStream::failToStart()
{
    const std::string reason = pa_strerror(pa_context_errno(context_.context()));
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    throw std::runtime_error("запись не началась: " + reason);
}

void PulseRecordStream::stateChanged()
{
    pa_threaded_mainloop_signal(context_.loop(), 0);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) || !tellsEnd_)
        return;
    // Once only: the stream stays in its final state.
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (stopped_)
        stopped_(pa_context_errno(pa_stream_get_context(stream_)));
}

void PulseRecordStream::stop()
{
    PulseContext::Lock lock(context_);
    if (!stream_)
        return;
    // What the server has already recorded, down to the last part of a
    // buffer, belongs to the recording: it is handed on before the end.
    if (pa_stream_get_state(stream_) == PA_STREAM_READY)
        read(0);
    deliver(pending_.size() / std::max<size_t>(size_t(format_.channelCount), 1));
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    pending_.clear();
}

void PulseRecordStream::read(size_t)
{
    const size_t channels = size_t(format_.channelCount);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream_) > 0) {
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0)
            return;
        // A hole (data == nullptr) is audio the server lost: silence of its
        // length keeps what follows at its time.
        if (data) {
            const auto* samples = static_cast<const float*>(data);
            pending_.insert(pending_.end(), samples, samples + bytes / sizeof(float));
        } else {
            pending_.insert(pending_.end(), bytes / sizeof(float), 0.0f);
        }
        pa_stream_drop(stream_);
    }
    while (channels > 0 && pending_.size() >= size_t(framesPerBuffer_) * channels)
        deliver(framesPerBuffer_);
}

void PulseRecordStream::deliver(size_t frames)
{
    const size_t channels = size_t(format_.channelCount);
    frames = std::min<size_t>(frames, framesPerBuffer_);
    if (channels == 0 || frames == 0 || pending_.size() < frames * channels)
        return;
    std::vector<void*> planes(channels);
    for (size_t channel = 0; channel < channels; ++channel) {
        float* plane = planes_[channel].data();
        for (size_t frame = 0; frame < frames; ++frame)
            plane[frame] = pending_[frame * channels + channel];
        planes[channel] = plane;
    }
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(frames * channels));
    consumer_(PcmBuffer::view(format_, uint32_t(frames), std::move(planes)));
}
