#include "mount_watch.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace hix {

int mountIdOf(const QString &path)
{
    QString at = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(at)) {
        const QString up = QFileInfo(at).absolutePath();
        if (up == at)
            return -1;
        at = up;
    }
    const int fd = ::open(QFile::encodeName(at).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int id = -1;
    QFile info(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("mnt_id:"))
                id = line.mid(7).trimmed().toInt();
        }
    }
    ::close(fd);
    return id;
}

bool isMounted(int id)
{
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return true;
    const QByteArray number = QByteArray::number(id) + ' ';
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        if (line.startsWith(number))
            return true;
    }
    return false;
}

} // namespace hix
