#pragma once

#include <stdexcept>
#include <string>

namespace Kz::Net {

// A failure of the remote-call layer: where it happened ("Unpack") and what went wrong
// ("deserialize failed"). what() gives both, "Unpack: deserialize failed".
class Exception : public std::runtime_error
{
public:
    Exception(const std::string &where, const std::string &reason)
        : std::runtime_error(where + ": " + reason)
        , whereText(where)
        , reasonText(reason)
    {
    }
    const std::string &where() const { return whereText; }
    const std::string &reason() const { return reasonText; }

private:
    std::string whereText;
    std::string reasonText;
};

} // namespace Kz::Net
