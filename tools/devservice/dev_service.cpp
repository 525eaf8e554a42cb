#include "dev_service.h"

#include "site_pages.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <thread>

namespace {

const std::string apiPrefix = "/api/v1/";
const std::string sessionCookie = "korvala_demo";

std::string json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void answerJson(httplib::Response& response, int status, const QJsonObject& object)
{
    response.status = status;
    response.set_content(json(object), "application/json");
}

void refuse(httplib::Response& response, int status, const QString& message)
{
    answerJson(response, status, QJsonObject{{"message", message}});
}

std::string randomHex(int bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        const quint32 value = QRandomGenerator::global()->bounded(256);
        out += digits[value >> 4];
        out += digits[value & 15];
    }
    return out;
}

// httplib hands multipart bodies only to its own form parser, never as raw
// bytes, while the scripted mode must record exactly what arrived. So before
// routing the form's content type is parked under this name (the request is
// ours to change: httplib owns it as a plain object and passes it on as const)
// and put back wherever the request is read.
const std::string parkedContentType = "X-Devservice-Content-Type";

std::string contentType(const httplib::Request& request)
{
    return request.has_header(parkedContentType) ? request.get_header_value(parkedContentType)
                                                 : request.get_header_value("Content-Type");
}

struct FilePart {
    std::string fileName;
    std::string contentType;
    std::string content;
};

// The first file part of a multipart/form-data body named "file". httplib
// parses forms only when it keeps the raw body to itself, and the scripted
// mode needs the raw bytes, so the stand-in reads the one part it expects.
std::optional<FilePart> filePart(const httplib::Request& request, const std::string& body)
{
    const std::string type = contentType(request);
    const std::string marker = "boundary=";
    const size_t at = type.find(marker);
    if (type.rfind("multipart/form-data", 0) != 0 || at == std::string::npos)
        return std::nullopt;
    std::string boundary = type.substr(at + marker.size());
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
        boundary = boundary.substr(1, boundary.size() - 2);
    const std::string delimiter = "--" + boundary;
    size_t part = body.find(delimiter + "\r\n");
    while (part != std::string::npos) {
        const size_t headersStart = part + delimiter.size() + 2;
        const size_t headersEnd = body.find("\r\n\r\n", headersStart);
        if (headersEnd == std::string::npos)
            return std::nullopt;
        const size_t contentStart = headersEnd + 4;
        const size_t next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string::npos)
            return std::nullopt;
        const std::string headers = body.substr(headersStart, headersEnd - headersStart);
        FilePart file;
        file.content = body.substr(contentStart, next - contentStart);
        const size_t name = headers.find("filename=\"");
        if (name != std::string::npos) {
            const size_t end = headers.find('"', name + 10);
            file.fileName = headers.substr(name + 10, end - name - 10);
        }
        const size_t typeAt = headers.find("Content-Type: ");
        if (typeAt != std::string::npos)
            file.contentType = headers.substr(typeAt + 14, headers.find("\r\n", typeAt) - typeAt - 14);
        if (headers.find("name=\"file\"") != std::string::npos)
            return file;
        part = body.find(delimiter + "\r\n", next + 2);
    }
    return std::nullopt;
}

QJsonArray strings(std::initializer_list<const char*> items)
{
    QJsonArray array;
    for (const char* item : items)
        array.append(QString::fromUtf8(item));
    return array;
}

} // namespace

DevService::DevService(Options options) : options_(std::move(options)), session_(randomHex(16))
{
    const auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& reader) {
        std::string body;
        reader([&](const char* data, size_t length) {
            body.append(data, length);
            return true;
        });
        handle(request, response, body);
    };
    const auto withoutBody = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response, request.body);
    };
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        // A page in a browser may point a name of its own at 127.0.0.1 (DNS
        // rebinding) and then read whatever answers; it cannot make the
        // browser send one of our own names as the Host.
        if (!hostIsOurs(request.get_header_value("Host"))) {
            refuse(response, 421, "Этот сервер отвечает только по адресу 127.0.0.1");
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string type = request.get_header_value("Content-Type");
        if (type.rfind("multipart/", 0) == 0) {
            auto& headers = const_cast<httplib::Request&>(request).headers;
            headers.erase("Content-Type");
            headers.emplace("Content-Type", "application/octet-stream");
            headers.emplace(parkedContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server_.Get(".*", withoutBody);
    server_.Delete(".*", withoutBody);
    server_.Post(".*", withBody);
    server_.Put(".*", withBody);
    server_.Patch(".*", withBody);
}

int DevService::bind(int port)
{
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1") : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
    return port_;
}

bool DevService::serve()
{
    return server_.listen_after_bind();
}

bool DevService::hostIsOurs(const std::string& host) const
{
    const std::string port = ":" + std::to_string(port_);
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        if (host == name + port)
            return true;
    }
    return false;
}

std::string DevService::origin() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

void DevService::handle(const httplib::Request& request, httplib::Response& response, const std::string& body)
{
    if (options_.scripted) {
        if (request.path.rfind("/_devservice/", 0) == 0) {
            if (!control(request, response, body))
                refuse(response, 404, "нет такой команды");
            return;
        }
        record(request, body);
        if (const std::optional<Answer> answer = scripted(request)) {
            std::this_thread::sleep_for(answer->delay);
            response.status = answer->status;
            if (!answer->location.empty())
                response.set_header("Location", answer->location);
            response.set_content(answer->body, answer->contentType.c_str());
            return;
        }
    }
    if (request.path.rfind(apiPrefix, 0) == 0)
        api(request, response, request.path.substr(apiPrefix.size()), body);
    else
        site(request, response, body);
}

// POST /_devservice/script {"method", "path", "responses": [{"status", "body",
// "content_type", "delay_ms", "location"}]}: the answers replace the endpoint's own, one
// per request, the last one repeating. DELETE /_devservice/script forgets them.
// GET /_devservice/requests lists what was received; DELETE forgets it.
bool DevService::control(const httplib::Request& request, httplib::Response& response, const std::string& body)
{
    const std::lock_guard lock(mutex_);
    if (request.path == "/_devservice/script" && request.method == "POST") {
        const QJsonObject script = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
        std::deque<Answer> answers;
        for (const QJsonValue& item : script.value("responses").toArray()) {
            const QJsonObject object = item.toObject();
            Answer answer;
            answer.status = object.value("status").toInt(200);
            answer.body = object.value("body").toString().toStdString();
            answer.contentType = object.value("content_type").toString("application/json").toStdString();
            answer.location = object.value("location").toString().toStdString();
            answer.delay = std::chrono::milliseconds(object.value("delay_ms").toInteger(0));
            answers.push_back(std::move(answer));
        }
        const std::string key = script.value("method").toString().toStdString() + " " +
                                script.value("path").toString().toStdString();
        if (answers.empty())
            scripts_.erase(key);
        else
            scripts_[key] = std::move(answers);
        response.status = 204;
        return true;
    }
    if (request.path == "/_devservice/script" && request.method == "DELETE") {
        scripts_.clear();
        response.status = 204;
        return true;
    }
    if (request.path == "/_devservice/requests" && request.method == "GET") {
        QByteArray list = "[";
        for (size_t i = 0; i < requests_.size(); ++i)
            list += (i ? "," : "") + requests_[i];
        list += "]";
        response.set_content(list.toStdString(), "application/json");
        return true;
    }
    if (request.path == "/_devservice/requests" && request.method == "DELETE") {
        requests_.clear();
        response.status = 204;
        return true;
    }
    return false;
}

void DevService::record(const httplib::Request& request, const std::string& body)
{
    QJsonArray headers;
    for (const auto& [name, value] : request.headers) {
        if (name == parkedContentType)
            continue;
        const std::string& shown = name == "Content-Type" ? contentType(request) : value;
        headers.append(QJsonArray{QString::fromStdString(name), QString::fromStdString(shown)});
    }
    const QJsonObject entry{
        {"method", QString::fromStdString(request.method)},
        {"path", QString::fromStdString(request.path)},
        {"target", QString::fromStdString(request.target)},
        {"headers", headers},
        {"body", QString::fromLatin1(QByteArray::fromStdString(body).toBase64())},
    };
    const std::lock_guard lock(mutex_);
    requests_.push_back(QJsonDocument(entry).toJson(QJsonDocument::Compact));
}

std::optional<DevService::Answer> DevService::scripted(const httplib::Request& request)
{
    const std::lock_guard lock(mutex_);
    const auto it = scripts_.find(request.method + " " + request.path);
    if (it == scripts_.end())
        return std::nullopt;
    Answer answer = it->second.front();
    if (it->second.size() > 1)
        it->second.pop_front();
    return answer;
}

void DevService::api(const httplib::Request& request, httplib::Response& response, const std::string& path,
                     const std::string& body)
{
    const std::string& method = request.method;
    if (path == "login" && method == "POST")
        return login(response, body);
    if (path == "versions/check" && method == "GET")
        return versionCheck(response);

    const bool known = (path == "subscription" && method == "GET") || (path == "rasshifrovka" && method == "POST") ||
                       (path.rfind("rasshifrovka/", 0) == 0 && method == "GET") ||
                       (path == "snimki" && method == "POST");
    if (!known)
        return refuse(response, 404, "Нет такого адреса");
    const std::optional<std::string> owner = account(request, response);
    if (!owner)
        return;
    if (path == "subscription")
        return subscription(response);
    if (path == "rasshifrovka")
        return upload(request, response, *owner, body);
    if (path == "snimki")
        return shareShot(request, response, body);

    const std::string id = path.substr(std::string("rasshifrovka/").size());
    char* end = nullptr;
    const long long number = std::strtoll(id.c_str(), &end, 10);
    if (id.empty() || *end != '\0')
        return refuse(response, 404, "Нет такой расшифровки");
    job(response, *owner, number);
}

std::optional<std::string> DevService::account(const httplib::Request& request, httplib::Response& response)
{
    const std::string header = request.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    const std::lock_guard lock(mutex_);
    if (header == prefix + demoToken())
        return options_.email;
    refuse(response, 401, "Войдите заново");
    return std::nullopt;
}

void DevService::login(httplib::Response& response, const std::string& body)
{
    const QJsonObject form = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    if (!form.value("email").isString() || !form.value("password").isString())
        return refuse(response, 400, "Нужны почта и пароль");
    if (form.value("email").toString().toStdString() != options_.email ||
        form.value("password").toString().toStdString() != options_.password)
        return refuse(response, 401, "Неверная почта или пароль");
    answerJson(response, 200, QJsonObject{{"token", QString::fromStdString(demoToken())}});
}

// The same account always gets the same token, so a Korvala profile that
// signed in once stays signed in across restarts of the stand-in.
std::string DevService::demoToken() const
{
    const QByteArray account = QByteArray::fromStdString(options_.email + '\n' + options_.password);
    return QCryptographicHash::hash(account, QCryptographicHash::Sha256).toHex().left(40).toStdString();
}

long long DevService::usedHours() const
{
    return (usedSeconds_ + 3599) / 3600;
}

void DevService::subscription(httplib::Response& response)
{
    const std::lock_guard lock(mutex_);
    const long long used = usedHours();
    const QJsonObject speech{{"used", used}, {"limit", options_.monthlyHours}, {"left", options_.monthlyHours - used}};
    const QJsonObject screenshots{{"used", qint64(shots_.size())}, {"limit", 1000}, {"left", 1000 - qint64(shots_.size())}};
    answerJson(response, 200, QJsonObject{{"limits", QJsonObject{{"speech", speech}, {"screenshots", screenshots}}}});
}

void DevService::upload(const httplib::Request& request, httplib::Response& response, const std::string& owner,
                        const std::string& body)
{
    std::optional<FilePart> file = filePart(request, body);
    if (!file)
        return refuse(response, 422, "Пришлите запись в поле формы «file»");
    const std::lock_guard lock(mutex_);
    if (options_.monthlyHours - usedHours() < 1)
        return refuse(response, 429, "Месячный лимит демонстрационного аккаунта исчерпан");

    Job job;
    job.id = jobs_.empty() ? 1 : jobs_.back().id + 1;
    job.owner = owner;
    job.fileName = file->fileName;
    // An .m4a file starts with an "ftyp" box; anything else cannot be transcribed.
    job.broken = file->content.size() < 8 || file->content.compare(4, 4, "ftyp") != 0;
    // AAC at 24 kbit/s is about 3000 bytes a second.
    job.seconds = std::max<long long>(1, (long long)(file->content.size() / 3000));
    job.audio = std::move(file->content);
    usedSeconds_ += job.broken ? 0 : job.seconds;
    jobs_.push_back(std::move(job));
    response.status = 201;
    response.set_content("{\"data\":" + jobJson(jobs_.back(), false).toStdString() + "}", "application/json");
}

QByteArray DevService::jobJson(Job& job, bool poll) const
{
    if (poll)
        ++job.polls;
    QJsonObject data{{"id", job.id}, {"status", "processing"}};
    if (job.polls >= options_.pollsUntilReady && job.broken) {
        data["status"] = "failed";
        data["failure"] = "Файл не похож на запись в формате m4a";
    } else if (job.polls >= options_.pollsUntilReady) {
        const QString name = QString::fromStdString(job.fileName);
        const qint64 minutes = std::max<qint64>(1, job.seconds / 60);
        data["status"] = "ready";
        data["duration_sec"] = job.seconds;
        data["transcript"] = QString("[00:00] Демонстрационная расшифровка записи «%1».\n"
                                     "[00:05] Настоящий сервис поместил бы сюда текст разговора длиной около %2 мин.")
                                 .arg(name)
                                 .arg(minutes);
        data["minutes"] = QJsonObject{
            {"summary", QString("Встреча по записи «%1», около %2 мин.").arg(name).arg(minutes)},
            {"decisions", strings({"Проверить Корвалу на демонстрационном сервере"})},
            {"tasks", QJsonArray{QJsonObject{{"what", "Посмотреть расшифровку на сайте"},
                                             {"who", "Участник встречи"},
                                             {"when", "сегодня"}}}},
            {"questions", strings({"Когда подключаем настоящий сервис?"})},
        };
    }
    return QJsonDocument(data).toJson(QJsonDocument::Compact);
}

void DevService::job(httplib::Response& response, const std::string& owner, long long id)
{
    const std::lock_guard lock(mutex_);
    for (Job& job : jobs_) {
        if (job.id == id && job.owner == owner) {
            response.set_content("{\"data\":" + jobJson(job, true).toStdString() + "}", "application/json");
            return;
        }
    }
    refuse(response, 404, "Нет такой расшифровки");
}

void DevService::shareShot(const httplib::Request& request, httplib::Response& response, const std::string& body)
{
    std::optional<FilePart> file = filePart(request, body);
    static const std::string pngSignature("\x89PNG\r\n\x1a\n", 8);
    if (!file || file->content.compare(0, pngSignature.size(), pngSignature) != 0)
        return refuse(response, 422, "Пришлите снимок PNG в поле формы «file»");
    const std::string id = randomHex(8);
    {
        const std::lock_guard lock(mutex_);
        shots_.push_back({id, std::move(file->content)});
    }
    const QJsonObject data{
        {"link", QString::fromStdString(origin() + "/s/" + id)},
        {"image", QString::fromStdString(origin() + "/s/" + id + ".png")},
        {"days", "7 дней"},
    };
    answerJson(response, 201, QJsonObject{{"data", data}});
}

void DevService::versionCheck(httplib::Response& response)
{
    if (options_.update == "ok")
        return answerJson(response, 200, QJsonObject{{"status", "ok"}});
    const bool required = options_.update == "required";
    answerJson(response, 200,
               QJsonObject{
                   {"status", QString::fromStdString(options_.update)},
                   {"title", required ? "Нужна новая версия Корвалы" : "Вышла новая версия Корвалы"},
                   {"message", required ? "Эта версия больше не работает с сервисом. Скачайте новую."
                                        : "В новой версии быстрее отправляются записи."},
                   {"update_url", QString::fromStdString(origin() + "/download")},
                   {"remind_after_days", 3},
               });
}

// The site's sign-in: the demo account's email and password from a form, then
// a session cookie. Transcripts and recordings are shown only with it.
bool DevService::browserSignIn(const httplib::Request& request, httplib::Response& response, const std::string& body)
{
    if (request.path != "/login")
        return false;
    if (request.method == "POST") {
        QUrlQuery form(QString::fromStdString(body).replace('+', ' '));
        if (form.queryItemValue("email", QUrl::FullyDecoded).toStdString() == options_.email &&
            form.queryItemValue("password", QUrl::FullyDecoded).toStdString() == options_.password) {
            response.status = 303;
            response.set_header("Location", "/rasshifrovka");
            response.set_header("Set-Cookie", sessionCookie + "=" + session_ + "; Path=/; HttpOnly; SameSite=Strict");
            return true;
        }
        response.status = 401;
        response.set_content(SitePages::signIn(true), "text/html; charset=utf-8");
        return true;
    }
    response.set_content(SitePages::signIn(false), "text/html; charset=utf-8");
    return true;
}

bool DevService::browserSignedIn(const httplib::Request& request) const
{
    const std::string cookies = "; " + request.get_header_value("Cookie") + ";";
    return cookies.find("; " + sessionCookie + "=" + session_ + ";") != std::string::npos;
}

void DevService::site(const httplib::Request& request, httplib::Response& response, const std::string& body)
{
    if (browserSignIn(request, response, body))
        return;
    const std::string& path = request.path;
    const bool personal = path == "/" || path == "/rasshifrovka" || path == "/rasshifrovka/" || path.rfind("/audio/", 0) == 0;
    if (personal && !browserSignedIn(request)) {
        response.status = 401;
        return response.set_content(SitePages::signIn(false), "text/html; charset=utf-8");
    }
    const std::lock_guard lock(mutex_);
    if (path == "/" || path == "/rasshifrovka" || path == "/rasshifrovka/") {
        std::vector<SitePages::JobRow> rows;
        for (Job& job : jobs_) {
            const QJsonObject data = QJsonDocument::fromJson(jobJson(job, false)).object();
            const QString text = data.value("transcript").toString(data.value("failure").toString());
            rows.push_back({job.id, job.fileName, data.value("status").toString().toStdString(), text.toStdString(),
                            "/audio/" + std::to_string(job.id)});
        }
        return response.set_content(SitePages::transcripts(rows), "text/html; charset=utf-8");
    }
    if (path.rfind("/audio/", 0) == 0) {
        for (const Job& job : jobs_) {
            if (path == "/audio/" + std::to_string(job.id))
                return response.set_content(job.audio, "audio/mp4");
        }
    }
    if (path.rfind("/s/", 0) == 0) {
        for (const Shot& shot : shots_) {
            if (path == "/s/" + shot.id)
                return response.set_content(SitePages::sharedShot("/s/" + shot.id + ".png", "7 дней"),
                                            "text/html; charset=utf-8");
            if (path == "/s/" + shot.id + ".png")
                return response.set_content(shot.png, "image/png");
        }
    }
    if (path == "/download")
        return response.set_content(SitePages::download(), "text/html; charset=utf-8");
    response.status = 404;
    response.set_content(SitePages::notFound(), "text/html; charset=utf-8");
}
