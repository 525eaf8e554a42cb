#include "service/json_fields.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

qint64 JsonDecoder<qint64>::decode(const QJsonValue& value)
{
    if (!value.isDouble())
        throw JsonFields::Mismatch{};
    // Qt keeps integer literals that fit 64 bits exactly; everything else is a
    // double, and only an integral one inside the range is still an integer.
    // toInteger() answers its default for "does not fit", so ask it twice.
    const qint64 first = value.toInteger(0);
    if (first != 0 || value.toInteger(1) == 0)
        return first;
    throw JsonFields::Mismatch{};
}

JsonFields JsonFields::parse(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw Mismatch{};
    return JsonFields(document.object());
}

QJsonValue JsonFields::member(QLatin1StringView key) const
{
    for (const auto& [converted, original] : renamed_) {
        if (converted == key)
            return object_.value(original);
    }
    return object_.value(key);
}

JsonFields JsonFields::camelCased() const
{
    JsonFields converted(object_);
    for (auto it = object_.begin(); it != object_.end(); ++it) {
        const QString key = it.key();
        if (!key.contains(u'_'))
            continue;
        QString name;
        name.reserve(key.size());
        bool upper = false;
        for (const QChar c : key) {
            if (c == u'_') {
                upper = true;
                continue;
            }
            name.append(upper ? c.toUpper() : c);
            upper = false;
        }
        converted.renamed_.emplace_back(std::move(name), key);
    }
    return converted;
}
