#pragma once

#include <memory>
#include <string>
#include <vector>

// The system log. An entry is a list of "FIELD=value" strings, as the
// systemd journal takes them.
class Journal {
public:
    virtual ~Journal() = default;
    // Returns false when the entry could not be delivered.
    virtual bool send(const std::vector<std::string>& fields) = 0;
};
