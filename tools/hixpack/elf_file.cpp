#include "elf_file.h"

#include <QByteArray>
#include <QFile>

namespace {

constexpr quint32 SectionDynamic = 6;
constexpr quint64 TagNull = 0;
constexpr quint64 TagNeeded = 1;
constexpr quint64 TagRpath = 15;
constexpr quint64 TagRunpath = 29;

quint64 little(const QByteArray &bytes, qint64 at, int size)
{
    quint64 value = 0;
    if (at < 0 || at + size > bytes.size())
        return 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[int(at + i)]);
    return value;
}

QByteArray readAt(QFile &file, quint64 offset, quint64 size)
{
    if (size > 64 * 1024 * 1024 || !file.seek(qint64(offset)))
        return QByteArray();
    return file.read(qint64(size));
}

} // namespace

bool elf_file_s::read(const QString &path, elf_file_s *elf, QString *error)
{
    *elf = elf_file_s();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray header = file.read(64);
    if (header.size() < 52
        || !header.startsWith("\x7f"
                              "ELF")
        || header[5] != 1 || (header[4] != 1 && header[4] != 2)) {
        *error = QStringLiteral("\"%1\" is no little-endian ELF file").arg(path);
        return false;
    }
    elf->is64 = header[4] == 2;
    const int word = elf->is64 ? 8 : 4;
    elf->machine = quint16(little(header, 18, 2));
    elf->flags = quint32(little(header, elf->is64 ? 48 : 36, 4));
    const quint64 sectionsAt = little(header, elf->is64 ? 40 : 32, word);
    const quint64 entrySize = little(header, elf->is64 ? 58 : 46, 2);
    const quint64 count = little(header, elf->is64 ? 60 : 48, 2);
    const QByteArray sections = readAt(file, sectionsAt, entrySize * count);
    if (entrySize == 0 || quint64(sections.size()) != entrySize * count) {
        *error = QStringLiteral("\"%1\" has no readable section table").arg(path);
        return false;
    }
    auto field = [&](quint64 index, int offset32, int offset64, int size32, int size64) {
        return little(sections, qint64(index * entrySize) + (elf->is64 ? offset64 : offset32),
            elf->is64 ? size64 : size32);
    };
    for (quint64 i = 0; i < count; ++i) {
        if (field(i, 4, 4, 4, 4) != SectionDynamic)
            continue;
        const QByteArray dynamic = readAt(file, field(i, 16, 24, 4, 8), field(i, 20, 32, 4, 8));
        const quint64 link = field(i, 24, 40, 4, 4);
        if (link >= count)
            break;
        const QByteArray strings
            = readAt(file, field(link, 16, 24, 4, 8), field(link, 20, 32, 4, 8));
        auto text = [&strings](quint64 at) {
            if (at >= quint64(strings.size()))
                return QString();
            return QString::fromUtf8(strings.constData() + at);
        };
        for (qint64 at = 0; at + 2 * word <= dynamic.size(); at += 2 * word) {
            const quint64 tag = little(dynamic, at, word);
            const quint64 value = little(dynamic, at + word, word);
            if (tag == TagNull)
                break;
            if (tag == TagNeeded)
                elf->needed << text(value);
            else if (tag == TagRpath)
                elf->rpath = text(value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
            else if (tag == TagRunpath)
                elf->runpath = text(value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        }
        break;
    }
    return true;
}

QString elf_file_s::multiarch() const
{
    switch (machine) {
    case MachineArm:
        return (flags & ArmHardFloat) ? QStringLiteral("arm-linux-gnueabihf")
                                      : QStringLiteral("arm-linux-gnueabi");
    case MachineX86_64:
        return QStringLiteral("x86_64-linux-gnu");
    case MachineAarch64:
        return QStringLiteral("aarch64-linux-gnu");
    case Machine386:
        return QStringLiteral("i386-linux-gnu");
    default:
        return QString();
    }
}
