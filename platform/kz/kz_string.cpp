#include "kz_string.h"

namespace Kz::utils {

bool String::serialize(IBuffer *out) const
{
    if (!out || text.size() > MaxLength)
        return false;
    std::string length;
    putUInt32(&length, std::uint32_t(text.size()));
    out->write(length.data(), length.size());
    out->write(text.data(), text.size());
    return true;
}

bool String::deserialize(IBuffer *in)
{
    if (!in || in->remaining() < 4)
        return false;
    char raw[4];
    in->read(raw, sizeof(raw));
    const std::uint32_t length = getUInt32(raw);
    if (length > MaxLength || in->remaining() < length)
        return false;
    std::string value(length, '\0');
    if (!in->read(value.data(), length))
        return false;
    text = std::move(value);
    return true;
}

} // namespace Kz::utils
