#include "copy_list_reader.h"
#include "description_writer.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "temp_sysroot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTextCodec>

#include <cstring>
#include <gtest/gtest.h>

namespace {

const char *const BuiltinTable = ":/new/prefix1/resource/lan/0000.lan";

class ParseConfigInfoTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(
            MultilingualManager::GetInstance()->loadMultilingualFile(QString(), BuiltinTable));
        qunsetenv("VEXO_EXPORT_DIR");
    }

    // Parses text as the stick's description; the parser's messages are collected.
    bool parse(const QByteArray &ini)
    {
        const QString path
            = writeScrambledDescription(sysroot, "/media/usb0/hixupdateu/update.ini", ini);
        return parser.readIni(path);
    }

    void emulatePanelDriver() { QDir().mkpath(sysroot.path("/run/vexo-hal")); }

    TempSysroot sysroot;
    ParseConfigInfo parser;
    QSignalSpy messages { &parser, &ParseConfigInfo::emitMessage };
};

const QByteArray FullDescription = R"(
[UPDATE_CONFIG]
PROGRAM_NUM=2
EXEC_CONDITION=1
SHOW_UPDATE_PAGE=0
TOOL_TITLE=2159
TOOL_TIP=2160
FINISH_TIP=2161

[UPDATE_CHECK]
HMI_RESOLUTION= 800*480 , 1024*600 ,
NK_VERSION=V1.2
NK_EXTRA=a&b, c&d
APP_VERSION=3.0
FILE_CHECK=/usr/vexo_app/bin/hmi
HMI_PLATFORM=10,4
HMI_TPYE=T1
CPU_TPYE=imx
FILESYSTEM_TYPE=ubifs
LAN_COUNT=2
COM_COUNT=3
USB_COUNT=1
SLAVE_COUNT=0
MEMORY_LIMIT=128
DISKSPACES_CHECK_NUM=1
PARTITION_PATH1=/usr
FREEDISK_LIMIT1=20
EX_CHECK_NUM=1
EX_CHECK1="/bin/sh -c 'exit 3'"
EX_CHECK_RES1=3
CHECK_SUCCESS_ISSHOWDLG=0
CHECK_SUCCESS_MESSAGE=2001
CHECK_FAILED_ISSHOWDLG=1
CHECK_FAILED_MESSAGE=2002

[COPYFILE_BEFORE_CHECK]
FILE_CHECK=/etc/hostname

[COPYFILE_AFTER_CHECK]
APP_VERSION=4.0

[COPYFILE]
DELBEFORECOPY=1
COPYFILENUM=2
SRCPATH1= files/a.bin
DESTPATH1=/usr/vexo_app/a.bin
CRCVALUE1=1a2b3c4d
MODE1=0
SRCPATH2=files/dir
DESTPATH2=/usr/vexo_app/dir
MODE2=2

[DELFILE]
DELFILENUM=1
SRCPATH1=/usr/vexo_app/old
MODE1=2

[EXEFILE]
EXEFILENUM=1
SRCPATH1=/usr/vexo_app/a.bin

[COMMOND]
COMMONDNUM=1
COMMONDINFO1=/bin/true
EXECRESULT1=0

[PROGRAM1_CONFIG]
PATH=./prog1.bin
PARAM=-a,-b
IS_ENCRYPT=1
IS_EXIT_WAIT=0
IS_EXIT_QWSSERVER=1
IS_CHECK_RESULT=1
SUCCESS_RESULT= 7
START_FAILED_MESS=2100
EXEC_FAILED_MESS=2101
EXEC_SUCCESS_LATER_ACTION=0
EXEC_FAILED_LATER_ACTION=1

[PROGRAM1_BEFORE_CHECK]
MEMORY_LIMIT=64

[PROGRAM1_AFTER_CHECK]
APP_VERSION=5.0

[PROGRAM1_BEFORE_BACKUPFILE]
BACKUPFILENUM=1
SRCPATH1=/usr/vexo_app/config
DSTPATH1=data
MODE1=1
EXIST_CHECK1=1

[PROGRAM1_BEFORE_COPYFILE]
COPYFILENUM=1
SRCPATH1=p1/before
DESTPATH1=/usr/vexo_app/before

[PROGRAM1_BEFORE_DELFILE]
DELFILENUM=1
SRCPATH1=/usr/vexo_app/b-del

[PROGRAM1_BEFORE_EXEFILE]
EXEFILENUM=1
SRCPATH1=/usr/vexo_app/b-exe

[PROGRAM1_BEFORE_COMMOND]
COMMONDNUM=1
COMMONDINFO1=/bin/echo before

[PROGRAM1_AFTER_COPYFILE]
COPYFILENUM=1
SRCPATH1=p1/after
DESTPATH1=/usr/vexo_app/after
CRCVALUE1=deadbeef

[PROGRAM1_AFTER_DELFILE]
DELFILENUM=1
SRCPATH1=/usr/vexo_app/a-del
MODE1=1

[PROGRAM1_AFTER_EXEFILE]
EXEFILENUM=1
SRCPATH1=/usr/vexo_app/a-exe

[PROGRAM1_AFTER_COMMOND]
COMMONDNUM=1
COMMONDINFO1=/bin/echo after
EXECRESULT1=0

[PROGRAM2_CONFIG]
PATH=./prog2.bin

[UPDATE_FINISH_CONFIG]
BEEPNUM=3
REBOOT=1
)";

} // namespace

TEST_F(ParseConfigInfoTest, ScrambledDescription_EverySectionKind_ParsesIntoRecords)
{
    emulatePanelDriver();
    const QString exportDir = sysroot.path("/stick");
    qputenv("VEXO_EXPORT_DIR", QFile::encodeName(exportDir));
    ASSERT_TRUE(parse(FullDescription));
    EXPECT_EQ(messages.count(), 0);

    const updateConfig_s config = parser.getUpdateConfig();
    EXPECT_EQ(config.programNum, 2);
    EXPECT_EQ(config.execCondition, 1);
    EXPECT_FALSE(config.showUpdatePage);
    EXPECT_EQ(config.toolTitle, QString("2159"));
    EXPECT_EQ(config.toolTip, QString("2160"));
    EXPECT_EQ(config.finishTip, QString("2161"));

    const updateCheck_s check = parser.getUpdateCheck();
    EXPECT_EQ(check.hmiResolution, QStringList({ "800*480", "1024*600" }));
    EXPECT_EQ(check.nkVersion, QStringList({ "V1.2" }));
    EXPECT_EQ(check.nkExtra, QStringList({ "a&b", "c&d" }));
    EXPECT_EQ(check.appVersion, QStringList({ "3.0" }));
    EXPECT_EQ(check.fileCheck, QStringList({ "/usr/vexo_app/bin/hmi" }));
    EXPECT_EQ(check.hmiPlatform, QStringList({ "10", "4" }));
    EXPECT_EQ(check.hmiType, QStringList({ "T1" }));
    EXPECT_EQ(check.cpuType, QStringList({ "imx" }));
    EXPECT_EQ(check.filesystemType, QStringList({ "ubifs" }));
    EXPECT_EQ(check.lanCount, QStringList({ "2" }));
    EXPECT_EQ(check.comCount, QStringList({ "3" }));
    EXPECT_EQ(check.usbCount, QStringList({ "1" }));
    EXPECT_EQ(check.slaveCount, QStringList({ "0" }));
    EXPECT_EQ(check.memoryLimit, QString("128"));
    ASSERT_EQ(check.diskSpaceChecks.size(), 1u);
    EXPECT_EQ(check.diskSpaceChecks[0].partitionPath, QString("/usr"));
    EXPECT_EQ(check.diskSpaceChecks[0].freeDiskLimit, QString("20"));
    ASSERT_EQ(check.exChecks.size(), 1u);
    EXPECT_EQ(check.exChecks[0].exCheck, QString("/bin/sh -c 'exit 3'"));
    EXPECT_EQ(check.exChecks[0].exCheckRes, QString("3"));
    EXPECT_EQ(check.checkSuccessIsShowDlg, 0);
    EXPECT_EQ(check.checkSuccessMessage, QString("2001"));
    EXPECT_EQ(check.checkFailedIsShowDlg, 1);
    EXPECT_EQ(check.checkFailedMessage, QString("2002"));

    const copyFileInfo_s copy = parser.getCopyFileInfo();
    EXPECT_TRUE(copy.delBeforeCopy);
    ASSERT_EQ(copy.copyFileData.size(), 2u);
    EXPECT_EQ(copy.copyFileData[0].srcPath, QString("files/a.bin"));
    EXPECT_EQ(copy.copyFileData[0].destPath, QString("/usr/vexo_app/a.bin"));
    EXPECT_EQ(copy.copyFileData[0].crcValue, QString("1A2B3C4D"));
    EXPECT_EQ(copy.copyFileData[1].crcValue, QString());
    EXPECT_EQ(copy.copyFileData[1].mode, 2);
    EXPECT_EQ(copy.beforeCheck.fileCheck, QStringList({ "/etc/hostname" }));
    EXPECT_EQ(copy.afterCheck.appVersion, QStringList({ "4.0" }));

    ASSERT_EQ(parser.getDeleteFileInfo().size(), 1u);
    EXPECT_EQ(parser.getDeleteFileInfo()[0].srcPath, QString("/usr/vexo_app/old"));
    EXPECT_EQ(parser.getDeleteFileInfo()[0].mode, 2);
    ASSERT_EQ(parser.getExeFileInfo().size(), 1u);
    EXPECT_EQ(parser.getExeFileInfo()[0].srcPath, QString("/usr/vexo_app/a.bin"));
    ASSERT_EQ(parser.getCommondInfo().size(), 1u);
    EXPECT_EQ(parser.getCommondInfo()[0].commond, QString("/bin/true"));
    EXPECT_EQ(parser.getCommondInfo()[0].execResult, QString("0"));

    const std::vector<programConfig_s> programs = parser.getProgramConfigInfo();
    ASSERT_EQ(programs.size(), 2u);
    const programConfig_s &p = programs[0];
    EXPECT_EQ(p.path, QString("./prog1.bin"));
    EXPECT_EQ(p.param, QStringList({ "-a", "-b" }));
    EXPECT_TRUE(p.isEncrypt);
    EXPECT_FALSE(p.isExitWait);
    EXPECT_TRUE(p.isExitQwsServer);
    EXPECT_TRUE(p.isCheckResult);
    EXPECT_EQ(p.successResult, QString("7"));
    EXPECT_EQ(p.startFailedMess, QString("2100"));
    EXPECT_EQ(p.execFailedMess, QString("2101"));
    EXPECT_EQ(p.execSuccessLaterAction, 0);
    EXPECT_EQ(p.execFailedLaterAction, 1);
    EXPECT_EQ(p.beforeCheck.memoryLimit, QString("64"));
    EXPECT_EQ(p.afterCheck.appVersion, QStringList({ "5.0" }));
    ASSERT_EQ(p.beforeBackup.size(), 1u);
    const QString backupRoot = ParseConfigInfo::getBackupPath();
    EXPECT_TRUE(backupRoot.startsWith(exportDir + "/hixbackup/"));
    EXPECT_EQ(p.beforeBackup[0].srcPath, QString("/usr/vexo_app/config"));
    EXPECT_EQ(p.beforeBackup[0].dstPath, backupRoot + "/data");
    EXPECT_TRUE(p.beforeBackup[0].backupCrc.isEmpty());
    EXPECT_EQ(p.beforeBackup[0].mode, 1);
    EXPECT_TRUE(p.beforeBackup[0].existCheck);
    ASSERT_EQ(p.beforeCopy.copyFileData.size(), 1u);
    EXPECT_EQ(p.beforeCopy.copyFileData[0].srcPath, QString("p1/before"));
    EXPECT_EQ(p.beforeCopy.beforeCheck.fileCheck, QStringList({ "/etc/hostname" }));
    ASSERT_EQ(p.beforeDel.size(), 1u);
    EXPECT_EQ(p.beforeDel[0].srcPath, QString("/usr/vexo_app/b-del"));
    ASSERT_EQ(p.beforeExe.size(), 1u);
    EXPECT_EQ(p.beforeExe[0].srcPath, QString("/usr/vexo_app/b-exe"));
    ASSERT_EQ(p.beforeCmd.size(), 1u);
    EXPECT_EQ(p.beforeCmd[0].commond, QString("/bin/echo before"));
    EXPECT_EQ(p.beforeCmd[0].execResult, QString());
    ASSERT_EQ(p.afterCopy.copyFileData.size(), 1u);
    EXPECT_EQ(p.afterCopy.copyFileData[0].crcValue, QString("DEADBEEF"));
    EXPECT_EQ(p.afterCopy.afterCheck.appVersion, QStringList({ "4.0" }));
    ASSERT_EQ(p.afterDel.size(), 1u);
    EXPECT_EQ(p.afterDel[0].mode, 1);
    ASSERT_EQ(p.afterExe.size(), 1u);
    EXPECT_EQ(p.afterExe[0].srcPath, QString("/usr/vexo_app/a-exe"));
    ASSERT_EQ(p.afterCmd.size(), 1u);
    EXPECT_EQ(p.afterCmd[0].commond, QString("/bin/echo after"));

    const programConfig_s &second = programs[1];
    EXPECT_EQ(second.path, QString("./prog2.bin"));
    EXPECT_TRUE(second.param.isEmpty());
    EXPECT_EQ(second.execSuccessLaterAction, 1);
    EXPECT_EQ(second.execFailedLaterAction, 0);
    EXPECT_TRUE(second.beforeBackup.empty());

    EXPECT_EQ(parser.getUpdateFinishConfig().beepNum, 3);
    EXPECT_TRUE(parser.getUpdateFinishConfig().reboot);
}

TEST_F(ParseConfigInfoTest, MissingFile_EmitsIniMissingOnceWithFileName)
{
    EXPECT_FALSE(parser.readIni(sysroot.path("/media/usb0/hixupdateu/update.ini")));
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toString(), QString::fromUtf8("ini文件 update.ini 不存在"));
    EXPECT_EQ(messages.at(0).at(1).value<QColor>(), QColor(Qt::black));
}

TEST_F(ParseConfigInfoTest, UnscrambledOrEmptyOrTruncatedFile_EmitsUnreadable_KeepsRecords)
{
    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=a\n"));
    const QString expected
        = QString::fromUtf8("ini文件 u.ini 不存在\n或者ini文件 u.ini 格式不正确！");
    const QByteArray plain = "\xEF\xBB\xBF#x\n[UPDATE_CONFIG]\nPROGRAM_NUM=5\n";
    for (const QByteArray &content : { plain, QByteArray(), scrambledBytes("\xEF\xBB") }) {
        messages.clear();
        EXPECT_FALSE(parser.readIni(sysroot.writeFile("/stick/u.ini", content)));
        ASSERT_EQ(messages.count(), 1);
        EXPECT_EQ(messages.at(0).at(0).toString(), expected);
    }
    EXPECT_EQ(parser.getUpdateConfig().programNum, 1);
    EXPECT_EQ(parser.getProgramConfigInfo().size(), 1u);
}

TEST_F(ParseConfigInfoTest, ProgramNumbering_GapsAndBlankPathsAreSkipped_NumbersKept)
{
    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=3\n"
                      "[PROGRAM1_CONFIG]\nPATH=one\n"
                      "[PROGRAM2_CONFIG]\nPATH=  \n"
                      "[PROGRAM3_CONFIG]\nPATH=three\n"
                      "[PROGRAM3_BEFORE_DELFILE]\nDELFILENUM=1\nSRCPATH1=/x3\n"
                      "[PROGRAM4_CONFIG]\nPATH=four\n"));
    const auto programs = parser.getProgramConfigInfo();
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].path, QString("one"));
    EXPECT_EQ(programs[1].path, QString("three"));
    ASSERT_EQ(programs[1].beforeDel.size(), 1u);
    EXPECT_EQ(programs[1].beforeDel[0].srcPath, QString("/x3"));

    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n[PROGRAM1_CONFIG]\nPATH=one\n"));
    EXPECT_TRUE(parser.getProgramConfigInfo().empty());
}

TEST_F(ParseConfigInfoTest, GatedEntries_MissingGateOrEmptyPathSkipped_LaterEntriesRead)
{
    ASSERT_TRUE(parse("[COPYFILE]\nCOPYFILENUM=3\nDESTPATH1=/d1\n"
                      "SRCPATH2=s2\nDESTPATH2=/d2\n"
                      "SRCPATH3=s3\nDESTPATH3=   \n"
                      "[DELFILE]\nDELFILENUM=2\nSRCPATH1=\nSRCPATH2=/del2\n"
                      "[COMMOND]\nCOMMONDNUM=2\nCOMMONDINFO2= run me \nEXECRESULT2= 1 \n"));
    const auto copy = parser.getCopyFileInfo().copyFileData;
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(copy[0].srcPath, QString("s2"));
    ASSERT_EQ(parser.getDeleteFileInfo().size(), 1u);
    EXPECT_EQ(parser.getDeleteFileInfo()[0].srcPath, QString("/del2"));
    ASSERT_EQ(parser.getCommondInfo().size(), 1u);
    EXPECT_EQ(parser.getCommondInfo()[0].commond, QString("run me"));
    EXPECT_EQ(parser.getCommondInfo()[0].execResult, QString("1"));
}

TEST_F(ParseConfigInfoTest, Defaults_AbsentKeysAndFreshChecks)
{
    ASSERT_TRUE(parse("[UPDATE_CHECK]\nEX_CHECK_NUM=2\n[PROGRAM1_CONFIG]\nPATH=x\n"
                      "[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                      "[PROGRAM1_CONFIG]\nEXEC_SUCCESS_LATER_ACTION=\n"
                      "EXEC_FAILED_LATER_ACTION=abc\n"));
    EXPECT_TRUE(parser.getUpdateConfig().showUpdatePage);
    const updateCheck_s check = parser.getUpdateCheck();
    ASSERT_EQ(check.exChecks.size(), 2u);
    EXPECT_TRUE(check.exChecks[1].exCheck.isEmpty());
    EXPECT_TRUE(check.exChecks[1].exCheckRes.isEmpty());
    EXPECT_EQ(check.checkSuccessIsShowDlg, 0); // read from a file: absent is 0
    const auto programs = parser.getProgramConfigInfo();
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].execSuccessLaterAction, 1);
    EXPECT_EQ(programs[0].execFailedLaterAction, 0);

    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=x\n"
                      "EXEC_SUCCESS_LATER_ACTION=go\n"));
    EXPECT_EQ(parser.getProgramConfigInfo()[0].execSuccessLaterAction, 0);

    const updateCheck_s fresh;
    EXPECT_EQ(fresh.checkSuccessIsShowDlg, 1);
    EXPECT_EQ(fresh.checkFailedIsShowDlg, 0);
}

TEST_F(ParseConfigInfoTest, SecondRead_WithFewerEntries_LeavesNothingOfTheFirst)
{
    ASSERT_TRUE(parse(FullDescription));
    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=only\n"));
    EXPECT_TRUE(parser.getUpdateConfig().showUpdatePage);
    EXPECT_TRUE(parser.getUpdateCheck().hmiResolution.isEmpty());
    EXPECT_TRUE(parser.getUpdateCheck().diskSpaceChecks.empty());
    EXPECT_TRUE(parser.getCopyFileInfo().copyFileData.empty());
    EXPECT_TRUE(parser.getCopyFileInfo().beforeCheck.fileCheck.isEmpty());
    EXPECT_TRUE(parser.getDeleteFileInfo().empty());
    EXPECT_TRUE(parser.getCommondInfo().empty());
    ASSERT_EQ(parser.getProgramConfigInfo().size(), 1u);
    EXPECT_TRUE(parser.getProgramConfigInfo()[0].afterCmd.empty());
    EXPECT_EQ(parser.getUpdateFinishConfig().beepNum, 0);
    EXPECT_FALSE(parser.getUpdateFinishConfig().reboot);
}

TEST_F(ParseConfigInfoTest, AbsurdAndNegativeCounts_CostNothing)
{
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM=2147483647\n"
                      "[UPDATE_CHECK]\nDISKSPACES_CHECK_NUM=2147483647\nEX_CHECK_NUM=-4\n"
                      "[COPYFILE_BEFORE_CHECK]\nEX_CHECK_NUM=2147483647\n"
                      "[COPYFILE]\nCOPYFILENUM=2147483647\nSRCPATH1=a\nDESTPATH1=/b\n"
                      "[DELFILE]\nDELFILENUM=-1\nSRCPATH1=/x\n"
                      "[EXEFILE]\nEXEFILENUM=99999999999\nSRCPATH1=/x\n"
                      "[COMMOND]\nCOMMONDNUM=2147483647\n"
                      "[PROGRAM1_CONFIG]\nPATH=p\n"
                      "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=2147483647\n"
                      "[UPDATE_FINISH_CONFIG]\nBEEPNUM=-3\n"));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(parser.getProgramConfigInfo().size(), 1u);
    EXPECT_EQ(parser.getCopyFileInfo().copyFileData.size(), 1u);
    EXPECT_LE(parser.getUpdateCheck().diskSpaceChecks.size(), 16u);
    EXPECT_TRUE(parser.getUpdateCheck().exChecks.empty());
    EXPECT_LE(parser.getCopyFileInfo().beforeCheck.exChecks.size(), 16u);
    EXPECT_TRUE(parser.getDeleteFileInfo().empty());
    EXPECT_TRUE(parser.getExeFileInfo().empty()); // a count past int reads as 0
    EXPECT_TRUE(parser.getCommondInfo().empty());
    EXPECT_EQ(parser.getUpdateFinishConfig().beepNum, -3);
}

TEST_F(ParseConfigInfoTest, TruncatedDescription_ReadsWhatIsThere)
{
    for (int cut = 1; cut < FullDescription.size(); cut += 61) {
        ASSERT_TRUE(parse(FullDescription.left(cut))) << cut;
        EXPECT_LE(parser.getProgramConfigInfo().size(), 2u);
        EXPECT_LE(parser.getCopyFileInfo().copyFileData.size(), 2u);
    }
    ASSERT_TRUE(parse(FullDescription.left(FullDescription.indexOf("[PROGRAM2_CONFIG]"))));
    EXPECT_EQ(parser.getProgramConfigInfo().size(), 1u);
    EXPECT_EQ(parser.getCopyFileInfo().copyFileData.size(), 2u);
}

TEST_F(ParseConfigInfoTest, TenThousandProgramSections_AllRead)
{
    QByteArray ini = "[UPDATE_CONFIG]\nPROGRAM_NUM=10000\n";
    for (int i = 1; i <= 10000; ++i)
        ini += "[PROGRAM" + QByteArray::number(i) + "_CONFIG]\nPATH=p" + QByteArray::number(i)
            + "\n";
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(parse(ini));
    const auto programs = parser.getProgramConfigInfo();
    ASSERT_EQ(programs.size(), 10000u);
    EXPECT_EQ(programs.back().path, QString("p10000"));
    EXPECT_LT(timer.elapsed(), 30000);
}

TEST_F(ParseConfigInfoTest, BrokenBytesAndKeysWithoutValues_GiveDefaults)
{
    ASSERT_TRUE(parse("[UPDATE_CONFIG]\nPROGRAM_NUM\nSHOW_UPDATE_PAGE=\nTOOL_TITLE=\xFF\xFE\x80\n"
                      "[UPDATE_CHECK]\nHMI_RESOLUTION=\nNK_VERSION=\xC3\n"
                      "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1\nDESTPATH1=/d\n"
                      "[\xFF\xFF]\n\xFE=\xFD\n"
                      "[UPDATE_FINISH_CONFIG]\nREBOOT=\n"));
    EXPECT_EQ(parser.getUpdateConfig().programNum, 0);
    EXPECT_FALSE(parser.getUpdateConfig().showUpdatePage); // present and empty reads as 0
    EXPECT_FALSE(parser.getUpdateConfig().toolTitle.isEmpty());
    EXPECT_TRUE(parser.getUpdateCheck().hmiResolution.isEmpty());
    EXPECT_TRUE(parser.getCopyFileInfo().copyFileData.empty());
    EXPECT_FALSE(parser.getUpdateFinishConfig().reboot);
}

TEST_F(ParseConfigInfoTest, BackupPath_FollowsExportDirOrDefaultStick)
{
    emulatePanelDriver();
    const QString onDefault = ParseConfigInfo::getBackupPath();
    const QString prefix = sysroot.path("/media/usb0/hixbackup/");
    ASSERT_TRUE(onDefault.startsWith(prefix));
    EXPECT_EQ(onDefault.mid(prefix.size()).size(), 24);
    qputenv("VEXO_EXPORT_DIR", "/somewhere/D");
    EXPECT_EQ(
        ParseConfigInfo::getBackupPath(), "/somewhere/D/hixbackup/" + onDefault.mid(prefix.size()));
    qputenv("VEXO_EXPORT_DIR", "");
    EXPECT_EQ(ParseConfigInfo::getBackupPath(), onDefault); // empty names no stick
    qunsetenv("VEXO_EXPORT_DIR");
}

TEST_F(ParseConfigInfoTest, UniqueId_StablePerPanel_DistinctBetweenPanels)
{
    emulatePanelDriver();
    char first[256] = {};
    char again[256] = {};
    ASSERT_EQ(ParseConfigInfo::getUniqueID(first), 0);
    ASSERT_EQ(ParseConfigInfo::getUniqueID(again), 0);
    EXPECT_STREQ(first, again);
    EXPECT_EQ(strlen(first), 24u);
    EXPECT_EQ(QString::fromLatin1(first).count(QRegExp("[0-9a-f]")), 24);

    TempSysroot otherPanel;
    QDir().mkpath(otherPanel.path("/run/vexo-hal"));
    char other[256] = {};
    ASSERT_EQ(ParseConfigInfo::getUniqueID(other), 0);
    EXPECT_STRNE(first, other);
}

TEST_F(ParseConfigInfoTest, UniqueId_KnownIdentityBlock_GivesItsMixedHexText)
{
    emulatePanelDriver();
    sysroot.writeFile("/run/vexo-hal/panel_id", "00112233445566778899aabbccddeeff\n");
    char id[256] = {};
    ASSERT_EQ(ParseConfigInfo::getUniqueID(id), 0);
    // First six bytes 00 11 22 33 44 55, mixed with the fixed constants.
    const unsigned char p[6] = { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 };
    unsigned char mixed[12];
    ParseConfigInfo::mixIdentity(p, mixed);
    EXPECT_EQ(QByteArray(id), QByteArray(reinterpret_cast<char *>(mixed), 12).toHex());
    EXPECT_EQ(QByteArray(id).left(2), QByteArray("00"));
    EXPECT_EQ(QByteArray(id).mid(4, 2), QByteArray("22"));
}

TEST_F(ParseConfigInfoTest, MixIdentity_IsOneToOne)
{
    // Changing any single input byte changes the output.
    const unsigned char base[6] = { 1, 2, 3, 4, 5, 6 };
    unsigned char ref[12];
    ParseConfigInfo::mixIdentity(base, ref);
    for (int i = 0; i < 6; ++i) {
        for (int v = 0; v < 256; ++v) {
            unsigned char in[6];
            std::memcpy(in, base, 6);
            in[i] = static_cast<unsigned char>(v);
            unsigned char out[12];
            ParseConfigInfo::mixIdentity(in, out);
            EXPECT_EQ(std::memcmp(out, ref, 12) == 0, v == base[i]) << i << " " << v;
        }
    }
}

TEST_F(ParseConfigInfoTest, UniqueId_DriverMissingOrRefusing_EmptyIdentifier)
{
    char id[256] = {};
    EXPECT_LT(ParseConfigInfo::getUniqueID(id), 0); // no driver, no emulated one
    EXPECT_STREQ(id, "");
    EXPECT_EQ(ParseConfigInfo::getBackupPath(), sysroot.path("/media/usb0/hixbackup/"));

    emulatePanelDriver();
    sysroot.writeFile("/run/vexo-hal/id_status", "5\n");
    EXPECT_EQ(ParseConfigInfo::getUniqueID(id), -1);
    EXPECT_STREQ(id, "");
}

namespace {

// The copy lists as the settings reader reads them from a plain description.
std::vector<copyFileInfo_s> bySettingsReader(const QString &plain, const QStringList &sections)
{
    QSettings reader(plain, QSettings::IniFormat);
    reader.setIniCodec(QTextCodec::codecForName("utf-8"));
    ParseConfigInfo parser;
    std::vector<copyFileInfo_s> lists(size_t(sections.size()));
    for (int i = 0; i < sections.size(); ++i)
        parser.parseCopyInfo(lists[size_t(i)], &reader, sections[i]);
    return lists;
}

std::string describe(const copyFileInfo_s &list)
{
    std::string text = list.delBeforeCopy ? "delete first;" : "";
    for (const copyFileData_s &entry : list.copyFileData) {
        const QString fields = QStringList { entry.srcPath, entry.destPath, entry.crcValue,
            QString::number(entry.mode) }
                                   .join('|');
        text += fields.toStdString() + ";";
    }
    return text;
}

} // namespace

// The copy lists of a package of many files are read without the settings reader, and must come
// out exactly as the settings reader reads them; a description whose lines it might read
// otherwise is left to it. Both are checked against the settings reader itself.
TEST_F(ParseConfigInfoTest, CopyLists_ReadLineByLine_AsTheSettingsReaderReadsThem)
{
    const QStringList sections { "COPYFILE", "PROGRAM1_BEFORE_COPYFILE",
        "PROGRAM2_AFTER_COPYFILE" };
    const QByteArray plainLists
        = "[UPDATE_CONFIG]\r\nPROGRAM_NUM=3\r\n"
          "[COPYFILE]\r\nCOPYFILENUM = 6 \r\nDELBEFORECOPY= 1\r\n"
          ";SRCPATH1=commented\r\n"
          "SRCPATH1=  a  b\tc  \r\nDESTPATH1\t=\t/d/é ü\r\nCRCVALUE1=ab12\r\n"
          "SRCPATH1=again\r\nMODE1= 2\r\n"
          "SRCPATH01=not the first\r\nDESTPATH01=/x\r\nSRCPATH0=zero\r\n"
          "SRCPATH2=\xC2\xA0s2\xC2\xA0\r\nDESTPATH2=\r\n"
          "DESTPATH3=/no/source\r\nSRCPATH4=s4\r\nsrcpath5=lower\r\n"
          "[PROGRAM1_CONFIG]\r\nPATH=p1\r\nCMD=\"quoted, a=b\"\r\n"
          "[COPYFILE]\r\nDESTPATH4=/late\r\n"
          "[PROGRAM1_BEFORE_COPYFILE]\r\nCOPYFILENUM=2\r\n"
          "SRCPATH2=b2\r\nDESTPATH2=/b2\r\n"
          "[PROGRAM3_CONFIG]\r\nPATH=p3\r\n"
          "[PROGRAM2_AFTER_COPYFILE]\r\nCOPYFILENUM=-1\r\nSRCPATH1=x\r\n";
    const QByteArray leftToTheSettingsReader[] = {
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=\"a,b\"\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a,b\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a\\tb\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a ;b\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=@String(x)\nDESTPATH1=/d\n",
        "[A]\nk=v\\\n[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a\nDESTPATH1=/d\n",
        "[A]\nCOPYFILE/COPYFILENUM=1\n[COPYFILE]\nSRCPATH1=a\nDESTPATH1=/d\n",
        "[COPY%46ILE]\nCOPYFILENUM=1\nSRCPATH1=a\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\n# x=1\nSRCPATH1=a\nDESTPATH1=/d\n",
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=\xFF\nDESTPATH1=/d\n",
    };

    const QString plain = sysroot.writeFile("/plain.ini", plainLists);
    CopyListReader lines;
    ASSERT_TRUE(lines.read(plain));
    const std::vector<copyFileInfo_s> expected = bySettingsReader(plain, sections);
    ASSERT_EQ(expected[0].copyFileData.size(), 2u) << describe(expected[0]);
    for (int i = 0; i < sections.size(); ++i) {
        copyFileInfo_s taken;
        lines.take(sections[i], taken);
        EXPECT_EQ(describe(taken), describe(expected[size_t(i)])) << sections[i].toStdString();
    }
    // The whole run, scrambled as on the stick: the programs' lists by their section numbers.
    ASSERT_TRUE(parse(plainLists));
    EXPECT_EQ(describe(parser.getCopyFileInfo()), describe(expected[0]));
    const auto programs = parser.getProgramConfigInfo();
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(describe(programs[0].beforeCopy), describe(expected[1]));
    EXPECT_EQ(programs[1].path, QString("p3"));

    // Each of another length: the settings reader takes a file of the same length and time for
    // the one it read a moment before.
    QByteArray padding;
    for (QByteArray ini : leftToTheSettingsReader) {
        ini += padding += '\n';
        const QString other = sysroot.writeFile("/other.ini", ini);
        EXPECT_FALSE(CopyListReader().read(other)) << ini.toStdString();
        ASSERT_TRUE(parse(ini));
        EXPECT_EQ(
            describe(parser.getCopyFileInfo()), describe(bySettingsReader(other, sections)[0]))
            << ini.toStdString();
    }
}
