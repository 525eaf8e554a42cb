#include "platform/linux/pulse/pulse_system_audio.h"

#include "core/serial_queue.h"

#include <stdexcept>

PulseSystemAudio::PulseSystemAudio(Consumer consumer, Stopped stopped)
    : consumer_(std::move(consumer))
    , stopped_(std::move(stopped))
    , context_(queueLabel(".system"))
{
}

PulseSystemAudio::~PulseSystemAudio()
{
    stop();
}

std::optional<QString> PulseSystemAudio::start()
{
    if (stream_)
        return std::nullopt;
    if (!context_.connect())
        return QStringLiteral("звуковой сервер недоступен");
    const auto sink = context_.defaultSinkName();
    if (!sink || sink->empty())
        return QStringLiteral("в системе нет устройства вывода звука");
    const std::string monitor = *sink + ".monitor";
    const auto sampleSpec = context_.sourceSpec(monitor);
    if (!sampleSpec || sampleSpec->rate == 0 || sampleSpec->channels == 0)
        return QStringLiteral("у устройства вывода звука нет источника для записи");
    // The monitor's own rate and channels: the track writer converts
    // whatever arrives, and the server then has nothing to resample.
    const AudioFormat format {double(sampleSpec->rate), int(sampleSpec->channels), AudioFormat::SampleType::float32};
    auto stream = std::make_unique<PulseRecordStream>(context_, monitor, format, framesPerBuffer, consumer_);
    // When the output device goes away (headphones unplugged, a sink
    // unloaded) the server would move the stream to its fallback source,
    // which is the microphone: the other participants' track would silently
    // carry the user's own voice. The stream ends instead and says so.
    stream->keepToSource();
    stream->setStoppedHandler([stopped = stopped_](int error) {
        if (stopped)
            stopped(describeStop(error));
    });
    try {
        stream->start();
    } catch (const std::runtime_error& error) {
        return QString::fromStdString(error.what());
    }
    stream_ = std::move(stream);
    return std::nullopt;
}

void PulseSystemAudio::stop()
{
    // The stream clears its callbacks under the loop's lock: none runs after.
    stream_.reset();
}

QString PulseSystemAudio::describeStop(int error)
{
    switch (error) {
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_CONNECTIONREFUSED:
        return QStringLiteral("звуковой сервер завершил работу");
    case PA_ERR_KILLED:
    case PA_ERR_NOENTITY:
        return QStringLiteral("устройство вывода звука отключено");
    default:
        return QStringLiteral("звуковой сервер прервал запись (%1)").arg(QString::fromUtf8(pa_strerror(error)));
    }
}
