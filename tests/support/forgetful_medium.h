#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <vector>

namespace testsupport {

// What a power cut leaves of the folders a test names as devices: only what the process flushed
// to them, as the emulated panel's disks keep it (scripts/volatile_disk.py). While an object
// lives, every fsync, fdatasync, syncfs and sync of the test process (the test program defines
// them, see forgetful_medium.cpp) is a flush point: it records what each device holds durably
// from then on. durable(root, k) is the device's content after a cut right after flush point k;
// restore() puts it back into the folder, so that the next run starts from what the cut left.
//
// Programs that the run starts are other processes: their flushes are not seen, and what they
// wrote counts as written back when this process next flushes.
class ForgetfulMedium
{
public:
    enum Kind {
        // A journalled file system (the panel's ext4 disk): a flush of any file on it, syncfs or
        // sync() makes everything written to it durable.
        Journalled,
        // A FAT stick whose write cache the kernel flushes only for fsync and fdatasync: sync()
        // and syncfs() write everything back into the device's cache and make nothing durable;
        // fsync or fdatasync of one file writes that file back as it stands and flushes the
        // cache, making durable all it holds.
        FatWithCache,
    };

    struct Entry
    {
        QByteArray content;
        bool folder = false;
        bool executable = false;
        // A file read before with the same size and time shares that content.
        qint64 size = -1;
        qint64 modified = -1;
        bool operator==(const Entry &other) const
        {
            return content == other.content && folder == other.folder
                && executable == other.executable;
        }
    };
    // Path relative to the device's folder -> entry; folders included.
    using Tree = QMap<QString, Entry>;

    ForgetfulMedium();
    ~ForgetfulMedium();
    ForgetfulMedium(const ForgetfulMedium &) = delete;
    ForgetfulMedium &operator=(const ForgetfulMedium &) = delete;

    // A folder that stands for a device; what it holds now is durable.
    void addDevice(const QString &root, Kind kind);

    // Flush points so far (the number of the last one).
    int flushPoints() const { return points; }

    // The device's durable content after a cut right after flush point k (0: before any).
    Tree durable(const QString &root, int point) const;
    // What the device held at flush point k, flushed or only written back: a device cache may
    // write back on its own, so a cut may also find this (the same as durable() for a
    // journalled device).
    Tree cached(const QString &root, int point) const;

    // Stops recording (runs after the cut must not change the recorded history).
    void stop();

    static Tree snapshot(const QString &root, const Tree &previous = Tree());
    // Puts tree into the folder root. secondsLater: how long after the cut the panel comes
    // back (the files' times are that much older).
    static void restore(const QString &root, const Tree &tree, int secondsLater = 60);

    // Called by the flush functions of the test program: fd is the descriptor flushed, or -1
    // for sync().
    enum Flush { FileFlush, FileSystemSync, MachineSync };
    static void flushed(Flush flush, int fd);

private:
    struct Device
    {
        QString root;
        Kind kind;
        Tree cache; // what the device holds, flushed or not
        std::vector<std::pair<int, Tree>> history; // flush point -> durable content
        std::vector<std::pair<int, Tree>> caches; // flush point -> what was written back
    };
    void record(Flush flush, int fd);
    Device *deviceOf(const QString &path);
    static Tree at(const std::vector<std::pair<int, Tree>> &history, int point);

    std::vector<Device> devices;
    int points = 0;
    bool recording = true;
};

} // namespace testsupport
