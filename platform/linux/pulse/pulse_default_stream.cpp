#include "platform/linux/pulse/pulse_default_stream.h"

#include <algorithm>
#include <stdexcept>

PulseDefaultStream::PulseDefaultStream(PulseContext& context, Device device, Consumer consumer, Trouble trouble)
    : context_(context)
    , device_(device)
    , consumer_(std::move(consumer))
    , trouble_(std::move(trouble))
{
}

PulseDefaultStream::~PulseDefaultStream()
{
    stop();
}

std::optional<PulseDefaultStream::Source> PulseDefaultStream::current()
{
    if (!context_.connect())
        return std::nullopt;
    PulseContext::Lock lock(context_);
    looked_ = false;
    look();
    // A server that dies meanwhile answers nothing; its end wakes us too.
    while (!looked_ && context_.ready())
        pa_threaded_mainloop_wait(context_.loop());
    cancelLook();
    return looked_ ? found_ : std::nullopt;
}

void PulseDefaultStream::start(const std::string& source, const AudioFormat& format, uint32_t framesPerBuffer)
{
    auto stream = std::make_unique<PulseRecordStream>(context_, source, format, framesPerBuffer,
                                                      [this](const PcmBuffer& buffer) { deliver(buffer); });
    PulseRecordStream* started = stream.get();
    stream->setStoppedHandler([this, started](int) { ended(started); });
    stream->start();

    PulseContext::Lock lock(context_);
    format_ = format;
    framesPerBuffer_ = framesPerBuffer;
    following_ = true;
    tries_ = 0;
    stream_ = std::move(stream);
    context_.watch({
        .lost = [this] { lost(); },
        .restored =
            [this] {
                tries_ = 0;
                look();
            },
        .devicesChanged =
            [this] {
                tries_ = 0;
                look();
            },
        // The streams of other programs are not this one's concern.
        .recordStreamChanged = {},
    });
    // Ended between its start and the lock: its end was not ours to see yet.
    if (stream_ && !stream_->recording())
        ended(stream_.get());
}

void PulseDefaultStream::stop()
{
    PulseContext::Lock lock(context_);
    following_ = false;
    context_.unwatch();
    cancelLook();
    stream_.reset();
    ended_.reset();
    reported_.reset();
}

void PulseDefaultStream::look()
{
    // Devices come and go in bursts (a sink, its monitor, the default): one
    // look at a time, and one more after it when something changed meanwhile.
    if (looking_) {
        lookAgain_ = true;
        return;
    }
    lookAgain_ = false;
    defaultName_.clear();
    sources_.clear();
    found_.reset();
    if (context_.ready())
        looking_ = pa_context_get_server_info(
            context_.context(),
            [](pa_context*, const pa_server_info* info, void* self) {
                static_cast<PulseDefaultStream*>(self)->serverAnswered(info);
            },
            this);
    if (!looking_)
        looked(std::nullopt);
}

void PulseDefaultStream::serverAnswered(const pa_server_info* info)
{
    pa_operation_unref(looking_);
    looking_ = nullptr;
    // Never inside the ended stream's own callback here.
    ended_.reset();
    if (info && device_ == Device::input) {
        defaultName_ = info->default_source_name ? info->default_source_name : "";
        looking_ = pa_context_get_source_info_list(
            context_.context(),
            [](pa_context*, const pa_source_info* source, int end, void* self) {
                static_cast<PulseDefaultStream*>(self)->sourceListed(source, end);
            },
            this);
    } else if (info && info->default_sink_name) {
        looking_ = pa_context_get_sink_info_by_name(
            context_.context(), info->default_sink_name,
            [](pa_context*, const pa_sink_info* sink, int end, void* self) {
                static_cast<PulseDefaultStream*>(self)->sinkListed(sink, end);
            },
            this);
    }
    if (!looking_)
        looked(std::nullopt);
}

void PulseDefaultStream::sourceListed(const pa_source_info* info, int end)
{
    if (end == 0) {
        if (info && info->name && info->monitor_of_sink == PA_INVALID_INDEX)
            sources_.push_back({info->name, info->sample_spec});
        return;
    }
    pa_operation_unref(looking_);
    looking_ = nullptr;
    const auto named = [&](const std::string& name) -> std::optional<Source> {
        const auto source = std::find_if(sources_.begin(), sources_.end(),
                                         [&](const Source& source) { return source.name == name; });
        if (source == sources_.end())
            return std::nullopt;
        return *source;
    };
    // The default when it is a microphone at all; else the one recorded
    // now while it is there; else any microphone.
    std::optional<Source> found = named(defaultName_);
    if (!found && stream_)
        found = named(stream_->sourceName());
    if (!found && !sources_.empty())
        found = sources_.front();
    looked(found);
}

void PulseDefaultStream::sinkListed(const pa_sink_info* info, int end)
{
    if (end == 0) {
        if (info && info->monitor_source_name)
            found_ = Source {info->monitor_source_name, info->sample_spec};
        return;
    }
    pa_operation_unref(looking_);
    looking_ = nullptr;
    looked(end > 0 ? found_ : std::nullopt);
}

void PulseDefaultStream::looked(std::optional<Source> found)
{
    if (lookAgain_) {
        look();
        return;
    }
    found_ = std::move(found);
    looked_ = true;
    pa_threaded_mainloop_signal(context_.loop(), 0);
    if (following_)
        moveTo(found_);
}

void PulseDefaultStream::moveTo(const std::optional<Source>& found)
{
    if (stream_ && found && stream_->sourceName() == found->name)
        return;
    const QString noDevice = device_ == Device::input ? QStringLiteral("Микрофон отключён")
                                                      : QStringLiteral("Нет устройства вывода звука");
    // Nothing better to go to: the device recorded now, if any, stays.
    if (!found || tries_ >= triesWithoutSound) {
        if (!stream_)
            report(noDevice);
        return;
    }
    auto stream = std::make_unique<PulseRecordStream>(context_, found->name, format_, framesPerBuffer_,
                                                      [this](const PcmBuffer& buffer) { deliver(buffer); });
    PulseRecordStream* opened = stream.get();
    stream->setStoppedHandler([this, opened](int) { ended(opened); });
    try {
        stream->open();
    } catch (const std::runtime_error&) {
        if (!stream_)
            report(noDevice);
        return;
    }
    ++tries_;
    // The stream it replaces stops here.
    stream_ = std::move(stream);
}

void PulseDefaultStream::ended(PulseRecordStream* stream)
{
    if (stream != stream_.get())
        return;
    // Called from inside the stream: it is freed later.
    ended_ = std::move(stream_);
    if (!context_.ready()) {
        lost();
        return;
    }
    look();
}

void PulseDefaultStream::lost()
{
    cancelLook();
    stream_.reset();
    report(QStringLiteral("Нет связи со звуковым сервером"));
}

void PulseDefaultStream::report(const QString& trouble)
{
    if (reported_ == trouble)
        return;
    reported_ = trouble;
    if (trouble_)
        trouble_(trouble);
}

void PulseDefaultStream::cancelLook()
{
    if (looking_) {
        pa_operation_cancel(looking_);
        pa_operation_unref(looking_);
        looking_ = nullptr;
    }
    lookAgain_ = false;
}

void PulseDefaultStream::deliver(const PcmBuffer& buffer)
{
    tries_ = 0;
    if (reported_) {
        reported_.reset();
        if (trouble_)
            trouble_(std::nullopt);
    }
    if (consumer_)
        consumer_(buffer);
}
