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

// The primitives of durability: each flushes what one step wrote, never the whole machine, so
// the time a flush takes never grows with what other programs wrote.
// The data of one open file on the medium (fdatasync).
bool flushFile(int fd);
// The data of one open file on the medium, with everything else its file system holds written
// back first (syncfs, then fdatasync). On a FAT stick the flush of one file writes the whole FAT
// but not the entries of other folders: a cut after it finds clusters freed by a removal still
// named by a folder, or a folder grown into a cluster never written, and the kernel then sets the
// stick read-only. Written back together, the medium holds one state of the file system.
bool flushWithFileSystem(int fd);
// The entries of one folder on the medium: new, renamed and removed names (fsync on the folder).
bool syncFolder(const QString &folder);
// Everything written to the file system that holds path (syncfs): one call in place of a flush
// per file when a step wrote many.
bool syncFileSystem(const QString &path);

// The flush rules: what reaches the medium, and when, for each writer of the programs. Each
// writer calls its own rule once it has written; the rules live here and nowhere else, so a
// change of how the programs make their data durable is an edit of these functions' bodies.
//
// A step that writes many files does not flush them one by one: it notes the file systems it
// wrote to and the folders whose entries it changed, and the rule of the step that relies on
// them (a state-file status, the head line of the run log, the deletion of a backup, the start
// of a program) flushes everything noted first: one syncfs per file system, each followed by the
// flush of a folder on it, then each noted folder. On a FAT stick, which empties its device cache
// only for the flush of a file or a folder, that folder flush carries what the syncfs wrote back.
// The run log flushes its own lines (runLogLine), and every flush point flushes them first.
namespace flush {

// A staged file of a copy list while it is written: what is written so far starts on its way
// to the medium, so that the flush at the end has little left to wait for.
void stagedProgress(int fd, qint64 copied);
// A staged file once written: on the medium, and its cached pages dropped so that the check
// that follows reads what the panel will boot from. False when the data did not reach the
// medium (errno).
bool stagedFile(int fd);
// A folder whose entries a copy list or a restore changed (a new name, a rename), flushed now.
bool changedFolder(const QString &folder);

// Files written or changed (data, permission bits) on the file system that holds path and not
// flushed one by one: the next flush point syncs that file system once.
void noteFiles(const QString &path);
// A folder whose entries changed (a name created, renamed or removed): the next flush point
// flushes it.
void noteFolder(const QString &folder);
// Before a folder is created with its missing parents: notes the folder that will hold each
// new name.
void noteNewFolders(const QString &folder);
// The flush point: everything noted on the medium. False when some
// of it could not be flushed (errno of the last failure; a noted folder removed since is no
// failure).
bool noted();

// How long a line of the run log may wait for the flush of the log: the lines a step says in a
// burst (one per copied file) go to the medium together, not one flush each.
constexpr int RunLogLineDelayMs = 100;
// A line appended to the run log at fd. The log lies on the stick: an append that stays in a FAT
// stick's cache is written back in part by a cut or a pull, and a FAT torn that way stops the
// next run's writes to the stick. So it is flushed with its file system (flushWithFileSystem):
// at once when the log was last flushed RunLogLineDelayMs or more ago, else at the latest when
// that time has passed: by the next line, by a staged file's copy, by the writer's timer
// (runLogDelayLeft), and always by the next flush point, before any record of progress. False
// when a flush did not reach the medium (errno).
bool runLogLine(int fd);
// Milliseconds until the pending lines of the run log are due: -1 when none are pending.
int runLogDelayLeft();
// The pending lines of the run log, on the medium now. False when they did not reach it.
bool runLogPending();
// A record of progress is about to be written (a state-file status, the run log's head line): it
// vouches for everything before it, so all that is noted goes to the medium first. Flushing after
// the record was written would let the medium take the record first.
bool beforeRecord();
// The settings writer is about to write file: it flushes its new copy on its own, and on a FAT
// stick that flush writes the whole FAT, so everything else the file's file system holds (a
// removed file, a folder grown by the backup) is written back first. False when it could not be.
bool beforeSettingsWrite(const QString &file);
// The head line of the run log at fd, written after beforeRecord(): the log on the medium.
bool runLogHead(int fd);
// The run log at fd is about to be closed: its lines go to the medium now.
void runLogClosed(int fd);
// A change of the progress state file, written after beforeRecord(): the file under its name and
// its folder's entries (and any folder the write created). The settings writer flushes its new
// copy before the copy takes the file's name, but the name may point at it only after that.
bool stateFile(const QString &file);
// The progress state file and its folder removed from parent (after beforeRecord()).
bool stateRemoved(const QString &parent);
// A program's backup folder on the stick once its backup is complete (folder: the backup's):
// from the program's start it is the only copy of the files it protects; or once the folder is
// removed (folder: the one that held it): a FAT whose removal stays in the device's cache while
// the run goes on may be torn by a cut, and the next run then cannot write there. Everything
// written to the folder's file system goes to the medium, then the folder's entries.
bool backupFolder(const QString &folder);
// An unscrambled copy of a package file (a description, a program) at fd.
void unscrambledFile(int fd);
// A file the VNC tool put on the panel at fd.
bool deployedFile(int fd);
// The display server's copy in the panel's memory-backed "/tmp": nothing to flush.
void serverCopy(int fd);
// A step of the update run that changed the panel or the stick has ended: a package-wide phase,
// the work before or after a program, a backup, a restore, the repair of the restored runtime,
// the run's end.
bool runStep();
// Before the panel restarts: whatever is still noted. (The restart itself writes back everything
// the machine holds, for the programs of the panel that are no part of this system.)
bool beforeRestart();
// A change the VNC tool made: a deployment, a removal, a password.
bool vncChange();
// A package built onto the stick folder by the package tool: many files, one syncfs.
bool builtPackage(const QString &stickFolder);

} // namespace flush

} // namespace hix::io
