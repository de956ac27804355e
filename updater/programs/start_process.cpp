#include "start_process.h"

#include "file_io.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const LanguageOption = "-lanID ";

// Runs in the detached child between fork and exec. The updater has threads, so only system
// calls are used here: a lock held by another thread at the fork would never be released.
[[noreturn]] void execDetached(
    const char *workDir, const char *file, char *const *argv, int reportFd)
{
    setsid();
    // Second fork: the program must not be a child of the updater.
    const pid_t grandChild = fork();
    if (grandChild < 0)
        _exit(-1);
    if (grandChild > 0)
        _exit(0);

    if (chdir("/") != 0)
        _exit(-1);
    const int null = open("/dev/null", O_RDWR);
    if (null < 0)
        _exit(-1);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO)
        close(null);

    // When workDir cannot be entered the program still starts, in "/" as a daemon would.
    [[maybe_unused]] const int entered = chdir(workDir);
    signal(SIGPIPE, SIG_IGN);
    setsid();

    // Collect the open descriptors first, then close them: closing while the directory is read
    // would change what it lists.
    const int dirFd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        _exit(-1);
    int found[1024];
    int count = 0;
    bool listed = false;
    alignas(8) char buffer[4096];
    for (;;) {
        const long n = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (long offset = 0; offset < n;) {
            struct LinuxDirent64
            {
                ino64_t d_ino;
                off64_t d_off;
                unsigned short d_reclen;
                unsigned char d_type;
                char d_name[1];
            };
            const auto *entry = reinterpret_cast<const LinuxDirent64 *>(buffer + offset);
            offset += entry->d_reclen;
            const char *name = entry->d_name;
            if (name[0] < '0' || name[0] > '9')
                continue;
            listed = true;
            int fd = 0;
            for (; *name >= '0' && *name <= '9'; ++name)
                fd = fd * 10 + (*name - '0');
            if (fd > STDERR_FILENO && fd != dirFd && fd != reportFd && count < 1024)
                found[count++] = fd;
        }
    }
    close(dirFd);
    if (!listed)
        _exit(-1);
    for (int i = 0; i < count; ++i)
        close(found[i]);

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (reportFd >= 0) {
        // The id first; the descriptor closes on a successful exec, so the reader sees the end
        // of the pipe right after the id. A failed exec adds its errno.
        const pid_t self = getpid();
        hix::io::writeAll(reportFd, reinterpret_cast<const char *>(&self), sizeof self);
    }
    execvp(file, argv);
    if (reportFd >= 0) {
        const int failure = errno;
        hix::io::writeAll(reportFd, reinterpret_cast<const char *>(&failure), sizeof failure);
    }
    _exit(-1);
}

// Reads value whole from the pipe; false when the pipe ends (or fails) first.
template<typename T> bool readValue(int fd, T *value)
{
    return hix::io::readFull(fd, reinterpret_cast<char *>(value), sizeof *value)
        == ssize_t(sizeof *value);
}

} // namespace

int startProcess::startProc(const QString &workDir, const QString &program, const QStringList &args)
{
    return start(workDir, program, args, nullptr);
}

int startProcess::startProcWithPid(
    const QString &workDir, const QString &program, const QStringList &args, pid_t *startedPid)
{
    return start(workDir, program, args, startedPid);
}

int startProcess::start(
    const QString &workDir, const QString &program, const QStringList &args, pid_t *startedPid)
{
    if (startedPid)
        *startedPid = 0;
    if (program.isEmpty())
        return -1;
    const QFileInfo info(program);
    if (!info.exists() || !info.isFile())
        return -1;

    // Everything the child needs is prepared before the fork. The file is the one checked
    // above, whatever the child's working directory is.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    const QByteArray dir = QFile::encodeName(workDir);
    std::vector<QByteArray> strings;
    strings.push_back(program.toUtf8());
    for (const QString &arg : args) {
        if (arg.isEmpty())
            continue;
        if (static_cast<int>(strings.size()) > MaxArguments)
            break;
        strings.push_back(arg.toUtf8());
    }
    std::vector<char *> argv;
    for (QByteArray &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    // The report channel closes with the exec: its end tells the updater that the program runs.
    int report[2] = { -1, -1 };
    if (startedPid && pipe2(report, O_CLOEXEC) != 0)
        return -2;

    const pid_t child = fork();
    if (child < 0) {
        if (startedPid) {
            close(report[0]);
            close(report[1]);
        }
        return -2;
    }
    if (child == 0) {
        if (startedPid)
            close(report[0]);
        execDetached(dir.constData(), file.constData(), argv.data(), report[1]);
    }

    // The first child ends as soon as it has forked the program; collecting it at once keeps
    // the updater free of zombies.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (!startedPid)
        return 0;

    close(report[1]);
    pid_t pid = 0;
    int execError = 0;
    const bool gotPid = readValue(report[0], &pid);
    const bool gotError = gotPid && readValue(report[0], &execError);
    close(report[0]);
    if (!gotPid || pid <= 0)
        return -2;
    if (gotError) {
        qWarning() << "cannot start" << program << ":" << strerror(execError);
        return -3;
    }
    *startedPid = pid;
    return 0;
}

std::string startProcess::doShellCmdSync(const std::string &cmd)
{
    std::string output;
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return output;
    char block[512];
    size_t got = 0;
    while ((got = fread(block, 1, sizeof block, pipe)) > 0)
        output.append(block, got);
    pclose(pipe);
    return output;
}

QList<pid_t> startProcess::runningInstances(const QString &program)
{
    QList<pid_t> found;
    const QString wanted = QFileInfo(program).canonicalFilePath();
    if (wanted.isEmpty())
        return found;
    const QString procRoot = QStringLiteral("/proc/");
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok || pid <= 0 || pid == getpid())
            continue;
        const QString base = procRoot + entry;
        QFile cmdline(base + QStringLiteral("/cmdline"));
        const QList<QByteArray> args = cmdline.open(QIODevice::ReadOnly)
            ? cmdline.read(64 * 1024).split('\0')
            : QList<QByteArray>();
        // Only what an updater started: its arguments end with the language option. A shell or
        // a tool that merely shares the program's file is never taken for it.
        const bool startedByUpdater = std::any_of(args.begin(), args.end(),
            [](const QByteArray &arg) { return arg.startsWith(LanguageOption); });
        if (!startedByUpdater)
            continue;
        bool runs = QFileInfo(base + QStringLiteral("/exe")).canonicalFilePath() == wanted;
        if (!runs) {
            // A script runs as its interpreter, with the script's path as the first argument.
            const QString cwd = QFileInfo(base + QStringLiteral("/cwd")).canonicalFilePath();
            for (int i = 0; i < qMin(2, args.size()) && !runs; ++i) {
                if (args[i].isEmpty())
                    continue;
                const QString arg = QFile::decodeName(args[i]);
                const QString path = QDir::isAbsolutePath(arg) || cwd.isEmpty()
                    ? arg
                    : cwd + QLatin1Char('/') + arg;
                runs = QFileInfo(path).canonicalFilePath() == wanted;
            }
        }
        if (runs)
            found << pid;
    }
    return found;
}
