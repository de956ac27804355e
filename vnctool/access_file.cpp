#include "access_file.h"

#include <new>

namespace {
std::unique_ptr<AccessFile> instance;
}

AccessFile *AccessFile::getInstance()
{
    if (!instance)
        instance.reset(new (std::nothrow) AccessFile());
    return instance.get();
}

void AccessFile::releaseInstance()
{
    instance.reset();
}

bool AccessFile::allocate()
{
    if (!buffer) {
        buffer.reset(new (std::nothrow) char[BufferSize]);
        length = buffer ? BufferSize : 0;
    }
    return buffer != nullptr;
}
