// Power cuts at every flush of a run, on a medium that keeps only what was flushed: the run is
// recorded in this process (the medium sees every flush, forgetful_medium.h), and after each cut
// the real updater from the stick starts again, as the launcher starts it after the panel has
// come back. What the next run leaves must be what an uncut run leaves. And a stick pulled
// while the real updater runs from it.
#include "udisk_up_win.h"

#include "clogger.h"
#include "forgetful_medium.h"
#include "multilingual_manager.h"
#include "scoped_mount.h"
#include "temp_sysroot.h"
#include "update_package.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

const QByteArray LauncherHead = "[失败]\n------------------------\n";
const QString Finish = QStringLiteral("[UPDATE_FINISH_CONFIG]\nBEEPNUM=0\nREBOOT=1\n");

// The updater's environment on the emulated panel, with no project or export folder named; what
// it says is read from one channel.
void asTheLauncherStartsIt(QProcess &runner, const TempSysroot &sysroot)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HIX_SYSROOT", sysroot.root());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("VEXO_PROJECT_DIR");
    environment.remove("VEXO_EXPORT_DIR");
    runner.setProcessEnvironment(environment);
    runner.setProcessChannelMode(QProcess::MergedChannels);
}

// The address sanitizer takes mlock() over and locks nothing: a sanitized updater holds no page
// in memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryLocks = false;
#else
constexpr bool MemoryLocks = true;
#endif

// Which device holds the most after the cut: the stick's own cache may have written back
// everything the kernel had handed it, while the panel disk kept only its last flush.
enum StickAfterCut { StickKeptOnlyItsFlushes, StickKeptItsCache };

class PowerCut : public ::testing::Test
{
protected:
    PowerCut()
        : package(sysroot)
        , panel(sysroot.path("/usr/vexo_app"))
        , previousDir(QDir::currentPath())
    {
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
        updater = package.folder() + QStringLiteral("/upgrunner.bin");
        copied = QFile::copy(UpdatePackage::binDir() + QStringLiteral("/upgrunner.bin"), updater);
        QFile::setPermissions(updater, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QDir().mkpath(panel);
    }
    ~PowerCut() override { QDir::setCurrent(previousDir); }

    QString log() const { return package.stick() + QStringLiteral("/upgradeProcess.log"); }

    // The uncut run in this process, every flush recorded; each window line is kept with the
    // flush point at which it was said. The panel it leaves is the reference.
    void recordRun(const QString &ini)
    {
        package.writeDescription(ini + Finish);
        UpdatePackage::writeFile(log(), LauncherHead);
        medium.addDevice(package.stick(), ForgetfulMedium::FatWithCache);
        medium.addDevice(panel, ForgetfulMedium::Journalled);
        {
            CLogger logger(log(), CLogger::READ_WRITE);
            logger.toggleLogger(true);
            UDiskUpWin window(QStringLiteral("0000"), QStringLiteral("t"), false);
            window.setLogger(&logger);
            QObject::connect(&window, &UDiskUpWin::emitMessage,
                [this](const QString &line) { said.emplace_back(line, medium.flushPoints()); });
            QDir::setCurrent(package.folder());
            window.startUpdate();
        }
        medium.stop();
        reference = ForgetfulMedium::snapshot(panel);
    }

    // The flush point at which the run said line (its first time).
    int pointOf(const QString &line) const
    {
        for (const auto &item : said) {
            if (item.first == line)
                return item.second;
        }
        ADD_FAILURE() << "the run never said " << line.toStdString();
        return medium.flushPoints();
    }

    // A cut right after flush point k, then the technician's next start. False when the updater
    // did not end by itself.
    bool cutAndRunAgain(int point, StickAfterCut stick)
    {
        ForgetfulMedium::restore(package.stick(),
            stick == StickKeptItsCache ? medium.cached(package.stick(), point)
                                       : medium.durable(package.stick(), point));
        ForgetfulMedium::restore(panel, medium.durable(panel, point));
        UpdatePackage::writeFile(log(), LauncherHead);
        QProcess runner;
        asTheLauncherStartsIt(runner, sysroot);
        runner.start(updater, { QStringLiteral("-showUpdatePage 0") });
        if (!runner.waitForFinished(30000)) {
            runner.kill();
            runner.waitForFinished(5000);
            // What it said last, and what lay on the stick for it.
            lastOutput = runner.readAll().right(1200) + "\nstick:";
            for (const auto &key : ForgetfulMedium::snapshot(package.stick()).keys())
                lastOutput += ' ' + key.toUtf8();
            return false;
        }
        return true;
    }

    // Cuts after every flush point from first to last whose durable state differs from the one
    // before; returns what went wrong, one line per cut.
    QStringList cutEverywhere(int first, int last, StickAfterCut stick)
    {
        QStringList wrong;
        ForgetfulMedium::Tree previousStick;
        ForgetfulMedium::Tree previousPanel;
        for (int point = first; point <= last; ++point) {
            const ForgetfulMedium::Tree stickTree = stick == StickKeptItsCache
                ? medium.cached(package.stick(), point)
                : medium.durable(package.stick(), point);
            const ForgetfulMedium::Tree panelTree = medium.durable(panel, point);
            if (point > first && stickTree == previousStick && panelTree == previousPanel)
                continue;
            previousStick = stickTree;
            previousPanel = panelTree;
            const QString at = QStringLiteral("cut after flush %1: ").arg(point);
            if (!cutAndRunAgain(point, stick)) {
                wrong << at + QStringLiteral("the next run did not end: ")
                        + QString::fromUtf8(lastOutput);
                continue;
            }
            const ForgetfulMedium::Tree after = ForgetfulMedium::snapshot(panel);
            for (auto it = reference.cbegin(); it != reference.cend(); ++it) {
                if (!after.contains(it.key()))
                    wrong << at + it.key() + QStringLiteral(" lost");
                else if (!(after.value(it.key()) == *it))
                    wrong << at + it.key() + QStringLiteral(" differs");
            }
            for (auto it = after.cbegin(); it != after.cend(); ++it) {
                if (!reference.contains(it.key()))
                    wrong << at + it.key() + QStringLiteral(" left over");
            }
            if (!package.stateFile().isEmpty())
                wrong << at + QStringLiteral("state left on the stick");
        }
        return wrong;
    }

    TempSysroot sysroot;
    UpdatePackage package;
    QString panel;
    QString previousDir;
    QString updater;
    bool copied = false;
    QByteArray lastOutput;
    ForgetfulMedium medium;
    std::vector<std::pair<QString, int>> said;
    ForgetfulMedium::Tree reference;
};

} // namespace

// The backup of the files a program changes must be on the stick before the program starts: a
// cut while it runs, or while its files are put back, leaves the next run only what the stick
// had flushed.
TEST_F(PowerCut, CutWhileTheProgramRunsOrItsBackupIsRestored_TheNextRunPutsTheFilesBack)
{
    ASSERT_TRUE(copied);
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "operator data");
    sysroot.writeFile("/usr/vexo_app/config/recipe.rcp", "operator recipe");
    package.writeProgram("p.sh",
        QStringLiteral("echo scribbled > '%1/config/user.db'\n"
                       "echo scribbled > '%1/config/recipe.rcp'\n"
                       "echo ran > '%1/p.mark'")
            .arg(panel));
    recordRun(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                             "[PROGRAM1_CONFIG]\nPATH=%1/p.sh\n"
                             "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\n"
                             "SRCPATH1=%2/config/\nDSTPATH1=config/\nMODE1=1\n")
                  .arg(package.folder(), panel));
    ASSERT_EQ(UpdatePackage::readFile(db), "operator data");
    ASSERT_TRUE(QFileInfo::exists(panel + QStringLiteral("/p.mark")));

    const QStringList wrong = cutEverywhere(
        pointOf(QStringLiteral("p.sh:启动成功...")), medium.flushPoints(), StickKeptOnlyItsFlushes);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

// The restore's removal of a program's backup is on the stick before the run goes on to the
// program's after-operations: left in the stick's cache while they run, a cut writes back part
// of it, and a FAT torn that way (the folder's entry without its clusters) stopped every later
// run at the next backup in that place (seen on the emulated panel).
TEST_F(PowerCut, BackupRemovedAfterTheRestore_IsOnTheStickBeforeTheAfterCopies)
{
    ASSERT_TRUE(copied);
    sysroot.writeFile("/usr/vexo_app/config/user.db", "operator data");
    package.writeProgram("p.sh", QStringLiteral("echo scribbled > '%1/config/user.db'").arg(panel));
    UpdatePackage::writeFile(package.folder() + QStringLiteral("/extra.txt"), "after the program");
    recordRun(QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                             "[PROGRAM1_CONFIG]\nPATH=%1/p.sh\n"
                             "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\n"
                             "SRCPATH1=%2/config/user.db\nDSTPATH1=config/user.db\n"
                             "[PROGRAM1_AFTER_COPYFILE]\nCOPYFILENUM=1\n"
                             "SRCPATH1=%1/extra.txt\nDESTPATH1=%2/extra.txt\n")
                  .arg(package.folder(), panel));
    ASSERT_EQ(UpdatePackage::readFile(panel + QStringLiteral("/config/user.db")), "operator data");

    const int restored = pointOf(QStringLiteral("p.sh:文件恢复成功..."));
    const int afterCopies = pointOf(QStringLiteral("p.sh:开始拷贝指定文件..."));
    const auto backupFiles = [](const ForgetfulMedium::Tree &stick) {
        QStringList files;
        for (auto it = stick.cbegin(); it != stick.cend(); ++it) {
            if (it.key().startsWith(QLatin1String("hixbackup/"))
                && !it.key().contains(QLatin1String("_proctrl")))
                files << it.key();
        }
        return files;
    };
    ASSERT_FALSE(backupFiles(medium.durable(package.stick(), restored)).isEmpty())
        << "the backup never reached the stick";
    EXPECT_EQ(backupFiles(medium.durable(package.stick(), afterCopies))
                  .join(QLatin1Char(' '))
                  .toStdString(),
        "");
}

// Each line of the run log is on the stick by the stick's next flush, before anything the run did
// after it is: appends left in the stick's cache were written back in part by a pull on the
// emulated panel, and the FAT torn that way stopped the next run's writes to the stick.
TEST_F(PowerCut, RunLogLine_IsOnTheStickByTheNextFlush)
{
    ASSERT_TRUE(copied);
    recordRun(QStringLiteral("[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=true\nEXECRESULT1=0\n"));
    const QString line = QStringLiteral("执行指定命令...");
    const int said = pointOf(line);
    const ForgetfulMedium::Tree before = medium.durable(package.stick(), said);
    int next = said + 1;
    while (next < medium.flushPoints() && medium.durable(package.stick(), next) == before)
        ++next;
    const QByteArray durable
        = medium.durable(package.stick(), next).value("upgradeProcess.log").content;
    EXPECT_TRUE(durable.contains(line.toUtf8())) << durable.toStdString();
}

// A phase is recorded as done only once its work is on the panel's disk: the stick may keep
// the record before the panel disk has committed what it stands for.
TEST_F(PowerCut, CutRightAfterTheCommandsRan_TheNextRunFindsTheirWork)
{
    ASSERT_TRUE(copied);
    recordRun(QStringLiteral("[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=touch %1/command_ran\n"
                             "EXECRESULT1=0\n")
                  .arg(panel));
    ASSERT_TRUE(QFileInfo::exists(panel + QStringLiteral("/command_ran")));

    const QStringList wrong = cutEverywhere(
        pointOf(QStringLiteral("执行指定命令...")), medium.flushPoints(), StickKeptItsCache);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

// The names installed files are set aside under must be on the stick before the first of them
// is moved: a run cut off in the rename pass leaves no set-aside file the next run would not
// know, and so would keep for good.
TEST_F(PowerCut, CutInTheRenamePass_TheNextRunLeavesNoSetAsideFile)
{
    ASSERT_TRUE(copied);
    sysroot.writeFile("/usr/vexo_app/bin/app.bin", "old app");
    sysroot.writeFile("/usr/vexo_app/lib/a.so", "old a");
    UpdatePackage::writeFile(package.folder() + QStringLiteral("/files/app.bin"), "new app");
    UpdatePackage::writeFile(package.folder() + QStringLiteral("/files/lib/a.so"), "new a");
    recordRun(QStringLiteral("[COPYFILE]\nCOPYFILENUM=2\n"
                             "SRCPATH1=%1/files/app.bin\nDESTPATH1=%2/bin/app.bin\nMODE1=0\n"
                             "SRCPATH2=%1/files/lib/\nDESTPATH2=%2/lib/\nMODE2=1\n")
                  .arg(package.folder(), panel));
    ASSERT_EQ(UpdatePackage::readFile(panel + QStringLiteral("/bin/app.bin")), "new app");

    const QStringList wrong = cutEverywhere(pointOf(QStringLiteral("开始拷贝指定文件...")),
        pointOf(QStringLiteral("文件拷贝成功...")), StickKeptOnlyItsFlushes);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

namespace {

// The stick as a file system of its own (a RAM disk mounted on the emulated panel's stick
// folder), so that it can be pulled: unmounted lazily, as the panel's hot-plug script does.
class StickPulled : public ::testing::Test
{
protected:
    StickPulled()
        : stick(sysroot.path("/media/usb0"))
        , panel(sysroot.path("/usr/vexo_app"))
        , mount(stick, 512LL << 20)
    {
        QDir().mkpath(panel);
        QDir().mkpath(sysroot.path("/run/vexo-hal"));
    }

    TempSysroot sysroot;
    QString stick;
    QString panel;
    ScopedMount mount;
};

} // namespace

// The technician pulls the stick while the program of the package runs. The updater runs from
// the stick: it must go on (what it runs from the stick is in memory), say in plain words what
// happened, claim no success, and write nothing into the empty folder the stick leaves behind,
// which belongs to the panel's own disk.
TEST_F(StickPulled, WhileTheProgramRuns_TheUpdaterSaysSoAndWritesNothingUnderTheMountPoint)
{
    if (!mount.isMounted())
        GTEST_SKIP() << "no RAM disk can be mounted here (needs root)";
    const QString source = sysroot.path("/source");
    const QString package = stick + QStringLiteral("/hixupdateu");
    UpdatePackage::writeFile(panel + QStringLiteral("/config/user.db"), "operator data");
    UpdatePackage::writeFile(source + QStringLiteral("/extra.txt"), "after the program");
    // The program notes how much of the updater's stick mappings is held in memory, changes the
    // protected file and pulls the stick.
    UpdatePackage::writeFile(source + QStringLiteral("/pull.sh"),
        QStringLiteral("#!/bin/sh\n"
                       "for p in /proc/[0-9]*; do\n"
                       "  [ \"$(readlink $p/exe)\" = '%1/upgrunner.bin' ] && pid=${p#/proc/}\n"
                       "done\n"
                       "awk -v s='%2/' '/^[0-9a-f]+-/{name=$6; perms=$2} /^Size:/{size=$2}\n"
                       "  /^Locked:/{if (index(name, s) == 1 && perms !~ /^---/) "
                       "print name, size, $2}' /proc/$pid/smaps >'%3/stick_maps.txt'\n"
                       "echo scribbled >'%3/config/user.db'\n"
                       "umount -l '%2'\n")
            .arg(package, stick, panel)
            .toUtf8());
    UpdatePackage::writeFile(source + QStringLiteral("/update.ini"),
        QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                       "[PROGRAM1_CONFIG]\nPATH=%1/pull.sh\n"
                       "[PROGRAM1_BEFORE_BACKUPFILE]\nBACKUPFILENUM=1\n"
                       "SRCPATH1=%2/config/user.db\nDSTPATH1=config/user.db\nEXIST_CHECK1=1\n"
                       "[PROGRAM1_AFTER_COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=extra.txt\n"
                       "DESTPATH1=%2/extra.txt\n")
                .arg(package, panel)
                .toUtf8()
            + Finish.toUtf8());
    const ToolRun build = runTool(UpdatePackage::binDir() + QStringLiteral("/hixpack"),
        { QStringLiteral("build"), QStringLiteral("--bin"), UpdatePackage::binDir(),
            QStringLiteral("--panel-root"), sysroot.root(), source, stick });
    ASSERT_EQ(build.exitCode, 0) << build.out.constData() << build.err.constData();
    // The program is named by its path in this test's sysroot, which the build does not take
    // for a file of the package: the run goes without the package's manifest.
    QFile::remove(package + QStringLiteral("/update.manifest"));
    UpdatePackage::writeFile(stick + QStringLiteral("/upgradeProcess.log"), LauncherHead);

    QProcess runner;
    asTheLauncherStartsIt(runner, sysroot);
    runner.start(
        package + QStringLiteral("/upgrunner.bin"), { QStringLiteral("-showUpdatePage 0") });
    ASSERT_TRUE(runner.waitForFinished(60000)) << "the updater did not end";
    const QString said = QString::fromUtf8(runner.readAll());

    EXPECT_TRUE(said.contains(QStringLiteral("U盘已被拔出，升级没有完成！"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("升级成功"))) << said.toStdString();
    EXPECT_EQ(QDir(stick).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList())
        << "written under the mount point";

    // Every mapping the updater has of its own program and of the stick's libraries is held in
    // memory, but ICU's data.
    const QStringList maps
        = QString::fromUtf8(UpdatePackage::readFile(panel + QStringLiteral("/stick_maps.txt")))
              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    bool program = false;
    for (const QString &line : maps) {
        const QStringList fields = line.split(QLatin1Char(' '));
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        program = program || fields[0].endsWith(QLatin1String("/upgrunner.bin"));
        if (MemoryLocks && !fields[0].contains(QLatin1String("libicudata"))) {
            EXPECT_EQ(fields[2], fields[1]) << "not held in memory: " << line.toStdString();
        }
    }
    EXPECT_TRUE(program) << maps.join(QLatin1Char('\n')).toStdString();
}
