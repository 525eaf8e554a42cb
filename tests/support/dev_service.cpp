#include "tests/support/dev_service.h"

#include "tests/support/spawned_child.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <stdexcept>
#include <thread>

namespace {

QString programPath()
{
    const QByteArray overridden = qgetenv("KORVALA_DEVSERVICE");
    return overridden.isEmpty() ? QStringLiteral(KORVALA_DEVSERVICE) : QString::fromLocal8Bit(overridden);
}

} // namespace

std::optional<QByteArray> DevServiceProcess::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

DevServiceProcess::DevServiceProcess(const QStringList& options)
    // Not QProcess: its vfork-like start is invisible to ThreadSanitizer,
    // which then loses track of this process's locks.
    : process_(std::make_unique<SpawnedChild>(programPath(), QStringList {"--scripted", "--port", "0"} + options))
{
    if (!process_->started())
        return;
    QByteArray output;
    const QDeadlineTimer deadline(10'000);
    while (!output.contains('\n') && !deadline.hasExpired()) {
        const QByteArray read = process_->readOutput();
        if (read.isEmpty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        output += read;
    }
    const QUrl url(QString::fromUtf8(output.left(output.indexOf('\n'))).trimmed());
    if (url.scheme() == u"http")
        baseURL_ = url;
}

DevServiceProcess::~DevServiceProcess()
{
    stop();
}

void DevServiceProcess::stop()
{
    process_->terminate(5'000);
}

QByteArray DevServiceProcess::call(const QByteArray& method, const QString& path, const QByteArray& body,
                                   const QByteArray& contentType)
{
    QNetworkAccessManager manager;
    QUrl url = baseURL_;
    url.setPath(path);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(10'000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!cookie_.isEmpty())
        request.setRawHeader("Cookie", cookie_);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (reply->error() != QNetworkReply::NoError)
        throw std::runtime_error("stand-in service: " + reply->errorString().toStdString());
    if (reply->hasRawHeader("Set-Cookie"))
        cookie_ = reply->rawHeader("Set-Cookie").split(';').front();
    return reply->readAll();
}

bool DevServiceProcess::signInBrowser(const QByteArray& email, const QByteArray& password)
{
    try {
        call("POST", "/login", "email=" + email.toPercentEncoding() + "&password=" + password.toPercentEncoding(),
             "application/x-www-form-urlencoded");
    } catch (const std::runtime_error&) {
        return false;
    }
    return !cookie_.isEmpty();
}

void DevServiceProcess::script(const QByteArray& method, const QString& path, const std::vector<Answer>& answers)
{
    QJsonArray list;
    for (const Answer& answer : answers) {
        list.append(QJsonObject{{"status", answer.status},
                                {"body", QString::fromUtf8(answer.body)},
                                {"content_type", QString::fromUtf8(answer.contentType)},
                                {"delay_ms", qint64(answer.delay.count())},
                                {"location", QString::fromUtf8(answer.location)}});
    }
    const QJsonObject script{{"method", QString::fromUtf8(method)}, {"path", path}, {"responses", list}};
    call("POST", "/_devservice/script", QJsonDocument(script).toJson(QJsonDocument::Compact));
}

std::vector<DevServiceProcess::Request> DevServiceProcess::requests()
{
    std::vector<Request> result;
    for (const QJsonValue& item : QJsonDocument::fromJson(call("GET", "/_devservice/requests")).array()) {
        const QJsonObject object = item.toObject();
        Request request;
        request.method = object.value("method").toString().toUtf8();
        request.path = object.value("path").toString();
        for (const QJsonValue& header : object.value("headers").toArray()) {
            const QJsonArray pair = header.toArray();
            request.headers.append({pair.at(0).toString().toUtf8(), pair.at(1).toString().toUtf8()});
        }
        request.body = QByteArray::fromBase64(object.value("body").toString().toLatin1());
        result.push_back(std::move(request));
    }
    return result;
}

void DevServiceProcess::clearRequests()
{
    call("DELETE", "/_devservice/requests");
}

QString DevServiceProcess::demoToken()
{
    const QByteArray answer =
        call("POST", "/api/v1/login", R"({"email":"demo@korvala.local","password":"demo","device":"mac"})");
    return QJsonDocument::fromJson(answer).object().value("token").toString();
}
