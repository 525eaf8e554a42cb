#pragma once

#include "core/journal.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <string>
#include <vector>

// Keeps the fields of every log entry; answers as a reachable journal
// unless told otherwise.
class RecordingJournal final : public Journal {
public:
    explicit RecordingJournal(bool reachable = true) : reachable(reachable) {}

    bool send(const std::vector<std::string>& fields) override
    {
        std::lock_guard lock(mutex_);
        entries.push_back(fields);
        return reachable;
    }

    // The messages logged at `priority` (3 error, 6 information).
    QStringList messages(int priority) const
    {
        std::lock_guard lock(mutex_);
        QStringList result;
        const std::string wanted = "PRIORITY=" + std::to_string(priority);
        for (const auto& fields : entries) {
            bool matches = false;
            QString message;
            for (const std::string& field : fields) {
                matches = matches || field == wanted;
                if (field.rfind("MESSAGE=", 0) == 0)
                    message = QString::fromStdString(field.substr(8));
            }
            if (matches)
                result.append(message);
        }
        return result;
    }

    bool reachable;
    // Read only once the writers are done.
    std::vector<std::vector<std::string>> entries;

private:
    mutable std::mutex mutex_;
};

// Journal priorities the application writes at.
inline constexpr int errorPriority = 3;
inline constexpr int infoPriority = 6;
