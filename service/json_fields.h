#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <QtGlobal>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// The one strict decoding layer of the service's answers. A record lists its
// members through JsonFields; the type rules live here and nowhere else:
//   - a required member that is absent, null or of another JSON type fails;
//   - an optional member that is absent or null is none, of another type fails;
//   - integers are integral JSON numbers that fit a signed 64-bit integer;
//   - strings are JSON strings, never numbers (and the reverse);
//   - members nobody asks for are ignored.
// A failure is thrown as JsonFields::Mismatch and turned into the endpoint's
// own error by the caller; its detail is never shown.
class JsonFields {
public:
    struct Mismatch {};

    explicit JsonFields(QJsonObject object) : object_(std::move(object)) {}

    template <typename T>
    T required(QLatin1StringView key) const
    {
        const QJsonValue value = member(key);
        if (value.isUndefined() || value.isNull())
            throw Mismatch{};
        return decode<T>(value);
    }

    template <typename T>
    std::optional<T> optional(QLatin1StringView key) const
    {
        const QJsonValue value = member(key);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return decode<T>(value);
    }

    // Every member of an object decoded as T; one bad member fails them all.
    template <typename T>
    static std::map<QString, T> decodeMap(const QJsonValue& value)
    {
        std::map<QString, T> result;
        const QJsonObject object = objectOf(value);
        for (auto it = object.begin(); it != object.end(); ++it)
            result.emplace(it.key(), decode<T>(it.value()));
        return result;
    }

    template <typename T>
    static T decode(const QJsonValue& value);

    static QJsonObject objectOf(const QJsonValue& value)
    {
        if (!value.isObject())
            throw Mismatch{};
        return value.toObject();
    }

    // The whole answer must be one JSON object.
    static JsonFields parse(const QByteArray& bytes);

    // Member names turned from snake_case into camelCase: each underscore is
    // dropped and the letter after it upper-cased; camelCase names pass as they are.
    JsonFields camelCased() const;

private:
    QJsonValue member(QLatin1StringView key) const;

    QJsonObject object_;
    // After camelCased(): the converted name and the member's own name, for
    // the members whose names change. Cheaper than building a new object.
    std::vector<std::pair<QString, QString>> renamed_;
};

// A record type R is decodable when it has `static R decode(const JsonFields&)`.
template <typename T>
struct JsonDecoder {
    static T decode(const QJsonValue& value) { return T::decode(JsonFields(JsonFields::objectOf(value))); }
};

template <>
struct JsonDecoder<QString> {
    static QString decode(const QJsonValue& value)
    {
        if (!value.isString())
            throw JsonFields::Mismatch{};
        return value.toString();
    }
};

template <>
struct JsonDecoder<qint64> {
    static qint64 decode(const QJsonValue& value);
};

template <typename T>
struct JsonDecoder<std::vector<T>> {
    static std::vector<T> decode(const QJsonValue& value)
    {
        if (!value.isArray())
            throw JsonFields::Mismatch{};
        const QJsonArray array = value.toArray();
        std::vector<T> result;
        result.reserve(array.size());
        for (const QJsonValue& item : array)
            result.push_back(JsonDecoder<T>::decode(item));
        return result;
    }
};

template <typename T>
struct JsonDecoder<std::map<QString, T>> {
    static std::map<QString, T> decode(const QJsonValue& value) { return JsonFields::decodeMap<T>(value); }
};

template <typename T>
T JsonFields::decode(const QJsonValue& value)
{
    return JsonDecoder<T>::decode(value);
}

// Decodes a whole answer as R, or none when it does not fit.
template <typename R>
std::optional<R> decodeAnswer(const QByteArray& bytes)
{
    try {
        return R::decode(JsonFields::parse(bytes));
    } catch (const JsonFields::Mismatch&) {
        return std::nullopt;
    }
}
