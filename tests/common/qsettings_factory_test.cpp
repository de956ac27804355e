#include "qsettings_factory.h"
#include "temp_sysroot.h"

#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

// Scrambles by the package rule, written independently of the code under test:
// s = rotate-right-by-3(p XOR 0xA7).
QByteArray scramble(const QByteArray &plain)
{
    QByteArray out = plain;
    for (char &c : out) {
        const unsigned x = static_cast<unsigned char>(c) ^ 0xA7u;
        c = static_cast<char>(((x >> 3) | (x << 5)) & 0xFFu);
    }
    return out;
}

QByteArray patternOf(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

} // namespace

TEST(QSettingsFactory, FileKind_RoundTripsAnySizeAroundTheChunkLength)
{
    TempSysroot sysroot;
    for (int size : {0, 1, 3, 254, 255, 256, 510, 511, 4096 + 7}) {
        const QByteArray plain = patternOf(size);
        const QString src = sysroot.writeFile("/stick/f.bin", scramble(plain));
        const QString dst = sysroot.path("/stick/f.out");
        ASSERT_TRUE(QSettingsFactory::decryptFile(src, dst, CRYPT_TYPE_FILE)) << size;
        EXPECT_EQ(sysroot.readFile("/stick/f.out"), plain) << size;
    }
}

TEST(QSettingsFactory, ScrambleByteIsTheInverseOfUnscrambleByte)
{
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(QSettingsFactory::unscrambleByte(QSettingsFactory::scrambleByte(uchar(b))), b);
}

TEST(QSettingsFactory, IniKind_RefusesPlainAndShortFiles_LeavingTheCopyEmpty)
{
    TempSysroot sysroot;
    const QByteArray plain = "\xEF\xBB\xBF#comment\n[A]\nk=v\n";
    const QString dst = sysroot.path("/out.ini");
    const QString unscrambled = sysroot.writeFile("/plain.ini", plain);
    EXPECT_FALSE(QSettingsFactory::decryptFile(unscrambled, dst, CRYPT_TYPE_INI));
    EXPECT_TRUE(sysroot.readFile("/out.ini").isEmpty());
    const QString tiny = sysroot.writeFile("/tiny.ini", scramble("abc"));
    EXPECT_FALSE(QSettingsFactory::decryptFile(tiny, dst, CRYPT_TYPE_INI));
    EXPECT_FALSE(QSettingsFactory::decryptFile(sysroot.path("/missing.ini"), dst, CRYPT_TYPE_INI));
}

TEST(QSettingsFactory, CreateQSettings_OpensScrambledIniThroughTmpCopyInSysroot)
{
    TempSysroot sysroot;
    const QString first = sysroot.writeFile(
        "/stick/a.ini", scramble("\xEF\xBB\xBF#x\n[UPDATE_CONFIG]\nTOOL_TITLE=2159\nNAME=\xE5\x8D\x87\n"));
    std::unique_ptr<QSettings> settings(QSettingsFactory::createQSettings(first, QSettings::IniFormat));
    ASSERT_TRUE(settings);
    settings->setIniCodec(QTextCodec::codecForName("UTF-8"));
    EXPECT_EQ(settings->value("/UPDATE_CONFIG/TOOL_TITLE").toString(), QString("2159"));
    EXPECT_EQ(settings->value("/UPDATE_CONFIG/NAME").toString(), QString::fromUtf8("\xE5\x8D\x87"));
    EXPECT_TRUE(QFile::exists(sysroot.path("/tmp/update.ini")));

    // A second file overwrites the one plain copy.
    const QString second = sysroot.writeFile("/stick/b.ini", scramble("123#\n[B]\nk=2\n"));
    std::unique_ptr<QSettings> other(QSettingsFactory::createQSettings(second, QSettings::IniFormat));
    ASSERT_TRUE(other);
    EXPECT_EQ(sysroot.readFile("/tmp/update.ini"), QByteArray("123#\n[B]\nk=2\n"));

    const QString plainOnStick = sysroot.writeFile("/stick/c.ini", "123#\n[B]\nk=2\n");
    EXPECT_EQ(QSettingsFactory::createQSettings(plainOnStick, QSettings::IniFormat), nullptr);
}
