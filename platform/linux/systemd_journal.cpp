#include "platform/linux/linux_platform.h"

#include "core/journal.h"

#include <systemd/sd-journal.h>

#include <sys/uio.h>

namespace {

class SystemdJournal final : public Journal {
public:
    bool send(const std::vector<std::string>& fields) override
    {
        std::vector<iovec> entry;
        entry.reserve(fields.size());
        for (const auto& field : fields)
            entry.push_back({const_cast<char*>(field.data()), field.size()});
        return sd_journal_sendv(entry.data(), static_cast<int>(entry.size())) >= 0;
    }
};

} // namespace

std::shared_ptr<Journal> LinuxPlatform::systemJournal()
{
    static const auto journal = std::make_shared<SystemdJournal>();
    return journal;
}
