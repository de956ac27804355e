#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kz::utils {

// A byte stream that calls read their arguments from and write their results to.
class IBuffer
{
public:
    virtual ~IBuffer() = default;
    // Reads exactly size bytes, or nothing at all and false when fewer remain.
    virtual bool read(void *data, std::size_t size) = 0;
    virtual void write(const void *data, std::size_t size) = 0;
    // Bytes not yet read.
    virtual std::size_t remaining() const = 0;
};

// An IBuffer over bytes in memory.
class Buffer : public IBuffer
{
public:
    Buffer() = default;
    explicit Buffer(std::string bytes)
        : bytes(std::move(bytes))
    {
    }

    bool read(void *data, std::size_t size) override;
    void write(const void *data, std::size_t size) override;
    std::size_t remaining() const override { return bytes.size() - position; }

    void writeUInt32(std::uint32_t value);
    bool readUInt32(std::uint32_t *value);

    // Everything written, including what has been read already.
    const std::string &data() const { return bytes; }
    // What has not been read yet.
    std::string rest() const { return bytes.substr(position); }

private:
    std::string bytes;
    std::size_t position = 0;
};

// Little-endian 32-bit values, the byte order of the panel and of the wire.
void putUInt32(std::string *out, std::uint32_t value);
std::uint32_t getUInt32(const char *bytes);

} // namespace Kz::utils
