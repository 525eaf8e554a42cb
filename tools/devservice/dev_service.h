#pragma once

#include <QByteArray>
#include <QString>

#include <httplib.h>

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A stand-in for the transcription service on 127.0.0.1: the six endpoints
// under /api/v1/ with a demo account, a monthly limit, transcription jobs
// that finish after a few polls and shared screenshots, plus the site pages
// the client opens (its transcripts only after signing in there with the
// demo account). It answers only requests addressed to 127.0.0.1, localhost
// or [::1] with its port. In scripted mode a test may replace any endpoint's
// answer and read back every request the service received.
class DevService {
public:
    struct Options {
        std::string email = "demo@korvala.local";
        std::string password = "demo";
        // What the version check answers: "ok", "optional" or "required".
        std::string update = "ok";
        int pollsUntilReady = 3;
        long long monthlyHours = 10;
        bool scripted = false;
    };

    explicit DevService(Options options);

    // Binds 127.0.0.1 on `port` (0: any free one) and returns the port, or -1.
    int bind(int port);
    // Serves until stop(); returns false when the server could not run.
    bool serve();
    void stop() { server_.stop(); }

private:
    struct Answer {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
        std::string location;
        std::chrono::milliseconds delay{0};
    };
    struct Job {
        long long id = 0;
        std::string owner;
        std::string fileName;
        std::string audio;
        long long seconds = 0;
        int polls = 0;
        bool broken = false;
    };
    struct Shot {
        std::string id;
        std::string png;
    };

    void handle(const httplib::Request& request, httplib::Response& response, const std::string& body);
    bool control(const httplib::Request& request, httplib::Response& response, const std::string& body);
    void record(const httplib::Request& request, const std::string& body);
    std::optional<Answer> scripted(const httplib::Request& request);

    void api(const httplib::Request& request, httplib::Response& response, const std::string& path,
             const std::string& body);
    void site(const httplib::Request& request, httplib::Response& response, const std::string& body);
    bool browserSignIn(const httplib::Request& request, httplib::Response& response, const std::string& body);
    bool browserSignedIn(const httplib::Request& request) const;
    bool hostIsOurs(const std::string& host) const;

    // The signed-in account of the request, or none after answering 401.
    std::optional<std::string> account(const httplib::Request& request, httplib::Response& response);
    void login(httplib::Response& response, const std::string& body);
    void subscription(httplib::Response& response);
    void upload(const httplib::Request& request, httplib::Response& response, const std::string& owner,
                const std::string& body);
    void job(httplib::Response& response, const std::string& owner, long long id);
    void shareShot(const httplib::Request& request, httplib::Response& response, const std::string& body);
    void versionCheck(httplib::Response& response);

    QByteArray jobJson(Job& job, bool poll) const;
    std::string demoToken() const;
    long long usedHours() const;
    std::string origin() const;

    Options options_;
    httplib::Server server_;
    int port_ = 0;
    // The value of the site's session cookie, new with every start.
    const std::string session_;

    // Handlers run on the server's worker threads.
    std::mutex mutex_;
    std::vector<Job> jobs_;
    std::vector<Shot> shots_;
    long long usedSeconds_ = 0;
    std::map<std::string, std::deque<Answer>> scripts_;
    std::vector<QByteArray> requests_;
};
