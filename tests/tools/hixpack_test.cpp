#include "parse_config_info.h"
#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <zlib.h>

namespace {

using testsupport::binDir;
using testsupport::ToolRun;

ToolRun hixpack(const QStringList &args)
{
    return testsupport::runTool(testsupport::binDir() + "/hixpack", args);
}

// The scrambling rule, independently of the tool: s = rotate-right-by-3(p XOR 0xA7).
QByteArray scrambledByRule(const QByteArray &plain)
{
    QByteArray out = plain;
    for (char &c : out) {
        const unsigned x = static_cast<unsigned char>(c) ^ 0xA7u;
        c = static_cast<char>(((x >> 3) | (x << 5)) & 0xFFu);
    }
    return out;
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

class HixpackTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(binDir() + "/hixpack").isExecutable()); }
    TempSysroot dir;
};

} // namespace

TEST_F(HixpackTest, ScrambleThenUnscrambleFile_RoundTripsAnyBytes)
{
    for (int size : { 0, 1, 3, 255, 256, 510, 70000 }) {
        const QByteArray plain = randomBytes(size);
        const QString in = dir.writeFile("/in.bin", plain);
        ASSERT_EQ(hixpack({ "scramble", in, dir.path("/s.bin") }).exitCode, 0) << size;
        EXPECT_EQ(dir.readFile("/s.bin"), scrambledByRule(plain)) << size;
        ASSERT_EQ(
            hixpack({ "unscramble", "--file", dir.path("/s.bin"), dir.path("/p.bin") }).exitCode, 0)
            << size;
        EXPECT_EQ(dir.readFile("/p.bin"), plain) << size;
    }
}

TEST_F(HixpackTest, UnscrambleIni_AcceptsDescription_RefusesPlainTextWithReason)
{
    const QByteArray text = "\xEF\xBB\xBF# update\n[UPDATE_CONFIG]\nPROGRAM_NUM=1\n";
    const QString scrambled = dir.writeFile("/update.ini", scrambledByRule(text));
    ASSERT_EQ(hixpack({ "unscramble", scrambled, dir.path("/plain.ini") }).exitCode, 0);
    EXPECT_EQ(dir.readFile("/plain.ini"), text);

    const QString plainOnStick = dir.writeFile("/plain-on-stick.ini", text);
    const ToolRun refused = hixpack({ "unscramble", plainOnStick, dir.path("/out.ini") });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("not a scrambled description")) << refused.err.constData();
    EXPECT_FALSE(QFile::exists(dir.path("/out.ini")));
}

TEST_F(HixpackTest, Crc_EightUpperCaseDigitsOfZlibCrc32)
{
    dir.writeFile("/check.txt", "123456789");
    ToolRun run = hixpack({ "crc", dir.path("/check.txt") });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QByteArray("CBF43926\n"));

    dir.writeFile("/empty", "");
    EXPECT_EQ(hixpack({ "crc", dir.path("/empty") }).out, QByteArray("00000000\n"));

    const QByteArray data = randomBytes(200000);
    dir.writeFile("/data", data);
    const uLong expected = crc32(
        0, reinterpret_cast<const Bytef *>(data.constData()), static_cast<uInt>(data.size()));
    EXPECT_EQ(hixpack({ "crc", dir.path("/data") }).out,
        QString::asprintf("%08lX\n", expected).toLatin1());
}

TEST_F(HixpackTest, Failures_ExitNonZeroWithAClearMessage)
{
    const ToolRun missing = hixpack({ "crc", dir.path("/nope") });
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("nope")) << missing.err.constData();
    EXPECT_TRUE(missing.out.isEmpty());

    EXPECT_EQ(hixpack({ "scramble", dir.path("/nope"), dir.path("/x") }).exitCode, 1);
    EXPECT_FALSE(QFile::exists(dir.path("/x")));

    const QString in = dir.writeFile("/keep.bin", "precious");
    EXPECT_EQ(hixpack({ "scramble", in, in }).exitCode, 1);
    EXPECT_EQ(hixpack({ "unscramble", "--file", in, in }).exitCode, 1);
    EXPECT_EQ(dir.readFile("/keep.bin"), QByteArray("precious"));

    EXPECT_EQ(hixpack({ "scramble", in, dir.path("/no/such/dir/out") }).exitCode, 1);

    EXPECT_EQ(hixpack({}).exitCode, 2);
    EXPECT_EQ(hixpack({ "scramble", in }).exitCode, 2);
    const ToolRun unknown = hixpack({ "pack", in });
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains("usage")) << unknown.err.constData();

    const ToolRun help = hixpack({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("hixpack crc FILE"));
}

TEST_F(HixpackTest, ScrambledDescription_IsReadByTheUpdater)
{
    const QString plain = dir.writeFile("/author/update.ini",
        "\xEF\xBB\xBF# package\n[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
        "[PROGRAM1_CONFIG]\nPATH=./tool.bin\n");
    const QString onStick = dir.path("/media/usb0/hixupdateu/update.ini");
    QDir().mkpath(QFileInfo(onStick).path());
    ASSERT_EQ(hixpack({ "scramble", plain, onStick }).exitCode, 0);
    ParseConfigInfo parser;
    ASSERT_TRUE(parser.readIni(onStick));
    ASSERT_EQ(parser.getProgramConfigInfo().size(), 1u);
    EXPECT_EQ(parser.getProgramConfigInfo()[0].path, QString("./tool.bin"));
}
