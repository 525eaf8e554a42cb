#pragma once

#include <string>
#include <vector>

// The service's site as far as Korvala opens it: the list of transcripts,
// a shared screenshot and the update download page. Plain HTML, Russian.
namespace SitePages {

struct JobRow {
    long long id;
    std::string fileName;
    std::string status;
    std::string text;
    std::string audioUrl;
};

std::string transcripts(const std::vector<JobRow>& jobs);
std::string sharedShot(const std::string& imageUrl, const std::string& days);
std::string download();
std::string notFound();
// The form for the demo account; `failed` after a wrong email or password.
std::string signIn(bool failed);

} // namespace SitePages
