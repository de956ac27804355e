// Runs of the update driver inside the test process, on a UDiskUpWin object: the finish, the
// questions of a shown page, the close policy while a program runs, and the judgement of each
// program by its own report.
#include "backup_file.h"
#include "udisk_up_win.h"

#include "clogger.h"
#include "modal_script.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "process_helpers.h"
#include "scoped_mount.h"
#include "start_process.h"
#include "temp_sysroot.h"
#include "tool_process_ctrl.h"
#include "update_package.h"
#include "window_run.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

class UpdateRunTest : public ::testing::Test, protected WindowRun
{
};

const QString EmptyPackage = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n");

QString finishWith(int beeps, bool reboot = false)
{
    return QStringLiteral("[UPDATE_FINISH_CONFIG]\nBEEPNUM=%1\nREBOOT=%2\n")
        .arg(beeps)
        .arg(reboot ? 1 : 0);
}

} // namespace

TEST_F(UpdateRunTest, BeepNum3_ThreeHalfSecondBeepsOneSecondApart)
{
    run(EmptyPackage + finishWith(3), false);
    ASSERT_TRUE(window->isUpdateSuccess());
    QElapsedTimer clock;
    clock.start();
    QList<qint64> heard;
    while (clock.elapsed() < 4500 && heard.size() < 3) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        while (buzzer().size() > heard.size())
            heard << clock.elapsed();
        QThread::msleep(5);
    }
    EXPECT_EQ(buzzer(), QStringList({ "beep 500", "beep 500", "beep 500" }));
    ASSERT_EQ(heard.size(), 3);
    EXPECT_NEAR(double(heard[0]), 1000.0, 250.0);
    EXPECT_NEAR(double(heard[1] - heard[0]), 1000.0, 250.0);
    EXPECT_NEAR(double(heard[2] - heard[1]), 1000.0, 250.0);
    // No fourth beep follows.
    QTest::qWait(1200);
    EXPECT_EQ(buzzer().size(), 3);
}

TEST_F(UpdateRunTest, BeepNumZeroOrNegative_NoBeepAndNoTimer)
{
    for (const int beeps : { 0, -2 }) {
        run(EmptyPackage + finishWith(beeps), false);
        ASSERT_TRUE(window->isUpdateSuccess()) << beeps;
        const int timers = window->findChildren<QTimer *>().size();
        QTest::qWait(1300);
        EXPECT_TRUE(buzzer().isEmpty()) << beeps;
        // Only the progress refresh runs.
        EXPECT_EQ(timers, 1) << beeps;
    }
}

TEST_F(UpdateRunTest, CloseAfterTheFinishedUpdate_RestartsThePanel)
{
    run(EmptyPackage, true);
    ASSERT_TRUE(window->isUpdateFinished());
    window->show();
    QSignalSpy closed(window.get(), &UDiskUpWin::windowClosed);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(sysroot.readFile("/var/log/restart.log").isEmpty());
    // The restart is announced by one long beep.
    EXPECT_EQ(buzzer(), QStringList { "beep 1000" });
}

TEST_F(UpdateRunTest, RebootPackage_BeepsFirstThenRestartsAndCloses)
{
    run(EmptyPackage + finishWith(2, true), false);
    EXPECT_EQ(buzzer(), QStringList({ "beep 500", "beep 500", "beep 1000" }));
    EXPECT_FALSE(sysroot.readFile("/var/log/restart.log").isEmpty());
}

TEST_F(UpdateRunTest, AfterConditionsNeverHold_NoToTheQuestion_StopsAfterOneRun)
{
    package.writeProgram("never.sh", "exit 0");
    ModalScript no;
    no.answerEveryBox(QStringLiteral("否"));
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/never.sh\n"
                       "[PROGRAM1_AFTER_CHECK]\nFILE_CHECK=%1/never-there\n")
            .arg(package.folder()),
        true);
    EXPECT_EQ(package.runsOf("never.sh"), 1);
    EXPECT_EQ(no.texts.size(), 1);
    EXPECT_EQ(redLines().value(0),
        QStringLiteral("never.sh:升级失败，并取消重新升级，后续升级无法继续！"));
}

TEST_F(UpdateRunTest, SecondProgramReportsNothing_FailsInsteadOfPassingOnTheFirstReport)
{
    package.writeProgram("first.sh", "REPORT 0");
    package.writeProgram("second.sh", "exit 0");
    run(QStringLiteral(
            "[UPDATE_CONFIG]\nPROGRAM_NUM=2\n"
            "[PROGRAM1_CONFIG]\nPATH=%1/first.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=0\n"
            "[PROGRAM2_CONFIG]\nPATH=%1/second.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=0\n")
            .arg(package.folder()),
        false);
    EXPECT_EQ(package.runsOf("first.sh"), 1);
    EXPECT_EQ(package.runsOf("second.sh"), 1);
    EXPECT_TRUE(lines().contains(QStringLiteral("first.sh:程序执行成功...")));
    EXPECT_EQ(redLines(),
        QStringList({ "second.sh:程序执行失败！", "second.sh:程序没有报告执行结果。",
            "second.sh:后续流程已终止!", "second.sh:执行可执行程序失败！", "程序执行失败！" }));
    EXPECT_EQ(UDiskUpWin::updateRes.load(), -1);
    EXPECT_FALSE(window->isUpdateSuccess());
}

TEST_F(UpdateRunTest, ProgramGetsTheLanguageArgumentAfterItsParameters)
{
    package.writeProgram("args.sh", "exit 0");
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/args.sh\nPARAM=a b,c\n")
            .arg(package.folder()),
        false);
    EXPECT_TRUE(window->isUpdateSuccess());
    EXPECT_EQ(UpdatePackage::readFile(package.folder() + "/args.sh.runs"), "a b c -lanID 0000\n");
}

TEST_F(UpdateRunTest, Commands_WrongExitCodeOrUnstartable_NameTheCommandInRed)
{
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
                       "[COMMOND]\nCOMMONDNUM=2\nCOMMONDINFO1=true\nEXECRESULT1=0\n"
                       "COMMONDINFO2=false\nEXECRESULT2=0\n"),
        false);
    EXPECT_EQ(redLines(), QStringList({ "false 命令执行失败！", "命令执行失败！" }));
    EXPECT_TRUE(log().startsWith("[失败]\n"));

    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
                       "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=/no/such/command x\n"),
        false);
    EXPECT_EQ(redLines(), QStringList({ "/no/such/command x 命令执行失败！", "命令执行失败！" }));
}

TEST_F(UpdateRunTest, CommandText_ReachesNoShell)
{
    const QString marker = package.folder() + QStringLiteral("/injected");
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
                       "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=echo x; touch %1\n")
            .arg(marker),
        false);
    EXPECT_TRUE(window->isUpdateSuccess());
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(UpdateRunTest, PackageCopyAlreadyDoneHidden_PassedOverAndMarkedWithoutQuestion)
{
    const QString installed = sysroot.writeFile("/usr/vexo_app/a.txt", "installed");
    UpdatePackage::writeFile(package.folder() + "/a.txt", "new");
    ModalScript answers;
    answers.answerEveryBox();
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
                       "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a.txt\nDESTPATH1=%1\n"
                       "[DELFILE]\nDELFILENUM=1\nSRCPATH1=%2\n"
                       "[COPYFILE_AFTER_CHECK]\nFILE_CHECK=%1\n")
            .arg(installed, package.folder() + "/gone"),
        false);
    EXPECT_TRUE(answers.texts.isEmpty());
    EXPECT_EQ(UpdatePackage::readFile(installed), "installed");
    EXPECT_FALSE(lines().contains(QStringLiteral("开始拷贝指定文件...")));
    EXPECT_TRUE(window->isUpdateSuccess());
}

// A check that keeps a list or a program from running says in the log which condition failed
// and what this panel has, in the section the author wrote it.
TEST_F(UpdateRunTest, UnmetBeforeChecks_EachConditionWithWhatThePanelHasInTheLog)
{
    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=1.0\n");
    UpdatePackage::writeFile(package.folder() + "/a.txt", "new");
    package.writeProgram("p.sh", "exit 0");
    const QString missing = sysroot.path("/usr/vexo_app/missing");
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=2\n"
                       "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a.txt\nDESTPATH1=%1\n"
                       "[COPYFILE_BEFORE_CHECK]\nFILE_CHECK=%2\n"
                       "[PROGRAM2_CONFIG]\nPATH=p.sh\n"
                       "[PROGRAM2_BEFORE_CHECK]\nAPP_VERSION=2.0\nFILE_CHECK=%2\n")
            .arg(sysroot.path("/usr/vexo_app/a.txt"), missing),
        false);
    EXPECT_EQ(package.runsOf("p.sh"), 0);
    EXPECT_EQ(redLines(),
        QStringList({ "p.sh:不满足升级条件，不能升级！",
            "PROGRAM2_BEFORE_CHECK/APP_VERSION：升级包要求 2.0，本机为 1.0",
            "PROGRAM2_BEFORE_CHECK/FILE_CHECK：升级包要求 " + missing + "，本机为 不存在",
            "程序执行失败！" }));
    const QString logText = QString::fromUtf8(log());
    EXPECT_TRUE(logText.contains(
        "\nCOPYFILE_BEFORE_CHECK/FILE_CHECK：升级包要求 " + missing + "，本机为 不存在\n"))
        << qPrintable(logText);
    EXPECT_TRUE(
        logText.contains("\nPROGRAM2_BEFORE_CHECK/APP_VERSION：升级包要求 2.0，本机为 1.0\n"));
}

TEST_F(UpdateRunTest, RefusedUpdate_ShowsTheReasonInRedAndNeverStarts)
{
    package.writeDescription(EmptyPackage);
    window = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), false);
    window->setLogger(logger.get());
    window->refuseUpdate(QStringLiteral("[失败]正在退出应用程序，请稍候..."));
    window->updateShow();
    QTest::qWait(800);
    EXPECT_FALSE(window->isUpdateStarted());
    EXPECT_EQ(redLines(), QStringList { "[失败]正在退出应用程序，请稍候..." });
    EXPECT_TRUE(window->findChild<QPushButton *>(QStringLiteral("btnRestart"))->isEnabled());
    EXPECT_EQ(log(), LauncherHead + "[失败]正在退出应用程序，请稍候...\n");
}

TEST_F(UpdateRunTest, AlreadyUpdatedProgram_AskedWhenShown_NoRunsOnlyTheAfterOperations)
{
    package.writeProgram("done.sh", "exit 0");
    const QString marker = package.folder() + QStringLiteral("/after_ran");
    const QString ini
        = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                         "[PROGRAM1_CONFIG]\nPATH=%1/done.sh\n"
                         "[PROGRAM1_AFTER_CHECK]\nFILE_CHECK=%1/done.sh\n"
                         "[PROGRAM1_AFTER_COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=touch %2\n")
              .arg(package.folder(), marker);
    {
        ModalScript no;
        no.answerEveryBox(QStringLiteral("否"));
        run(ini, true);
        EXPECT_EQ(no.texts,
            QStringList {
                QStringLiteral("done.sh：当前已满足升级后条件，无需升级，是否重新升级？") });
    }
    EXPECT_EQ(package.runsOf("done.sh"), 0);
    EXPECT_TRUE(QFileInfo::exists(marker));
    EXPECT_TRUE(window->isUpdateSuccess());

    // Hidden: the default answer, without a question.
    QFile::remove(marker);
    ModalScript answers;
    answers.answerEveryBox();
    run(ini, false);
    EXPECT_TRUE(answers.texts.isEmpty());
    EXPECT_EQ(package.runsOf("done.sh"), 0);
    EXPECT_TRUE(QFileInfo::exists(marker));

    // Yes runs it again.
    ModalScript yes;
    yes.answerEveryBox(QStringLiteral("是"));
    run(ini, true);
    EXPECT_EQ(package.runsOf("done.sh"), 1);
    EXPECT_TRUE(window->isUpdateSuccess());
}

TEST_F(UpdateRunTest, ScrambledProgram_RunsFromItsUnscrambledCopyWhichIsRemovedAfterwards)
{
    const QString plain = package.writeProgram("secret.sh", "exit 0");
    UpdatePackage::writeScrambled(plain, UpdatePackage::readFile(plain));
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/secret.sh\nIS_ENCRYPT=1\n")
            .arg(package.folder()),
        false);
    EXPECT_TRUE(window->isUpdateSuccess());
    EXPECT_EQ(package.runsOf("secret.sh"), 1);
    EXPECT_FALSE(QFileInfo::exists(plain + QStringLiteral(".tmp")));
    EXPECT_TRUE(lines().contains(QStringLiteral("secret.sh:程序执行完成...")));
}

TEST_F(UpdateRunTest, TwoPrograms_ProgressAddsSixtyDividedByTheCountPerProgram)
{
    package.writeProgram("a.sh", "exit 0");
    package.writeProgram("b.sh", "exit 1");
    std::vector<programConfig_s> programs(3);
    programs[0].path = package.folder() + QStringLiteral("/a.sh");
    programs[1].path = package.folder() + QStringLiteral("/a.sh");
    programs[2].path = package.folder() + QStringLiteral("/b.sh");
    ToolProcessCtrl::GetInstance()->initIniPath(
        ParseConfigInfo::getBackupPath() + QStringLiteral("_proctrl"));
    window = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), false);
    window->setLogger(logger.get());
    EXPECT_TRUE(window->updateProgram(programs));
    EXPECT_EQ(package.runsOf("a.sh"), 2);
    EXPECT_EQ(package.runsOf("b.sh"), 1);
    EXPECT_EQ(window->progress(), 3 * (60 / 3));
    EXPECT_FALSE(window->isCheckResultServing());
}

TEST_F(UpdateRunTest, MismatchWithFailedLaterActionSet_StillFailsTheStepAfterTheBlackLines)
{
    package.writeProgram("odd.sh", "REPORT 1");
    package.writeProgram("next.sh", "exit 0");
    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=2\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/odd.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=0\n"
                       "EXEC_FAILED_LATER_ACTION=1\n[PROGRAM2_CONFIG]\nPATH=%1/next.sh\n")
            .arg(package.folder()),
        false);
    const QStringList shown = lines();
    EXPECT_TRUE(shown.contains(QStringLiteral("odd.sh:程序执行失败！")));
    EXPECT_EQ(shown.value(shown.indexOf(QStringLiteral("odd.sh:程序执行失败！")) + 1),
        QStringLiteral("odd.sh:程序报告的执行结果为1，成功结果应为0。"));
    EXPECT_TRUE(shown.contains(QStringLiteral("odd.sh:继续后续流程...")));
    EXPECT_EQ(redLines(), QStringList({ "odd.sh:执行可执行程序失败！", "程序执行失败！" }));
    EXPECT_EQ(package.runsOf("next.sh"), 0);
    EXPECT_FALSE(window->isUpdateSuccess());
}

// A run cut off while its program ran, after the program had changed the files its backup
// protects: the state file names the program with "?", the backup is complete.
TEST_F(UpdateRunTest, ResumeAfterCutWhileProgramRan_KeepsTheCompleteBackupAndRestoresIt)
{
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "user data");
    package.writeProgram("p.sh", QStringLiteral("echo scribbled > '%1'").arg(db));
    const QString root = ParseConfigInfo::getBackupPath();
    std::vector<programConfig_s> programs(1);
    programs[0].path = package.folder() + QStringLiteral("/p.sh");
    backupFileInfo_s saved;
    saved.srcPath = db;
    saved.dstPath = root + QStringLiteral("/p1/user.db");
    saved.existCheck = true;
    programs[0].beforeBackup = { saved };

    backup_file_c backup(DIRECT_BACKUP);
    ASSERT_TRUE(backup.getBackupFileList(programs[0].beforeBackup)
        && backup.generateCheckFile(root + QStringLiteral("/backupFileCheck.ini"))
        && backup.backupFile(programs[0].beforeBackup) && backup.checkBackupFile(DIRECT_BACKUP));
    sysroot.writeFile("/usr/vexo_app/config/user.db", "scribbled before the cut\n");
    ToolProcessCtrl *state = ToolProcessCtrl::GetInstance();
    state->initIniPath(root + QStringLiteral("_proctrl"));
    state->setProcessValue(ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX), QStringLiteral("0"));
    state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_UNKNOWN);

    window = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), false);
    window->setLogger(logger.get());
    EXPECT_TRUE(window->updateProgram(programs));
    EXPECT_EQ(package.runsOf("p.sh"), 1);
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/config/user.db"), QByteArray("user data"));
    EXPECT_FALSE(QFileInfo::exists(root)) << "the backup goes once it is restored";

    // A fresh run of the same program backs up anew: nothing is kept without an interruption.
    sysroot.writeFile("/usr/vexo_app/config/user.db", "edited by the operator");
    state->removeCtrlIni();
    EXPECT_TRUE(window->updateProgram(programs));
    EXPECT_EQ(
        sysroot.readFile("/usr/vexo_app/config/user.db"), QByteArray("edited by the operator"));
}

// A run cut off after a program had finished, before the next one began.
TEST_F(UpdateRunTest, ResumeAfterAFinishedProgram_RunsTheProgramsAfterIt)
{
    package.writeProgram("a.sh", "exit 0");
    package.writeProgram("b.sh", "exit 0");
    std::vector<programConfig_s> programs(2);
    programs[0].path = package.folder() + QStringLiteral("/a.sh");
    programs[1].path = package.folder() + QStringLiteral("/b.sh");
    ToolProcessCtrl *state = ToolProcessCtrl::GetInstance();
    state->initIniPath(ParseConfigInfo::getBackupPath() + QStringLiteral("_proctrl"));
    state->setProcessValue(ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX), QStringLiteral("0"));
    state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_SUCCESS);

    window = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), false);
    window->setLogger(logger.get());
    EXPECT_TRUE(window->updateProgram(programs));
    EXPECT_EQ(package.runsOf("a.sh"), 0);
    EXPECT_EQ(package.runsOf("b.sh"), 1);
}

// The panel identifier cannot be read (no driver, no stand-in): the stick's backup folder would be
// the bare "hixbackup", which holds every panel's backups.
TEST_F(UpdateRunTest, PanelIdentifierUnreadable_StopsBeforeChangingAnythingAndKeepsOtherBackups)
{
    QDir(sysroot.path("/run/vexo-hal")).removeRecursively();
    const QString other = package.stick() + QStringLiteral("/hixbackup/00112233445566778899aabb");
    UpdatePackage::writeFile(other + QStringLiteral("/backupFileCheck.ini"), "[File1]\n");
    UpdatePackage::writeFile(other + QStringLiteral("/config/user.db"), "other panel's data");
    UpdatePackage::writeFile(other + QStringLiteral("_proctrl/toolProcessCtrl.ini"),
        "[updatePro]\ncurProIndex=0\nexecResult=?\n");
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "user data");
    const QString old = sysroot.writeFile("/usr/vexo_app/old.txt", "old");
    package.writeProgram("p.sh", QStringLiteral("echo scribbled > '%1'").arg(db));

    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                       "[DELFILE]\nDELFILENUM=1\nSRCPATH1=%1\n"
                       "[PROGRAM1_CONFIG]\nPATH=%2/p.sh\n"
                       "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\nSRCPATH1=%3\n"
                       "DSTPATH1=config/user.db\n")
            .arg(old, package.folder(), db),
        false);

    EXPECT_EQ(redLines(), QStringList { QStringLiteral("读取平台标识失败！") });
    EXPECT_TRUE(log().startsWith("[失败]\n------------------------\n"));
    EXPECT_FALSE(window->isUpdateSuccess());
    EXPECT_EQ(package.runsOf("p.sh"), 0);
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/old.txt"), QByteArray("old"));
    EXPECT_EQ(UpdatePackage::readFile(other + QStringLiteral("/config/user.db")),
        QByteArray("other panel's data"));
    EXPECT_TRUE(QFileInfo::exists(other + QStringLiteral("_proctrl/toolProcessCtrl.ini")));
    EXPECT_EQ(QDir(package.stick() + QStringLiteral("/hixbackup"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({ "00112233445566778899aabb", "00112233445566778899aabb_proctrl" }));
}

// ---------------------------------------------------------------------------------------------
// Faults of the field

namespace {

// A progress state file as another package's updater left it on the same stick.
void writeForeignState(const QByteArray &groups)
{
    const QString dir = ParseConfigInfo::getBackupPath() + QStringLiteral("_proctrl");
    UpdatePackage::writeFile(
        dir + QStringLiteral("/toolProcessCtrl.ini"), "[package]\ndigest=0123abcd\n" + groups);
}

} // namespace

TEST_F(UpdateRunTest, StateOfAnotherPackage_NeverMakesThisOnePassOverItsCopyList)
{
    package.writeFile(package.folder() + QStringLiteral("/b.conf"), "package b");
    writeForeignState("[copyFile]\nstatus=success\n");
    run(QStringLiteral("[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=%1/b.conf\nDESTPATH1=%2\n")
            .arg(package.folder(), sysroot.path("/usr/vexo_app/b.conf")),
        false);
    EXPECT_TRUE(window->isUpdateSuccess()) << qPrintable(lines().join('\n'));
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/b.conf"), "package b");
    EXPECT_TRUE(lines().contains(MultilingualManager::GetInstance()->getMultilingualValue(2191)));
}

TEST_F(UpdateRunTest, PendingBackupOfAnotherPackage_KeptUnlessTheTechnicianAgrees)
{
    const QString settings = sysroot.writeFile("/usr/vexo_app/config/user.ini", "panel settings");
    const QString backupRoot = ParseConfigInfo::getBackupPath();
    UpdatePackage::writeFile(backupRoot + QStringLiteral("/a/user.ini"), "saved by package a");
    UpdatePackage::writeFile(backupRoot + QStringLiteral("/backupFileCheck.ini"),
        "[File1]\nsrcPath=" + settings.toUtf8() + "\ndestPath=" + backupRoot.toUtf8()
            + "/a/user.ini\ncrc32=0\n");
    writeForeignState("[updatePro]\ncurProIndex=0\nexecResult=?\n");
    package.writeProgram("b.sh", "exit 0");
    const QString description
        = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=%1/b.sh\n"
                         "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\nSRCPATH1=%2\n"
                         "DSTPATH1=b/user.ini\nMODE1=0\n")
              .arg(package.folder(), settings);

    // Nobody to ask: nothing is touched, the red line says why.
    run(description, false);
    EXPECT_FALSE(window->isUpdateSuccess());
    EXPECT_EQ(package.runsOf("b.sh"), 0);
    EXPECT_EQ(
        UpdatePackage::readFile(backupRoot + QStringLiteral("/a/user.ini")), "saved by package a");
    EXPECT_EQ(
        redLines(), QStringList { MultilingualManager::GetInstance()->getMultilingualValue(2193) });

    // The technician agrees: the backup is kept under another name and the run goes on.
    ModalScript yes;
    yes.answerEveryBox(QStringLiteral("是"));
    run(description, true);
    EXPECT_TRUE(window->isUpdateSuccess()) << qPrintable(lines().join('\n'));
    EXPECT_EQ(package.runsOf("b.sh"), 1);
    EXPECT_EQ(UpdatePackage::readFile(backupRoot + QStringLiteral("_kept/a/user.ini")),
        "saved by package a");
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/config/user.ini"), "panel settings");
}

TEST_F(UpdateRunTest, StickFullOrReadOnly_NothingOnThePanelChanges)
{
    const QString source = package.folder() + QStringLiteral("/new.conf");
    const auto runOnTheStick = [&](int expectedRed) {
        package.writeFile(source, "new");
        package.writeDescription(
            QStringLiteral("[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=%1\nDESTPATH1=%2\n")
                .arg(source, sysroot.path("/usr/vexo_app/new.conf")));
        return [this, expectedRed] {
            logger = std::make_unique<CLogger>(logPath, CLogger::READ_WRITE);
            logger->toggleLogger(true);
            window
                = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), false);
            window->setLogger(logger.get());
            QDir::setCurrent(package.folder());
            window->startUpdate();
            QDir::setCurrent(previousDir);
            EXPECT_EQ(redLines(),
                QStringList {
                    MultilingualManager::GetInstance()->getMultilingualValue(expectedRed) });
            EXPECT_FALSE(QFileInfo::exists(sysroot.path("/usr/vexo_app/new.conf")));
            EXPECT_FALSE(QFileInfo::exists(sysroot.path("/usr/vexo_app/new.conf.tmp")));
            window.reset();
        };
    };
    {
        // A full stick: neither the state nor the log takes another byte.
        const testsupport::ScopedMount stick(package.stick(), 64 * 1024);
        if (!stick.isMounted())
            GTEST_SKIP() << "cannot mount here";
        QDir().mkpath(package.folder());
        sysroot.writeFile("/media/usb0/upgradeProcess.log", LauncherHead);
        const auto run = runOnTheStick(2183);
        testsupport::ScopedMount::fill(package.stick() + QStringLiteral("/filler"));
        run();
        logger.reset();
    }
    // A stick the kernel made read-only, the state kept elsewhere: the log cannot be written.
    const auto run = runOnTheStick(2184);
    qputenv("VEXO_EXPORT_DIR", QFile::encodeName(sysroot.path("/export")));
    const testsupport::ScopedMount readOnly(package.stick());
    ASSERT_TRUE(readOnly.isMounted());
    run();
    qunsetenv("VEXO_EXPORT_DIR");
}

TEST_F(UpdateRunTest, ProgramStillRunningFromAnEarlierRun_IsEndedBeforeItStartsAgain)
{
    const QString events = package.folder() + QStringLiteral("/events");
    const QString pidFile = package.folder() + QStringLiteral("/first.pid");
    const QString script = package.writeProgram("busy.sh",
        QStringLiteral("if [ ! -f '%1' ]; then\n  echo $$ > '%1'\n"
                       "  trap 'echo ended >> \"%2\"; exit 0' TERM\n"
                       "  while :; do sleep 0.1; done\nfi\necho second >> '%2'")
            .arg(pidFile, events));
    ASSERT_EQ(startProcess::startProc(package.folder(), script, { "-lanID 0000" }), 0);
    ASSERT_TRUE(waitForFile(pidFile));
    QThread::msleep(100);
    const qint64 first = UpdatePackage::readFile(pidFile).trimmed().toLongLong();

    run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=%1\n").arg(script),
        false);
    const bool firstStillRan = processAlive(first);
    endProcess(first);
    EXPECT_FALSE(firstStillRan);
    EXPECT_EQ(UpdatePackage::readFile(events), "ended\nsecond\n");
    EXPECT_TRUE(
        lines().contains(QStringLiteral("程序busy.sh上次启动的实例仍在运行，正在结束它...")));
    EXPECT_TRUE(window->isUpdateSuccess());
}
