#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// Runs tools/devservice in scripted mode on a free port of 127.0.0.1 for one
// test, and talks to its control endpoints: script an endpoint's answers,
// read back every request it received. The calls block, running the event
// loop while they wait.
class DevServiceProcess {
public:
    struct Request {
        QByteArray method;
        QString path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        // The value of a header (names compare case-insensitively), or none.
        std::optional<QByteArray> header(const QByteArray& name) const;
    };

    struct Answer {
        int status = 200;
        QByteArray body = {};
        QByteArray contentType = "application/json";
        std::chrono::milliseconds delay{0};
        // Sent as the Location header, for redirects.
        QByteArray location = {};
    };

    // Starts the stand-in with extra options (for example "--update", "required").
    explicit DevServiceProcess(const QStringList& options = {});
    ~DevServiceProcess();

    bool started() const { return baseURL_.isValid(); }
    // Ends the stand-in: its address then refuses connections.
    void stop();
    QUrl baseURL() const { return baseURL_; }

    // Replaces the answers of METHOD path ("/api/v1/subscription"), one per
    // request, the last one repeating.
    void script(const QByteArray& method, const QString& path, const std::vector<Answer>& answers);
    void script(const QByteArray& method, const QString& path, int status, const QByteArray& body = {})
    {
        script(method, path, {Answer{.status = status, .body = body}});
    }

    std::vector<Request> requests();
    void clearRequests();

    // Signs in with the demo account and returns its token.
    QString demoToken();

    // Any request to the stand-in, such as a site page, with the site's
    // cookie once signInBrowser() got one; throws unless it answers 2xx.
    QByteArray call(const QByteArray& method, const QString& path, const QByteArray& body = {},
                    const QByteArray& contentType = "application/json");
    // Signs in on the site's form as a browser would; true when a cookie came back.
    bool signInBrowser(const QByteArray& email = "demo@korvala.local", const QByteArray& password = "demo");

private:
    std::unique_ptr<class SpawnedChild> process_;
    QUrl baseURL_;
    QByteArray cookie_;
};
