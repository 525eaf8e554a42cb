#include "core/log.h"

#include "core/version.h"
#include "core/journal.h"

#include <mutex>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex journalMutex;
std::shared_ptr<Journal> currentJournal;

std::shared_ptr<Journal> journal()
{
    std::lock_guard lock(journalMutex);
    return currentJournal;
}

void sendToJournal(int priority, const std::string& message)
{
    const auto target = journal();
    if (!target)
        return;
    target->send({
        "MESSAGE=" + message,
        "PRIORITY=" + std::to_string(priority),
        "SYSLOG_IDENTIFIER=korvala",
        std::string("KORVALA_SUBSYSTEM=") + KORVALA_APP_ID,
        "KORVALA_CATEGORY=recorder",
    });
}

} // namespace

namespace Log {

void warn(const QString& message)
{
    const std::string text = message.toStdString();
    sendToJournal(LOG_ERR, text);

    // One write, so lines from several threads never interleave.
    const std::string line = "[korvala] " + text + "\n";
    size_t written = 0;
    while (written < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
}

void info(const QString& message)
{
    sendToJournal(LOG_INFO, message.toStdString());
}

std::shared_ptr<Journal> setJournal(std::shared_ptr<Journal> replacement)
{
    std::lock_guard lock(journalMutex);
    auto previous = std::move(currentJournal);
    currentJournal = std::move(replacement);
    return previous;
}

} // namespace Log
