#include "start_process.h"

#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QMap>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// What the probe saw as a started program.
struct Report
{
    QMap<QString, QString> values;
    QMap<int, QString> fds;
    QStringList args;
};

Report parseReport(const QByteArray &text)
{
    Report report;
    for (const QString &line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("fd ")) {
            const QStringList parts = line.split(' ');
            report.fds[parts.value(1).toInt()] = parts.value(2);
        } else if (line.startsWith("arg ")) {
            report.args << line.mid(line.indexOf('=') + 1);
        } else {
            report.values[line.section('=', 0, 0)] = line.section('=', 1);
        }
    }
    return report;
}

class StartProcessTest : public ::testing::Test
{
protected:
    // Starts the probe with startProc and waits for its report (bounded).
    Report startAndRead(const QString &workDir, const QStringList &extraArgs, int *result)
    {
        const QString program = uniqueProbeCopy(sysroot.root(), QStringLiteral("started"));
        const QString reportFile = sysroot.path("/report.txt");
        QStringList args { QStringLiteral("report"), reportFile };
        args << extraArgs;
        *result = startProcess::startProc(workDir, program, args);
        if (*result != 0 || !waitForFile(reportFile))
            return Report();
        const Report report = parseReport(readAll(reportFile));
        endProcess(report.values.value("pid").toLongLong());
        return report;
    }

    TempSysroot sysroot;
};

} // namespace

TEST_F(StartProcessTest, NotARegularFile_IsRefusedWithoutStarting)
{
    EXPECT_EQ(startProcess::startProc(sysroot.root(), sysroot.root(), {}), -1);
    EXPECT_EQ(startProcess::startProc(sysroot.root(), QString(), {}), -1);
    EXPECT_EQ(startProcess::startProc(sysroot.root(), sysroot.path("/missing.bin"), {}), -1);
}

TEST_F(StartProcessTest, StartedProgram_HasOnlyNullStandardDescriptorsOwnSessionAndWorkDir)
{
    // A descriptor the updater holds open must not leak into the package's program.
    const int inherited = ::open(QFile::encodeName(sysroot.path("/")).constData(), O_RDONLY);
    ASSERT_GE(inherited, 0);
    const QString workDir = sysroot.path("/usr/vexo_app/work dir");
    QDir().mkpath(workDir);

    int result = 1;
    const Report report = startAndRead(workDir, {}, &result);
    ::close(inherited);
    ASSERT_EQ(result, 0);
    ASSERT_FALSE(report.values.isEmpty());

    EXPECT_EQ(report.fds.keys(), (QList<int> { 0, 1, 2 }));
    for (const QString &target : report.fds)
        EXPECT_EQ(target, QStringLiteral("/dev/null"));
    EXPECT_EQ(report.values.value("cwd"), workDir);
    const QString pid = report.values.value("pid");
    EXPECT_EQ(report.values.value("sid"), pid);
    EXPECT_NE(report.values.value("sid").toLongLong(), static_cast<qint64>(getsid(0)));
    // Detached twice over: the updater is not its parent.
    EXPECT_NE(report.values.value("ppid").toLongLong(), static_cast<qint64>(getpid()));
}

TEST_F(StartProcessTest, ManyArguments_PassesTheFirst98NonEmptyOnes)
{
    QStringList extra;
    for (int i = 0; i < 118; ++i) {
        extra << QStringLiteral("a%1").arg(i);
        if (i % 10 == 0)
            extra << QString();
    }
    int result = 1;
    const Report report = startAndRead(sysroot.root(), extra, &result);
    ASSERT_EQ(result, 0);
    // The program name, then 98 arguments: "report", the report file and a0 .. a95.
    ASSERT_EQ(report.args.size(), 99);
    EXPECT_EQ(report.values.value("argc"), QStringLiteral("99"));
    EXPECT_EQ(report.args.at(1), QStringLiteral("report"));
    EXPECT_EQ(report.args.at(3), QStringLiteral("a0"));
    EXPECT_EQ(report.args.at(98), QStringLiteral("a95"));
    EXPECT_FALSE(report.args.contains(QString()));
}

TEST_F(StartProcessTest, ArgumentWithBlank_StaysOneArgument)
{
    int result = 1;
    const Report report
        = startAndRead(sysroot.root(), { "-lanID 0001", "name with 'quotes' $x" }, &result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(report.args.size(), 5);
    EXPECT_EQ(report.args.at(3), QStringLiteral("-lanID 0001"));
    EXPECT_EQ(report.args.at(4), QStringLiteral("name with 'quotes' $x"));
}

TEST_F(StartProcessTest, DoShellCmdSync_ReturnsTheWholeOutput)
{
    EXPECT_EQ(startProcess::doShellCmdSync("printf 'a\\nb'"), "a\nb");
    EXPECT_EQ(startProcess::doShellCmdSync("head -c 5000 /dev/zero | tr '\\0' x").size(), 5000u);
}

namespace {

QString writeScript(const TempSysroot &sysroot, const QString &name, const QByteArray &text,
    QFileDevice::Permissions permissions
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)
{
    const QString path = sysroot.writeFile(QStringLiteral("/") + name, text);
    QFile::setPermissions(path, permissions);
    return path;
}

} // namespace

TEST_F(StartProcessTest, WithPid_BinaryReportsTheIdOfTheRunningProgramWithoutOtherDescriptors)
{
    const QString program = uniqueProbeCopy(sysroot.root(), QStringLiteral("started"));
    const QString reportFile = sysroot.path("/report.txt");
    pid_t pid = 0;
    ASSERT_EQ(startProcess::startProcWithPid(
                  sysroot.root(), program, { QStringLiteral("report"), reportFile }, &pid),
        0);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForFile(reportFile));
    const Report report = parseReport(readAll(reportFile));
    endProcess(report.values.value("pid").toLongLong());
    EXPECT_EQ(report.values.value("pid").toLongLong(), qint64(pid));
    // The report channel closed with the exec: only the three standard descriptors are left.
    EXPECT_EQ(report.fds.keys(), QList<int>({ 0, 1, 2 }));
}

TEST_F(StartProcessTest, WithPid_ScriptRunsUnderTheReportedIdUntilItEnds)
{
    const QString pidFile = sysroot.path("/script.pid");
    const QString release = sysroot.path("/release");
    const QString script = writeScript(sysroot, QStringLiteral("wait.sh"),
        QStringLiteral("#!/bin/sh\necho $$ > '%1'\nwhile [ ! -e '%2' ]; do sleep 0.05; done\n")
            .arg(pidFile, release)
            .toUtf8());
    pid_t pid = 0;
    ASSERT_EQ(startProcess::startProcWithPid(sysroot.root(), script, {}, &pid), 0);
    ASSERT_TRUE(waitForFile(pidFile));
    EXPECT_EQ(readAll(pidFile).trimmed().toLongLong(), qint64(pid));
    EXPECT_TRUE(processAlive(pid));
    QFile touch(release);
    ASSERT_TRUE(touch.open(QIODevice::WriteOnly));
    touch.close();
    QDeadlineTimer deadline(5000);
    while (processAlive(pid) && !deadline.hasExpired())
        QThread::msleep(10);
    EXPECT_FALSE(processAlive(pid));
    endProcess(pid);
}

TEST_F(StartProcessTest, WithPid_ExecFailures_AreReportedAndStartProcStillSaysHandedOver)
{
    const QString notExecutable = writeScript(sysroot, QStringLiteral("plain.sh"),
        "#!/bin/sh\nexit 0\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString badInterpreter
        = writeScript(sysroot, QStringLiteral("bad.sh"), "#!/no/such/interpreter\nexit 0\n");
    for (const QString &program : { notExecutable, badInterpreter }) {
        pid_t pid = 123;
        EXPECT_EQ(startProcess::startProcWithPid(sysroot.root(), program, {}, &pid), -3)
            << program.toStdString();
        EXPECT_EQ(pid, 0);
        // Its other callers keep the old answer: the program was handed to a detached child.
        EXPECT_EQ(startProcess::startProc(sysroot.root(), program, {}), 0);
    }
    pid_t pid = 0;
    EXPECT_EQ(startProcess::startProcWithPid(sysroot.root(), sysroot.root(), {}, &pid), -1);
    EXPECT_EQ(startProcess::startProcWithPid(sysroot.root(), sysroot.path("/none"), {}, &pid), -1);
}
