#pragma once

#include <QtGlobal>

#include <memory>

// The one working buffer of the file operations: 1 MiB, taken for one operation and given back
// before it returns, so the tool never holds it between actions.
class AccessFile
{
public:
    static constexpr qint64 BufferSize = 1024 * 1024;

    static AccessFile *getInstance();
    static void releaseInstance();

    // Allocates the buffer if it is absent; false when memory is short.
    bool allocate();
    char *data() const { return buffer.get(); }
    qint64 size() const { return length; }

private:
    AccessFile() = default;

    std::unique_ptr<char[]> buffer;
    qint64 length = 0;
};

// Gives the buffer back when an operation ends, whichever way it ends.
class AccessFileRelease
{
public:
    AccessFileRelease() = default;
    ~AccessFileRelease() { AccessFile::releaseInstance(); }
    AccessFileRelease(const AccessFileRelease &) = delete;
    AccessFileRelease &operator=(const AccessFileRelease &) = delete;
};
