#include "site_pages.h"

namespace {

std::string escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string page(const std::string& title, const std::string& content)
{
    return "<!doctype html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>" + escape(title) +
           "</title><style>body{font-family:sans-serif;max-width:52rem;margin:2rem auto;padding:0 1rem;color:#222}"
           "table{border-collapse:collapse;width:100%}td,th{border-bottom:1px solid #ddd;padding:.5rem;"
           "text-align:left;vertical-align:top}.ready{color:#17702a}.failed{color:#a11}.processing{color:#946200}"
           "img{max-width:100%;border:1px solid #ccc}</style></head><body><h1>" +
           escape(title) + "</h1>\n" + content + "\n<p><small>Демонстрационный сервер Корвалы</small></p></body></html>\n";
}

std::string statusText(const std::string& status)
{
    if (status == "ready")
        return "готово";
    if (status == "failed")
        return "не удалось";
    return "расшифровывается…";
}

} // namespace

namespace SitePages {

std::string transcripts(const std::vector<JobRow>& jobs)
{
    if (jobs.empty())
        return page("Мои расшифровки", "<p>Пока ни одной записи. Запишите встречу в Корвале — она появится здесь.</p>");
    std::string rows = "<table><tr><th>№</th><th>Запись</th><th>Состояние</th><th>Текст</th></tr>\n";
    for (const JobRow& job : jobs) {
        rows += "<tr id=\"job-" + std::to_string(job.id) + "\"><td>" + std::to_string(job.id) + "</td><td>" +
                escape(job.fileName) + "<br><audio controls preload=\"none\" src=\"" + escape(job.audioUrl) +
                "\"></audio></td><td class=\"" + escape(job.status) + "\">" + statusText(job.status) + "</td><td>" +
                escape(job.text) + "</td></tr>\n";
    }
    return page("Мои расшифровки", rows + "</table>");
}

std::string sharedShot(const std::string& imageUrl, const std::string& days)
{
    return page("Снимок экрана", "<p>Ссылка действует " + escape(days) + ".</p><img alt=\"Снимок\" src=\"" +
                                     escape(imageUrl) + "\">");
}

std::string download()
{
    return page("Обновление Корвалы", "<p>Здесь настоящий сервис отдал бы новую версию. Демонстрационный сервер "
                                      "только показывает, что ссылка открылась.</p>");
}

std::string signIn(bool failed)
{
    return page("Вход", std::string(failed ? "<p class=\"failed\">Не подошли почта или пароль.</p>" : "") +
                            "<form method=\"post\" action=\"/login\"><p><label>Почта <input name=\"email\" "
                            "type=\"email\"></label></p><p><label>Пароль <input name=\"password\" "
                            "type=\"password\"></label></p><p><button>Войти</button></p></form>");
}

std::string notFound()
{
    return page("Не найдено", "<p>Такой страницы нет.</p>");
}

} // namespace SitePages
