#include "recording/recorder_failure.h"

#include "platform/settings_places.h"

QString RecorderFailure::description() const
{
    switch (case_) {
    case Case::writerFailed:
        return QStringLiteral("Не удалось записать файл: ") + message_;
    case Case::microphoneDenied:
        return QStringLiteral("Нет доступа к микрофону. Откройте ")
            + settingsPlace(Workspace::SettingsPane::soundInput).steps() + QStringLiteral(" и включите микрофон.");
    case Case::screenRecordingDenied:
        return QStringLiteral("Нет доступа к записи экрана. Система спрашивает о нём, когда начинается видеозапись: "
                              "чтобы записать экран, начните её заново и разрешите.");
    case Case::noAudioDevice:
        return QStringLiteral("Не нашлось устройства записи.");
    }
    return {};
}

QString RecorderFailure::debugName() const
{
    switch (case_) {
    case Case::writerFailed:
        return QStringLiteral("Recorder.Failure.writerFailed");
    case Case::microphoneDenied:
        return QStringLiteral("Recorder.Failure.microphoneDenied");
    case Case::screenRecordingDenied:
        return QStringLiteral("Recorder.Failure.screenRecordingDenied");
    case Case::noAudioDevice:
        return QStringLiteral("Recorder.Failure.noAudioDevice");
    }
    return {};
}
