// Backup and restore throughput of backup_file_c next to a plain "cp -r" of the same data.
// Usage: backup_bench <scratch folder>   (the folder is created and removed again)
#include "backup_file.h"
#include "multilingual_manager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

qint64 syncNanos = 0;
int syncCalls = 0;

// Times one flush call of the program's own.
template<typename Call> int timed(Call call)
{
    QElapsedTimer timer;
    timer.start();
    const int result = call();
    syncNanos += timer.nsecsElapsed();
    ++syncCalls;
    return result;
}

} // namespace

// Every flush of the backup engine goes through one of these system calls; these definitions
// stand in for the C library's so the time spent there can be told apart from the copy itself.
// (An older engine that called sync() after each file is timed the same way.)
extern "C" void sync()
{
    timed([] { return int(::syscall(SYS_sync)); });
}
extern "C" int syncfs(int fd)
{
    return timed([fd] { return int(::syscall(SYS_syncfs, fd)); });
}
extern "C" int fsync(int fd)
{
    return timed([fd] { return int(::syscall(SYS_fsync, fd)); });
}
extern "C" int fdatasync(int fd)
{
    return timed([fd] { return int(::syscall(SYS_fdatasync, fd)); });
}

namespace {

struct Figure
{
    double seconds;
    double syncSeconds;
    int syncs;
};

void syncFileSystemOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syscall(SYS_syncfs, fd);
        ::close(fd);
    }
}

void writeFile(const QString &path, qint64 size, char seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
    QByteArray block(1 << 20, seed);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131 + seed) & 0xFF);
    while (size > 0) {
        const qint64 n = qMin<qint64>(size, block.size());
        file.write(block.constData(), n);
        size -= n;
    }
}

Figure runBackup(const std::vector<backupFileInfo_s> &list, const QString &checkFile)
{
    syncNanos = 0;
    syncCalls = 0;
    QElapsedTimer timer;
    timer.start();
    backup_file_c worker(DIRECT_BACKUP);
    const bool ok = worker.getBackupFileList(list) && worker.generateCheckFile(checkFile)
        && worker.backupFile(list) && worker.checkBackupFile(DIRECT_BACKUP);
    if (!ok) {
        std::fprintf(stderr, "backup failed\n");
        std::exit(3);
    }
    return { timer.nsecsElapsed() / 1e9, syncNanos / 1e9, syncCalls };
}

Figure runRestore(const std::vector<backupFileInfo_s> &list, const QString &checkFile)
{
    syncNanos = 0;
    syncCalls = 0;
    QElapsedTimer timer;
    timer.start();
    backup_file_c worker(DIRECT_RECOVER);
    const bool ok = worker.getBackupFileInfo(checkFile) && worker.backupFile(list)
        && worker.checkBackupFile(DIRECT_RECOVER);
    if (!ok) {
        std::fprintf(stderr, "restore failed\n");
        std::exit(4);
    }
    return { timer.nsecsElapsed() / 1e9, syncNanos / 1e9, syncCalls };
}

// "cp -r" plus one sync of the file system, so both sides end with the data on the medium.
Figure runCp(const QString &from, const QString &to)
{
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const QByteArray a = QFile::encodeName(from), b = QFile::encodeName(to);
        ::execl("/bin/cp", "cp", "-r", a.constData(), b.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    QElapsedTimer syncTimer;
    syncTimer.start();
    syncFileSystemOf(to);
    const double syncSeconds = syncTimer.nsecsElapsed() / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp failed\n");
        std::exit(5);
    }
    return { timer.nsecsElapsed() / 1e9, syncSeconds, 1 };
}

void report(const char *what, const Figure &f, int files, double mib)
{
    std::printf("%-28s %8.2f s %10.1f files/s %8.1f MiB/s   flush: %5d calls %7.2f s (%4.1f%%)\n",
        what, f.seconds, files / f.seconds, mib / f.seconds, f.syncs, f.syncSeconds,
        100.0 * f.syncSeconds / f.seconds);
}

void measure(
    const QString &scratch, const char *label, const QString &panelFolder, int files, double mib)
{
    const QString stick = scratch + "/stick/" + label;
    const QString checkFile = stick + "/backupFileCheck.ini";
    backupFileInfo_s entry;
    entry.srcPath = panelFolder + "/";
    entry.dstPath = stick + "/saved/";
    entry.mode = 2;
    entry.existCheck = true;
    const std::vector<backupFileInfo_s> list { entry };

    std::printf("-- %s: %d files, %.1f MiB\n", label, files, mib);
    report("backup (list+copy+verify)", runBackup(list, checkFile), files, mib);
    report("restore (copy+verify)", runRestore(list, checkFile), files, mib);
    report("cp -r + one syncfs", runCp(panelFolder, scratch + "/cp_" + label), files, mib);
    QDir(scratch + "/cp_" + label).removeRecursively();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // One trace line per restored file would measure the terminal, not the copy.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <scratch folder>\n", argv[0]);
        return 1;
    }
    hixInitResources();
    MultilingualManager::GetInstance()->loadMultilingualFile(
        QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
    const QString scratch = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir(scratch).removeRecursively();

    const int smallCount = 2000;
    const qint64 smallSize = 4096;
    for (int i = 0; i < smallCount; ++i) {
        const QString folder
            = scratch + QString("/panel_small/d%1").arg(i / 100, 2, 10, QChar('0'));
        QDir().mkpath(folder);
        writeFile(folder + QString("/f%1.dat").arg(i, 4, 10, QChar('0')), smallSize, char(i));
    }
    QDir().mkpath(scratch + "/panel_big");
    writeFile(scratch + "/panel_big/image.bin", qint64(256) << 20, 7);
    syncFileSystemOf(scratch);

    measure(scratch, "small", scratch + "/panel_small", smallCount,
        smallCount * double(smallSize) / (1 << 20));
    measure(scratch, "big", scratch + "/panel_big", 1, 256.0);

    QDir(scratch).removeRecursively();
    return 0;
}
