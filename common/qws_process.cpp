#include "qws_process.h"

#include "file_io.h"
#include "panel_path.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

const char *const QwsProcess::ServerSocket = "/tmp/qtembedded-0/QtEmbedded-0";
const char *const QwsProcess::ServerCopy = "/tmp/qwsserver";
const char *const QwsProcess::ServerArgument = "-qws";

namespace {

double monotonicSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

bool connectOnce(const QByteArray &socketPath)
{
    const hix::io::Fd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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

    const hix::io::Fd source = hix::io::openRegularForReading(serverFile);
    if (!source.isOpen())
        return false;
    hix::io::Fd target = hix::io::createForWriting(copyPath, 0644);
    if (!target.isOpen())
        return false;
    const qint64 size = hix::io::sizeOf(source.get());
    if (size < 0)
        return false;
    char block[4096];
    // Only a failed write stops the start; a source that cannot be read to its end is started as
    // far as it was copied.
    if (hix::io::copyBytes(source.get(), target.get(), size, block, sizeof block)
        == hix::io::CopyFailure::WriteFailed) {
        std::printf("%s\n", std::strerror(errno));
        std::fflush(stdout);
        return false;
    }
    hix::io::flush::serverCopy(target.get());
    if (!target.close()) {
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
