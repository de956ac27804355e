// Complete updates with the real upgrunner.bin, copied into the emulated stick's "hixupdateu"
// folder as on the panel, running packages whose description is scrambled with hixpack.
#include "fake_runtime.h"
#include "modal_script.h"
#include "package_manifest.h"
#include "parse_config_info.h"
#include "process_helpers.h"
#include "process_supervisor.h"
#include "temp_sysroot.h"
#include "tool_process_ctrl.h"
#include "update_package.h"
#include "window_run.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

const QByteArray LauncherHead = "[失败]\n------------------------\n";

class UpgrunnerRun : public ::testing::Test
{
protected:
    UpgrunnerRun()
        : package(sysroot)
        , panel(sysroot.path("/usr/vexo_app"))
    {
        program = package.folder() + QStringLiteral("/upgrunner.bin");
        copied = QFile::copy(UpdatePackage::binDir() + QStringLiteral("/upgrunner.bin"), program);
        QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        resetLog();
        QDir().mkpath(panel);
    }
    ~UpgrunnerRun() override
    {
        for (auto &process : processes) {
            endProcess(process->processId());
            process->waitForFinished(5000);
        }
        for (qint64 pid : programPids)
            endProcess(pid);
    }

    void resetLog() const
    {
        UpdatePackage::writeFile(
            package.stick() + QStringLiteral("/upgradeProcess.log"), LauncherHead);
    }

    // Scrambles the plain description with the package tool.
    bool writeDescription(const QString &ini) const
    {
        const QString plain = sysroot.path("/plain.ini");
        UpdatePackage::writeFile(plain, QByteArray("\xEF\xBB\xBF# update\n") + ini.toUtf8());
        QProcess hixpack;
        hixpack.start(UpdatePackage::binDir() + QStringLiteral("/hixpack"),
            { QStringLiteral("scramble"), plain,
                package.folder() + QStringLiteral("/update.ini") });
        return hixpack.waitForFinished(10000) && hixpack.exitCode() == 0;
    }

    QString crcOf(const QString &path) const
    {
        QProcess hixpack;
        hixpack.start(
            UpdatePackage::binDir() + QStringLiteral("/hixpack"), { QStringLiteral("crc"), path });
        hixpack.waitForFinished(10000);
        return QString::fromLatin1(hixpack.readAllStandardOutput()).trimmed();
    }

    QProcess *start(const QStringList &args)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIX_SYSROOT", sysroot.root());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("VEXO_PROJECT_DIR");
        environment.remove("VEXO_EXPORT_DIR");
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, args);
        process->waitForStarted(5000);
        processes.push_back(std::move(process));
        return processes.back().get();
    }

    // Runs the updater invisibly until it ends by itself (true) or the log holds the line.
    bool runUntil(const QString &line, int timeoutMs = 20000,
        const QStringList &args = { "-showUpdatePage 0" })
    {
        QProcess *runner = start(args);
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (runner->state() == QProcess::NotRunning || runner->waitForFinished(50))
                return true;
            if (!line.isEmpty() && logLines().contains(line)) {
                // A hidden run ends itself once its state is written; one that waits for its
                // operator is ended by the test. A fixed pause lost that race on a loaded machine.
                if (!runner->waitForFinished(3000)) {
                    endProcess(runner->processId());
                    runner->waitForFinished(5000);
                }
                return true;
            }
        }
        output = runner->readAll();
        return false;
    }

    QStringList logLines() const
    {
        return package.log().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString status(const QString &key) const
    {
        QSettings state(package.stateFile(), QSettings::IniFormat);
        return state.value(key).toString();
    }
    QStringList buzzer() const
    {
        return QString::fromUtf8(sysroot.readFile("/run/buzzer.log"))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString panelFile(const QString &name) const { return panel + QLatin1Char('/') + name; }

    TempSysroot sysroot;
    UpdatePackage package;
    QString panel;
    QString program;
    bool copied = false;
    QByteArray output;
    std::vector<std::unique_ptr<QProcess>> processes;
    std::vector<qint64> programPids;
};

const QString FinishReboot = QStringLiteral("[UPDATE_FINISH_CONFIG]\nBEEPNUM=2\nREBOOT=1\n");
// The same without beeps, for runs that only need the updater to end by itself.
const QString QuietReboot = QStringLiteral("[UPDATE_FINISH_CONFIG]\nBEEPNUM=0\nREBOOT=1\n");

} // namespace

TEST_F(UpgrunnerRun, EveryListKindAndTwoReportingPrograms_InstallAndEndInSuccess)
{
    ASSERT_TRUE(copied);
    UpdatePackage::writeFile(package.folder() + "/files/app.bin", "#!/bin/sh\nexit 0\n");
    UpdatePackage::writeFile(package.folder() + "/files/lib/a.so", "library a");
    UpdatePackage::writeFile(package.folder() + "/files/lib/sub/b.so", "library b");
    UpdatePackage::writeFile(panelFile("old.txt"), "old");
    UpdatePackage::writeFile(panelFile("config/keep.ini"), "operator settings");
    UpdatePackage::writeFile(panelFile("before_old.txt"), "x");
    UpdatePackage::writeFile(panelFile("after_old.txt"), "x");
    // The first program replaces the settings; the backup made before it puts them back.
    package.writeProgram("prog1.sh",
        QStringLiteral("echo replaced > '%1'\nREPORT 0").arg(panelFile("config/keep.ini")));
    package.writeProgram("prog2.sh", QStringLiteral("REPORT 5"));
    ASSERT_TRUE(writeDescription(
        QStringLiteral(
            "[UPDATE_CONFIG]\nPROGRAM_NUM=2\n"
            "[COPYFILE]\nCOPYFILENUM=2\nSRCPATH1=files/app.bin\nDESTPATH1=%1/bin/"
            "app.bin\nCRCVALUE1=%2\n"
            "SRCPATH2=files/lib/\nDESTPATH2=%1/lib/\nMODE2=2\n"
            "[DELFILE]\nDELFILENUM=1\nSRCPATH1=%1/old.txt\n"
            "[EXEFILE]\nEXEFILENUM=1\nSRCPATH1=%1/bin/app.bin\n"
            "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=touch %1/command_ran\nEXECRESULT1=0\n"
            "[PROGRAM1_CONFIG]\nPATH=%3/prog1.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=0\n"
            "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\nSRCPATH1=%1/config/keep.ini\n"
            "DSTPATH1=config/keep.ini\nEXIST_CHECK1=1\n"
            "[PROGRAM1_BEFORE_COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=files/lib/a.so\nDESTPATH1=%1/"
            "before.so\n"
            "[PROGRAM1_BEFORE_DELFILE]\nDELFILENUM=1\nSRCPATH1=%1/before_old.txt\n"
            "[PROGRAM1_BEFORE_EXEFILE]\nEXEFILENUM=1\nSRCPATH1=%1/before.so\n"
            "[PROGRAM1_BEFORE_COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=touch %1/before_command\n"
            "[PROGRAM1_AFTER_COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=files/lib/a.so\nDESTPATH1=%1/"
            "after.so\n"
            "[PROGRAM1_AFTER_DELFILE]\nDELFILENUM=1\nSRCPATH1=%1/after_old.txt\n"
            "[PROGRAM1_AFTER_EXEFILE]\nEXEFILENUM=1\nSRCPATH1=%1/after.so\n"
            "[PROGRAM1_AFTER_COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=touch %1/after_command\n"
            "[PROGRAM2_CONFIG]\nPATH=%3/prog2.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=5\n")
            .arg(panel, crcOf(package.folder() + "/files/app.bin"), package.folder())
        + FinishReboot));

    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    SCOPED_TRACE(package.log().toStdString());
    const QProcess &runner = *processes.back();
    EXPECT_EQ(runner.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(runner.exitCode(), 0);

    const QStringList lines = logLines();
    EXPECT_EQ(lines.value(0), QStringLiteral("[成功]"));
    EXPECT_TRUE(lines.contains(QStringLiteral("prog1.sh:程序执行成功...")));
    EXPECT_TRUE(lines.contains(QStringLiteral("prog2.sh:程序执行成功...")));
    EXPECT_TRUE(lines.contains(QStringLiteral("prog1.sh:文件恢复成功...")));
    EXPECT_EQ(lines.value(lines.size() - 1), QStringLiteral("升级成功，请点击重启生效。"));
    EXPECT_EQ(package.runsOf("prog1.sh"), 1);
    EXPECT_EQ(package.runsOf("prog2.sh"), 1);
    EXPECT_EQ(UpdatePackage::readFile(package.folder() + "/prog2.sh.runs"), "-lanID 0000\n");

    EXPECT_EQ(UpdatePackage::readFile(panelFile("bin/app.bin")), "#!/bin/sh\nexit 0\n");
    EXPECT_TRUE(QFileInfo(panelFile("bin/app.bin")).isExecutable());
    EXPECT_EQ(UpdatePackage::readFile(panelFile("lib/sub/b.so")), "library b");
    EXPECT_FALSE(QFileInfo::exists(panelFile("old.txt")));
    EXPECT_TRUE(QFileInfo::exists(panelFile("command_ran")));
    EXPECT_EQ(UpdatePackage::readFile(panelFile("config/keep.ini")), "operator settings");
    EXPECT_TRUE(QFileInfo(panelFile("before.so")).isExecutable());
    EXPECT_TRUE(QFileInfo(panelFile("after.so")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(panelFile("before_old.txt")));
    EXPECT_FALSE(QFileInfo::exists(panelFile("after_old.txt")));
    EXPECT_TRUE(QFileInfo::exists(panelFile("before_command")));
    EXPECT_TRUE(QFileInfo::exists(panelFile("after_command")));

    EXPECT_TRUE(package.stateFile().isEmpty()) << package.stateFile().toStdString();
    EXPECT_TRUE(package.backupRoot().isEmpty()) << package.backupRoot().toStdString();
    EXPECT_EQ(buzzer(), QStringList({ "beep 500", "beep 500", "beep 1000" }));
    EXPECT_FALSE(sysroot.readFile("/var/log/restart.log").isEmpty());
}

namespace {

// One phase that fails on the first run and is repaired before the second.
struct PhaseFailure
{
    const char *name;
    const char *redLine;
    const char *stateKey;
    const char *startLine; // the phase's first line, shown only when it runs
};

const PhaseFailure PhaseFailures[] = {
    { "copy", "文件拷贝失败！", "copyFile/status", "开始拷贝指定文件..." },
    { "delete", "文件删除失败！", "delFile/status", "开始删除指定文件..." },
    { "grant", "文件赋予可执行权限失败！", "exeFile/status", "给指定文件赋予可执行权限..." },
    { "command", "命令执行失败！", "command/status", "执行指定命令..." },
    { "program", "程序执行失败！", "updatePro/status", "即将启动执行程序..." },
};

} // namespace

TEST_F(UpgrunnerRun, FailureInEachPhase_RedLineFailedStatusAndTheNextRunRepeatsOnlyWhatFailed)
{
    ASSERT_TRUE(copied);
    const QString ini
        = QStringLiteral(
              "[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
              "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=files/a.txt\nDESTPATH1=%1/a.txt\n"
              "[DELFILE]\nDELFILENUM=1\nSRCPATH1=%1/remove_me\n"
              "[EXEFILE]\nEXEFILENUM=1\nSRCPATH1=%1/tool\n"
              "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=test -e %1/command_ok\nEXECRESULT1=0\n"
              "[PROGRAM1_CONFIG]\nPATH=%2/prog.sh\n")
              .arg(panel, package.folder())
        + QuietReboot;
    ASSERT_TRUE(writeDescription(ini));

    for (size_t failing = 0; failing < std::size(PhaseFailures); ++failing) {
        const PhaseFailure &phase = PhaseFailures[failing];
        SCOPED_TRACE(phase.name);
        // Everything is in order but the failing phase.
        QDir(package.stick() + "/hixbackup").removeRecursively();
        QDir(panel).removeRecursively();
        QDir().mkpath(panel);
        QFile::remove(package.folder() + "/prog.sh");
        QFile::remove(package.folder() + "/prog.sh.runs");
        UpdatePackage::writeFile(package.folder() + "/files/a.txt", "a");
        UpdatePackage::writeFile(panelFile("tool"), "t");
        UpdatePackage::writeFile(panelFile("command_ok"), "");
        package.writeProgram("prog.sh", "exit 0");
        switch (failing) {
        case 0:
            QFile::remove(package.folder() + "/files/a.txt");
            break;
        case 1:
            QDir().mkpath(panelFile("remove_me"));
            break; // a folder where a file is named
        case 2:
            QFile::remove(panelFile("tool"));
            break;
        case 3:
            QFile::remove(panelFile("command_ok"));
            break;
        case 4:
            QFile::remove(package.folder() + "/prog.sh");
            break;
        }
        resetLog();
        ASSERT_TRUE(runUntil(QString::fromUtf8(phase.redLine))) << output.toStdString();
        QStringList lines = logLines();
        EXPECT_EQ(lines.value(0), QStringLiteral("[失败]"));
        EXPECT_TRUE(lines.contains(QString::fromUtf8(phase.redLine)));
        EXPECT_EQ(status(QString::fromLatin1(phase.stateKey)), QStringLiteral("failed"));
        for (size_t before = 0; before < failing; ++before)
            EXPECT_EQ(status(QString::fromLatin1(PhaseFailures[before].stateKey)),
                QStringLiteral("success"));
        EXPECT_EQ(package.runsOf("prog.sh"), 0);

        // Repaired: the next run passes over what succeeded and repeats the failed phase.
        switch (failing) {
        case 0:
            UpdatePackage::writeFile(package.folder() + "/files/a.txt", "a");
            break;
        case 1:
            QDir(panelFile("remove_me")).removeRecursively();
            break;
        case 2:
            UpdatePackage::writeFile(panelFile("tool"), "t");
            break;
        case 3:
            UpdatePackage::writeFile(panelFile("command_ok"), "");
            break;
        case 4:
            package.writeProgram("prog.sh", "exit 0");
            break;
        }
        resetLog();
        ASSERT_TRUE(runUntil(QString())) << output.toStdString();
        lines = logLines();
        EXPECT_EQ(lines.value(0), QStringLiteral("[成功]"));
        for (size_t before = 0; before < failing; ++before)
            EXPECT_FALSE(lines.contains(QString::fromUtf8(PhaseFailures[before].startLine)))
                << PhaseFailures[before].name;
        EXPECT_TRUE(lines.contains(QString::fromUtf8(phase.startLine)));
        EXPECT_EQ(package.runsOf("prog.sh"), 1);
        EXPECT_EQ(UpdatePackage::readFile(panelFile("a.txt")), "a");
        EXPECT_TRUE(package.stateFile().isEmpty());
    }
}

TEST_F(UpgrunnerRun, ResumeAtTheThirdProgram_EarlierProgramsAreNotRunAgain)
{
    ASSERT_TRUE(copied);
    for (const char *name : { "p1.sh", "p2.sh", "p3.sh" })
        package.writeProgram(QString::fromLatin1(name), "exit 0");
    ASSERT_TRUE(writeDescription(
        QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=3\n[PROGRAM1_CONFIG]\nPATH=%1/p1.sh\n"
                       "[PROGRAM2_CONFIG]\nPATH=%1/p2.sh\n[PROGRAM3_CONFIG]\nPATH=%1/p3.sh\n")
            .arg(package.folder())
        + QuietReboot));
    ToolProcessCtrl *state = ToolProcessCtrl::GetInstance();
    state->initIniPath(ParseConfigInfo::getBackupPath() + QStringLiteral("_proctrl"));
    state->setProcessValue(
        QLatin1String(ToolProcessCtrl::PackageKey), packageDigest(package.folder()));
    state->setProcessValue(ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX), QStringLiteral("2"));
    state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_UNKNOWN);

    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    EXPECT_EQ(package.runsOf("p1.sh"), 0);
    EXPECT_EQ(package.runsOf("p2.sh"), 0);
    EXPECT_EQ(package.runsOf("p3.sh"), 1);
    EXPECT_EQ(logLines().value(0), QStringLiteral("[成功]"));
    EXPECT_TRUE(package.stateFile().isEmpty());
}

// The runs below are each made twice, with the same package: in the window inside the test
// process, which shows its lines, colours and questions, and as the real program on the stick.

TEST_F(UpgrunnerRun, EveryListEmpty_GoesStraightToTheFinishAsSuccess)
{
    {
        // In the window, the page hidden.
        WindowRun inWindow;
        inWindow.run(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"), false);
        EXPECT_TRUE(inWindow.window->isUpdateFinished());
        EXPECT_TRUE(inWindow.window->isUpdateSuccess());
        EXPECT_EQ(inWindow.window->progress(), 100);
        EXPECT_EQ(inWindow.lines(),
            QStringList({ "开始升级...", "正在解析配置文件...", "配置文件update.ini解析成功...",
                "升级成功，请点击重启生效。" }));
        EXPECT_TRUE(inWindow.redLines().isEmpty());
        EXPECT_TRUE(inWindow.log().startsWith("[成功]\n------------------------\n开始升级...\n"));
        EXPECT_FALSE(QFileInfo::exists(inWindow.package.stateFile()));
        EXPECT_TRUE(
            inWindow.window->findChild<QPushButton *>(QStringLiteral("btnRestart"))->isEnabled());
    }

    // The program, its page shown.
    ASSERT_TRUE(copied);
    ASSERT_TRUE(
        writeDescription(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n") + FinishReboot));
    ASSERT_TRUE(runUntil(QString(), 20000, { "-title Update" })) << output.toStdString();
    EXPECT_EQ(processes.back()->exitCode(), 0);
    EXPECT_EQ(logLines(),
        QStringList({ "[成功]", "------------------------", "开始升级...", "正在解析配置文件...",
            "配置文件update.ini解析成功...", "升级成功，请点击重启生效。" }));
    EXPECT_FALSE(sysroot.readFile("/var/log/restart.log").isEmpty());
}

TEST_F(UpgrunnerRun, AfterConditionsNeverHold_FourRunsThenGivesUp_AskingOnlyWhenShown)
{
    const QString ini = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                                       "[PROGRAM1_CONFIG]\nPATH=%1/never.sh\n"
                                       "[PROGRAM1_AFTER_CHECK]\nFILE_CHECK=%1/never-there\n");
    const QString gaveUp
        = QStringLiteral("never.sh:尝试升级已达到3次，且均升级失败，无法继续升级！");
    {
        // In the window, the page shown: three questions, each answered "是".
        WindowRun inWindow;
        inWindow.package.writeProgram("never.sh", "exit 0");
        ModalScript yes;
        yes.answerEveryBox(QStringLiteral("是"));
        inWindow.run(ini.arg(inWindow.package.folder()), true);
        EXPECT_EQ(inWindow.package.runsOf("never.sh"), 4);
        const QString question
            = QStringLiteral("never.sh:不满足升级后条件，升级失败，是否重新升级？");
        EXPECT_EQ(yes.texts, QStringList({ question, question, question }));
        EXPECT_EQ(inWindow.redLines(), QStringList({ gaveUp, "程序执行失败！" }));
        EXPECT_FALSE(inWindow.window->isUpdateFinished());
        EXPECT_TRUE(inWindow.package.stateText().contains("status=failed"));
        EXPECT_FALSE(inWindow.window->isCheckResultServing());
    }

    // The program, its page hidden: the same four runs without a question.
    ASSERT_TRUE(copied);
    package.writeProgram("never.sh", "exit 0");
    ASSERT_TRUE(writeDescription(ini.arg(package.folder())));
    ASSERT_TRUE(runUntil(QStringLiteral("程序执行失败！"))) << output.toStdString();
    EXPECT_EQ(package.runsOf("never.sh"), 4);
    EXPECT_TRUE(logLines().contains(gaveUp));
    EXPECT_EQ(status("updatePro/status"), QStringLiteral("failed"));
    EXPECT_EQ(status("updatePro/curProIndex"), QStringLiteral("0"));
    EXPECT_EQ(status("updatePro/execResult"), QStringLiteral("?"));
}

TEST_F(UpgrunnerRun, HangingProgram_IsWaitedFor_TheWindowAnswersAndRefusesToCloseUntilItEnds)
{
    const QString ini
        = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=%1/hang.sh\n");
    {
        // In the window, the page shown: a close while the program runs is refused with a box.
        WindowRun inWindow;
        const QString pidFile = inWindow.package.folder() + QStringLiteral("/hang.pid");
        inWindow.package.writeProgram(
            "hang.sh", QStringLiteral("echo $$ > '%1'\nexec sleep 60").arg(pidFile));
        ModalScript answers;
        answers.answerEveryBox();
        bool closeAccepted = true;
        int ticks = 0;
        QTimer probe;
        probe.setInterval(50);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            ++ticks;
            if (ticks == 6 && inWindow.window)
                closeAccepted = inWindow.window->close();
            if (ticks == 10)
                endProcess(UpdatePackage::readFile(pidFile).trimmed().toLongLong());
        });
        probe.start();
        QElapsedTimer took;
        took.start();
        inWindow.run(ini.arg(inWindow.package.folder()), true);
        probe.stop();
        EXPECT_GE(ticks, 10);
        EXPECT_LT(took.elapsed(), 10000);
        EXPECT_FALSE(closeAccepted);
        EXPECT_EQ(answers.texts, QStringList { QStringLiteral("请升级完成后再关闭此窗口！") });
        EXPECT_TRUE(inWindow.lines().contains(QStringLiteral("正在等待 hang.sh 执行结束...")));
        EXPECT_TRUE(inWindow.window->isUpdateSuccess());
    }

    // The program, its page hidden: the head line says the outcome only once the program ended.
    ASSERT_TRUE(copied);
    const QString pidFile = package.folder() + QStringLiteral("/hang.pid");
    package.writeProgram("hang.sh", QStringLiteral("echo $$ > '%1'\nexec sleep 30").arg(pidFile));
    ASSERT_TRUE(writeDescription(ini.arg(package.folder()) + QuietReboot));
    QProcess *runner = start({ "-showUpdatePage 0" });
    ASSERT_TRUE(waitForFile(pidFile));
    const qint64 hanging = UpdatePackage::readFile(pidFile).trimmed().toLongLong();
    programPids.push_back(hanging);
    QThread::msleep(500);
    EXPECT_EQ(runner->state(), QProcess::Running);
    EXPECT_TRUE(logLines().contains(QStringLiteral("正在等待 hang.sh 执行结束...")));
    EXPECT_EQ(logLines().value(0), QStringLiteral("[失败]"));
    endProcess(hanging);
    ASSERT_TRUE(runner->waitForFinished(15000));
    EXPECT_EQ(logLines().value(0), QStringLiteral("[成功]"));
}

TEST_F(UpgrunnerRun, SuccessLaterActionZero_LaterProgramsLeftOutAndTheRunSucceeds)
{
    ASSERT_TRUE(copied);
    package.writeProgram("first.sh", "REPORT 3");
    package.writeProgram("second.sh", "exit 0");
    ASSERT_TRUE(writeDescription(
        QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=2\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/first.sh\nIS_CHECK_RESULT=1\nSUCCESS_RESULT=3\n"
                       "EXEC_SUCCESS_LATER_ACTION=0\n[PROGRAM2_CONFIG]\nPATH=%1/second.sh\n")
            .arg(package.folder())
        + QuietReboot));
    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    EXPECT_EQ(package.runsOf("first.sh"), 1);
    EXPECT_EQ(package.runsOf("second.sh"), 0);
    EXPECT_TRUE(logLines().contains(QStringLiteral("first.sh:后续流程已终止!")));
    EXPECT_EQ(logLines().value(0), QStringLiteral("[成功]"));
    EXPECT_TRUE(package.stateFile().isEmpty());
}

TEST_F(UpgrunnerRun, ExitWaitHandOver_UpdaterLeavesTheProgramRunningAndTheStateFileDeleted)
{
    ASSERT_TRUE(copied);
    const QString pidFile = package.folder() + QStringLiteral("/taker.pid");
    package.writeProgram("taker.sh", QStringLiteral("echo $$ > '%1'\nexec sleep 30").arg(pidFile));
    ASSERT_TRUE(
        writeDescription(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                                        "[PROGRAM1_CONFIG]\nPATH=%1/taker.sh\nIS_EXIT_WAIT=1\n")
                             .arg(package.folder())
            + QuietReboot));
    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    EXPECT_EQ(processes.back()->exitCode(), 0);
    ASSERT_TRUE(waitForFile(pidFile));
    const qint64 taker = UpdatePackage::readFile(pidFile).trimmed().toLongLong();
    programPids.push_back(taker);
    EXPECT_TRUE(processAlive(taker));
    EXPECT_TRUE(package.stateFile().isEmpty());
    EXPECT_TRUE(sysroot.readFile("/var/log/restart.log").isEmpty());
    EXPECT_TRUE(buzzer().isEmpty());
}

TEST_F(UpgrunnerRun, ProgramsThatCannotRun_EndInTheStartFailureAndLeaveTheInstallation)
{
    ASSERT_TRUE(copied);
    UpdatePackage::writeFile(panelFile("keep.txt"), "installed");
    UpdatePackage::writeFile(package.folder() + "/badinterp.sh", "#!/no/such/interpreter\n");
    QDir().mkpath(package.folder() + "/folder.sh");
    for (const char *name : { "missing.sh", "folder.sh", "badinterp.sh" }) {
        SCOPED_TRACE(name);
        QDir(package.stick() + "/hixbackup").removeRecursively();
        resetLog();
        ASSERT_TRUE(writeDescription(
            QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n[PROGRAM1_CONFIG]\nPATH=%1/%2\n")
                .arg(package.folder(), QString::fromLatin1(name))));
        ASSERT_TRUE(runUntil(QStringLiteral("程序执行失败！"))) << output.toStdString();
        const QStringList lines = logLines();
        EXPECT_EQ(lines.value(0), QStringLiteral("[失败]"));
        EXPECT_TRUE(
            lines.contains(QStringLiteral("%1:程序启动失败!").arg(QString::fromLatin1(name))));
        EXPECT_TRUE(lines.contains(
            QStringLiteral("%1:执行可执行程序失败！").arg(QString::fromLatin1(name))));
        EXPECT_EQ(status("updatePro/status"), QStringLiteral("failed"));
        EXPECT_EQ(UpdatePackage::readFile(panelFile("keep.txt")), "installed");
    }
}

TEST_F(UpgrunnerRun, CopySourceMissing_InstalledFilesStayAsTheyWere)
{
    ASSERT_TRUE(copied);
    UpdatePackage::writeFile(package.folder() + "/files/new1.txt", "new 1");
    UpdatePackage::writeFile(panelFile("one.txt"), "installed 1");
    UpdatePackage::writeFile(panelFile("two.txt"), "installed 2");
    ASSERT_TRUE(writeDescription(
        QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
                       "[COPYFILE]\nCOPYFILENUM=2\nSRCPATH1=files/new1.txt\nDESTPATH1=%1/one.txt\n"
                       "SRCPATH2=files/missing.txt\nDESTPATH2=%1/two.txt\n")
            .arg(panel)));
    ASSERT_TRUE(runUntil(QStringLiteral("文件拷贝失败！"))) << output.toStdString();
    EXPECT_EQ(logLines().value(0), QStringLiteral("[失败]"));
    EXPECT_EQ(UpdatePackage::readFile(panelFile("one.txt")), "installed 1");
    EXPECT_EQ(UpdatePackage::readFile(panelFile("two.txt")), "installed 2");
    EXPECT_TRUE(QFileInfo::exists(panelFile("one.txt")));
    EXPECT_EQ(status("copyFile/status"), QStringLiteral("failed"));
}

TEST_F(UpgrunnerRun, RuntimeLeavesOnRequest_TheUpdateRunsOnceItHasGone)
{
    ASSERT_TRUE(copied);
    FakeRuntime runtime({ "--exit-delay", "300" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    QDeadlineTimer registered(5000);
    while (__check_application_state(0) != 0 && !registered.hasExpired())
        QThread::msleep(5);
    ASSERT_EQ(__check_application_state(0), 0);
    ASSERT_TRUE(writeDescription(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n") + QuietReboot));
    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    EXPECT_EQ(processes.back()->exitCode(), 0);
    EXPECT_GE(runtime.reap(5000), 0);
    EXPECT_EQ(logLines().value(0), QStringLiteral("[成功]"));
}

// Nobody can see or press anything of a hidden run: once its outcome is in the log and the state
// file, the updater ends by itself, telling the outcome by its exit status.
TEST_F(UpgrunnerRun, HiddenRun_EndsByItselfOnceTheOutcomeIsWritten)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(writeDescription(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                                                "[DELFILE]\nDELFILENUM=1\nSRCPATH1=%1/remove_me\n"
                                                "[PROGRAM1_CONFIG]\nPATH=%2/prog.sh\n"
                                                "[UPDATE_FINISH_CONFIG]\nBEEPNUM=1\nREBOOT=0\n")
                                     .arg(panel, package.folder())));
    // A delete that cannot be done (a folder where a file is named), then a missing program,
    // then all in order.
    QDir().mkpath(panelFile("remove_me"));
    for (const char *failed : { "delFile/status", "updatePro/status", "" }) {
        SCOPED_TRACE(failed);
        resetLog();
        ASSERT_TRUE(runUntil(QString(), 15000)) << "still waiting: " << output.toStdString();
        EXPECT_EQ(processes.back()->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(processes.back()->exitCode(), *failed ? 1 : 0);
        EXPECT_EQ(
            logLines().value(0), *failed ? QStringLiteral("[失败]") : QStringLiteral("[成功]"));
        if (*failed) {
            EXPECT_EQ(status(QString::fromLatin1(failed)), QStringLiteral("failed"));
        }
        QDir(panelFile("remove_me")).removeRecursively();
        if (processes.size() == 2)
            package.writeProgram("prog.sh", "exit 0");
    }
    EXPECT_TRUE(package.stateFile().isEmpty());
    // The beep the package asks for still sounds; nothing restarts the panel.
    EXPECT_EQ(buzzer(), QStringList { "beep 500" });
    EXPECT_TRUE(sysroot.readFile("/var/log/restart.log").isEmpty());
}

// Started without the launcher (benchmarks, test harnesses), the updater finds no log.
TEST_F(UpgrunnerRun, NoLogFromTheLauncher_TheLogGetsItsHeadAndKeepsEveryLine)
{
    ASSERT_TRUE(copied);
    QFile::remove(package.stick() + QStringLiteral("/upgradeProcess.log"));
    ASSERT_TRUE(writeDescription(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=0\n") + QuietReboot));
    ASSERT_TRUE(runUntil(QString())) << output.toStdString();
    EXPECT_EQ(logLines(),
        QStringList({ "[成功]", "------------------------", "开始升级...", "正在解析配置文件...",
            "配置文件update.ini解析成功...", "升级成功，请点击重启生效。" }));
}

TEST_F(UpgrunnerRun, BuiltStick_FileCutShortAfterTheBuild_StopsBeforeThePanelChanges)
{
    const QString source = sysroot.path("/source");
    UpdatePackage::writeFile(source + QStringLiteral("/update.ini"),
        QStringLiteral("[COPYFILE]\nCOPYFILENUM=2\nSRCPATH1=version.txt\n"
                       "DESTPATH1=/usr/vexo_app/version.txt\nSRCPATH2=runtime\n"
                       "DESTPATH2=/usr/vexo_app/runtime/\nMODE2=2\n")
                .toUtf8()
            + QuietReboot.toUtf8());
    UpdatePackage::writeFile(source + QStringLiteral("/version.txt"), "2.0\n");
    UpdatePackage::writeFile(
        source + QStringLiteral("/runtime/lib/libbig.so"), QByteArray(40 * 1024, 'L'));
    QProcess hixpack;
    hixpack.start(UpdatePackage::binDir() + QStringLiteral("/hixpack"),
        { QStringLiteral("build"), QStringLiteral("--bin"), UpdatePackage::binDir(),
            QStringLiteral("--panel-root"), sysroot.root(), source, package.stick() });
    ASSERT_TRUE(hixpack.waitForFinished(20000) && hixpack.exitCode() == 0)
        << hixpack.readAll().toStdString();
    // Half the library is gone from the stick when the technician starts the update.
    UpdatePackage::writeFile(
        package.folder() + QStringLiteral("/runtime/lib/libbig.so"), QByteArray(20 * 1024, 'L'));

    ASSERT_TRUE(runUntil(QStringLiteral("文件拷贝失败！"))) << output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(panel + QStringLiteral("/runtime/lib/libbig.so")));
    EXPECT_FALSE(QFileInfo::exists(panel + QStringLiteral("/version.txt")));
    EXPECT_TRUE(logLines().contains(
        QStringLiteral("libbig.so 与升级包清单不符（文件已被改动、截短或替换），升级已停止！")))
        << package.log().toStdString();
    EXPECT_EQ(logLines().value(0), QStringLiteral("[失败]"));
}
