#include "forgetful_medium.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

namespace {

ForgetfulMedium *current = nullptr;
bool inFlush = false;

QString pathOfDescriptor(int fd)
{
    return QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
}

ForgetfulMedium::Entry entryOf(
    const QFileInfo &info, const ForgetfulMedium::Entry *before = nullptr)
{
    ForgetfulMedium::Entry entry;
    entry.folder = info.isDir();
    entry.executable = info.permission(QFileDevice::ExeOwner);
    if (entry.folder)
        return entry;
    entry.size = info.size();
    entry.modified = info.lastModified().toMSecsSinceEpoch();
    if (before && !before->folder && before->size == entry.size
        && before->modified == entry.modified) {
        entry.content = before->content;
        return entry;
    }
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly))
        entry.content = file.readAll();
    return entry;
}

// The tree with one entry as it stands now (or without it, when it is gone), and the folders
// that lead to it.
void overlay(ForgetfulMedium::Tree &tree, const QString &root, const QString &relative)
{
    const QFileInfo info(root + QLatin1Char('/') + relative);
    if (!info.exists()) {
        tree.remove(relative);
        return;
    }
    tree[relative] = entryOf(info);
    for (QString folder = QFileInfo(relative).path(); folder != QLatin1String(".");
         folder = QFileInfo(folder).path())
        tree[folder].folder = true;
}

} // namespace

ForgetfulMedium::ForgetfulMedium()
{
    current = this;
}

ForgetfulMedium::~ForgetfulMedium()
{
    if (current == this)
        current = nullptr;
}

void ForgetfulMedium::addDevice(const QString &root, Kind kind)
{
    Device device { QDir::cleanPath(root), kind, snapshot(root), {}, {} };
    device.history.emplace_back(0, device.cache);
    device.caches.emplace_back(0, device.cache);
    devices.push_back(std::move(device));
}

void ForgetfulMedium::stop()
{
    recording = false;
}

ForgetfulMedium::Tree ForgetfulMedium::at(
    const std::vector<std::pair<int, Tree>> &history, int point)
{
    const Tree *found = &history.front().second;
    for (const auto &entry : history) {
        if (entry.first <= point)
            found = &entry.second;
    }
    return *found;
}

ForgetfulMedium::Tree ForgetfulMedium::durable(const QString &root, int point) const
{
    for (const Device &device : devices) {
        if (device.root == QDir::cleanPath(root))
            return at(device.history, point);
    }
    return Tree();
}

ForgetfulMedium::Tree ForgetfulMedium::cached(const QString &root, int point) const
{
    for (const Device &device : devices) {
        if (device.root == QDir::cleanPath(root))
            return at(device.caches, point);
    }
    return Tree();
}

ForgetfulMedium::Tree ForgetfulMedium::snapshot(const QString &root, const Tree &previous)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString relative = QDir(root).relativeFilePath(it.filePath());
        const auto before = previous.constFind(relative);
        tree.insert(
            relative, entryOf(it.fileInfo(), before == previous.cend() ? nullptr : &*before));
    }
    return tree;
}

void ForgetfulMedium::restore(const QString &root, const Tree &tree, int secondsLater)
{
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    // A folder sorts before what it holds.
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (it->folder) {
            QDir().mkpath(path);
            continue;
        }
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(it->content);
            file.flush();
        }
        // The files keep their times, as the medium does, seen from the time the panel comes
        // back: a lock file of the cut run is as old as that.
        if (it->modified >= 0)
            file.setFileTime(QDateTime::fromMSecsSinceEpoch(it->modified - secondsLater * 1000LL),
                QFileDevice::FileModificationTime);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
            | (it->executable ? QFileDevice::ExeOwner : QFileDevice::Permissions()));
    }
}

ForgetfulMedium::Device *ForgetfulMedium::deviceOf(const QString &path)
{
    for (Device &device : devices) {
        if (path == device.root || path.startsWith(device.root + QLatin1Char('/')))
            return &device;
    }
    return nullptr;
}

void ForgetfulMedium::flushed(Flush flush, int fd)
{
    // A flush inside a flush must never record twice.
    if (!current || !current->recording || inFlush)
        return;
    inFlush = true;
    current->record(flush, fd);
    inFlush = false;
}

void ForgetfulMedium::record(Flush flush, int fd)
{
    // Every device that this flush writes back: all of them for sync(), else the flushed
    // file's.
    std::vector<Device *> touched;
    QString path;
    if (flush == MachineSync) {
        // sync() writes every file system back before the journalled ones commit and flush:
        // a cut inside it may find a stick's cache written back (and kept by the device) while
        // the panel disk's last commit is still the one before. Each device is a point of its
        // own, the sticks first.
        for (Kind kind : { FatWithCache, Journalled }) {
            for (Device &device : devices) {
                if (device.kind == kind)
                    touched.push_back(&device);
            }
        }
    } else {
        path = pathOfDescriptor(fd);
        if (Device *device = deviceOf(path))
            touched.push_back(device);
    }
    for (Device *device : touched) {
        ++points;
        if (device->kind == Journalled || flush != FileFlush) {
            device->cache = snapshot(device->root, device->cache);
        } else {
            const QString relative = QDir(device->root).relativeFilePath(path);
            if (QFileInfo(path).isDir()) {
                // A folder's flush writes back its entries: what left it is gone, what came is
                // there.
                const QString prefix
                    = relative == QLatin1String(".") ? QString() : relative + QLatin1Char('/');
                for (const QString &key : device->cache.keys()) {
                    if (key.startsWith(prefix) && !key.mid(prefix.size()).contains('/')
                        && !QFileInfo::exists(device->root + QLatin1Char('/') + key))
                        device->cache.remove(key);
                }
                for (const QString &name :
                    QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                    if (!device->cache.contains(prefix + name))
                        overlay(device->cache, device->root, prefix + name);
            } else {
                overlay(device->cache, device->root, relative);
            }
        }
        device->caches.emplace_back(points, device->cache);
        // A FAT stick's cache is flushed only by a flush of one of its files.
        if (device->kind == Journalled || flush == FileFlush)
            device->history.emplace_back(points, device->cache);
    }
}

} // namespace testsupport

// The flushes of the test program: each does its work and then tells the current medium.
extern "C" {

int fsync(int fd)
{
    const int result = static_cast<int>(syscall(SYS_fsync, fd));
    testsupport::ForgetfulMedium::flushed(testsupport::ForgetfulMedium::FileFlush, fd);
    return result;
}

int fdatasync(int fd)
{
    const int result = static_cast<int>(syscall(SYS_fdatasync, fd));
    testsupport::ForgetfulMedium::flushed(testsupport::ForgetfulMedium::FileFlush, fd);
    return result;
}

int syncfs(int fd)
{
    const int result = static_cast<int>(syscall(SYS_syncfs, fd));
    testsupport::ForgetfulMedium::flushed(testsupport::ForgetfulMedium::FileSystemSync, fd);
    return result;
}

void sync(void)
{
    syscall(SYS_sync);
    testsupport::ForgetfulMedium::flushed(testsupport::ForgetfulMedium::MachineSync, -1);
}
}
