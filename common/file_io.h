#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>

#include <sys/types.h>

struct evp_md_ctx_st;

// The one layer through which the programs read and write files byte by byte: a descriptor
// owner, opening that never blocks on a FIFO or a device, full reads and writes, the byte copy,
// the CRC-32 and SHA-256 of a file, and the flush rules of every writer. Each caller keeps its own
// messages: these functions report through their result and errno, never to the operator.
//
// The read and write functions use nothing but system calls, so they may also run in a child
// between fork and exec.
namespace hix::io {

// Owns one file descriptor and closes it when it goes.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : fd(fd)
    {
    }
    ~Fd();
    Fd(Fd &&other) noexcept;
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    bool isOpen() const { return fd >= 0; }
    int get() const { return fd; }
    // Closes now. False when the close failed, errno saying why: on some file systems a full
    // disk shows only here, after every write reported success.
    bool close();

private:
    int fd = -1;
};

// Opens a file for reading. Only a regular file is opened, and the open never waits for the
// writer of a FIFO or for a device; anything else fails with errno EINVAL.
Fd openRegularForReading(const QString &path);
// Creates a file for writing, or empties an existing one.
Fd createForWriting(const QString &path, mode_t mode);

// Reads up to size bytes, trying again when a signal interrupts the call: the count read, 0 at
// the end of the file, -1 on an error (errno).
ssize_t readSome(int fd, char *buffer, size_t size);
// Reads until size bytes are read or the file ends: the count read, -1 on an error (errno).
ssize_t readFull(int fd, char *buffer, size_t size);
// Writes all size bytes, going on after short writes and interrupted calls. False on an error
// (errno; ENOSPC for a write that took nothing).
bool writeAll(int fd, const char *data, size_t size);

// Why a copy of bytes stopped.
enum class CopyFailure {
    None,
    ReadFailed, // errno says why
    EndedEarly, // the source ended before its size (it shrank while it was copied)
    WriteFailed, // errno says why
};

// Where a copy of bytes ends.
enum class CopyEnd {
    AtSize, // after size bytes, whatever follows
    AtEndOfFile, // at the end of the source; size is the least it must give (kernel files such
                 // as those of "/proc" state no size and are read whole)
};

// Copies size bytes from in to out in blocks of bufferSize through buffer. After each block
// written, progress (when given) is called with out and the count copied so far.
CopyFailure copyBytes(int in, int out, qint64 size, char *buffer, size_t bufferSize,
    CopyEnd end = CopyEnd::AtSize, void (*progress)(int out, qint64 copied) = nullptr);

// The size of an open file, or -1 (errno).
qint64 sizeOf(int fd);

// SHA-256 of data fed in pieces.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(const char *data, size_t size);
    // The digest of everything added, as 64 lower-case hexadecimal digits; ends the object's use.
    QByteArray hexDigest();

private:
    struct Free
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context;
};

// One read of a whole regular file for its CRC-32 (zlib, continuing from *crc) when crc is
// given, its SHA-256 when sha is given and its size when size is given. The file is read to the
// size it had when it was opened; false when it cannot be opened as a regular file, a read fails
// or it ends before that size. buffer (bufferSize bytes) is the caller's block, or a block of the
// function's own when null.
bool digestFile(const QString &path, quint32 *crc, Sha256 *sha, qint64 *size,
    char *buffer = nullptr, size_t bufferSize = 0);
// CRC-32 (zlib) of a whole regular file.
bool fileCrc32(const QString &path, quint32 *crc);

// A whole regular file copied to a new file with the source's permission bits; false with errno
// when it could not be opened, read, written or closed.
bool copyWholeFile(const QString &from, const QString &to);

// The primitives of durability.
// The data of one open file on the medium (fdatasync).
bool flushFile(int fd);
// The entries of one folder on the medium: new, renamed and removed names (fsync on the folder).
bool syncFolder(const QString &folder);
// Everything every file system of the machine holds in memory (sync()).
void syncAll();

// The flush rules: what reaches the medium, and when, for each writer of the programs. Each
// writer calls its own rule once it has written; the rules live here and nowhere else, so a
// change of how the programs make their data durable is an edit of these functions' bodies.
namespace flush {

// A staged file of a copy list while it is written: what is written so far starts on its way
// to the medium, so that the flush at the end has little left to wait for.
void stagedProgress(int fd, qint64 copied);
// A staged file once written: on the medium, and its cached pages dropped so that the check
// that follows reads what the panel will boot from. False when the data did not reach the
// medium (errno).
bool stagedFile(int fd);
// A folder whose entries a copy list or a restore changed (a new name, a rename).
bool changedFolder(const QString &folder);
// A file saved to the backup folder, or a saved file written back to the panel.
void backupCopy(int fd);
// A program's backup folder on the stick once its backup is complete (folder: the backup's):
// from the program's start it is the only copy of the files it protects; or once the folder is
// removed (folder: the one that held it): a FAT whose removal stays in the device's cache while
// the run goes on may be torn by a cut, and the next run then cannot write there.
void backupFolder(const QString &folder);
// A file the VNC tool put on the panel.
void deployedFile(int fd);
// The display server's copy in the panel's memory-backed "/tmp": nothing to flush.
void serverCopy(int fd);
// A line or the head line of the run log (fd: the log's), and its close. The log lies on the
// stick: an append left in a FAT stick's cache is written back in part by a cut or a pull, and a
// FAT torn that way stops the next run's writes to the stick.
void runLog(int fd);
// A change of the progress state file in folder, or its removal (folder is then the one that
// held the state's folder). A stick's FAT keeps written data in the device's cache until a file
// or folder on it is flushed: sync() alone never flushes it.
void stateFile(const QString &folder);
// An unscrambled copy of a package file.
void unscrambledFile();
// A step of the update run that changed the panel or the stick: a package-wide phase, the work
// before or after a program, a backup, a restore, the removal of a backup, the repair of the
// restored runtime, the run's end.
void runStep();
// Before the panel restarts.
void beforeRestart();
// A change the VNC tool made: a deployment, a removal, a password.
void vncChange();
// A package built onto a stick by the package tool.
void builtPackage();

} // namespace flush

} // namespace hix::io
