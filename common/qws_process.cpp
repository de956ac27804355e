#include "qws_process.h"

#include "panel_path.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

const char *const QwsProcess::ServerSocket = "/tmp/qtembedded-0/QtEmbedded-0";
const char *const QwsProcess::ServerCopy = "/tmp/qwsserver";
const char *const QwsProcess::ServerArgument = "-qws";

namespace {

class Fd
{
public:
    explicit Fd(int fd = -1)
        : fd(fd)
    {
    }
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd; }
    // Closes now and reports whether the close succeeded (a full disk shows up here).
    bool closeNow()
    {
        const int result = ::close(fd);
        fd = -1;
        return result == 0;
    }

private:
    int fd;
};

double monotonicSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

bool connectOnce(const QByteArray &socketPath)
{
    Fd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= static_cast<int>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    return ::connect(sock.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

} // namespace

bool QwsProcess::qwsServerIsExit(int timeoutSec)
{
    const QByteArray socketPath = hix::panelPathNative(QString::fromLatin1(ServerSocket));
    const double start = monotonicSeconds();
    for (;;) {
        if (connectOnce(socketPath))
            return true;
        if (monotonicSeconds() - start >= timeoutSec) {
            std::printf("connect more than 20 seconds\n");
            std::fflush(stdout);
            return false;
        }
        usleep(200 * 1000);
    }
}

bool QwsProcess::startQwsServer(const QString &serverFile)
{
    const QString copyPath = hix::panelPath(QString::fromLatin1(ServerCopy));
    const QByteArray copyNative = QFile::encodeName(copyPath);
    // "/tmp" always exists on the panel; an emulated panel may lack it.
    QDir().mkpath(QFileInfo(copyPath).path());

    Fd source(::open(QFile::encodeName(serverFile).constData(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0)
        return false;
    Fd target(::open(copyNative.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (target.get() < 0)
        return false;

    struct stat sourceStat
    {
    };
    if (fstat(source.get(), &sourceStat) != 0)
        return false;
    off_t remaining = sourceStat.st_size;
    char block[4096];
    while (remaining > 0) {
        const ssize_t got = ::read(source.get(), block, sizeof block);
        if (got <= 0)
            break;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(target.get(), block + done, got - done);
            if (put < 0) {
                std::printf("%s\n", std::strerror(errno));
                std::fflush(stdout);
                return false;
            }
            done += put;
        }
        remaining -= got;
    }
    if (!target.closeNow()) {
        std::printf("%s\n", std::strerror(errno));
        std::fflush(stdout);
        return false;
    }

    struct stat copyStat
    {
    };
    if (stat(copyNative.constData(), &copyStat) != 0
        || chmod(copyNative.constData(), copyStat.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) != 0) {
        std::printf("cmd exec failed...\n");
        std::fflush(stdout);
        return false;
    }
    return QProcess::startDetached(copyPath, { QString::fromLatin1(ServerArgument) });
}
