#include "check_up_info.h"
#include "description_writer.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "temp_sysroot.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include <sys/statfs.h>

namespace {

// MemTotal of this machine in kB, read here independently of the code under test.
qint64 realMemTotalKb()
{
    QFile meminfo("/proc/meminfo");
    if (!meminfo.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // "/proc" files report no size: read them whole rather than up to their length.
    for (const QByteArray &line : meminfo.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "MemTotal:")
            return parts[1].toLongLong();
    }
    return -1;
}

qint64 freeMiB(const QString &path)
{
    struct statfs64 fs;
    if (::statfs64(path.toUtf8().constData(), &fs) != 0)
        return -1;
    return (qint64(fs.f_bavail) * qint64(fs.f_bsize)) >> 20;
}

class CheckUpInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(sysroot.isValid()); }

    bool check(const updateCheck_s &section, bool isAfterCheck = false)
    {
        return checker.updateCheck(section, isAfterCheck, noCondition);
    }

    TempSysroot sysroot;
    ParseConfigInfo parser;
    check_up_info_c checker { &parser };
    bool noCondition = false;
};

} // namespace

TEST_F(CheckUpInfoTest, EmptySection_PassesWithoutCondition_AndIsNeverAlreadyDone)
{
    EXPECT_TRUE(check(updateCheck_s()));
    EXPECT_TRUE(noCondition);
    // Keys that take no part in the check do not count as conditions either.
    updateCheck_s ignored;
    ignored.hmiType << "T1";
    ignored.lanCount << "9";
    EXPECT_TRUE(check(ignored));
    EXPECT_TRUE(noCondition);

    EXPECT_EQ(checker.updateCheckResult(true, true, true), 0);
    EXPECT_EQ(checker.updateCheckResult(false, true, true), 2);
    EXPECT_EQ(checker.updateCheckResult(false, true, false), 1);
    EXPECT_EQ(checker.updateCheckResult(true, false, false), 0);
    EXPECT_EQ(checker.updateCheckResult(false, false, false), 2);
}

TEST_F(CheckUpInfoTest, ScreenSize_MatchesWidthStarHeightOnly)
{
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    updateCheck_s section;
    section.hmiResolution << "1*1" << QString("%1*%2").arg(size.width()).arg(size.height());
    EXPECT_TRUE(check(section));
    EXPECT_FALSE(noCondition);
    section.hmiResolution = QStringList { QString("%1X%2").arg(size.width()).arg(size.height()) };
    EXPECT_FALSE(check(section));
}

TEST_F(CheckUpInfoTest, AppVersion_WithoutRuntimePassesBeforeAndFailsAfter)
{
    updateCheck_s section;
    section.appVersion << "V2.1.0";
    EXPECT_TRUE(check(section, false));
    EXPECT_FALSE(check(section, true));

    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=V2.1.0\n");
    EXPECT_TRUE(check(section, true));
    // Another length: the platform INI reader keeps a file of unchanged size and time cached.
    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=V2.1.10\n");
    EXPECT_FALSE(check(section, false));
    EXPECT_FALSE(check(section, true));
}

TEST_F(CheckUpInfoTest, Platform_ReadsTheArmArchitectureOfTheSysrootCLibrary)
{
    updateCheck_s section;
    section.hmiPlatform << "10";
    EXPECT_FALSE(check(section)); // no C library in the sysroot's /lib
    EXPECT_FALSE(noCondition);

    const QString armLibc = "/usr/arm-linux-gnueabihf/lib/libc.so.6";
    if (!QFileInfo::exists(armLibc))
        GTEST_SKIP() << "libc6-armhf-cross is not installed";
    ASSERT_TRUE(QDir().mkpath(sysroot.path("/lib")));
    ASSERT_TRUE(QFile::copy(armLibc, sysroot.path("/lib/libc.so.6")));
    EXPECT_TRUE(check(section));
    section.hmiPlatform = QStringList { "4", "5" };
    EXPECT_FALSE(check(section));
}

TEST_F(CheckUpInfoTest, FileCheck_NeedsEveryListedRegularFile)
{
    const QString file = sysroot.writeFile("/usr/vexo_app/bin/hmi", "x");
    updateCheck_s section;
    section.fileCheck << file;
    EXPECT_TRUE(check(section));
    section.fileCheck << sysroot.path("/usr/vexo_app/bin");
    EXPECT_FALSE(check(section));
    section.fileCheck = QStringList { file, sysroot.path("/usr/vexo_app/bin/missing") };
    EXPECT_FALSE(check(section));
}

TEST_F(CheckUpInfoTest, MemoryLimit_PassesJustBelowTheRealMemTotalAndFailsJustAbove)
{
    const qint64 totalKb = realMemTotalKb();
    ASSERT_GT(totalKb, 0);
    updateCheck_s section;
    section.memoryLimit = QString::number(totalKb / 1024);
    EXPECT_TRUE(check(section));
    EXPECT_FALSE(noCondition);
    section.memoryLimit = QString::number(totalKb / 1024 + 1);
    EXPECT_FALSE(check(section));
    // Far beyond 32 bits once in kB: must not wrap around into a pass.
    section.memoryLimit = "4194304";
    EXPECT_FALSE(check(section));
    section.memoryLimit = "plenty";
    EXPECT_TRUE(check(section));
}

TEST_F(CheckUpInfoTest, FreeDiskLimit_ComparesWithTheRealFreeSpaceOfTheFolder)
{
    const QString folder = sysroot.root();
    const qint64 free = freeMiB(folder);
    ASSERT_GT(free, 2048);
    // Other work on the machine moves the free space a little; a margin of 1 GiB keeps the
    // test stable while any unit mistake (bytes, kB, MiB) is off by a factor of 1024.
    updateCheck_s section;
    section.diskSpaceChecks.push_back({ folder, QString::number(free - 1024) });
    EXPECT_TRUE(check(section));
    EXPECT_FALSE(noCondition);
    section.diskSpaceChecks.push_back({ folder, QString::number(free + 1024) });
    EXPECT_FALSE(check(section));

    section.diskSpaceChecks = { { QString(), "0" } };
    EXPECT_FALSE(check(section));
    section.diskSpaceChecks = { { sysroot.path("/no/such/partition"), "0" } };
    EXPECT_FALSE(check(section));
}

TEST_F(CheckUpInfoTest, ExternalChecks_CompareExitCodes_WithoutAShellBetween)
{
    updateCheck_s section;
    section.exChecks = { { "/bin/false", "0" } };
    EXPECT_FALSE(check(section));
    EXPECT_FALSE(noCondition);
    section.exChecks = { { "/bin/false", "1" }, { "/bin/true", "0" } };
    EXPECT_TRUE(check(section));
    section.exChecks = { { "/bin/false", "" } };
    EXPECT_TRUE(check(section));
    section.exChecks = { { sysroot.path("/usr/bin/no-such-check"), "0" } };
    EXPECT_TRUE(check(section));
    section.exChecks = { { "", "0" } };
    EXPECT_FALSE(check(section));

    // Quoted arguments reach the program whole; a package that wants a shell names one.
    section.exChecks = { { "/bin/sh -c \"exit 3\"", "3" } };
    EXPECT_TRUE(check(section));
    // Without a shell the ";" is only an argument of echo, which exits 0.
    section.exChecks = { { "/bin/echo checked; /bin/false", "0" } };
    EXPECT_TRUE(check(section));
}

TEST_F(CheckUpInfoTest, SystemImage_FailsWhenTheDriverCannotBeAsked)
{
    updateCheck_s section;
    section.nkExtra << "A&B";
    EXPECT_FALSE(check(section));
    EXPECT_FALSE(noCondition);
}

TEST_F(CheckUpInfoTest, Conditions_StopAtTheFirstFailure)
{
    // A failing file check must keep the external check from ever running.
    const QString marker = sysroot.path("/ran");
    updateCheck_s section;
    section.fileCheck << sysroot.path("/missing");
    section.exChecks = { { "/usr/bin/touch " + marker, "0" } };
    EXPECT_FALSE(check(section));
    EXPECT_FALSE(QFileInfo::exists(marker));
    section.fileCheck.clear();
    EXPECT_TRUE(check(section));
    EXPECT_TRUE(QFileInfo::exists(marker));
}

// Asked for its failures, the check compares every fact of the panel and names each condition
// that failed with what the package needs and what the panel has; a command after a failure
// still does not run.
TEST_F(CheckUpInfoTest, Failures_EveryFailedFactWithNeededAndFound_NoCommandAfterAFailure)
{
    hixInitResources();
    MultilingualManager::GetInstance()->loadMultilingualFile(
        QString(), ":/new/prefix1/resource/lan/0000.lan");
    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=1.0\n");
    sysroot.writeFile("/run/vexo-hal/platform_info", "NK-3.2\nsecond\nA\nB\n");
    const QString folder = sysroot.path("/usr/vexo_app");
    const QString marker = sysroot.path("/ran");
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    const QString screen = QString("%1*%2").arg(size.width()).arg(size.height());

    updateCheck_s section;
    section.hmiResolution << "1*1";
    section.nkVersion << "NK-4"
                      << "NK-5";
    section.nkExtra << "A&B";
    section.appVersion << "2.0";
    section.hmiPlatform << "10";
    section.fileCheck << sysroot.path("/missing") << folder;
    section.exChecks = { { "/usr/bin/touch " + marker, "0" } };
    QVector<check_up_info_c::CheckFailure> failures;
    EXPECT_FALSE(checker.updateCheck(section, false, noCondition, &failures));
    EXPECT_FALSE(QFileInfo::exists(marker));

    const QStringList lines = check_up_info_c::failureLines("UPDATE_CHECK", failures);
    EXPECT_EQ(lines,
        QStringList({ "UPDATE_CHECK/HMI_RESOLUTION：升级包要求 1*1，本机为 " + screen,
            "UPDATE_CHECK/NK_VERSION：升级包要求 NK-4, NK-5，本机为 NK-3.2",
            "UPDATE_CHECK/APP_VERSION：升级包要求 2.0，本机为 1.0",
            "UPDATE_CHECK/HMI_PLATFORM：升级包要求 10，本机为 无法读取",
            "UPDATE_CHECK/FILE_CHECK：升级包要求 " + sysroot.path("/missing") + "，本机为 不存在",
            "UPDATE_CHECK/FILE_CHECK：升级包要求 " + folder + "，本机为 不是普通文件" }));

    // With every fact in place the command runs, and its exit code is what the panel has.
    section = updateCheck_s();
    section.exChecks = { { "/bin/sh -c \"exit 3\"", "0" } };
    failures.clear();
    EXPECT_FALSE(checker.updateCheck(section, false, noCondition, &failures));
    EXPECT_EQ(check_up_info_c::failureLines("PROGRAM2_BEFORE_CHECK", failures),
        QStringList({ "PROGRAM2_BEFORE_CHECK/EX_CHECK1：升级包要求 退出码 0，本机为 退出码 3" }));
}

TEST_F(CheckUpInfoTest, SystemImage_ComparesVersionAndExtraOfTheEmulatedDriver)
{
    sysroot.writeFile("/run/vexo-hal/platform_info", "NK-3.2\nsecond\nA\nB\n");
    updateCheck_s section;
    section.nkVersion << "NK-3.1"
                      << "NK-3.2";
    section.nkExtra << "A&B";
    EXPECT_TRUE(check(section));
    section.nkExtra = QStringList { "A&second" };
    EXPECT_FALSE(check(section));
    section.nkExtra.clear();
    section.nkVersion = QStringList { "NK-3" };
    EXPECT_FALSE(check(section));
}

namespace {

const QByteArray TwoPrograms = "[UPDATE_CONFIG]\nPROGRAM_NUM=3\n"
                               "[PROGRAM1_CONFIG]\nPATH=./one.bin\n"
                               "[PROGRAM1_AFTER_CHECK]\nFILE_CHECK=@/usr/vexo_app/done.flag\n"
                               "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=2\n"
                               "SRCPATH1=/x\nDSTPATH1=cfg\nMODE1=1\nEXIST_CHECK1=1\n"
                               "SRCPATH2=/y\nDSTPATH2=opt\nMODE2=0\nEXIST_CHECK2=0\n"
                               "[PROGRAM3_CONFIG]\nPATH=./three.bin\n"
                               "[PROGRAM3_AFTER_DELFILE]\nDELFILENUM=1\nSRCPATH1=/z\n";

} // namespace

class CheckUpInfoProgramTest : public CheckUpInfoTest
{
protected:
    void SetUp() override
    {
        CheckUpInfoTest::SetUp();
        // The emulated driver gives the panel its identifier and so its backup folder.
        ASSERT_TRUE(QDir().mkpath(sysroot.path("/run/vexo-hal")));
        QByteArray ini = TwoPrograms;
        ini.replace("@", sysroot.root().toUtf8());
        ASSERT_TRUE(parser.readIni(
            writeScrambledDescription(sysroot, "/media/usb0/hixupdateu/update.ini", ini)));
        backupRoot = ParseConfigInfo::getBackupPath();
        ASSERT_TRUE(backupRoot.startsWith(sysroot.path("/media/usb0/hixbackup/")));
    }

    QString backupRoot;
};

TEST_F(CheckUpInfoProgramTest, IsUpdateFinish_CountsAgainstProgramNumEvenWithSkippedNumbers)
{
    ASSERT_EQ(parser.getProgramConfigInfo().size(), 2u);
    EXPECT_TRUE(checker.isUpdateFinish(3));
    EXPECT_FALSE(checker.isUpdateFinish(2));
    EXPECT_FALSE(checker.isUpdateFinish(4));
}

TEST_F(CheckUpInfoProgramTest, BackupDataExist_NeedsTheFolderAndEveryRequiredCopy)
{
    const std::vector<backupFileInfo_s> list = parser.getProgramConfigInfo()[0].beforeBackup;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(checker.CheckBackupDataExist(list));
    ASSERT_TRUE(QDir().mkpath(backupRoot));
    EXPECT_FALSE(checker.CheckBackupDataExist(list));
    // A folder entry is only satisfied by a folder; the optional file entry is not needed.
    QFile(backupRoot + "/cfg").open(QIODevice::WriteOnly);
    EXPECT_FALSE(checker.CheckBackupDataExist(list));
    ASSERT_TRUE(QFile::remove(backupRoot + "/cfg"));
    ASSERT_TRUE(QDir().mkpath(backupRoot + "/cfg"));
    EXPECT_TRUE(checker.CheckBackupDataExist(list));
    EXPECT_TRUE(checker.CheckBackupDataExist({}));
}

TEST_F(CheckUpInfoProgramTest, ProAfterCheck_DoneOnlyWhenConditionsHoldNoBackupAndNothingLeft)
{
    EXPECT_FALSE(checker.proAfterCheck(0)); // its after-condition does not hold yet
    sysroot.writeFile("/usr/vexo_app/done.flag", "1");
    EXPECT_TRUE(checker.proAfterCheck(0));
    ASSERT_TRUE(QDir().mkpath(backupRoot + "/cfg"));
    EXPECT_FALSE(checker.proAfterCheck(0)); // a backup that could still be restored
    EXPECT_FALSE(checker.proAfterCheck(1)); // work left after the program
    EXPECT_FALSE(checker.proAfterCheck(2));
    EXPECT_FALSE(checker.proAfterCheck(-1));
}
