#include "platform/settings_places.h"

namespace {

enum class Desktop { gnome, kde, other };

using Pane = Workspace::SettingsPane;

Desktop desktopOf(const QString& currentDesktop)
{
    const QStringList names = currentDesktop.split(':', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name.compare("GNOME", Qt::CaseInsensitive) == 0 || name.compare("Unity", Qt::CaseInsensitive) == 0)
            return Desktop::gnome;
        if (name.compare("KDE", Qt::CaseInsensitive) == 0)
            return Desktop::kde;
    }
    return Desktop::other;
}

struct Row {
    Desktop desktop;
    Pane pane;
    QStringList path;
    std::vector<SettingsCommand> commands;
};

// pavucontrol's third tab lists the output devices, its fourth the input
// devices, each with its volume; it serves any desktop that speaks PulseAudio.
const SettingsCommand mixerOutputs{"pavucontrol", {"--tab=3"}};
const SettingsCommand mixerInputs{"pavucontrol", {"--tab=4"}};

// The names are those the settings programs show in Russian.
const Row rows[] = {
    {Desktop::gnome, Pane::soundInput, {"Звук", "Вход"}, {{"gnome-control-center", {"sound"}}, mixerInputs}},
    {Desktop::gnome, Pane::soundOutput, {"Звук", "Выход"}, {{"gnome-control-center", {"sound"}}, mixerOutputs}},
    {Desktop::gnome, Pane::privacyScreenCapture, {"Конфиденциальность"}, {{"gnome-control-center", {"privacy"}}}},
    {Desktop::kde, Pane::soundInput, {"Звук", "Устройства записи"}, {{"systemsettings", {"kcm_pulseaudio"}}, mixerInputs}},
    {Desktop::kde, Pane::soundOutput, {"Звук", "Устройства воспроизведения"},
     {{"systemsettings", {"kcm_pulseaudio"}}, mixerOutputs}},
    // Plasma has no screen-capture permission page of its own; its
    // settings open at the start.
    {Desktop::kde, Pane::privacyScreenCapture, {}, {{"systemsettings", {}}}},
    {Desktop::other, Pane::soundInput, {"Регулятор громкости", "Устройства ввода"}, {mixerInputs}},
    {Desktop::other, Pane::soundOutput, {"Регулятор громкости", "Устройства вывода"}, {mixerOutputs}},
    {Desktop::other, Pane::privacyScreenCapture, {}, {}},
};

QString byHand(Desktop desktop, Pane pane, const QString& steps)
{
    // On Wayland the desktop asks for the screen when a recording starts;
    // on X11 nothing needs granting.
    if (pane == Pane::privacyScreenCapture)
        return QStringLiteral("Доступ к экрану система спрашивает, когда начинается запись: начните её заново и "
                              "разрешите.");
    if (desktop != Desktop::other)
        return QStringLiteral("Откройте настройки системы сами: ") + steps + QStringLiteral(".");
    const QString what = pane == Pane::soundInput ? QStringLiteral("настройки микрофона")
                                                  : QStringLiteral("устройство, на которое выводится звук");
    return QStringLiteral("Korvala не знает программу настроек этого рабочего стола. Найдите в ней ") + what
        + QStringLiteral(" или установите pavucontrol: там это ") + steps + QStringLiteral(".");
}

} // namespace

QString SettingsPlace::steps() const
{
    QStringList quoted;
    for (const QString& name : path)
        quoted.append(QStringLiteral("«") + name + QStringLiteral("»"));
    return quoted.join(QStringLiteral(" → "));
}

QString SettingsPlace::section() const
{
    return QStringLiteral("«") + path.join(QStringLiteral(" → ")) + QStringLiteral("»");
}

SettingsPlace settingsPlace(Workspace::SettingsPane pane, const QString& currentDesktop)
{
    const Desktop desktop = desktopOf(currentDesktop);
    SettingsPlace place;
    for (const Row& row : rows) {
        if (row.desktop == desktop && row.pane == pane) {
            place.path = row.path;
            place.commands = row.commands;
        }
    }
    place.byHand = byHand(desktop, pane, place.steps());
    return place;
}

SettingsPlace settingsPlace(Workspace::SettingsPane pane)
{
    return settingsPlace(pane, qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}
