#include "my_kill_process.h"

#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <unistd.h>

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

// The first string of "/proc/<pid>/cmdline" (the command as started), at most 255 bytes.
bool readCommand(const char *pidName, char *command, size_t size)
{
    char path[300];
    std::snprintf(path, sizeof path, "/proc/%s/cmdline", pidName);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, command, size - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    command[n] = '\0';
    return true;
}

} // namespace

const char *my_kill_process::basename_byself(const char *path)
{
    if (!path)
        return nullptr;
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

int my_kill_process::get_pid_by_name(const char *name, int *pids, int max)
{
    if (!name || !pids)
        return -EINVAL;
    const char *wanted = basename_byself(name);
    if (!*wanted)
        return -EINVAL;

    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc)
        return -EIO;

    int count = 0;
    char command[256];
    while (count < max) {
        const dirent *entry = readdir(proc.get());
        if (!entry)
            break;
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        if (!readCommand(entry->d_name, command, sizeof command))
            continue;
        if (std::strcmp(basename_byself(command), wanted) == 0)
            pids[count++] = static_cast<int>(std::strtoul(entry->d_name, nullptr, 10));
    }
    return count;
}

bool my_kill_process::is_process_exist(const char *name)
{
    int pid = 0;
    return get_pid_by_name(name, &pid, 1) > 0;
}

void my_kill_process::kill_Self_Previous(const char *name, int sig)
{
    if (!name)
        return;
    int pids[MaxProcesses];
    const int count = get_pid_by_name(name, pids, MaxProcesses);
    const pid_t self = getpid();
    for (int i = 0; i < count; ++i) {
        if (pids[i] == self)
            continue;
        if (kill(pids[i], sig) != 0)
            kill(pids[i], SIGTERM);
    }
}

bool my_kill_process::kill_process(const char *name, int sig)
{
    int pids[MaxProcesses];
    const int count = get_pid_by_name(name, pids, MaxProcesses);
    qDebug() << name << "count:" << count;
    for (int i = 0; i < count; ++i) {
        if (kill(pids[i], sig) != 0)
            return false;
    }
    return true;
}
