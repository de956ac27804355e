#include "qsettings_factory.h"

#include "file_io.h"
#include "panel_path.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <unistd.h>

const QString QSettingsFactory::tmpIniPath = QStringLiteral("//tmp//update.ini");

namespace {
constexpr qint64 ChunkLength = 255;
constexpr unsigned char ScrambleMask = 0xA7;
} // namespace

unsigned char QSettingsFactory::unscrambleByte(unsigned char s)
{
    return static_cast<unsigned char>(((s << 3) | (s >> 5)) & 0xFF) ^ ScrambleMask;
}

unsigned char QSettingsFactory::scrambleByte(unsigned char p)
{
    const unsigned char x = p ^ ScrambleMask;
    return static_cast<unsigned char>(((x >> 3) | (x << 5)) & 0xFF);
}

bool QSettingsFactory::decryptFile(const QString &src, const QString &dst, CRYPT_TYPE type)
{
    QFile in(src);
    QFile out(dst);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;

    qint64 remaining = in.size();
    qint64 length = qMin(remaining, ChunkLength);
    QByteArray chunk;
    bool ok = true;
    bool firstChunk = true;
    for (;;) {
        chunk = in.read(length);
        if (chunk.size() != length && chunk.size() == 0 && length > 0)
            break; // the file shrank while it was read
        for (char &c : chunk)
            c = static_cast<char>(unscrambleByte(static_cast<unsigned char>(c)));
        if (type == CRYPT_TYPE_INI && firstChunk) {
            qDebug().noquote() << "decrypt head:" << chunk.left(4).toHex(' ')
                               << (chunk.size() >= 4
                                          ? QString::fromLatin1(" , %1").arg(int(uchar(chunk[3])))
                                          : QString());
            if (chunk.size() < 4 || chunk[3] != '#') {
                ok = false;
                break;
            }
        }
        firstChunk = false;
        out.write(chunk);
        remaining -= ChunkLength;
        if (remaining < 0)
            break;
        if (remaining <= ChunkLength)
            length = remaining;
        if (remaining == 0)
            break;
    }
    out.flush();
    hix::io::flush::unscrambledFile(out.handle());
    out.close();
    in.close();
    return ok;
}

QString QSettingsFactory::plainCopyOf(const QString &path)
{
    qDebug() << "decryptFile: " << path;
    const QString plainCopy = hix::panelPath(tmpIniPath);
    QDir().mkpath(QFileInfo(plainCopy).path());
    return decryptFile(path, plainCopy, CRYPT_TYPE_INI) ? plainCopy : QString();
}

QSettings *QSettingsFactory::createQSettings(const QString &path, QSettings::Format format)
{
    const QString plainCopy = plainCopyOf(path);
    return plainCopy.isEmpty() ? nullptr : new QSettings(plainCopy, format);
}

QString Gbk2Utf8(const QString &text)
{
    return QTextCodec::codecForName("UTF-8")->toUnicode(text.toLatin1());
}
