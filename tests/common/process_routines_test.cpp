#include "my_kill_process.h"
#include "qws_process.h"

#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;

namespace {

// Starts a uniquely named probe that waits, and ends it by id when the test ends.
class RunningProbe
{
public:
    RunningProbe(const QString &program, const QString &workDir, const QStringList &args)
    {
        process.setWorkingDirectory(workDir);
        process.start(program, args);
        process.waitForStarted(5000);
    }
    ~RunningProbe()
    {
        endProcess(process.processId());
        process.waitForFinished(5000);
    }
    qint64 pid() const { return process.processId(); }
    QProcess process;
};

class ProcessRoutinesTest : public ::testing::Test
{
protected:
    TempSysroot sysroot;
};

// A display server stand-in: a listening local socket at the sysroot's server socket path.
class ListeningSocket
{
public:
    explicit ListeningSocket(const QByteArray &path)
    {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        listening = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && listen(fd, 4) == 0;
    }
    ~ListeningSocket() { close(fd); }
    bool listening = false;

private:
    int fd = -1;
};

} // namespace

TEST_F(ProcessRoutinesTest, GetPidByName_FullPathMatchesProgramStartedRelatively)
{
    const QString copy = uniqueProbeCopy(sysroot.root(), QStringLiteral("pidname"));
    const QString name = QFileInfo(copy).fileName();
    RunningProbe probe(QStringLiteral("./") + name, sysroot.root(), { "sleep", "20" });
    ASSERT_GT(probe.pid(), 0);

    int pids[4] = {};
    const QByteArray fullPath = QFile::encodeName(QStringLiteral("/some/other/folder/") + name);
    EXPECT_EQ(my_kill_process::get_pid_by_name(fullPath.constData(), pids, 4), 1);
    EXPECT_EQ(pids[0], probe.pid());
    EXPECT_TRUE(my_kill_process::is_process_exist(QFile::encodeName(name).constData()));
    EXPECT_FALSE(my_kill_process::is_process_exist("no_such_program_anywhere.bin"));
}

TEST_F(ProcessRoutinesTest, GetPidByName_RejectsBadArgumentsAndHonoursMax)
{
    int pids[2] = {};
    EXPECT_EQ(my_kill_process::get_pid_by_name(nullptr, pids, 2), -22);
    EXPECT_EQ(my_kill_process::get_pid_by_name("", pids, 2), -22);
    EXPECT_EQ(my_kill_process::get_pid_by_name("/folder/", pids, 2), -22);
    EXPECT_EQ(my_kill_process::get_pid_by_name("x", nullptr, 2), -22);

    const QString copy = uniqueProbeCopy(sysroot.root(), QStringLiteral("pidmax"));
    RunningProbe first(copy, sysroot.root(), { "sleep", "20" });
    RunningProbe second(copy, sysroot.root(), { "sleep", "20" });
    const QByteArray name = QFile::encodeName(copy);
    EXPECT_EQ(my_kill_process::get_pid_by_name(name.constData(), pids, 2), 2);
    EXPECT_EQ(my_kill_process::get_pid_by_name(name.constData(), pids, 1), 1);
    EXPECT_EQ(my_kill_process::get_pid_by_name(name.constData(), pids, 0), 0);
}

TEST_F(ProcessRoutinesTest, BasenameBySelf_IsTheTextAfterTheLastSlash)
{
    EXPECT_STREQ(
        my_kill_process::basename_byself("/media/usb0/hixupdateu/upgrunner.bin"), "upgrunner.bin");
    EXPECT_STREQ(my_kill_process::basename_byself("upgrunner.bin"), "upgrunner.bin");
    EXPECT_STREQ(my_kill_process::basename_byself("dir/"), "");
}

TEST_F(ProcessRoutinesTest, KillSelfPrevious_SignalsTheOlderCopyButNeverTheCaller)
{
    const QString copy = uniqueProbeCopy(sysroot.root(), QStringLiteral("killprev"));
    RunningProbe older(copy, sysroot.root(), { "sleep", "20" });
    ASSERT_TRUE(processAlive(older.pid()));

    const QString aliveFile = sysroot.path("/alive");
    RunningProbe newer(copy, sysroot.root(), { "killprev", QString::number(SIGTERM), aliveFile });
    ASSERT_TRUE(waitForFile(aliveFile));
    EXPECT_EQ(readAll(aliveFile), QByteArray("alive\n"));
    ASSERT_TRUE(waitForExit(older.process));
    EXPECT_EQ(older.process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(processAlive(newer.pid()));
}

TEST_F(ProcessRoutinesTest, KillProcess_SignalsEveryProcessOfTheName)
{
    const QString copy = uniqueProbeCopy(sysroot.root(), QStringLiteral("killall"));
    RunningProbe a(copy, sysroot.root(), { "sleep", "20" });
    RunningProbe b(copy, sysroot.root(), { "sleep", "20" });
    EXPECT_TRUE(my_kill_process::kill_process(QFile::encodeName(copy).constData(), SIGTERM));
    EXPECT_TRUE(waitForExit(a.process));
    EXPECT_TRUE(waitForExit(b.process));
    EXPECT_TRUE(my_kill_process::kill_process("no_such_program_anywhere.bin", SIGTERM));
}

TEST_F(ProcessRoutinesTest, QwsServerIsExit_NoServerTriesOnceAndSaysSo)
{
    testing::internal::CaptureStdout();
    QElapsedTimer clock;
    clock.start();
    const bool answered = QwsProcess::qwsServerIsExit(0);
    const qint64 elapsed = clock.elapsed();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(answered);
    EXPECT_EQ(out, "connect more than 20 seconds\n");
    // A second attempt would come only after a 200 ms pause.
    EXPECT_LT(elapsed, 200);
}

TEST_F(ProcessRoutinesTest, QwsServerIsExit_ListeningServerAnswers)
{
    const QString socketPath = sysroot.path("/tmp/qtembedded-0/QtEmbedded-0");
    QDir().mkpath(QFileInfo(socketPath).path());
    ListeningSocket server(QFile::encodeName(socketPath));
    ASSERT_TRUE(server.listening);
    EXPECT_TRUE(QwsProcess::qwsServerIsExit(0));
}

TEST_F(ProcessRoutinesTest, QwsServerIsExit_WaitsForAServerThatComesLater)
{
    const QString socketPath = sysroot.path("/tmp/qtembedded-0/QtEmbedded-0");
    QDir().mkpath(QFileInfo(socketPath).path());
    std::unique_ptr<ListeningSocket> server;
    std::thread late([&] {
        QThread::msleep(300);
        server = std::make_unique<ListeningSocket>(QFile::encodeName(socketPath));
    });
    const bool answered = QwsProcess::qwsServerIsExit(5);
    late.join();
    EXPECT_TRUE(answered);
}

TEST_F(ProcessRoutinesTest, StartQwsServer_CopiesMakesExecutableAndStartsWithQws)
{
    const QString argsFile = sysroot.path("/qws_args");
    const QString server = sysroot.writeFile("/media/usb0/qws/qwsserver",
        QByteArray("#!/bin/sh\necho \"$@\" > '") + QFile::encodeName(argsFile) + "'\n");
    ASSERT_TRUE(QwsProcess::startQwsServer(server));

    const QString copy = sysroot.path("/tmp/qwsserver");
    EXPECT_EQ(readAll(copy), readAll(server));
    struct stat info
    {
    };
    ASSERT_EQ(stat(QFile::encodeName(copy).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0111, 0111u);
    QDeadlineTimer deadline(10000);
    while (readAll(argsFile) != "-qws\n" && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(readAll(argsFile), QByteArray("-qws\n"));
}

TEST_F(ProcessRoutinesTest, StartQwsServer_MissingServerIsRefused)
{
    EXPECT_FALSE(QwsProcess::startQwsServer(sysroot.path("/media/usb0/qws/qwsserver")));
    EXPECT_FALSE(QFileInfo::exists(sysroot.path("/tmp/qwsserver")));
}
