#include "file_crc.h"

#include <QFile>

#include <zlib.h>

bool fileCrc32(const QString &path, quint32 *crc, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    uLong value = crc32(0L, Z_NULL, 0);
    while (!file.atEnd()) {
        const QByteArray block = file.read(64 * 1024);
        if (block.isEmpty()) {
            // A read error, or a file that shrank while it was read: never loop on it.
            if (error)
                *error = file.errorString();
            return false;
        }
        value = crc32(value, reinterpret_cast<const Bytef *>(block.constData()),
            static_cast<uInt>(block.size()));
    }
    *crc = static_cast<quint32>(value & 0xFFFFFFFFUL);
    return true;
}

QString crcText(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper();
}
