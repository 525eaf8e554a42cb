#include "service/api.h"

// The answers' decoding, kept apart from the transport so that the fuzz
// target builds it without the network stack.

using namespace Qt::StringLiterals;

Api::Minutes::Task Api::Minutes::Task::decode(const JsonFields& f)
{
    return {f.required<QString>("what"_L1), f.required<QString>("who"_L1), f.required<QString>("when"_L1)};
}

Api::Minutes Api::Minutes::decode(const JsonFields& f)
{
    return {f.required<QString>("summary"_L1), f.required<std::vector<QString>>("decisions"_L1),
            f.required<std::vector<Task>>("tasks"_L1), f.required<std::vector<QString>>("questions"_L1)};
}

Api::Recording Api::Recording::decode(const JsonFields& f)
{
    Recording r;
    r.id = f.required<qint64>("id"_L1);
    r.status = f.required<QString>("status"_L1);
    r.transcript = f.optional<QString>("transcript"_L1);
    r.failure = f.optional<QString>("failure"_L1);
    r.minutes = f.optional<Minutes>("minutes"_L1);
    r.durationSec = f.optional<qint64>("duration_sec"_L1);
    return r;
}

Api::Limits Api::Limits::decode(const JsonFields& f)
{
    return {f.required<qint64>("used"_L1), f.required<qint64>("limit"_L1), f.required<qint64>("left"_L1)};
}

Api::SharedShot Api::SharedShot::decode(const JsonFields& f)
{
    return {f.required<QString>("link"_L1), f.required<QString>("image"_L1), f.required<QString>("days"_L1)};
}

Api::VersionCheck Api::VersionCheck::decode(const JsonFields& raw)
{
    const JsonFields f = raw.camelCased();
    return {f.required<QString>("status"_L1), f.optional<QString>("updateUrl"_L1), f.optional<QString>("title"_L1),
            f.optional<QString>("message"_L1), f.optional<qint64>("remindAfterDays"_L1)};
}

Api::SignInAnswer Api::SignInAnswer::decode(const JsonFields& f)
{
    return {f.required<QString>("token"_L1)};
}

Api::LimitAnswer Api::LimitAnswer::decode(const JsonFields& f)
{
    return {f.optional<std::map<QString, Limits>>("limits"_L1)};
}

std::optional<QString> Api::message(const QByteArray& body)
{
    struct ErrorBody {
        std::optional<QString> message;
        static ErrorBody decode(const JsonFields& f) { return {f.optional<QString>("message"_L1)}; }
    };
    const std::optional<ErrorBody> decoded = decodeAnswer<ErrorBody>(body);
    return decoded ? decoded->message : std::nullopt;
}

