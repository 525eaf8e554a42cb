#pragma once

#include "core/journal.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <string>
#include <vector>

// Keeps every log entry as (priority, message).
class RecordingJournal final : public Journal {
public:
    struct Entry {
        int priority;
        QString message;
    };

    bool send(const std::vector<std::string>& fields) override
    {
        Entry entry{-1, {}};
        for (const std::string& field : fields) {
            if (field.rfind("MESSAGE=", 0) == 0)
                entry.message = QString::fromStdString(field.substr(8));
            else if (field.rfind("PRIORITY=", 0) == 0)
                entry.priority = std::stoi(field.substr(9));
        }
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        return true;
    }

    // The messages logged at `priority` (3 error, 6 information).
    QStringList messages(int priority) const
    {
        std::lock_guard lock(mutex_);
        QStringList result;
        for (const Entry& entry : entries_) {
            if (entry.priority == priority)
                result.append(entry.message);
        }
        return result;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Journal priorities the application writes at.
inline constexpr int errorPriority = 3;
inline constexpr int infoPriority = 6;
