#include "file_io.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hix::io {

namespace {

constexpr size_t DigestBlockSize = 64 * 1024;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// A descriptor closed on a failure path must not change the errno that says why it failed.
void closeKeepingErrno(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

} // namespace

Fd::~Fd()
{
    if (fd >= 0)
        ::close(fd);
}

Fd::Fd(Fd &&other) noexcept
    : fd(other.fd)
{
    other.fd = -1;
}

Fd &Fd::operator=(Fd &&other) noexcept
{
    if (this != &other) {
        if (fd >= 0)
            ::close(fd);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

bool Fd::close()
{
    if (fd < 0)
        return true;
    const int result = ::close(fd);
    fd = -1;
    return result == 0;
}

Fd openRegularForReading(const QString &path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fd();
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        closeKeepingErrno(fd);
        return Fd();
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return Fd();
    }
    // Reads of a regular file never wait anyway; the flag only kept the open from waiting.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return Fd(fd);
}

Fd createForWriting(const QString &path, mode_t mode)
{
    return Fd(::open(native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
}

ssize_t readSome(int fd, char *buffer, size_t size)
{
    ssize_t count;
    do {
        count = ::read(fd, buffer, size);
    } while (count < 0 && errno == EINTR);
    return count;
}

ssize_t readFull(int fd, char *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t count = readSome(fd, buffer + done, size - done);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += size_t(count);
    }
    return ssize_t(done);
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;
            return false;
        }
        data += count;
        size -= size_t(count);
    }
    return true;
}

CopyFailure copyBytes(int in, int out, qint64 size, char *buffer, size_t bufferSize, CopyEnd end,
    void (*progress)(int out, qint64 copied))
{
    qint64 copied = 0;
    while (end == CopyEnd::AtEndOfFile || copied < size) {
        const qint64 left = end == CopyEnd::AtSize ? size - copied : qint64(bufferSize);
        const ssize_t count
            = readFull(in, buffer, size_t(std::min<qint64>(qint64(bufferSize), left)));
        if (count < 0)
            return CopyFailure::ReadFailed;
        if (count == 0)
            break;
        if (!writeAll(out, buffer, size_t(count)))
            return CopyFailure::WriteFailed;
        copied += count;
        if (progress)
            progress(out, copied);
    }
    if (copied < size) {
        errno = ENODATA;
        return CopyFailure::EndedEarly;
    }
    return CopyFailure::None;
}

qint64 sizeOf(int fd)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 ? qint64(status.st_size) : -1;
}

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : context(EVP_MD_CTX_new())
{
    if (context)
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(const char *data, size_t size)
{
    if (context && size > 0)
        EVP_DigestUpdate(context.get(), data, size);
}

QByteArray Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return QByteArray();
    context.reset();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

bool digestFile(
    const QString &path, quint32 *crc, Sha256 *sha, qint64 *size, char *buffer, size_t bufferSize)
{
    const Fd file = openRegularForReading(path);
    if (!file.isOpen())
        return false;
    const qint64 total = sizeOf(file.get());
    if (total < 0)
        return false;
    std::vector<char> own;
    if (!buffer) {
        own.resize(DigestBlockSize);
        buffer = own.data();
        bufferSize = own.size();
    }
    uLong value = crc ? *crc : 0;
    for (qint64 remaining = total; remaining > 0;) {
        const ssize_t count
            = readFull(file.get(), buffer, size_t(std::min<qint64>(qint64(bufferSize), remaining)));
        // A file that ends before its size (it shrank while it was read) has no digest.
        if (count <= 0)
            return false;
        if (crc)
            value = ::crc32(value, reinterpret_cast<const Bytef *>(buffer), uInt(count));
        if (sha)
            sha->add(buffer, size_t(count));
        remaining -= count;
    }
    if (crc)
        *crc = quint32(value);
    if (size)
        *size = total;
    return true;
}

bool fileCrc32(const QString &path, quint32 *crc)
{
    quint32 value = 0;
    if (!digestFile(path, &value, nullptr, nullptr))
        return false;
    *crc = value;
    return true;
}

bool copyWholeFile(const QString &from, const QString &to)
{
    Fd in = openRegularForReading(from);
    if (!in.isOpen())
        return false;
    struct stat status;
    if (::fstat(in.get(), &status) != 0)
        return false;
    Fd out = createForWriting(to, status.st_mode & 07777);
    // The permission bits are the source's whatever the process's file creation mask.
    if (!out.isOpen() || ::fchmod(out.get(), status.st_mode & 07777) != 0)
        return false;
    std::vector<char> buffer(DigestBlockSize);
    if (copyBytes(in.get(), out.get(), qint64(status.st_size), buffer.data(), buffer.size())
        != CopyFailure::None)
        return false;
    return out.close();
}

bool flushFile(int fd)
{
    return ::fdatasync(fd) == 0;
}

bool flushWithFileSystem(int fd)
{
    return ::syncfs(fd) == 0 && flushFile(fd);
}

bool syncFolder(const QString &folder)
{
    const Fd dir(::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.isOpen() && ::fsync(dir.get()) == 0;
}

bool syncFileSystem(const QString &path)
{
    const Fd any(::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return any.isOpen() && ::syncfs(any.get()) == 0;
}

// ---------------------------------------------------------------------------------------------
// The flush rules

namespace flush {

namespace {

// A measuring build (bench/) turns the flushes of the verified copy off to show what durability
// costs; every program flushes.
#ifdef HIX_FILEOP_SKIP_FLUSH
constexpr bool FlushStagedFiles = false;
#else
constexpr bool FlushStagedFiles = true;
#endif

// Write-back of a staged file starts every time this much more of it is written.
constexpr qint64 WritebackChunk = 1 << 20;

// What the steps since the last flush point wrote without flushing it. The programs do all
// their file work on one thread.
struct Noted
{
    QStringList fileSystems; // a folder on each file system written to
    QSet<dev_t> fileSystemIds;
    QSet<QString> folders;
};

Noted &notes()
{
    static Noted noted;
    return noted;
}

// The run log's lines not yet flushed, and when the log was flushed last.
struct PendingLog
{
    int fd = -1;
    QElapsedTimer sinceFlush;
};

PendingLog &pendingLog()
{
    static PendingLog log;
    return log;
}

// A pending run log whose delay has passed goes to the medium now.
void runLogIfDue()
{
    if (runLogDelayLeft() == 0)
        runLogPending();
}

} // namespace

void stagedProgress(int fd, qint64 copied)
{
    if (FlushStagedFiles && copied % WritebackChunk == 0)
        ::sync_file_range(fd, copied - WritebackChunk, WritebackChunk, SYNC_FILE_RANGE_WRITE);
    runLogIfDue();
}

bool stagedFile(int fd)
{
    runLogIfDue();
    if (!FlushStagedFiles)
        return true;
    if (!flushFile(fd))
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return true;
}

bool changedFolder(const QString &folder)
{
    return !FlushStagedFiles || syncFolder(folder);
}

void noteFiles(const QString &path)
{
    Noted &n = notes();
    struct stat status;
    // The file system is noted by a folder on it: the path itself when it is one, else the
    // folder that holds it (also when the path is not there yet).
    QString folder = path;
    if (::stat(native(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        folder = QFileInfo(path).absolutePath();
        if (::stat(native(folder).constData(), &status) != 0)
            return;
    }
    if (n.fileSystemIds.contains(status.st_dev))
        return;
    n.fileSystemIds.insert(status.st_dev);
    n.fileSystems.append(folder);
}

void noteFolder(const QString &folder)
{
    notes().folders.insert(QDir::cleanPath(folder));
}

void noteNewFolders(const QString &folder)
{
    for (QString path = QFileInfo(folder).absoluteFilePath(); !QFileInfo::exists(path);) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        noteFolder(parent);
        path = parent;
    }
}

bool noted()
{
    Noted &n = notes();
    bool ok = true;
    int error = 0;
    const auto failed = [&ok, &error] {
        if (errno == ENOENT)
            return; // a noted folder removed since: its removal is its parent's entry
        ok = false;
        error = errno;
    };
    // The lines that told of the steps go first: a flush point vouches for them too.
    if (!runLogPending())
        failed();
    // A noted folder's flush would carry the whole FAT of a stick but not the other folders'
    // changes: its file system is written back first.
    for (const QString &folder : qAsConst(n.folders))
        noteFiles(folder);
    for (const QString &folder : qAsConst(n.fileSystems)) {
        // A FAT stick takes what syncfs writes back into its own cache and empties that cache
        // only for the flush of a file or a folder: a folder on it is flushed right after, so
        // that the write-back is on the medium, not only on its way.
        if (!syncFileSystem(folder) || !syncFolder(folder))
            failed();
    }
    for (const QString &folder : qAsConst(n.folders)) {
        if (!syncFolder(folder))
            failed();
    }
    n.fileSystems.clear();
    n.fileSystemIds.clear();
    n.folders.clear();
    if (!ok)
        errno = error;
    return ok;
}

bool runLogLine(int fd)
{
    PendingLog &log = pendingLog();
    if (log.fd != -1 && log.fd != fd && !runLogPending())
        return false;
    log.fd = fd;
    if (runLogDelayLeft() > 0)
        return true;
    return runLogPending();
}

int runLogDelayLeft()
{
    const PendingLog &log = pendingLog();
    if (log.fd == -1)
        return -1;
    if (!log.sinceFlush.isValid())
        return 0;
    return int(qBound<qint64>(0, RunLogLineDelayMs - log.sinceFlush.elapsed(), RunLogLineDelayMs));
}

bool runLogPending()
{
    PendingLog &log = pendingLog();
    if (log.fd == -1)
        return true;
    const int fd = log.fd;
    log.fd = -1;
    log.sinceFlush.start();
    return flushWithFileSystem(fd);
}

bool beforeRecord()
{
    return noted();
}

bool beforeSettingsWrite(const QString &file)
{
    // The file and its folders may not exist yet: the nearest folder that does is on the same
    // file system.
    QString folder = QFileInfo(file).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return false;
        folder = parent;
    }
    return syncFileSystem(folder);
}

bool runLogHead(int fd)
{
    if (pendingLog().fd == fd)
        pendingLog().fd = -1;
    return flushWithFileSystem(fd);
}

void runLogClosed(int fd)
{
    if (pendingLog().fd == fd)
        pendingLog().fd = -1;
    flushWithFileSystem(fd);
}

bool stateFile(const QString &file)
{
    const bool created = noted();
    const Fd state(::open(native(file).constData(), O_RDONLY | O_CLOEXEC));
    const bool written = state.isOpen() && flushWithFileSystem(state.get());
    return syncFolder(QFileInfo(file).absolutePath()) && written && created;
}

namespace {

// A removal on a stick: the removed folder's own entries cannot be flushed any more, so the
// whole file system goes to the medium, then the folder that held it.
bool removedFrom(const QString &parent)
{
    noteFiles(parent);
    noteFolder(parent);
    return noted();
}

} // namespace

bool stateRemoved(const QString &parent)
{
    return removedFrom(parent);
}

bool backupFolder(const QString &folder)
{
    // A complete backup (its files were noted as they were written) and a removed one alike.
    return removedFrom(folder);
}

void unscrambledFile(int fd)
{
    flushFile(fd);
}

bool deployedFile(int fd)
{
    return flushFile(fd);
}

void serverCopy(int) { }

bool runStep()
{
    return noted();
}

bool beforeRestart()
{
    return noted();
}

bool vncChange()
{
    return noted();
}

bool builtPackage(const QString &stickFolder)
{
    noteFiles(stickFolder);
    noteFolder(stickFolder);
    return noted();
}

} // namespace flush

} // namespace hix::io
