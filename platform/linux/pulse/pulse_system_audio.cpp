#include "platform/linux/pulse/pulse_system_audio.h"

#include "core/serial_queue.h"

#include <stdexcept>

PulseSystemAudio::PulseSystemAudio(Consumer consumer, Trouble trouble)
    : context_(queueLabel(".system"))
    , stream_(context_, PulseDefaultStream::Device::outputMonitor, std::move(consumer), std::move(trouble))
{
}

PulseSystemAudio::~PulseSystemAudio()
{
    stop();
}

std::optional<QString> PulseSystemAudio::start()
{
    if (!context_.connect())
        return QStringLiteral("звуковой сервер недоступен");
    const auto monitor = stream_.current();
    if (!monitor)
        return QStringLiteral("в системе нет устройства вывода звука");
    if (monitor->sampleSpec.rate == 0 || monitor->sampleSpec.channels == 0)
        return QStringLiteral("у устройства вывода звука нет источника для записи");
    // The first monitor's own rate and channels: the server then has nothing
    // to resample, and converts for a device the recording moves to later.
    const AudioFormat format {double(monitor->sampleSpec.rate), int(monitor->sampleSpec.channels),
                              AudioFormat::SampleType::float32};
    try {
        stream_.start(monitor->name, format, framesPerBuffer);
    } catch (const std::runtime_error& error) {
        return QString::fromStdString(error.what());
    }
    return std::nullopt;
}

void PulseSystemAudio::stop()
{
    stream_.stop();
}
