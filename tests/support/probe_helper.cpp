// A small program that tests start under unique names. It reports what it sees as a started
// program, or waits to be found and signalled by name.
//   probe report <file> [args...]  writes its cwd, session, descriptors and arguments to <file>
//   probe sleep <seconds>          waits (bounded), then exits
//   probe killprev <sig> <file>    signals every other process of its own name, then writes
//                                  "alive" to <file> and waits 30 s at most
#include "my_kill_process.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

void writeAtomically(const std::string &file, const std::string &content)
{
    const std::string temporary = file + ".part";
    FILE *out = std::fopen(temporary.c_str(), "w");
    if (!out)
        std::exit(2);
    std::fputs(content.c_str(), out);
    std::fclose(out);
    std::rename(temporary.c_str(), file.c_str());
}

std::string report(int argc, char **argv)
{
    std::string text;
    char cwd[PATH_MAX] = {};
    if (getcwd(cwd, sizeof cwd))
        text += std::string("cwd=") + cwd + "\n";
    text += "pid=" + std::to_string(getpid()) + "\n";
    text += "ppid=" + std::to_string(getppid()) + "\n";
    text += "sid=" + std::to_string(getsid(0)) + "\n";
    DIR *fds = opendir("/proc/self/fd");
    if (fds) {
        while (const dirent *entry = readdir(fds)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            if (std::atoi(entry->d_name) == dirfd(fds))
                continue;
            char target[PATH_MAX] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) < 0)
                std::strcpy(target, "?");
            text += std::string("fd ") + entry->d_name + " " + target + "\n";
        }
        closedir(fds);
    }
    text += "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i)
        text += "arg " + std::to_string(i) + "=" + argv[i] + "\n";
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "report") == 0) {
        writeAtomically(argv[2], report(argc, argv));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        const int seconds = std::atoi(argv[2]);
        for (int i = 0; i < seconds * 10; ++i)
            usleep(100 * 1000);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "killprev") == 0) {
        my_kill_process::kill_Self_Previous(argv[0], std::atoi(argv[2]));
        writeAtomically(argv[3], "alive\n");
        for (int i = 0; i < 300; ++i)
            usleep(100 * 1000);
        return 0;
    }
    return 1;
}
