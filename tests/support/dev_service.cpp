#include "tests/support/dev_service.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <stdexcept>

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
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(programPath(), QStringList{"--scripted", "--port", "0"} + options);
    if (!process_.waitForStarted(10'000))
        return;
    QByteArray output;
    while (!output.contains('\n') && process_.waitForReadyRead(10'000))
        output += process_.readAllStandardOutput();
    const QUrl url(QString::fromUtf8(output.left(output.indexOf('\n'))).trimmed());
    if (url.scheme() == u"http")
        baseURL_ = url;
}

DevServiceProcess::~DevServiceProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5'000)) {
        process_.kill();
        process_.waitForFinished(5'000);
    }
}

QByteArray DevServiceProcess::call(const QByteArray& method, const QString& path, const QByteArray& body)
{
    QNetworkAccessManager manager;
    QUrl url = baseURL_;
    url.setPath(path);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(10'000);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (reply->error() != QNetworkReply::NoError)
        throw std::runtime_error("stand-in service: " + reply->errorString().toStdString());
    return reply->readAll();
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

void DevServiceProcess::clearScripts()
{
    call("DELETE", "/_devservice/script");
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
