// Runs the real launcher program from an emulated stick, with a stand-in updater that records
// how it was started, or with the real updater.
#include "launcher_fixture.h"
#include "my_kill_process.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <memory>
#include <vector>

using namespace testsupport;

namespace {

const QByteArray LogHead = "[失败]\n------------------------\n";

class UpgentryProgram : public LauncherFixture
{
protected:
    UpgentryProgram()
    {
        program = stickFile("upgentry.bin");
        copied = QFile::copy(binDir() + "/upgentry.bin", program)
            && QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QDir().mkpath(stickFile("hixbackup"));
    }
    ~UpgentryProgram() override
    {
        for (auto &process : processes) {
            endProcess(process->processId());
            process->waitForFinished(5000);
        }
        for (qint64 pid : detached)
            endProcess(pid);
    }

    QProcess *start()
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIX_SYSROOT", sysroot.root());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("VEXO_PROJECT_DIR");
        environment.remove("VEXO_EXPORT_DIR");
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(stick());
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, QStringList());
        process->waitForStarted(5000);
        processes.push_back(std::move(process));
        return processes.back().get();
    }

    // Runs the launcher to its end (bounded); its exit code, or -1000 when it did not end.
    int runToEnd()
    {
        QProcess *launcher = start();
        if (!launcher->waitForFinished(15000))
            return -1000;
        output = launcher->readAll();
        return launcher->exitStatus() == QProcess::NormalExit ? launcher->exitCode() : -1001;
    }

    QByteArray expectedStart(int execond, const QString &title, int showPage) const
    {
        return ("argc=5\narg 1=-execond " + QString::number(execond)
            + "\narg 2=-lanID 0000\narg 3=-title " + title + "\narg 4=-showUpdatePage "
            + QString::number(showPage) + "\nLD_LIBRARY_PATH=$PATH:" + stickFile("hixupdateu")
            + ":/usr/vexo_app\ncwd=" + stickFile("hixbackup") + "\n")
            .toUtf8();
    }

    // Waits (bounded) until the run log begins with expected.
    bool waitForLog(const QByteArray &expected, int timeoutMs = 15000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!runLog().startsWith(expected) && !deadline.hasExpired())
            QThread::msleep(20);
        return runLog().startsWith(expected);
    }

    // The updater runs on by itself once started: it is found by its name and path and ended by
    // its id when the test ends.
    int adoptDetachedUpdaters()
    {
        int pids[my_kill_process::MaxProcesses] = {};
        const int count = my_kill_process::get_pid_by_name(
            "upgrunner.bin", pids, my_kill_process::MaxProcesses);
        int found = 0;
        for (int i = 0; i < count; ++i) {
            if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pids[i])).symLinkTarget()
                == stickFile("hixupdateu/upgrunner.bin")) {
                detached.push_back(pids[i]);
                ++found;
            }
        }
        return found;
    }

    QString program;
    bool copied = false;
    QByteArray output;
    std::vector<std::unique_ptr<QProcess>> processes;
    std::vector<qint64> detached;
};

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

} // namespace

TEST_F(UpgentryProgram, FreshPackageWithoutPage_StartsTheUpdaterDetachedWithFourArguments)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installStandIn());
    writeDescription("[UPDATE_CONFIG]\nTOOL_TITLE=2159\nEXEC_CONDITION=2\n");
    EXPECT_EQ(runToEnd(), 0) << output.toStdString();
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedStart(2, text(2159), 1));
    EXPECT_EQ(runLog(), LogHead + "启动成功\n");
}

TEST_F(UpgentryProgram, FinishedRunWithoutFinishText_RemovesHisInfoAndState_StartsTheUpdaterAgain)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installStandIn());
    writeDescription("[UPDATE_CONFIG]\nPROGRAM_NUM=1\nTOOL_TITLE=2159\nTOOL_TIP=2160\n"
                     "SHOW_UPDATE_PAGE=0\n[PROGRAM1_CONFIG]\nPATH=./tool.bin\n");
    const QString state = writeProgressState(0, "success");
    sysroot.writeFile("/media/usb0/HisInfo.ini", "[history]\n");
    EXPECT_EQ(runToEnd(), 0) << output.toStdString();
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedStart(0, text(2159), 0));
    EXPECT_FALSE(QFileInfo::exists(state));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(state).path()));
    EXPECT_FALSE(QFileInfo::exists(stickFile("HisInfo.ini")));
}

TEST_F(UpgentryProgram, RunCutHalfWay_StartsTheUpdaterAtOnce_KeepsTheState)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installStandIn());
    writeDescription(
        "[UPDATE_CONFIG]\nPROGRAM_NUM=2\nTOOL_TITLE=2159\nTOOL_TIP=2160\n"
        "EXEC_CONDITION=1\n[PROGRAM1_CONFIG]\nPATH=./a.bin\n[PROGRAM2_CONFIG]\nPATH=./b.bin\n");
    const QString state = writeProgressState(0);
    sysroot.writeFile("/media/usb0/HisInfo.ini", "[history]\n");
    EXPECT_EQ(runToEnd(), 0) << output.toStdString();
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedStart(1, text(2159), 1));
    EXPECT_TRUE(QFileInfo::exists(state));
    EXPECT_TRUE(QFileInfo::exists(stickFile("HisInfo.ini")));
}

TEST_F(UpgentryProgram, RealUpdater_TakesOverTheRunLog)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installUpdater(binDir() + "/upgrunner.bin"));
    writeDescription("[UPDATE_CONFIG]\nTOOL_TITLE=2159\nSHOW_UPDATE_PAGE=0\n");
    EXPECT_EQ(runToEnd(), 0) << output.toStdString();
    // The updater continues the launcher's log; its head line is the updater's to rewrite.
    QDeadlineTimer deadline(30000);
    while (!runLog().contains("------------------------\n启动成功\n开始升级...\n")
        && !deadline.hasExpired())
        QThread::msleep(20);
    const bool continued = runLog().contains("------------------------\n启动成功\n开始升级...\n");

    adoptDetachedUpdaters();
    EXPECT_TRUE(continued) << runLog().toStdString();
}

TEST_F(UpgentryProgram, UnreadablePackage_KeepsItsDialogOpen_UntilANewerLauncherEndsIt)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installStandIn());
    QProcess *first = start();
    const QByteArray unreadable = LogHead + text(2002).toUtf8() + "\n";
    ASSERT_TRUE(waitForLog(unreadable));
    EXPECT_EQ(runLog(), unreadable);
    EXPECT_FALSE(waitForExit(*first, 300));

    QProcess *second = start();
    EXPECT_TRUE(waitForExit(*first, 10000));
    EXPECT_EQ(second->state(), QProcess::Running);
    EXPECT_FALSE(updaterStarted());
}

TEST_F(UpgentryProgram, RealUpdater_PerformsTheUpdate_ReportsSuccess_RequestsTheRestart)
{
    ASSERT_TRUE(copied);
    ASSERT_TRUE(installUpdater(binDir() + "/upgrunner.bin"));
    sysroot.writeFile("/media/usb0/hixupdateu/files/hello.txt", "hello panel\n");
    QDir().mkpath(sysroot.path("/usr/vexo_app"));
    // Paths inside a description are taken as written: the destination names this sysroot.
    writeDescription("[UPDATE_CONFIG]\nTOOL_TITLE=2159\nSHOW_UPDATE_PAGE=0\n\n[COPYFILE]\n"
                     "COPYFILENUM=1\nSRCPATH1=files/hello.txt\nDESTPATH1="
        + sysroot.path("/usr/vexo_app/hello.txt").toUtf8()
        + "\nMODE1=0\n\n[UPDATE_FINISH_CONFIG]\nREBOOT=1\n");
    EXPECT_EQ(runToEnd(), 0) << output.toStdString();

    QDeadlineTimer deadline(30000);
    while (!runLog().startsWith("[成功]\n------------------------\n启动成功\n")
        && !deadline.hasExpired())
        QThread::msleep(20);
    adoptDetachedUpdaters();
    EXPECT_TRUE(runLog().startsWith("[成功]\n------------------------\n启动成功\n开始升级...\n"))
        << runLog().toStdString();
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/hello.txt"), "hello panel\n");
    EXPECT_TRUE(waitForFile(sysroot.path("/var/log/restart.log")));
}
