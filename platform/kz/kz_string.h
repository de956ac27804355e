#pragma once

#include "kz_buffer.h"

#include <string>

namespace Kz::utils {

// A text as it travels: its length as a little-endian 32-bit number, then its bytes (UTF-8).
class String
{
public:
    // Longer texts are refused when read, so a hostile length never makes a large allocation.
    static constexpr std::uint32_t MaxLength = 1024;

    String() = default;
    String(const char *text)
        : text(text ? text : "")
    {
    }
    String(std::string text)
        : text(std::move(text))
    {
    }

    bool serialize(IBuffer *out) const;
    // False (and the text unchanged) when buffer is null, too short or the length too large.
    bool deserialize(IBuffer *in);

    const std::string &str() const { return text; }
    const char *c_str() const { return text.c_str(); }
    bool operator==(const String &other) const { return text == other.text; }
    bool operator!=(const String &other) const { return text != other.text; }

private:
    std::string text;
};

} // namespace Kz::utils
