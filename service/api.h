#pragma once

#include "core/described_error.h"
#include "service/json_fields.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>
#include <vector>

// The client of the transcription service: a small value (base URL and the
// token, when signed in). Every call builds one request under "api/v1/",
// sends it once, and hands back a decoded record or throws one Api::Failure.
// No retries, no cache, no shared state: flows build a fresh Api from the
// store right before each call (Api::from(store)), so concurrent calls need
// no locking. Each call copies the Api into its coroutine, so the value it
// was started from may go away while the call runs.
class Api {
public:
    class Failure : public DescribedError {
    public:
        enum class Kind { planLimit, rejected, network, badCredentials };

        static Failure planLimit(QString message) { return {Kind::planLimit, std::move(message)}; }
        // `status` is the HTTP status of the refusal, 0 when the answer itself was at fault.
        static Failure rejected(QString message, int status = 0) { return {Kind::rejected, std::move(message), status}; }
        static Failure network(QString detail) { return {Kind::network, std::move(detail)}; }
        static Failure badCredentials() { return {Kind::badCredentials, {}}; }

        Kind kind() const { return kind_; }
        // The message of planLimit and rejected, the detail of network.
        const QString& payload() const { return payload_; }
        // The HTTP status of a refusal; 0 for the other kinds.
        int status() const { return status_; }

        QString description() const override;
        QString debugName() const override;

    private:
        Failure(Kind kind, QString payload, int status = 0)
            : kind_(kind), payload_(std::move(payload)), status_(status)
        {
        }
        Kind kind_;
        QString payload_;
        int status_;
    };

    // Reading the track to upload failed; nothing was sent.
    class ReadError : public DescribedError {
    public:
        ReadError(QString path, QString reason) : path_(std::move(path)), reason_(std::move(reason)) {}
        QString description() const override;
        QString debugName() const override { return QStringLiteral("Api.ReadError"); }
        const QString& path() const { return path_; }

    private:
        QString path_;
        QString reason_;
    };

    struct Minutes {
        struct Task {
            QString what;
            QString who;
            QString when;
            static Task decode(const JsonFields& f);
        };
        QString summary;
        std::vector<QString> decisions;
        std::vector<Task> tasks;
        std::vector<QString> questions;
        static Minutes decode(const JsonFields& f);
    };

    // One transcription job. Its status "ready" and "failed" are final.
    struct Recording {
        qint64 id = 0;
        QString status;
        std::optional<QString> transcript;
        std::optional<QString> failure;
        std::optional<Minutes> minutes;
        std::optional<qint64> durationSec;
        static Recording decode(const JsonFields& f);

        bool isFinal() const { return status == u"ready" || status == u"failed"; }
    };

    struct Limits {
        qint64 used = 0;
        qint64 limit = 0;
        qint64 left = 0;
        static Limits decode(const JsonFields& f);
    };

    struct SharedShot {
        QString link;
        QString image;
        QString days;
        static SharedShot decode(const JsonFields& f);
    };

    struct VersionCheck {
        QString status;
        std::optional<QString> updateUrl;
        std::optional<QString> title;
        std::optional<QString> message;
        std::optional<qint64> remindAfterDays;
        // Member names arrive in snake_case or camelCase alike.
        static VersionCheck decode(const JsonFields& f);
    };

    // The answers as the service sends them, around the records above.
    template <typename R>
    struct Envelope {
        R data;
        static Envelope decode(const JsonFields& f) { return {f.required<R>(QLatin1StringView("data"))}; }
    };
    struct SignInAnswer {
        QString token;
        static SignInAnswer decode(const JsonFields& f);
    };
    struct LimitAnswer {
        std::optional<std::map<QString, Limits>> limits;
        static LimitAnswer decode(const JsonFields& f);
    };

    static constexpr std::chrono::milliseconds defaultTransferTimeout{300'000};
    static constexpr std::chrono::milliseconds defaultCallDeadline{600'000};
    // Every answer is a small JSON document; a larger one is not the service's.
    static constexpr qint64 maximumAnswerSize = 1 << 20;
    // The text of rejected when a success answer does not decode.
    static const QString unexpectedAnswer;

    Api(QUrl baseURL, std::optional<QString> token) : baseURL_(std::move(baseURL)), token_(std::move(token)) {}
    // From the Store's base URL and token. A template so that the client
    // itself, and the answer fuzzer with it, builds without the settings.
    template <typename Settings>
    static Api from(const Settings& store)
    {
        return Api(store.baseURL(), store.token());
    }

    const QUrl& baseURL() const { return baseURL_; }
    const std::optional<QString>& token() const { return token_; }

    // Tests shorten it; the service calls keep the default.
    std::chrono::milliseconds transferTimeout = defaultTransferTimeout;
    // The longest a call may take however steadily bytes arrive.
    std::chrono::milliseconds callDeadline = defaultCallDeadline;

    // The application's version, "0" when it has none.
    static QString version();

    // The request for `path` under "api/v1/" (its slashes stay separators),
    // with the common headers in their order.
    QNetworkRequest authorizedRequest(const QString& path, const QByteArray& method) const;
    // Sends once and returns the body of a 2xx answer; throws Failure otherwise.
    // A redirect is followed only within the request's own origin; one
    // elsewhere is an answer of its status, and nothing goes to the other host.
    QCoro::Task<QByteArray> perform(QNetworkRequest request, std::optional<QByteArray> body = std::nullopt) const;
    // The string "message" of an error body, or none.
    static std::optional<QString> message(const QByteArray& body);

    QCoro::Task<QString> signIn(QString email, QString password) const;
    // None when the answer carries no "speech" allowance or does not decode.
    QCoro::Task<std::optional<Limits>> speechLimit() const;
    QCoro::Task<Recording> upload(QString file) const;
    QCoro::Task<Recording> recording(qint64 id) const;
    QCoro::Task<SharedShot> shareShot(QByteArray png) const;
    QCoro::Task<VersionCheck> checkVersion() const;

    // The one-part form bodies: "Boundary-" and an upper-case UUID, then the
    // part named "file" between its head and tail.
    static QByteArray newBoundary();
    static QByteArray multipartBody(const QByteArray& boundary, const QString& fileName,
                                    const QByteArray& contentType, const QByteArray& content);

private:
    static QByteArray multipartHead(const QByteArray& boundary, const QString& fileName, const QByteArray& contentType);
    static QByteArray multipartTail(const QByteArray& boundary);

    QNetworkRequest multipartRequest(const QString& path, const QByteArray& boundary) const;

    QUrl baseURL_;
    std::optional<QString> token_;
};
