#include "medium_flush.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hix {

bool flushFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        qWarning() << "cannot open folder" << path << "to flush it:" << std::strerror(errno);
        return false;
    }
    const bool flushed = ::fsync(fd) == 0;
    if (!flushed)
        qWarning() << "cannot flush folder" << path << std::strerror(errno);
    ::close(fd);
    return flushed;
}

} // namespace hix
