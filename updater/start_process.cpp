#include "start_process.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs in the detached child between fork and exec. The updater has threads, so only system
// calls are used here: a lock held by another thread at the fork would never be released.
[[noreturn]] void execDetached(const char *workDir, const char *file, char *const *argv)
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
            if (fd > STDERR_FILENO && fd != dirFd && count < 1024)
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
    execvp(file, argv);
    _exit(-1);
}

} // namespace

int startProcess::startProc(const QString &workDir, const QString &program, const QStringList &args)
{
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

    const pid_t child = fork();
    if (child < 0)
        return -2;
    if (child == 0)
        execDetached(dir.constData(), file.constData(), argv.data());

    // The first child ends as soon as it has forked the program; collecting it at once keeps
    // the updater free of zombies.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
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
