#include "parse_platform_info.h"
#include "temp_sysroot.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

const char *const ArmhfLibc = "/usr/arm-linux-gnueabihf/lib/libc.so.6";
const char *const ArmelLibc = "/usr/arm-linux-gnueabi/lib/libc.so.6";
constexpr quint32 ArmAttributes = 0x70000003;
constexpr int Untouched = -7;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void put32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

void put16(QByteArray &bytes, int offset, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

quint32 get32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(bytes.constData()) + offset);
}

// A small ELF32 file: header, the attribute bytes, then a table of a null section and one
// section of the given type holding those bytes.
QByteArray makeElf(const QByteArray &attributes, quint32 type = ArmAttributes)
{
    QByteArray elf(52, '\0');
    elf.replace(0, 4,
        "\x7F"
        "ELF");
    elf[4] = 1; // 32-bit
    elf[5] = 1; // little-endian
    put16(elf, 40, 52);
    const int tableOffset = 52 + attributes.size();
    put32(elf, 32, static_cast<quint32>(tableOffset));
    put16(elf, 46, 40);
    put16(elf, 48, 2);
    elf += attributes;
    QByteArray table(80, '\0');
    put32(table, 40 + 4, type);
    put32(table, 40 + 16, 52);
    put32(table, 40 + 20, static_cast<quint32>(attributes.size()));
    return elf + table;
}

QByteArray attributes(const QByteArray &afterVendor)
{
    QByteArray a = "A";
    a += QByteArray(4, '\0');
    a += QByteArray("aeabi", 6);
    return a + afterVendor;
}

// Offset of the section header of the ARM attributes in a real file.
int attributesHeaderOffset(const QByteArray &elf)
{
    const quint32 table = get32(elf, 32);
    const int count
        = qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(elf.constData()) + 48);
    for (int i = 0; i < count; ++i) {
        if (get32(elf, int(table) + i * 40 + 4) == ArmAttributes)
            return int(table) + i * 40;
    }
    return -1;
}

class PlatformFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        armhf = readAll(ArmhfLibc);
        ASSERT_GT(armhf.size(), 52) << "libc6-armhf-cross is required (scripts/setup.sh)";
        header = attributesHeaderOffset(armhf);
        ASSERT_GT(header, 0);
    }

    // The architecture read from bytes, or Untouched when the read fails.
    int archOf(const QByteArray &bytes)
    {
        const QString path = sysroot.writeFile("/work/probe.so", bytes);
        int arch = Untouched;
        const bool ok = ParsePlatformInfo::getPlatform(path, arch);
        EXPECT_EQ(ok, arch != Untouched);
        return arch;
    }

    TempSysroot sysroot;
    QByteArray armhf;
    int header = -1;
};

} // namespace

TEST_F(PlatformFileTest, RealArmCLibraries_GiveTheirCpuArch)
{
    int arch = Untouched;
    ASSERT_TRUE(ParsePlatformInfo::getPlatform(ArmhfLibc, arch));
    EXPECT_EQ(arch, 10);
    ASSERT_TRUE(QFile::exists(ArmelLibc)) << "libc6-armel-cross is required (scripts/setup.sh)";
    ASSERT_TRUE(ParsePlatformInfo::getPlatform(ArmelLibc, arch));
    EXPECT_EQ(arch, 4);
}

TEST_F(PlatformFileTest, TruncatedCopies_FailInsideTheFile)
{
    const int contentOffset = int(get32(armhf, header + 16));
    for (int size : { 0, 4, 51, 52, 4096, contentOffset + 10, header + 20 })
        EXPECT_EQ(archOf(armhf.left(size)), Untouched) << size;
    EXPECT_EQ(archOf(armhf.left(header + 40)), 10); // everything needed is still there
}

TEST_F(PlatformFileTest, CorruptedHeaderValues_FailWithoutLeavingTheFile)
{
    struct Patch
    {
        const char *what;
        int offset;
        quint32 value;
        bool wide;
    };
    const Patch patches[] = {
        { "magic", 1, 0x58585858, true },
        { "header size", 40, 64, false },
        { "table offset past the end", 32, 0xFFFFFFF0, true },
        { "table offset at the end", 32, quint32(armhf.size()), true },
        { "section size larger than the file", header + 20, 0xFFFFFFFF, true },
        { "section size just past the end", header + 20, quint32(armhf.size()), true },
        { "section offset past the end", header + 16, 0xFFFFFFFF, true },
        { "offset plus address overflows 32 bits", header + 12, 0xFFFFFFF0, true },
    };
    for (const Patch &patch : patches) {
        QByteArray bytes = armhf;
        if (patch.wide)
            put32(bytes, patch.offset, patch.value);
        else
            put16(bytes, patch.offset, static_cast<quint16>(patch.value));
        EXPECT_EQ(archOf(bytes), Untouched) << patch.what;
    }

    // A section count far beyond the table reads only the headers that exist.
    QByteArray counted = armhf;
    put16(counted, 48, 0xFFFF);
    EXPECT_EQ(archOf(counted), 10);
    put32(counted, header + 4, 1); // and without the attributes section it ends at the file's end
    EXPECT_EQ(archOf(counted), Untouched);
}

TEST_F(PlatformFileTest, MadeUpAttributes_WalkTheTagsAsWritten)
{
    // Tag_File with its length, Tag_CPU_name, another tag, then Tag_CPU_arch.
    const QByteArray full = attributes(QByteArray("\x01\x10\x00\x00\x00\x05"
                                                  "5TE\0\x04\x01\x06\x05",
        14));
    EXPECT_EQ(archOf(makeElf(full)), 5);
    EXPECT_EQ(archOf(makeElf(attributes(QByteArray("\x06\x0a", 2)))), 10);

    EXPECT_EQ(archOf(makeElf(full, 1)), Untouched); // no attributes section
    EXPECT_EQ(archOf(makeElf(attributes(QByteArray("\x04\x01", 2)))), Untouched); // no Tag_CPU_arch
    EXPECT_EQ(archOf(makeElf(attributes(QByteArray("\x06", 1)))), Untouched); // no value byte
    EXPECT_EQ(archOf(makeElf(attributes(QByteArray("\x05"
                                                   "7-A",
                  4)))),
        Untouched); // unterminated name
    EXPECT_EQ(archOf(makeElf(attributes(QByteArray()))), Untouched); // nothing after vendor
    EXPECT_EQ(archOf(makeElf(QByteArray("A\0\0\0aeabi", 10))), Untouched); // vendor unterminated
    EXPECT_EQ(archOf(makeElf(QByteArray("A\0\0", 3))), Untouched); // shorter than 5
    EXPECT_EQ(archOf(makeElf(QByteArray("B\0\0\0\0aeabi\0\x06\x0a", 13))), Untouched); // version
    EXPECT_EQ(archOf(QByteArray(200, 'x')), Untouched); // not ELF

    int arch = Untouched;
    EXPECT_FALSE(ParsePlatformInfo::getPlatform(sysroot.path("/missing.so"), arch));
    EXPECT_EQ(arch, Untouched);
}

TEST_F(PlatformFileTest, FindPlatformFile_VersionedLibcSortsFirst_NamesAreCaseSensitive)
{
    ParsePlatformInfo info;
    sysroot.writeFile("/lib/libc.so.6", "x");
    sysroot.writeFile("/lib/libcrypt.so.1", "x");
    EXPECT_EQ(info.findPlatformFile(sysroot.path("/lib")), sysroot.path("/lib/libc.so.6"));
    sysroot.writeFile("/lib/libc-2.19.so", "x");
    sysroot.writeFile("/lib/ld-linux.so.3", "x");
    EXPECT_EQ(info.findPlatformFile(sysroot.path("/lib")), sysroot.path("/lib/libc-2.19.so"));

    sysroot.writeFile("/other/LIBC.so.6", "x");
    sysroot.writeFile("/other/libc.txt", "x");
    EXPECT_EQ(info.findPlatformFile(sysroot.path("/other")), QString());
    EXPECT_EQ(info.findPlatformFile(sysroot.path("/nowhere")), QString());
}

TEST_F(PlatformFileTest, GetPlatformFilepath_FileFolderOrTheSystemLibrary)
{
    ParsePlatformInfo info;
    sysroot.writeFile("/lib/libc-2.31.so", armhf);
    const QString systemLibc = sysroot.path("/lib/libc-2.31.so");
    EXPECT_EQ(info.getPlatformFilepath(QString()), systemLibc);
    EXPECT_EQ(info.getPlatformFilepath(sysroot.path("/no/such")), systemLibc);
    const QString plainFile = sysroot.writeFile("/opt/x.bin", "x");
    EXPECT_EQ(info.getPlatformFilepath(plainFile), plainFile);
    sysroot.writeFile("/opt/libs/libc.so.6", "x");
    EXPECT_EQ(
        info.getPlatformFilepath(sysroot.path("/opt/libs")), sysroot.path("/opt/libs/libc.so.6"));
    EXPECT_EQ(info.getPlatformFilepath(sysroot.path("/opt")), systemLibc); // no libc there

    int arch = Untouched;
    ASSERT_TRUE(ParsePlatformInfo::getPlatform(info.getPlatformFilepath(QString()), arch));
    EXPECT_EQ(arch, 10);
}
