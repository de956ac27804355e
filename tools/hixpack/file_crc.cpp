#include "file_crc.h"

#include "file_io.h"

#include <cerrno>
#include <cstring>

bool fileCrc32(const QString &path, quint32 *crc, QString *error)
{
    if (hix::io::fileCrc32(path, crc))
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

QString crcText(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper();
}
