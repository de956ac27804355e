#include "kz_buffer.h"

#include <cstring>

namespace Kz::utils {

bool Buffer::read(void *data, std::size_t size)
{
    if (remaining() < size)
        return false;
    std::memcpy(data, bytes.data() + position, size);
    position += size;
    return true;
}

void Buffer::write(const void *data, std::size_t size)
{
    bytes.append(static_cast<const char *>(data), size);
}

void Buffer::writeUInt32(std::uint32_t value)
{
    putUInt32(&bytes, value);
}

bool Buffer::readUInt32(std::uint32_t *value)
{
    char raw[4];
    if (!read(raw, sizeof(raw)))
        return false;
    *value = getUInt32(raw);
    return true;
}

void putUInt32(std::string *out, std::uint32_t value)
{
    const char raw[4] = { char(value & 0xff), char((value >> 8) & 0xff), char((value >> 16) & 0xff),
        char((value >> 24) & 0xff) };
    out->append(raw, sizeof(raw));
}

std::uint32_t getUInt32(const char *bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16)
        | (std::uint32_t(b[3]) << 24);
}

} // namespace Kz::utils
