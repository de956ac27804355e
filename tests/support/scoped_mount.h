#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

// A file system mounted over a folder of a test's own temporary tree for the test's life: a
// read-only view of the folder (a stick the kernel remounted read-only) or a small empty tmpfs
// (a disk that fills up). Needs the right to mount; a test skips when isMounted() is false.
// Unmounted when the object goes, before the temporary tree is removed.
class ScopedMount
{
public:
    static ScopedMount readOnly(const QString &folder)
    {
        ScopedMount mount(folder);
        const QByteArray path = QFile::encodeName(folder);
        if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0)
            return mount;
        mount.mounted = true;
        if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr)
            != 0)
            mount.unmount();
        return mount;
    }

    static ScopedMount tmpfs(const QString &folder, qint64 bytes)
    {
        ScopedMount mount(folder);
        QDir().mkpath(folder);
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        mount.mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0,
                            options.constData())
            == 0;
        return mount;
    }

    // Writes a file into the mounted folder until the file system is full.
    static void fill(const QString &file)
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            return;
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        // Whatever is left below a whole block goes too.
        while (::write(fd, "f", 1) > 0) {
        }
        ::close(fd);
    }

    ScopedMount(ScopedMount &&other) noexcept
        : path(other.path)
        , mounted(other.mounted)
    {
        other.mounted = false;
    }
    ScopedMount &operator=(ScopedMount &&) = delete;
    ~ScopedMount() { unmount(); }

    bool isMounted() const { return mounted; }

    void unmount()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
        mounted = false;
    }

private:
    explicit ScopedMount(QString folder)
        : path(std::move(folder))
    {
    }

    QString path;
    bool mounted = false;
};

} // namespace testsupport
