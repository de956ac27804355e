// What reaches the medium, and in which order: every flush and rename of this test program is
// recorded (the definitions below stand in for the C library's), so a test can tell that a step
// is on the medium before the step that relies on it, and that no step flushes the whole machine.
#include "backup_file.h"
#include "clogger.h"
#include "file_io.h"
#include "multilingual_manager.h"
#include "temp_sysroot.h"
#include "tool_process_ctrl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

namespace {

enum class Call { Sync, SyncFs, FSync, FDataSync, Rename };

struct Recorded
{
    Call call;
    QString path; // the file or folder flushed, the new name of a rename
};

std::vector<Recorded> calls;

QString pathOf(int fd)
{
    return QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
}

int record(Call call, int fd, long result)
{
    calls.push_back({ call, fd >= 0 ? pathOf(fd) : QString() });
    return int(result);
}

} // namespace

extern "C" void sync()
{
    record(Call::Sync, -1, ::syscall(SYS_sync));
}
extern "C" int syncfs(int fd)
{
    return record(Call::SyncFs, fd, ::syscall(SYS_syncfs, fd));
}
extern "C" int fsync(int fd)
{
    return record(Call::FSync, fd, ::syscall(SYS_fsync, fd));
}
extern "C" int fdatasync(int fd)
{
    return record(Call::FDataSync, fd, ::syscall(SYS_fdatasync, fd));
}
extern "C" int rename(const char *from, const char *to)
{
    const long result = ::syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to);
    calls.push_back({ Call::Rename, QFileInfo(QFile::decodeName(to)).absoluteFilePath() });
    return int(result);
}

namespace {

class FlushRuleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sysroot.isValid());
        ASSERT_TRUE(MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan")));
        // Nothing an earlier test noted is flushed in this one.
        hix::io::flush::noted();
        calls.clear();
    }

    // The position of the first call of this kind on path (or under it, for a folder given
    // with a trailing "/"), -1 when there is none.
    static int first(Call call, const QString &path, int from = 0)
    {
        for (int i = from; i < int(calls.size()); ++i) {
            const bool match
                = path.endsWith('/') ? calls[i].path.startsWith(path) : calls[i].path == path;
            if (calls[i].call == call && match)
                return i;
        }
        return -1;
    }
    static int last(Call call, const QString &path)
    {
        for (int i = int(calls.size()) - 1; i >= 0; --i) {
            const bool match
                = path.endsWith('/') ? calls[i].path.startsWith(path) : calls[i].path == path;
            if (calls[i].call == call && match)
                return i;
        }
        return -1;
    }
    // What was recorded, for the message of a failed expectation.
    static std::string trace()
    {
        static const char *const names[] = { "sync", "syncfs", "fsync", "fdatasync", "rename" };
        std::string text;
        for (const Recorded &r : calls)
            text += std::string(names[int(r.call)]) + " " + r.path.toStdString() + "\n";
        return text;
    }
    static int count(Call call)
    {
        int n = 0;
        for (const Recorded &r : calls)
            n += r.call == call ? 1 : 0;
        return n;
    }

    void writeFiles(const QString &folder, int files)
    {
        for (int i = 0; i < files; ++i)
            sysroot.writeFile(
                folder + QStringLiteral("/f%1.dat").arg(i), QByteArray(4096, char(i)));
    }

    // The panel folder "data" with files of 4 KiB, and the backup entry that saves it.
    backupFileInfo_s dataEntry(int files, int mode)
    {
        writeFiles("/usr/vexo_app/data", files);
        backupFileInfo_s entry;
        entry.srcPath = panel + "/";
        entry.dstPath = root + "/data/";
        entry.mode = mode;
        entry.existCheck = true;
        return entry;
    }

    TempSysroot sysroot;
    const QString panel = sysroot.path("/usr/vexo_app/data");
    const QString root = sysroot.path("/media/usb0/hixbackup/P1");
    const QString checkFile = root + "/backupFileCheck.ini";
};

// A status says that the step before it is done: what that step changed goes to the medium
// first (one syncfs for the files, each changed folder), then the state's new entry.
TEST_F(FlushRuleTest, StateStatus_FlushesTheStepsChangesFirst_NeverTheWholeMachine)
{
    const QString panelFolder = QFileInfo(sysroot.writeFile("/usr/vexo_app/a.txt", "a")).path();
    hix::io::flush::noteFiles(panelFolder + "/a.txt");
    hix::io::flush::noteFolder(panelFolder);
    const QString stateDir = sysroot.path("/media/usb0/hixbackup/P1_proctrl");
    ToolProcessCtrl::GetInstance()->initIniPath(stateDir);

    ASSERT_TRUE(
        ToolProcessCtrl::GetInstance()->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS));

    // The settings writer flushes its new copy in the state's folder before it takes the name.
    const int panelSynced = first(Call::FSync, panelFolder);
    const int stateWritten = first(Call::FDataSync, stateDir + "/");
    const int stateFlushed = last(Call::FSync, stateDir);
    ASSERT_GE(count(Call::SyncFs), 1);
    ASSERT_GE(panelSynced, 0) << trace();
    ASSERT_GE(stateWritten, 0) << trace();
    EXPECT_LT(panelSynced, stateWritten) << trace();
    EXPECT_LT(stateWritten, stateFlushed) << trace();
    // On a FAT stick that flush writes the whole FAT: the stick is written back right before it,
    // and before the state file's own flush.
    EXPECT_EQ(int(calls[stateWritten - 1].call), int(Call::SyncFs)) << trace();
    const int stateOwnFlush = last(Call::FDataSync, stateDir + "/toolProcessCtrl.ini");
    ASSERT_GT(stateOwnFlush, stateWritten) << trace();
    EXPECT_EQ(int(calls[stateOwnFlush - 1].call), int(Call::SyncFs)) << trace();
    // The first write created the state's folder: its name in the backup folder goes too.
    EXPECT_GE(first(Call::FSync, sysroot.path("/media/usb0/hixbackup")), 0);
    EXPECT_EQ(count(Call::Sync), 0);

    calls.clear();
    ASSERT_TRUE(ToolProcessCtrl::GetInstance()->removeCtrlIni());
    EXPECT_GE(first(Call::FSync, sysroot.path("/media/usb0/hixbackup")), 0);
    EXPECT_EQ(count(Call::Sync), 0);
}

// The lines a step says in a burst go to the medium together, by a flush of the log alone (a
// line left in a FAT stick's cache tears the FAT when the stick is pulled): never the log's whole
// file system, never the machine. A line waits at most the log's delay, also when nothing follows
// it, and a flush point takes the waiting lines before anything it vouches for. The head line
// that tells the outcome comes after what the run noted.
TEST_F(FlushRuleTest, RunLog_LinesFlushedTogetherWithinTheDelay_TheHeadLineAfterTheNotedChanges)
{
    using hix::io::flush::RunLogLineDelayMs;
    using hix::io::flush::runLogDelayLeft;
    const QString path = sysroot.writeFile("/media/usb0/upgradeProcess.log", "[失败]\n----\n");
    CLogger log(path, CLogger::READ_WRITE);
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(log.write(QStringLiteral("line %1\n").arg(i)));
    const int burstFlushes = count(Call::FDataSync) + count(Call::FSync);
    EXPECT_GE(burstFlushes, 1) << "the first line waits for nothing";
    EXPECT_LE(burstFlushes, 1 + int(burst.elapsed() / RunLogLineDelayMs)) << trace();
    for (const Recorded &r : calls)
        EXPECT_EQ(r.path, path) << trace();

    // Nothing follows the burst: its last lines go once their delay has passed.
    QElapsedTimer waited;
    waited.start();
    while (runLogDelayLeft() >= 0 && waited.elapsed() < 10 * RunLogLineDelayMs) {
        QCoreApplication::processEvents();
        usleep(1000);
    }
    EXPECT_EQ(runLogDelayLeft(), -1);
    EXPECT_EQ(calls.back().path, path) << trace();

    // A line written right after a flush waits; the flush point before the head line takes it
    // first, then the noted folder, then the head line.
    calls.clear();
    ASSERT_TRUE(log.write(QStringLiteral("line 50\n")));
    ASSERT_EQ(runLogDelayLeft() >= 0, calls.empty()) << trace();
    const QString changed = QFileInfo(sysroot.writeFile("/usr/vexo_app/b.txt", "b")).path();
    hix::io::flush::noteFolder(changed);
    log.writeReport(QStringLiteral("[成功]\n"));
    const int lineFlushed = first(Call::FDataSync, path);
    const int changedFlushed = first(Call::FSync, changed);
    const int headFlushed = last(Call::FDataSync, path);
    ASSERT_GE(changedFlushed, 0) << trace();
    EXPECT_LT(lineFlushed, changedFlushed) << trace();
    EXPECT_LT(changedFlushed, headFlushed) << trace();
    EXPECT_EQ(count(Call::Sync), 0);
    // Each flush of the log comes right after its file system was written back: on a FAT stick
    // the log's flush carries the whole FAT, and the other folders' entries must go with it.
    for (int i = 0; i < int(calls.size()); ++i) {
        if (calls[i].call == Call::FDataSync && calls[i].path == path) {
            ASSERT_GT(i, 0) << trace();
            EXPECT_EQ(int(calls[i - 1].call), int(Call::SyncFs)) << trace();
        }
    }

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.startsWith("[成功]\n----\nline 0\n"));
    EXPECT_TRUE(content.endsWith("line 49\nline 50\n"));
}

// A backup of many small files flushes once at its end, not once a file, and it is on the stick
// when backupFile returns: the program may change the panel files right after.
TEST_F(FlushRuleTest, BackupOfManyFiles_OneFlushAtTheEndBeforeItReturns)
{
    const backupFileInfo_s entry = dataEntry(60, 2);
    backup_file_c backup(DIRECT_BACKUP);
    ASSERT_TRUE(backup.getBackupFileList({ entry }));
    ASSERT_TRUE(backup.generateCheckFile(checkFile));
    calls.clear();

    ASSERT_TRUE(backup.backupFile({ entry }));
    EXPECT_EQ(first(Call::FDataSync, root + "/data/"), -1) << "a saved copy flushed on its own";
    EXPECT_EQ(count(Call::SyncFs), 1);
    EXPECT_GE(
        first(Call::FSync, root + "/data"), first(Call::SyncFs, QString(sysroot.root()) + "/"));
    EXPECT_GE(first(Call::FSync, root), 0) << "the check file's new name";
    EXPECT_LE(int(calls.size()), 10) << trace();
    EXPECT_EQ(count(Call::Sync), 0);
    EXPECT_TRUE(backup.checkBackupFile(DIRECT_BACKUP));
}

// A restored file replaces the panel file by a rename: that rename must never reach the medium
// before the data it names, and the restore is on the medium before the driver deletes the
// backup.
TEST_F(FlushRuleTest, Restore_DataOnTheMediumBeforeThePanelFilesAreReplaced)
{
    const backupFileInfo_s entry = dataEntry(30, 1);
    {
        backup_file_c backup(DIRECT_BACKUP);
        ASSERT_TRUE(backup.getBackupFileList({ entry }) && backup.generateCheckFile(checkFile)
            && backup.backupFile({ entry }));
    }
    writeFiles("/usr/vexo_app/data", 30); // the program's changes (the same bytes do not matter)
    calls.clear();

    backup_file_c restore(DIRECT_RECOVER);
    ASSERT_TRUE(restore.getBackupFileInfo(checkFile));
    ASSERT_TRUE(restore.backupFile({ entry }));
    const int firstReplaced = first(Call::Rename, panel + "/");
    const int dataSynced = first(Call::SyncFs, QString(sysroot.root()) + "/");
    ASSERT_GE(firstReplaced, 0);
    ASSERT_GE(dataSynced, 0);
    EXPECT_LT(dataSynced, firstReplaced);
    EXPECT_GT(last(Call::FSync, panel), last(Call::Rename, panel + "/"));
    EXPECT_EQ(first(Call::FDataSync, panel + "/"), -1) << "a restored file flushed on its own";
    EXPECT_EQ(count(Call::Sync), 0);
    EXPECT_TRUE(restore.checkBackupFile(DIRECT_RECOVER));
}

} // namespace
