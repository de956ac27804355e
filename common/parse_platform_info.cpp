#include "parse_platform_info.h"

#include "panel_path.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <vector>

namespace {

constexpr quint64 ElfHeaderSize = 52;
constexpr quint64 SectionHeaderSize = 40;
constexpr quint32 SectionTypeArmAttributes = 0x70000003;
constexpr unsigned char TagFile = 1;
constexpr unsigned char TagCpuName = 5;
constexpr unsigned char TagCpuArch = 6;
const QString SystemLibraryDir = QStringLiteral("/lib");

// ELF files of the ARM panels are little-endian; read fields that way on any host.
quint32 le32(const unsigned char *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 le16(const unsigned char *p)
{
    return static_cast<quint16>(p[0] | p[1] << 8);
}

// Reads exactly size bytes at offset, which the caller has checked against the file's length.
bool readAt(QFile &file, quint64 offset, unsigned char *out, quint64 size)
{
    if (!file.seek(static_cast<qint64>(offset)))
        return false;
    return file.read(reinterpret_cast<char *>(out), static_cast<qint64>(size))
        == static_cast<qint64>(size);
}

} // namespace

QString ParsePlatformInfo::getPlatformFilepath(const QString &path) const
{
    const QFileInfo info(path);
    if (!path.isEmpty() && info.isFile())
        return path;
    if (!path.isEmpty() && info.isDir()) {
        const QString found = findPlatformFile(path);
        if (!found.isEmpty())
            return found;
    }
    return findPlatformFile(hix::panelPath(SystemLibraryDir));
}

QString ParsePlatformInfo::findPlatformFile(const QString &dir) const
{
    const QFileInfoList files = QDir(dir).entryInfoList(
        { QStringLiteral("*.so*") }, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        if (file.fileName().startsWith(QLatin1String("libc")))
            return file.absoluteFilePath();
    }
    return QString();
}

bool ParsePlatformInfo::getPlatform(const QString &path, int &arch)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "cannot open" << path;
        return false;
    }
    const quint64 fileSize = static_cast<quint64>(file.size());
    unsigned char header[ElfHeaderSize];
    if (fileSize < ElfHeaderSize || !readAt(file, 0, header, ElfHeaderSize))
        return false;
    if (std::memcmp(header,
            "\x7F"
            "ELF",
            4)
            != 0
        || le16(header + 40) != ElfHeaderSize)
        return false;

    const quint64 tableOffset = le32(header + 32);
    const quint64 sectionCount = le16(header + 48);
    if (tableOffset > fileSize)
        return false;
    // However many sections the header claims, only those inside the file are read.
    const quint64 available = (fileSize - tableOffset) / SectionHeaderSize;
    const quint64 count = qMin(sectionCount, available);

    unsigned char section[SectionHeaderSize];
    bool found = false;
    for (quint64 i = 0; i < count; ++i) {
        if (!readAt(file, tableOffset + i * SectionHeaderSize, section, SectionHeaderSize))
            return false;
        if (le32(section + 4) == SectionTypeArmAttributes) {
            found = true;
            break;
        }
    }
    if (!found)
        return false;

    const quint64 address = le32(section + 12);
    const quint64 offset = le32(section + 16) + address;
    const quint64 size = le32(section + 20);
    if (offset > fileSize || size > fileSize - offset) {
        qDebug() << "attributes section outside the file" << path;
        return false;
    }
    std::vector<unsigned char> contents(static_cast<size_t>(size));
    if (size > 0 && !readAt(file, offset, contents.data(), size))
        return false;
    return parseAttributes(contents.data(), contents.size(), arch);
}

bool ParsePlatformInfo::parseAttributes(const unsigned char *data, size_t size, int &arch)
{
    if (!data || size < 5 || data[0] != 'A')
        return false;
    // Bytes 1-4 hold the length; the vendor name ("aeabi") follows, zero-terminated.
    const void *end = std::memchr(data + 5, 0, size - 5);
    if (!end)
        return false;
    size_t pos = static_cast<size_t>(static_cast<const unsigned char *>(end) - data) + 1;
    if (pos >= size)
        return false;
    while (pos < size) {
        const unsigned char tag = data[pos];
        if (tag == TagFile) {
            pos += 1 + 4;
        } else if (tag == TagCpuName) {
            const void *nameEnd = std::memchr(data + pos + 1, 0, size - pos - 1);
            if (!nameEnd)
                return false;
            pos = static_cast<size_t>(static_cast<const unsigned char *>(nameEnd) - data) + 1;
        } else if (tag == TagCpuArch) {
            if (pos + 1 >= size)
                return false;
            arch = data[pos + 1];
            return true;
        } else {
            pos += 2;
        }
    }
    return false;
}
