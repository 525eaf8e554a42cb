#include "capture/capture_target.h"

namespace {

const QString displayPrefix = QStringLiteral("display-");
const QString windowPrefix = QStringLiteral("window-");
const QString applicationPrefix = QStringLiteral("application-");
const QString audioName = QStringLiteral("audio");
const QString desktopChoiceName = QStringLiteral("desktop-choice");

// Plain decimal digits only: QString::toUInt would also take "+7" and " 7".
std::optional<uint32_t> parseNumber(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

} // namespace

QString CaptureTarget::toString() const
{
    switch (kind_) {
    case Kind::Display:
        return displayPrefix + QString::number(id_);
    case Kind::Window:
        return windowPrefix + QString::number(id_);
    case Kind::Application:
        return applicationPrefix + bundleID_;
    case Kind::AudioOnly:
        return audioName;
    case Kind::DesktopChoice:
        return desktopChoiceName;
    }
    return {};
}

std::optional<CaptureTarget> CaptureTarget::fromString(const QString& text)
{
    if (text.startsWith(displayPrefix)) {
        if (auto id = parseNumber(QStringView(text).mid(displayPrefix.size())))
            return display(*id);
        return std::nullopt;
    }
    if (text.startsWith(windowPrefix)) {
        if (auto id = parseNumber(QStringView(text).mid(windowPrefix.size())))
            return window(*id);
        return std::nullopt;
    }
    if (text.startsWith(applicationPrefix)) {
        const QString bundle = text.mid(applicationPrefix.size());
        if (bundle.isEmpty())
            return std::nullopt;
        return application(bundle);
    }
    if (text == audioName)
        return audioOnly();
    if (text == desktopChoiceName)
        return desktopChoice();
    return std::nullopt;
}
