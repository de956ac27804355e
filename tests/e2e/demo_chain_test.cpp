// The chain of scripts/demo.sh without a screen: the example package built onto an emulated
// stick by hixpack, the launcher started from the stick on a panel whose HMI runtime is running,
// and the panel checked afterwards file by file. Dialogs cannot be answered across processes on
// the offscreen platform, so the package is built in its unattended form: no first page, no
// confirmation, window hidden (which also skips the password, as on a panel), restart at once.
#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const QString SourceDir = QStringLiteral(HIX_SOURCE_DIR);

using testsupport::binDir;

// Relative path -> content of every regular file below root.
QMap<QString, QByteArray> treeOf(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        tree.insert(QDir(root).relativeFilePath(file), readAll(file));
    }
    return tree;
}

// Ids of the running processes whose program is the given file.
QList<qint64> processesOf(const QString &program)
{
    QList<qint64> ids;
    const QString canonical = QFileInfo(program).canonicalFilePath();
    QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && !canonical.isEmpty()
            && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() == canonical)
            ids << pid;
    }
    return ids;
}

class DemoChainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sysroot.isValid());
        ASSERT_TRUE(copyTree(SourceDir + "/examples/panel", sysroot.root()));
        QDir().mkpath(sysroot.path("/run/vexo-hal"));
        QDir().mkpath(sysroot.path("/tmp"));
        stick = sysroot.path("/media/usb0");
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIX_SYSROOT", sysroot.root());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("VEXO_PROJECT_DIR");
        environment.remove("VEXO_EXPORT_DIR");
    }

    void TearDown() override
    {
        const QStringList programs
            = { stick + "/upgentry.bin", stick + "/hixupdateu/upgrunner.bin" };
        for (const QString &program : programs)
            for (qint64 pid : processesOf(program))
                endProcess(pid);
        if (runtime.state() != QProcess::NotRunning) {
            endProcess(runtime.processId());
            runtime.waitForFinished(5000);
        }
    }

    // The example package in its unattended form, built onto the stick (signed with signingKey
    // when one is named).
    void buildStick(const QString &signingKey = QString())
    {
        QTemporaryDir source;
        ASSERT_TRUE(copyTree(SourceDir + "/examples/package", source.path()));
        QFile file(source.filePath("update.ini"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        file.close();
        text.replace(QRegularExpression("\nTOOL_TIP=[^\n]*"), QString())
            .replace("SHOW_UPDATE_PAGE=1", "SHOW_UPDATE_PAGE=0")
            .replace("CHECK_SUCCESS_ISSHOWDLG=1", "CHECK_SUCCESS_ISSHOWDLG=0")
            .replace("REBOOT=0", "REBOOT=1");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        file.close();

        QStringList arguments = { "build", "--bin", binDir(), "--panel-root", sysroot.root() };
        if (!signingKey.isEmpty())
            arguments << "--sign" << signingKey;
        QProcess hixpack;
        hixpack.start(binDir() + "/hixpack", arguments << source.path() << stick);
        ASSERT_TRUE(hixpack.waitForFinished(20000));
        ASSERT_EQ(hixpack.exitCode(), 0) << hixpack.readAllStandardError().constData();
    }

    void startRuntime()
    {
        runtime.setProcessEnvironment(environment);
        runtime.start(binDir() + "/fake_vexo_app", { "--lifetime", "60000" });
        ASSERT_TRUE(runtime.waitForStarted(5000));
        QDeadlineTimer deadline(10000);
        while (!readAll(sysroot.path("/run/vexo_app/state")).startsWith("running")
            && !deadline.hasExpired())
            QThread::msleep(20);
        ASSERT_TRUE(readAll(sysroot.path("/run/vexo_app/state")).startsWith("running"));
    }

    bool waitForRestart(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (readAll(sysroot.path("/var/log/restart.log")).isEmpty() && !deadline.hasExpired())
            QThread::msleep(50);
        return !readAll(sysroot.path("/var/log/restart.log")).isEmpty();
    }

    // Started from the stick as the technician does; without a launcher in the build, the
    // updater is started with the launcher's four arguments and the language's number.
    void startFromTheStick(const QString &lanID)
    {
        starter.setProcessEnvironment(environment);
        if (QFileInfo(stick + "/upgentry.bin").isExecutable()) {
            starter.setWorkingDirectory(stick);
            starter.start(stick + "/upgentry.bin", QStringList());
        } else {
            QFile log(stick + "/upgradeProcess.log");
            ASSERT_TRUE(log.open(QIODevice::WriteOnly));
            log.write("[失败]\n------------------------\n");
            log.close();
            starter.setWorkingDirectory(stick + "/hixupdateu");
            starter.start(stick + "/hixupdateu/upgrunner.bin",
                { "-execond 0", "-lanID " + lanID, "-title 基础升级包", "-showUpdatePage 0" });
        }
        ASSERT_TRUE(starter.waitForStarted(5000));
    }

    TempSysroot sysroot;
    QString stick;
    QProcessEnvironment environment;
    QProcess runtime;
    QProcess starter;
};

} // namespace

TEST_F(DemoChainTest, ExamplePackage_PanelEndsAsExpectedWithSuccessLogAndRecordedRestart)
{
    buildStick();
    startRuntime();
    startFromTheStick("0000");
    ASSERT_TRUE(waitForRestart(30000)) << readAll(stick + "/upgradeProcess.log").constData();

    const QByteArray log = readAll(stick + "/upgradeProcess.log");
    EXPECT_TRUE(log.startsWith("[成功]\n")) << log.constData();
    EXPECT_TRUE(log.contains("install_config.sh:程序执行成功...\n")) << log.constData();
    EXPECT_TRUE(log.contains("升级成功，请点击重启生效。\n")) << log.constData();
    EXPECT_FALSE(log.contains("失败")) << log.constData();

    const QMap<QString, QByteArray> expected
        = treeOf(SourceDir + "/examples/panel-expected/usr/vexo_app");
    const QMap<QString, QByteArray> actual = treeOf(sysroot.path("/usr/vexo_app"));
    EXPECT_EQ(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        EXPECT_EQ(actual.value(it.key()), it.value()) << qPrintable(it.key());
    EXPECT_TRUE(QFileInfo(sysroot.path("/usr/vexo_app/runtime/bin/vexo_app")).isExecutable());

    // The backup of the operator's settings and the progress file are gone from the stick.
    QStringList stickLeftovers;
    QDirIterator it(stick + "/hixbackup", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        stickLeftovers << it.next();
    EXPECT_TRUE(stickLeftovers.isEmpty()) << qPrintable(stickLeftovers.join('\n'));
}

// A panel set to English: the launcher takes the English table that the build put on the stick,
// and every line the programs write to the run log is English, the head line included.
TEST_F(DemoChainTest, EnglishPanel_ExamplePackage_WholeRunLogInEnglish)
{
    sysroot.writeFile("/usr/vexo_app/project/lan_setup.ini", "[current_language]\ntype=1\n");
    buildStick();
    startRuntime();
    startFromTheStick("0001");
    ASSERT_TRUE(waitForRestart(30000)) << readAll(stick + "/upgradeProcess.log").constData();

    const QString log = QString::fromUtf8(readAll(stick + "/upgradeProcess.log"));
    EXPECT_TRUE(log.startsWith("[  OK  ]\n------------------------\n")) << qPrintable(log);
    EXPECT_TRUE(log.contains("\ninstall_config.sh: the program succeeded...\n")) << qPrintable(log);
    EXPECT_TRUE(log.endsWith("\nUpdate successful; press restart to put it into effect.\n"))
        << qPrintable(log);
    static const QRegularExpression chinese(
        QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    EXPECT_FALSE(log.contains(chinese)) << qPrintable(log);
}

// The demo's signed chain: a panel that holds the key runs the stick signed with it as before, and
// refuses the same stick once its program changed after the build, before anything changes.
TEST_F(DemoChainTest, KeyOnThePanel_SignedStickRuns_ChangedProgramRefusedPanelUntouched)
{
    if (!QFileInfo(binDir() + "/upgentry.bin").isExecutable())
        GTEST_SKIP() << "no launcher in this build";
    QTemporaryDir keys;
    ASSERT_EQ(runTool(binDir() + "/hixpack", { "keygen", keys.filePath("demo") }).exitCode, 0);
    QDir().mkpath(sysroot.path("/etc/iot_cfg/hixkeys"));
    ASSERT_TRUE(
        QFile::copy(keys.filePath("demo.pub"), sysroot.path("/etc/iot_cfg/hixkeys/demo.pub")));
    buildStick(keys.filePath("demo.key"));
    startRuntime();

    const QString program = stick + "/hixupdateu/install_config.sh";
    const QByteArray original = readAll(program);
    ASSERT_TRUE(writeAll(program, original + "\necho forged\n"));
    const QMap<QString, QByteArray> before = treeOf(sysroot.path("/usr/vexo_app"));
    startFromTheStick("0000");
    const QByteArray refusal
        = "升级包文件hixupdateu/"
          "install_config.sh与签名清单不符，升级包已被改动。面板未做任何改动！\n";
    QDeadlineTimer deadline(20000);
    while (!readAll(stick + "/upgradeProcess.log").endsWith(refusal) && !deadline.hasExpired())
        QThread::msleep(50);
    EXPECT_EQ(
        readAll(stick + "/upgradeProcess.log"), "[失败]\n------------------------\n" + refusal);
    endProcess(starter.processId());
    starter.waitForFinished(5000);
    EXPECT_TRUE(processesOf(stick + "/hixupdateu/upgrunner.bin").isEmpty());
    EXPECT_EQ(treeOf(sysroot.path("/usr/vexo_app")), before);
    EXPECT_TRUE(readAll(sysroot.path("/run/vexo_app/state")).startsWith("running"));

    ASSERT_TRUE(writeAll(program, original));
    startFromTheStick("0000");
    ASSERT_TRUE(waitForRestart(30000)) << readAll(stick + "/upgradeProcess.log").constData();
    const QByteArray log = readAll(stick + "/upgradeProcess.log");
    EXPECT_TRUE(log.startsWith("[成功]\n")) << log.constData();
    EXPECT_EQ(treeOf(sysroot.path("/usr/vexo_app")),
        treeOf(SourceDir + "/examples/panel-expected/usr/vexo_app"));
}
