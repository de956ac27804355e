#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

// A file system mounted over a folder of a test's own temporary tree for the test's life: a
// read-only view of the folder (a stick the kernel remounted read-only) or, with a size, a small
// empty tmpfs (a disk that fills up). Needs the right to mount; a test skips when isMounted() is
// false. Unmounted when the object goes, before the temporary tree is removed.
class ScopedMount
{
public:
    explicit ScopedMount(const QString &folder, qint64 tmpfsBytes = 0)
        : path(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        if (tmpfsBytes > 0) {
            const QByteArray options = "size=" + QByteArray::number(tmpfsBytes) + ",mode=0755";
            mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) == 0;
            return;
        }
        mounted = ::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0;
        if (mounted
            && ::mount(
                   nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr)
                != 0)
            unmount();
    }
    ~ScopedMount() { unmount(); }
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;

    bool isMounted() const { return mounted; }
    void unmount()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
        mounted = false;
    }

    // Writes a file until the file system that holds it is full.
    static void fill(const QString &file)
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT, 0644);
        const QByteArray block(4096, 'f');
        while (fd >= 0 && ::write(fd, block.constData(), size_t(block.size())) > 0) { }
        while (fd >= 0 && ::write(fd, "f", 1) > 0) { }
        if (fd >= 0)
            ::close(fd);
    }

private:
    QByteArray path;
    bool mounted = false;
};

} // namespace testsupport
