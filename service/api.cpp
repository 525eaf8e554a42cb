#include "service/api.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

#include <qcoro/qcoronetworkreply.h>

#include <memory>

using namespace Qt::StringLiterals;

const QString Api::unexpectedAnswer = u"сервер ответил неожиданным образом"_s;

namespace {

// The detail of a transport failure. Qt's own texts are English and name the
// mechanism ("Operation canceled" for a transfer timeout), so every case gets
// words of ours.
QString transportDetail(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return u"сервер не принимает соединения"_s;
    case QNetworkReply::HostNotFoundError:
        return u"сервер не найден"_s;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return u"сервер не ответил вовремя"_s;
    case QNetworkReply::RemoteHostClosedError:
        return u"сервер оборвал соединение"_s;
    case QNetworkReply::SslHandshakeFailedError:
        return u"не удалось установить защищённое соединение"_s;
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return u"сеть недоступна"_s;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return u"не удалось связаться через прокси-сервер"_s;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProtocolFailure:
        return u"сервер ответил не по протоколу"_s;
    default:
        return u"сбой соединения"_s;
    }
}

// Redirects are followed by hand, and only within the origin the request was
// made for: Qt would carry the raw headers (the token among them) and, for
// 307 and 308, the body (a recording, the password) to any host it is sent to.
bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto defaultPort = [](const QUrl& url) { return url.scheme() == u"https" ? 443 : 80; };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

constexpr int maximumRedirects = 10;

// Network-layer and proxy errors: the answer, if any started, is incomplete.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

template <typename R>
R decodeOrReject(const QByteArray& body)
{
    std::optional<R> record = decodeAnswer<R>(body);
    if (!record)
        throw Api::Failure::rejected(Api::unexpectedAnswer);
    return std::move(*record);
}

} // namespace

QString Api::Failure::description() const
{
    switch (kind_) {
    case Kind::planLimit:
    case Kind::rejected:
        return payload_;
    case Kind::network:
        return u"Нет связи с сервером: "_s + payload_;
    case Kind::badCredentials:
        return u"Не подошли почта или пароль."_s;
    }
    return payload_;
}

QString Api::Failure::debugName() const
{
    switch (kind_) {
    case Kind::planLimit:
        return u"Api.Failure.planLimit"_s;
    case Kind::rejected:
        return u"Api.Failure.rejected"_s;
    case Kind::network:
        return u"Api.Failure.network"_s;
    case Kind::badCredentials:
        return u"Api.Failure.badCredentials"_s;
    }
    return u"Api.Failure"_s;
}

QString Api::ReadError::description() const
{
    return u"Не удалось прочитать запись "_s + QFileInfo(path_).fileName() + u": "_s + reason_;
}

QString Api::version()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? u"0"_s : version;
}

QNetworkRequest Api::authorizedRequest(const QString& path, const QByteArray& method) const
{
    QUrl url = baseURL_;
    QString base = url.path(QUrl::FullyEncoded);
    if (!base.endsWith(u'/'))
        base += u'/';
    // Both parts are set as they are written: the base's own escapes stay
    // escapes rather than being escaped once more.
    url.setPath(base + u"api/v1/"_s + path, QUrl::TolerantMode);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CustomVerbAttribute, method);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("X-App-Version", version().toUtf8());
    request.setRawHeader("X-App-Platform", "macos");
    request.setRawHeader("X-Device-Model", QSysInfo::prettyProductName().toUtf8());
    if (token_)
        request.setRawHeader("Authorization", "Bearer " + token_->toUtf8());
    return request;
}

QCoro::Task<QByteArray> Api::perform(QNetworkRequest request, std::optional<QByteArray> body) const
{
    request.setTransferTimeout(int(transferTimeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QByteArray method = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
    const QUrl origin = request.url();

    // A manager per call keeps Api free of shared state; the calls are
    // seconds apart, so the lost connection reuse costs nothing noticeable.
    QNetworkAccessManager manager;
    // The whole call, redirects included, ends by this deadline, so a server
    // that trickles bytes under the inactivity timeout cannot hold it for ever.
    // A body adds a second for every 16 KiB, a slow uplink's pace.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(callDeadline + std::chrono::seconds(body ? body->size() / 16384 : 0));
    for (int redirects = 0;; ++redirects) {
        bool oversized = false;
        std::unique_ptr<QNetworkReply> reply(body ? manager.sendCustomRequest(request, method, *body)
                                                  : manager.sendCustomRequest(request, method));
        QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
                         [&oversized, raw = reply.get()](qint64 received, qint64 total) {
                             if (received > maximumAnswerSize || total > maximumAnswerSize) {
                                 oversized = true;
                                 raw->abort();
                             }
                         });
        QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
        if (!reply->isFinished())
            co_await reply.get();

        if (oversized)
            throw Failure::rejected(unexpectedAnswer);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (isTransportError(reply->error()) || !status.isValid())
            throw Failure::network(status.isValid() || reply->error() != QNetworkReply::NoError
                                       ? transportDetail(reply->error())
                                       : u"непонятный ответ"_s);
        const int code = status.toInt();
        const QByteArray answer = reply->readAll();
        const QUrl target = QUrl::fromEncoded(reply->rawHeader("Location"), QUrl::StrictMode);
        const QUrl location = reply->url().resolved(target);
        const bool redirect = code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
        if (redirect && target.isValid() && sameOrigin(origin, location) && redirects < maximumRedirects) {
            request.setUrl(location);
            // As browsers do: 303, and 301 or 302 after a POST, fetch the new place with GET.
            if (code == 303 || ((code == 301 || code == 302) && method == "POST")) {
                method = "GET";
                body.reset();
                request.setAttribute(QNetworkRequest::CustomVerbAttribute, method);
                request.setHeader(QNetworkRequest::ContentTypeHeader, QVariant());
            }
            continue;
        }
        if (code >= 200 && code <= 299)
            co_return answer;
        if (code == 429)
            throw Failure::planLimit(message(answer).value_or(u"Закончился месячный лимит расшифровки."_s));
        if (code == 401)
            throw Failure::badCredentials();
        throw Failure::rejected(message(answer).value_or(u"Сервер отказал ("_s + QString::number(code) + u")."_s),
                                code);
    }
}

QCoro::Task<QString> Api::signIn(QString email, QString password) const
{
    const Api self = *this;
    QNetworkRequest request = self.authorizedRequest(u"login"_s, "POST");
    request.setRawHeader("Content-Type", "application/json");
    const QJsonObject body{{u"email"_s, email}, {u"password"_s, password}, {u"device"_s, u"mac"_s}};
    const QByteArray answer = co_await self.perform(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    const std::optional<SignInAnswer> decoded = decodeAnswer<SignInAnswer>(answer);
    if (!decoded)
        throw Failure::badCredentials();
    co_return decoded->token;
}

QCoro::Task<std::optional<Api::Limits>> Api::speechLimit() const
{
    const Api self = *this;
    const QByteArray answer = co_await self.perform(self.authorizedRequest(u"subscription"_s, "GET"));
    const std::optional<LimitAnswer> decoded = decodeAnswer<LimitAnswer>(answer);
    if (!decoded || !decoded->limits)
        co_return std::nullopt;
    const auto speech = decoded->limits->find(u"speech"_s);
    if (speech == decoded->limits->end())
        co_return std::nullopt;
    co_return speech->second;
}

QCoro::Task<Api::Recording> Api::upload(QString file) const
{
    const Api self = *this;
    const QByteArray boundary = newBoundary();
    // The track is read straight into the body, built before the request so
    // that a failed read sends nothing; a meeting's track is held once.
    QFile track(file);
    if (!track.open(QIODevice::ReadOnly))
        throw ReadError(file, track.errorString());
    const QByteArray head = multipartHead(boundary, QFileInfo(file).fileName(), "audio/mp4");
    const QByteArray tail = multipartTail(boundary);
    const qint64 size = track.size();
    QByteArray body;
    body.reserve(head.size() + size + tail.size());
    body.append(head);
    body.resize(head.size() + size);
    if (track.read(body.data() + head.size(), size) != size || !track.atEnd())
        throw ReadError(file, track.error() != QFileDevice::NoError ? track.errorString()
                                                                     : u"файл изменился во время чтения"_s);
    track.close();
    body.append(tail);
    const QByteArray answer = co_await self.perform(self.multipartRequest(u"rasshifrovka"_s, boundary), std::move(body));
    co_return decodeOrReject<Envelope<Recording>>(answer).data;
}

QCoro::Task<Api::Recording> Api::recording(qint64 id) const
{
    const Api self = *this;
    const QByteArray answer =
        co_await self.perform(self.authorizedRequest(u"rasshifrovka/"_s + QString::number(id), "GET"));
    co_return decodeOrReject<Envelope<Recording>>(answer).data;
}

QCoro::Task<Api::SharedShot> Api::shareShot(QByteArray png) const
{
    const Api self = *this;
    const QByteArray boundary = newBoundary();
    const QByteArray answer = co_await self.perform(self.multipartRequest(u"snimki"_s, boundary),
                                                    multipartBody(boundary, u"shot.png"_s, "image/png", png));
    co_return decodeOrReject<Envelope<SharedShot>>(answer).data;
}

QCoro::Task<Api::VersionCheck> Api::checkVersion() const
{
    const Api self = *this;
    const QByteArray answer = co_await self.perform(self.authorizedRequest(u"versions/check"_s, "GET"));
    co_return decodeOrReject<VersionCheck>(answer);
}

QByteArray Api::newBoundary()
{
    return "Boundary-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
}

QByteArray Api::multipartHead(const QByteArray& boundary, const QString& fileName, const QByteArray& contentType)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName.toUtf8() +
           "\"\r\nContent-Type: " + contentType + "\r\n\r\n";
}

QByteArray Api::multipartTail(const QByteArray& boundary)
{
    return "\r\n--" + boundary + "--\r\n";
}

QByteArray Api::multipartBody(const QByteArray& boundary, const QString& fileName, const QByteArray& contentType,
                              const QByteArray& content)
{
    return multipartHead(boundary, fileName, contentType) + content + multipartTail(boundary);
}

QNetworkRequest Api::multipartRequest(const QString& path, const QByteArray& boundary) const
{
    QNetworkRequest request = authorizedRequest(path, "POST");
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    return request;
}
