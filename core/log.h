#pragma once

#include <QString>

#include <memory>

class Journal;

// Diagnostics: the system journal and, for warnings, standard error.
// Callable from any thread.
namespace Log {

// One journal entry at error priority, then "[korvala] " + message + "\n" on
// standard error in one write.
void warn(const QString& message);

// One journal entry at information priority; nothing on standard error.
void info(const QString& message);

// Replaces the journal the entries go to and returns the one it replaces.
// Until main() sets the system's journal, and with nullptr, entries go to
// standard error only (warnings) or nowhere (information).
std::shared_ptr<Journal> setJournal(std::shared_ptr<Journal> journal);

} // namespace Log
