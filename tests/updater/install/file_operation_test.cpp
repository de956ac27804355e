#include "file_operation.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "scoped_mount.h"
#include "temp_sysroot.h"
#include "tool_process_ctrl.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include <grp.h>
#include <linux/magic.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace {

struct Line
{
    QString text;
    QColor color;
    bool operator==(const Line &other) const { return text == other.text && color == other.color; }
};

void PrintTo(const Line &line, std::ostream *os)
{
    *os << (line.color == QColor(Qt::red)     ? "red  "
            : line.color == QColor(Qt::black) ? "black "
                                              : "?? ")
        << line.text.toStdString();
}

// The line the operator sees for text id, with %1 filled by name.
Line line(int id, const QColor &color, const QString &name = QString())
{
    QString text = MultilingualManager::GetInstance()->getMultilingualValue(id);
    if (!name.isNull())
        text = text.arg(name);
    return { text, color };
}

const QColor Red(Qt::red);
const QColor Black(Qt::black);

QString crcOf(const QByteArray &bytes)
{
    const uLong crc = ::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), bytes.size());
    return QString::number(static_cast<quint32>(crc), 16).toUpper();
}

// Written out, because a braced single entry would pick the one-entry overload.
using CopyList = std::vector<copyFileData_s>;

copyFileData_s copyEntry(const QString &src, const QString &dest, const QString &crc, int mode)
{
    copyFileData_s entry;
    entry.srcPath = src;
    entry.destPath = dest;
    entry.crcValue = crc;
    entry.mode = mode;
    return entry;
}

unsigned modeOf(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool exists(const QString &path)
{
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

// Refuses chosen moves, the way a full or failing medium would, then behaves normally.
class FaultyMoves : public file_operation_c
{
public:
    std::map<QString, int> refusedMovesTo; // target path -> how many moves to refuse
    QString cutAt; // the move to this path ends the process, as a power cut ends a run

protected:
    bool moveEntry(const QString &from, const QString &to) override
    {
        if (to == cutAt)
            ::_exit(0);
        auto refused = refusedMovesTo.find(to);
        if (refused != refusedMovesTo.end() && refused->second > 0) {
            --refused->second;
            return false;
        }
        return file_operation_c::moveEntry(from, to);
    }
};

struct ChildOutcome
{
    bool finished = false;
    bool result = false;
    QVector<Line> lines;
};

// Runs work in a child process without root's rights (tests run as root, who may read, write
// and delete anything), reporting its result and its message lines.
ChildOutcome runUnprivileged(const std::function<bool(file_operation_c &)> &work)
{
    ChildOutcome outcome;
    int fds[2];
    if (::pipe(fds) != 0)
        return outcome;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return outcome;
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        file_operation_c ops;
        QByteArray out;
        QObject::connect(
            &ops, &file_operation_c::emitMessage, [&out](const QString &text, const QColor &color) {
                out += color.name().toUtf8() + '\t' + text.toUtf8() + '\n';
            });
        const bool result = work(ops);
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t count = ::write(fds[1], out.constData() + done, out.size() - done);
            if (count <= 0)
                ::_exit(4);
            done += count;
        }
        ::_exit(result ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        pollfd pfd { fds[0], POLLIN, 0 };
        if (::poll(&pfd, 1, 200) > 0) {
            char buffer[4096];
            const ssize_t count = ::read(fds[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            received.append(buffer, static_cast<int>(count));
        }
        if (timer.hasExpired(20000))
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (timer.hasExpired(20000)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return outcome;
        }
        ::usleep(10000);
    }
    outcome.finished = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    outcome.result = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (const QByteArray &row : received.split('\n')) {
        const int tab = row.indexOf('\t');
        if (tab > 0)
            outcome.lines.append(
                { QString::fromUtf8(row.mid(tab + 1)), QColor(QString::fromUtf8(row.left(tab))) });
    }
    return outcome;
}

class FileOperation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sysroot.isValid());
        ASSERT_TRUE(MultilingualManager::GetInstance()->loadMultilingualFile(
            QStringLiteral(":/new/prefix1/resource/lan/0000.lan"), QString()));
        // The unprivileged helper must be able to reach the files below the sysroot.
        ::chmod(QFile::encodeName(sysroot.root()).constData(), 0755);
        ToolProcessCtrl::GetInstance()->initIniPath(path("/media/usb0/hixbackup/panel_proctrl"));
        QObject::connect(
            &ops, &file_operation_c::emitMessage, [this](const QString &text, const QColor &color) {
                lines.append({ text, color });
            });
    }

    QString path(const QString &panelPath) const { return sysroot.path(panelPath); }
    QString write(const QString &panelPath, const QByteArray &content)
    {
        return sysroot.writeFile(panelPath, content);
    }
    QByteArray read(const QString &panelPath) const { return sysroot.readFile(panelPath); }
    // What a run cut off in its rename pass had recorded of its set-aside files.
    void recordSetAside(const QStringList &panelPaths)
    {
        QStringList paths;
        for (const QString &panelPath : panelPaths)
            paths << path(panelPath);
        ToolProcessCtrl::GetInstance()->setSetAsideFiles(paths);
    }

    TempSysroot sysroot;
    FaultyMoves ops;
    QVector<Line> lines;
};

// ---------------------------------------------------------------------------------------------
// Copy lists

TEST_F(FileOperation, CopyList_InstallsNewAndReplacedFiles_LeavingNoStagingOrSetAsideFiles)
{
    const QString a = write("/media/usb0/pkg/a.bin", "new a");
    const QString b = write("/media/usb0/pkg/b.bin", "new b");
    write("/usr/vexo_app/b.bin", "old b");

    const bool ok = ops.copyFile(
        CopyList { copyEntry(a, path("/usr/vexo_app/deep/er/a.bin"), crcOf("new a"), 0),
            copyEntry(b, path("/usr/vexo_app/b.bin"), crcOf("new b"), 0) });

    EXPECT_TRUE(ok);
    EXPECT_EQ(read("/usr/vexo_app/deep/er/a.bin"), "new a");
    EXPECT_EQ(read("/usr/vexo_app/b.bin"), "new b");
    for (const char *leftover :
        { "/usr/vexo_app/deep/er/a.bin.tmp", "/usr/vexo_app/b.bin.tmp", "/usr/vexo_app/b.bin.bak" })
        EXPECT_FALSE(exists(path(leftover))) << leftover;
    EXPECT_EQ(lines,
        (QVector<Line> { line(2145, Black, "a.bin"), line(2145, Black, "b.bin"),
            line(2136, Black, "b.bin.bak") }));
}

TEST_F(FileOperation, CrcValue_LowerCaseChecksLikeUpperCase_MismatchShowsTwoRedLines)
{
    const QString src = write("/media/usb0/pkg/lib.so", QByteArray(10000, 'x'));
    const QString lower = crcOf(QByteArray(10000, 'x')).toLower();
    ASSERT_NE(lower, lower.toUpper()) << "the value needs letters to prove anything";

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/lib.so"), lower, 0) }));
    EXPECT_EQ(read("/usr/vexo_app/lib.so"), QByteArray(10000, 'x'));

    lines.clear();
    EXPECT_FALSE(
        ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/other.so"), "deadbeef", 0) }));
    EXPECT_EQ(lines,
        (QVector<Line> {
            line(2152, Red), line(2151, Red, "lib.so"), line(2129, Red), line(2130, Black) }));
    EXPECT_FALSE(exists(path("/usr/vexo_app/other.so")));
}

TEST_F(FileOperation, CopyList_DestinationAlreadyRight_IsNotRewrittenAndShowsNoFailure)
{
    const QString src = write("/media/usb0/pkg/app", "same");
    write("/usr/vexo_app/app", "same");
    // Left by an earlier attempt; it was never checked in this run and must not be installed.
    write("/usr/vexo_app/app.tmp", "stale staging");
    const QString emptySrc = write("/media/usb0/pkg/empty", "other content");
    write("/usr/vexo_app/empty", "");
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(path("/usr/vexo_app/app")).constData(), &before), 0);

    // An empty file has CRC 0, which is also what an empty value reads as.
    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("same"), 0),
        copyEntry(emptySrc, path("/usr/vexo_app/empty"), "", 0) }));

    struct stat after;
    ASSERT_EQ(::stat(QFile::encodeName(path("/usr/vexo_app/app")).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(read("/usr/vexo_app/app"), "same");
    EXPECT_EQ(read("/usr/vexo_app/empty"), "");
    EXPECT_FALSE(exists(path("/usr/vexo_app/app.tmp")));
    // Nothing was staged for them, so the rename pass has nothing to commit and says nothing.
    EXPECT_EQ(lines, QVector<Line> {});
}

TEST_F(FileOperation, Rename_StagedFileMissingWithoutAnAlreadyRightCopy_Reports2147)
{
    // Only a file the staging pass found already right is passed over in silence.
    write("/usr/vexo_app/app", "old");
    EXPECT_FALSE(ops.renameFile(
        copyEntry(path("/media/usb0/pkg/app"), path("/usr/vexo_app/app"), crcOf("old"), 0),
        ".tmp"));
    EXPECT_EQ(lines, (QVector<Line> { line(2147, Red, "app.tmp") }));
    EXPECT_EQ(read("/usr/vexo_app/app"), "old");
}

TEST_F(FileOperation, CopyList_ThirdEntryFailsItsCrc_LeavesInstalledFilesUntouched)
{
    const QString a = write("/media/usb0/pkg/a", "new a");
    const QString b = write("/media/usb0/pkg/b", "new b");
    const QString c = write("/media/usb0/pkg/c", "new c");
    write("/usr/vexo_app/a", "old a");
    write("/usr/vexo_app/b", "old b");

    EXPECT_FALSE(ops.copyFile(CopyList { copyEntry(a, path("/usr/vexo_app/a"), crcOf("new a"), 0),
        copyEntry(b, path("/usr/vexo_app/b"), "", 0),
        copyEntry(c, path("/usr/vexo_app/c"), crcOf("corrupt"), 0) }));

    EXPECT_EQ(read("/usr/vexo_app/a"), "old a");
    EXPECT_EQ(read("/usr/vexo_app/b"), "old b");
    EXPECT_FALSE(exists(path("/usr/vexo_app/c")));
    // The staged copies of the entries before it go with the failed list.
    EXPECT_FALSE(exists(path("/usr/vexo_app/a.tmp")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/b.tmp")));
    EXPECT_EQ(lines,
        (QVector<Line> { line(2145, Black, "a"), line(2145, Black, "b"), line(2152, Red),
            line(2151, Red, "c"), line(2129, Red), line(2136, Black, "a.tmp"),
            line(2136, Black, "b.tmp"), line(2130, Black) }));
}

// A kernel attribute file states a size of a whole page but holds a few bytes: the same as a
// file that shrinks while it is read.
const char *const ShortFile = "/sys/kernel/uevent_seqnum";

bool shortFileAvailable()
{
    const QFileInfo info(QString::fromLatin1(ShortFile));
    QFile file(info.filePath());
    return info.isFile() && file.open(QIODevice::ReadOnly) && file.readAll().size() < info.size();
}

TEST_F(FileOperation, CopyList_ThirdEntryByteCopyFails_RemovesEveryStagingFileOfTheList)
{
    if (!shortFileAvailable())
        GTEST_SKIP() << "no file shorter than its stated size on this machine";
    const QString a = write("/media/usb0/pkg/a", "new a");
    const QString b = write("/media/usb0/pkg/b", "new b");
    write("/usr/vexo_app/a", "old a");

    EXPECT_FALSE(ops.copyFile(CopyList { copyEntry(a, path("/usr/vexo_app/a"), "", 0),
        copyEntry(b, path("/usr/vexo_app/b"), "", 0),
        copyEntry(ShortFile, path("/usr/vexo_app/c"), "", 0) }));

    EXPECT_EQ(read("/usr/vexo_app/a"), "old a");
    EXPECT_FALSE(exists(path("/usr/vexo_app/b")));
    for (const char *staged :
        { "/usr/vexo_app/a.tmp", "/usr/vexo_app/b.tmp", "/usr/vexo_app/c.tmp" })
        EXPECT_FALSE(exists(path(staged))) << staged;
    EXPECT_EQ(lines,
        (QVector<Line> { line(2145, Black, "a"), line(2145, Black, "b"),
            line(2145, Black, "uevent_seqnum"), line(2141, Red, "uevent_seqnum"), line(2129, Red),
            line(2136, Black, "c.tmp"), line(2136, Black, "a.tmp"), line(2136, Black, "b.tmp"),
            line(2130, Black) }));
}

TEST_F(FileOperation, GenerateCrc_EndsAsFailureForShortFilesAndFolders)
{
    unsigned int crc = 0;
    EXPECT_TRUE(ops.generateCrc(write("/f", QByteArray(9000, 'q')), crc));
    EXPECT_EQ(QString::number(crc, 16).toUpper(), crcOf(QByteArray(9000, 'q')));
    crc = 0;
    EXPECT_TRUE(ops.generateCrc(write("/empty", ""), crc));
    EXPECT_EQ(crc, 0u);
    EXPECT_FALSE(ops.generateCrc(sysroot.root(), crc));
    EXPECT_FALSE(ops.generateCrc(path("/missing"), crc));
    if (!shortFileAvailable())
        GTEST_SKIP() << "no file shorter than its stated size on this machine";
    crc = 1;
    EXPECT_FALSE(ops.generateCrc(ShortFile, crc));
    EXPECT_EQ(crc, 0u);
}

// Pages still waiting to be written cannot be dropped from the cache: a staged file with no page
// left in memory has reached the medium, and its check will read it back from there.
TEST_F(FileOperation, ByteCopy_StagedFileIsOnTheMediumAndNotServedFromTheCache)
{
    struct statfs fs;
    ASSERT_EQ(::statfs(QFile::encodeName(sysroot.root()).constData(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC)
        GTEST_SKIP() << "the temporary folder lives in memory";
    QByteArray content(1 << 20, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + i / 4096);
    const QString src = write("/media/usb0/pkg/big", content);
    QDir().mkpath(path("/usr/vexo_app"));

    ASSERT_TRUE(ops.copyBaseFile(src, path("/usr/vexo_app/big")));

    QFile staged(path("/usr/vexo_app/big.tmp"));
    ASSERT_TRUE(staged.open(QIODevice::ReadOnly));
    void *map = ::mmap(nullptr, content.size(), PROT_READ, MAP_SHARED, staged.handle(), 0);
    ASSERT_NE(map, MAP_FAILED);
    std::vector<unsigned char> resident(content.size() / ::sysconf(_SC_PAGESIZE) + 1);
    ASSERT_EQ(::mincore(map, content.size(), resident.data()), 0);
    int residentPages = 0;
    for (unsigned char page : resident)
        residentPages += page & 1;
    ::munmap(map, content.size());
    EXPECT_EQ(residentPages, 0);
    EXPECT_EQ(staged.readAll(), content);
}

TEST_F(FileOperation, CopyList_NoInstalledFileChangesBeforeTheWholeListIsStaged)
{
    const QMap<QString, QByteArray> installed { { "/usr/vexo_app/a", "old a" },
        { "/usr/vexo_app/lib/x.so", "old x" }, { "/usr/vexo_app/lib/y.so", "old y" },
        { "/usr/vexo_app/z", "old z" } };
    for (auto it = installed.begin(); it != installed.end(); ++it)
        write(it.key(), it.value());
    const QString a = write("/media/usb0/pkg/a", "new a");
    write("/media/usb0/pkg/lib/x.so", "new x");
    write("/media/usb0/pkg/lib/y.so", "new y");
    const QString z = write("/media/usb0/pkg/z", "new z");

    int stagingMessages = 0;
    QStringList changedEarly;
    QObject::connect(
        &ops, &file_operation_c::emitMessage, [&](const QString &text, const QColor &) {
            if (!text.startsWith(line(2145, Black, "").text))
                return;
            ++stagingMessages;
            for (auto it = installed.begin(); it != installed.end(); ++it) {
                if (read(it.key()) != it.value())
                    changedEarly << it.key();
            }
        });

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(a, path("/usr/vexo_app/a"), crcOf("new a"), 0),
        copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1),
        copyEntry(z, path("/usr/vexo_app/z"), crcOf("new z"), 0) }));

    EXPECT_EQ(stagingMessages, 4);
    EXPECT_TRUE(changedEarly.isEmpty()) << changedEarly.join(", ").toStdString();
    EXPECT_EQ(read("/usr/vexo_app/a"), "new a");
    EXPECT_EQ(read("/usr/vexo_app/lib/x.so"), "new x");
    EXPECT_EQ(read("/usr/vexo_app/lib/y.so"), "new y");
    EXPECT_EQ(read("/usr/vexo_app/z"), "new z");
    EXPECT_EQ(QDir(path("/usr/vexo_app/lib")).entryList(QDir::Files | QDir::Hidden),
        (QStringList { "x.so", "y.so" }));
}

TEST_F(FileOperation, CopyList_StaleSetAsideFromInterruptedRun_InstallsAtOnceLeavingNothingBehind)
{
    // A run cut off after its moves but before its clean-up left older copies under the
    // set-aside names beside the installed files.
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app", "old");
    write("/usr/vexo_app/app.bak", "older, left by a cut-off run");
    write("/media/usb0/pkg/lib/x.so", "new x");
    write("/usr/vexo_app/lib/x.so", "old x");
    write("/usr/vexo_app/lib/x.so.tmp.bak", "older x");
    recordSetAside({ "/usr/vexo_app/app.bak", "/usr/vexo_app/lib/x.so.tmp.bak" });

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0),
        copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "new");
    EXPECT_EQ(read("/usr/vexo_app/lib/x.so"), "new x");
    // No staged copy stays behind for the next update to take for its own.
    EXPECT_EQ(
        QDir(path("/usr/vexo_app")).entryList(QDir::Files | QDir::Hidden), QStringList { "app" });
    EXPECT_EQ(QDir(path("/usr/vexo_app/lib")).entryList(QDir::Files | QDir::Hidden),
        QStringList { "x.so" });
    for (const Line &l : lines)
        EXPECT_NE(l.color, Red) << l.text.toStdString();
}

TEST_F(FileOperation, CopyList_SetAsideBesideFileAlreadyInstalled_GoesWithTheCleanUp)
{
    // A run cut off after moving the new file in but before its clean-up: the installed file
    // already is the package's, and the file it replaced is still under the set-aside name.
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app", "new");
    write("/usr/vexo_app/app.bak", "old, left by a cut-off run");
    recordSetAside({ "/usr/vexo_app/app.bak" });
    write("/media/usb0/pkg/lib/x.so", "new x");
    write("/usr/vexo_app/lib/x.so", "old x");

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0),
        copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "new");
    EXPECT_EQ(read("/usr/vexo_app/lib/x.so"), "new x");
    EXPECT_EQ(
        QDir(path("/usr/vexo_app")).entryList(QDir::Files | QDir::Hidden), QStringList { "app" });
    EXPECT_EQ(QDir(path("/usr/vexo_app/lib")).entryList(QDir::Files | QDir::Hidden),
        QStringList { "x.so" });
}

TEST_F(FileOperation, CopyList_SetAsideBesideFileAlreadyInstalled_ListFails_NothingIsDeleted)
{
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app", "new");
    write("/usr/vexo_app/app.bak", "old, left by a cut-off run");
    recordSetAside({ "/usr/vexo_app/app.bak" });
    write("/usr/vexo_app/z", "old z");

    // The second entry's source is missing: the list stops before its rename pass, and so
    // before any clean-up.
    EXPECT_FALSE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0),
        copyEntry(path("/media/usb0/pkg/z"), path("/usr/vexo_app/z"), crcOf("new z"), 0) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "new");
    EXPECT_EQ(read("/usr/vexo_app/app.bak"), "old, left by a cut-off run");
    EXPECT_EQ(read("/usr/vexo_app/z"), "old z");
}

TEST_F(FileOperation, CopyList_CutBetweenSetAsideAndMoveIn_RetryInstallsNewAndCleansTheOldCopy)
{
    // The cut run had moved the installed files aside and then stopped: nothing under the final
    // names, the old contents only under the set-aside names.
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app.bak", "old");
    write("/media/usb0/pkg/lib/x.so", "new x");
    write("/usr/vexo_app/lib/x.so.tmp.bak", "old x");
    recordSetAside({ "/usr/vexo_app/app.bak", "/usr/vexo_app/lib/x.so.tmp.bak" });

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0),
        copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "new");
    EXPECT_EQ(read("/usr/vexo_app/lib/x.so"), "new x");
    EXPECT_EQ(
        QDir(path("/usr/vexo_app")).entryList(QDir::Files | QDir::Hidden), QStringList { "app" });
    EXPECT_EQ(QDir(path("/usr/vexo_app/lib")).entryList(QDir::Files | QDir::Hidden),
        QStringList { "x.so" });
}

TEST_F(FileOperation, CopyList_CutBetweenSetAsideAndMoveIn_MoveInFails_OldFileBackInPlace)
{
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app.bak", "old");
    recordSetAside({ "/usr/vexo_app/app.bak" });
    ops.refusedMovesTo[path("/usr/vexo_app/app")] = 1;

    EXPECT_TRUE(
        ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "old");
    EXPECT_FALSE(exists(path("/usr/vexo_app/app.bak")));
}

// Files under set-aside names that this updater did not make are someone else's (a copy kept by
// hand, another tool's): never deleted, moved over or taken for the installed file.
TEST_F(FileOperation, CopyList_SetAsideNamesTheUpdaterDidNotMake_StayAsTheyAre)
{
    const QStringList names { "new.txt", "same.txt", "app", "unmovable" };
    CopyList list;
    for (const QString &name : names) {
        const QByteArray content = "new " + name.toUtf8();
        list.push_back(copyEntry(write("/media/usb0/pkg/" + name, content),
            path("/usr/vexo_app/" + name), crcOf(content), 0));
        write("/usr/vexo_app/" + name + ".bak", "kept by hand");
    }
    write("/usr/vexo_app/same.txt", "new same.txt");
    write("/usr/vexo_app/app", "old app");
    ops.refusedMovesTo[path("/usr/vexo_app/unmovable")] = 1;

    EXPECT_TRUE(ops.copyFile(list));
    EXPECT_EQ(read("/usr/vexo_app/new.txt"), "new new.txt");
    EXPECT_EQ(read("/usr/vexo_app/same.txt"), "new same.txt");
    EXPECT_EQ(read("/usr/vexo_app/app"), "new app");
    EXPECT_FALSE(exists(path("/usr/vexo_app/unmovable")));
    for (const QString &name : names)
        EXPECT_EQ(read("/usr/vexo_app/" + name + ".bak"), "kept by hand") << name.toStdString();
}

TEST_F(FileOperation, CopyList_RunCutBetweenSetAsideAndMoveIn_TheNextRunKnowsItsSetAsideFile)
{
    const CopyList list { copyEntry(
        write("/media/usb0/pkg/app", "new"), path("/usr/vexo_app/app"), crcOf("new"), 0) };
    write("/usr/vexo_app/app", "old");
    ops.cutAt = path("/usr/vexo_app/app");
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(ops.copyFile(list) ? 1 : 2);
    ops.cutAt.clear();
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the cut never came";
    ASSERT_EQ(read("/usr/vexo_app/app.bak"), "old");

    EXPECT_TRUE(ops.copyFile(list));
    EXPECT_EQ(read("/usr/vexo_app/app"), "new");
    EXPECT_FALSE(exists(path("/usr/vexo_app/app.bak")));
    EXPECT_TRUE(ToolProcessCtrl::GetInstance()->setAsideFiles().isEmpty());
}

TEST_F(FileOperation, CopyList_DestinationFolderUnderARegularFile_FailsWithoutWriting)
{
    const QString src = write("/media/usb0/pkg/f", "f");
    write("/media/usb0/pkg/dir/g", "g");
    write("/usr/blocker", "a file where a folder is needed");

    EXPECT_FALSE(ops.copyFile(CopyList { copyEntry(src, path("/usr/blocker/sub/f"), "", 0) }));
    EXPECT_FALSE(ops.copyFile(
        CopyList { copyEntry(path("/media/usb0/pkg/dir"), path("/usr/blocker/dir"), "", 1) }));

    EXPECT_EQ(read("/usr/blocker"), "a file where a folder is needed");
    EXPECT_EQ(lines,
        (QVector<Line> { line(2140, Red, "sub"), line(2129, Red), line(2130, Black),
            line(2142, Red, "dir"), line(2129, Red), line(2130, Black) }));
}

TEST_F(FileOperation, CopyEntry_SourceAndModeChecks)
{
    const QString file = write("/media/usb0/pkg/f", "f");
    write("/media/usb0/pkg/dir/g", "g");

    EXPECT_FALSE(ops.copyFile(copyEntry(path("/media/usb0/pkg/none"), path("/x"), "", 0)));
    EXPECT_FALSE(ops.copyFile(copyEntry(file, path("/x"), "", 3)));
    EXPECT_FALSE(ops.copyFile(copyEntry(path("/media/usb0/pkg/dir"), path("/x"), "", 0)));
    EXPECT_TRUE(ops.copyFile(copyEntry(path("/media/usb0/pkg/dir"), path("/x"), "", 3)));

    EXPECT_FALSE(exists(path("/x")));
    EXPECT_EQ(lines,
        (QVector<Line> { line(2134, Red, "none"), line(2135, Red, "f"), line(2135, Red, "dir") }));
}

TEST_F(FileOperation, CopyList_RelativeSourceResolvesAgainstTheProgramFolder)
{
    QTemporaryDir besideProgram(QCoreApplication::applicationDirPath() + "/relative-src-XXXXXX");
    ASSERT_TRUE(besideProgram.isValid());
    QFile source(besideProgram.filePath("payload"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("relative");
    source.close();
    const QString relative = QFileInfo(besideProgram.path()).fileName() + "/payload";
    const QString workDir = QDir::currentPath();

    EXPECT_TRUE(ops.copyFile(
        CopyList { copyEntry(relative, path("/usr/vexo_app/payload"), crcOf("relative"), 0) }));

    EXPECT_EQ(read("/usr/vexo_app/payload"), "relative");
    EXPECT_EQ(QDir::currentPath(), workDir);
}

// ---------------------------------------------------------------------------------------------
// Folder copies

TEST_F(FileOperation, FolderCopy_Mode1_CopiesHiddenFilesInNameOrderAndSkipsSubfolders)
{
    write("/media/usb0/pkg/lib/a", "a");
    write("/media/usb0/pkg/lib/B", "B");
    write("/media/usb0/pkg/lib/.hidden", "h");
    write("/media/usb0/pkg/lib/sub/deep", "d");

    EXPECT_TRUE(ops.copyFile(
        CopyList { copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1) }));

    EXPECT_EQ(QDir(path("/usr/vexo_app/lib"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { ".hidden", "B", "a" }));
    EXPECT_EQ(lines,
        (QVector<Line> {
            line(2145, Black, ".hidden"), line(2145, Black, "B"), line(2145, Black, "a") }));
}

TEST_F(FileOperation, FolderCopy_Mode1_CopiesReadOnlySources_AnUnreadableFileFailsTheCopy)
{
    write("/media/usb0/pkg/lib/a", "a");
    write("/media/usb0/pkg/lib/readonly", "r");
    write("/media/usb0/pkg/lib/secret", "s");
    const auto setMode = [this](const char *panelPath, mode_t mode) {
        ::chmod(QFile::encodeName(path(panelPath)).constData(), mode);
    };
    for (const char *folder : { "/media", "/media/usb0", "/media/usb0/pkg", "/media/usb0/pkg/lib" })
        setMode(folder, 0755);
    setMode("/media/usb0/pkg/lib/a", 0666);
    setMode("/media/usb0/pkg/lib/readonly", 0444);
    setMode("/media/usb0/pkg/lib/secret", 0600);
    QDir().mkpath(path("/usr/vexo_app/lib"));
    setMode("/usr", 0755);
    setMode("/usr/vexo_app", 0755);
    setMode("/usr/vexo_app/lib", 0777);
    if (::geteuid() != 0)
        setMode("/media/usb0/pkg/lib/secret", 0);

    const QString src = path("/media/usb0/pkg/lib");
    const QString dest = path("/usr/vexo_app/lib");
    const ChildOutcome outcome = runUnprivileged(
        [&](file_operation_c &child) { return child.copyDirFile(copyEntry(src, dest, "", 1)); });

    ASSERT_TRUE(outcome.finished);
    // A source only needs to be readable; one that cannot be read is never silently left out.
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(QDir(dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList { "a.tmp", "readonly.tmp" }));
    EXPECT_EQ(outcome.lines,
        (QVector<Line> { line(2145, Black, "a"), line(2145, Black, "readonly"),
            line(2145, Black, "secret"), line(2144, Red, "secret") }));
    setMode("/media/usb0/pkg/lib/secret", 0600);
}

TEST_F(FileOperation, FolderCopy_Mode2_ChildFoldersFollowTheDestinationTextDirectly)
{
    write("/media/usb0/pkg/tree/f", "f");
    write("/media/usb0/pkg/tree/x/g", "g");
    write("/media/usb0/pkg/tree/x/y/h", "h");
    const QString tree = path("/media/usb0/pkg/tree");

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(tree, path("/usr/vexo_app/lib/"), "", 2),
        copyEntry(tree, path("/usr/vexo_app/bin"), "", 2) }));

    EXPECT_EQ(read("/usr/vexo_app/lib/f"), "f");
    EXPECT_EQ(read("/usr/vexo_app/lib/x/g"), "g");
    EXPECT_EQ(read("/usr/vexo_app/lib/x/y/h"), "h");
    // Without the trailing "/" the child names run on into the destination's own name.
    EXPECT_EQ(read("/usr/vexo_app/bin/f"), "f");
    EXPECT_EQ(read("/usr/vexo_app/binx/g"), "g");
    EXPECT_EQ(read("/usr/vexo_app/binx/y/h"), "h");
    EXPECT_FALSE(exists(path("/usr/vexo_app/bin/x")));
    for (const char *staged : { "/usr/vexo_app/lib/x/g.tmp", "/usr/vexo_app/binx/y/h.tmp" })
        EXPECT_FALSE(exists(path(staged))) << staged;
}

// ---------------------------------------------------------------------------------------------
// Staged rename: a set-aside file is the only copy of the installed one

TEST_F(FileOperation, Rename_MoveInFails_PutsTheSetAsideFileBack)
{
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app", "old");
    write("/media/usb0/pkg/lib/x.so", "new x");
    write("/usr/vexo_app/lib/x.so", "old x");
    ops.refusedMovesTo[path("/usr/vexo_app/app")] = 1;
    ops.refusedMovesTo[path("/usr/vexo_app/lib/x.so")] = 1;

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0),
        copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1) }));

    EXPECT_EQ(read("/usr/vexo_app/app"), "old");
    EXPECT_EQ(read("/usr/vexo_app/lib/x.so"), "old x");
    EXPECT_FALSE(exists(path("/usr/vexo_app/app.bak")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/lib/x.so.tmp.bak")));
    EXPECT_EQ(lines,
        (QVector<Line> { line(2145, Black, "app"), line(2145, Black, "x.so"),
            line(2148, Red, "app.tmp"), line(2148, Red, "x.so.tmp") }));
}

TEST_F(FileOperation, Rename_MoveInAndPutBackFail_KeepsTheSetAsideFile)
{
    const QString src = write("/media/usb0/pkg/app", "new");
    write("/usr/vexo_app/app", "old");
    ops.refusedMovesTo[path("/usr/vexo_app/app")] = 2;

    EXPECT_TRUE(
        ops.copyFile(CopyList { copyEntry(src, path("/usr/vexo_app/app"), crcOf("new"), 0) }));

    EXPECT_EQ(read("/usr/vexo_app/app.bak"), "old");
    EXPECT_EQ(read("/usr/vexo_app/app.tmp"), "new");
    EXPECT_EQ(lines, (QVector<Line> { line(2145, Black, "app"), line(2148, Red, "app.tmp") }));

    // A later list of the same run must not clean it up either.
    lines.clear();
    const QString other = write("/media/usb0/pkg/other", "o");
    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(other, path("/usr/vexo_app/other"), "", 0) }));
    EXPECT_EQ(read("/usr/vexo_app/app.bak"), "old");
}

TEST_F(FileOperation, Rename_StagedNameWithSeveralDotsAndMissingFolder)
{
    write("/usr/vexo_app/lib/libx.so.1.tmp", "staged");
    EXPECT_TRUE(ops.renameFile(copyEntry("", path("/usr/vexo_app/lib"), "", 1), ".tmp"));
    EXPECT_EQ(read("/usr/vexo_app/lib/libx.so.1"), "staged");

    EXPECT_FALSE(ops.renameFile(copyEntry("", path("/usr/none"), "", 2), ".tmp"));
    EXPECT_TRUE(ops.renameFile(copyEntry("", path("/usr/none"), "", 7), ".tmp"));
    EXPECT_EQ(lines, QVector<Line> { line(2150, Red, "none") });
}

// ---------------------------------------------------------------------------------------------
// Delete lists

TEST_F(FileOperation, RemoveList_MissingPathIsNoFailure_ModeMismatchStopsTheList)
{
    write("/usr/vexo_app/dir/f", "f");
    write("/usr/vexo_app/keep", "k");

    EXPECT_FALSE(
        ops.removeFile({ { path("/usr/vexo_app/gone"), 0 }, { path("/usr/vexo_app/dir"), 0 },
                           { path("/usr/vexo_app/keep"), 0 } },
            QString()));

    EXPECT_TRUE(exists(path("/usr/vexo_app/keep")));
    EXPECT_FALSE(ops.removeFile(delFileInfo_s { path("/usr/vexo_app/keep"), 2 }, QString()));
    EXPECT_EQ(lines,
        (QVector<Line> {
            line(2132, Black, "gone"), line(2133, Red, "dir"), line(2133, Red, "keep") }));
}

TEST_F(FileOperation, RemoveFile_SuffixFilterSkipsOtherNamesSilently)
{
    write("/usr/vexo_app/app", "a");
    write("/usr/vexo_app/app.bak", "b");

    EXPECT_TRUE(ops.removeFile(
        { { path("/usr/vexo_app/app"), 0 }, { path("/usr/vexo_app/app.bak"), 0 } }, ".bak"));

    EXPECT_TRUE(exists(path("/usr/vexo_app/app")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/app.bak")));
    EXPECT_EQ(lines, QVector<Line> { line(2136, Black, "app.bak") });
}

TEST_F(FileOperation, RemoveFolder_Mode1DeletesFilesOnly_Mode2DeletesTheTree)
{
    write("/usr/vexo_app/cfg/a", "a");
    write("/usr/vexo_app/cfg/sub/b", "b");
    write("/usr/vexo_app/tree/a", "a");
    write("/usr/vexo_app/tree/x/y/b", "b");
    QDir().mkpath(path("/usr/vexo_app/empty"));

    EXPECT_TRUE(
        ops.removeFile({ { path("/usr/vexo_app/cfg"), 1 }, { path("/usr/vexo_app/tree"), 2 },
                           { path("/usr/vexo_app/empty"), 2 } },
            QString()));

    EXPECT_FALSE(exists(path("/usr/vexo_app/cfg/a")));
    EXPECT_EQ(read("/usr/vexo_app/cfg/sub/b"), "b");
    EXPECT_FALSE(exists(path("/usr/vexo_app/tree")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/empty")));
    EXPECT_EQ(lines,
        (QVector<Line> { line(2139, Black, "cfg"), line(2136, Black, "a"), line(2136, Black, "a"),
            line(2136, Black, "b") }));
}

TEST_F(FileOperation, RemoveTree_LinkInsideTheTreeIsRemovedNotFollowed)
{
    write("/usr/vexo_app/outside/precious", "p");
    write("/usr/vexo_app/tree/a", "a");
    ASSERT_TRUE(QFile::link(path("/usr/vexo_app/outside"), path("/usr/vexo_app/tree/link")));

    EXPECT_TRUE(ops.removeFile(delFileInfo_s { path("/usr/vexo_app/tree"), 2 }, QString()));

    EXPECT_FALSE(exists(path("/usr/vexo_app/tree")));
    EXPECT_EQ(read("/usr/vexo_app/outside/precious"), "p");
}

TEST_F(FileOperation, RemoveTree_FileThatCannotBeDeleted_KeepsItsFolderAndParents)
{
    // In a sticky folder only a file's owner may delete it, while the folder stays writable for
    // everyone (the delete walk visits only what it may write).
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a file owned by another user";
    write("/usr/vexo_app/tree/a", "a");
    write("/usr/vexo_app/tree/sub/locked", "l");
    const auto setMode = [this](const char *panelPath, mode_t mode) {
        ::chmod(QFile::encodeName(path(panelPath)).constData(), mode);
    };
    for (const char *folder : { "/usr", "/usr/vexo_app" })
        setMode(folder, 0755);
    setMode("/usr/vexo_app/tree", 0777);
    setMode("/usr/vexo_app/tree/a", 0666);
    setMode("/usr/vexo_app/tree/sub/locked", 0666);
    setMode("/usr/vexo_app/tree/sub", 01777);

    const QString tree = path("/usr/vexo_app/tree");
    const ChildOutcome outcome = runUnprivileged([&](file_operation_c &child) {
        return child.removeFile({ { tree, 2 }, { tree + "/sub/locked", 0 } }, QString());
    });
    setMode("/usr/vexo_app/tree/sub", 0755);

    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_FALSE(exists(path("/usr/vexo_app/tree/a")));
    EXPECT_EQ(read("/usr/vexo_app/tree/sub/locked"), "l");
    EXPECT_EQ(outcome.lines,
        (QVector<Line> {
            line(2136, Black, "a"), line(2136, Black, "locked"), line(2138, Red, "locked") }));
}

// ---------------------------------------------------------------------------------------------
// Execute permission

TEST_F(FileOperation, GrantExe_TakesEachPathAsOneName_MissingFileStopsTheList)
{
    const QString spaced = write("/usr/vexo_app/my tool", "#!/bin/sh\n");
    const QString shelly = write("/usr/vexo_app/x;touch injected", "#!/bin/sh\n");
    const QString later = write("/usr/vexo_app/later", "#!/bin/sh\n");
    ::chmod(QFile::encodeName(spaced).constData(), 0640);

    EXPECT_TRUE(ops.grantExeFile({ { spaced }, { shelly } }));
    EXPECT_FALSE(ops.grantExeFile({ { path("/usr/vexo_app/missing") }, { later } }));

    EXPECT_EQ(modeOf(spaced), 0751u);
    EXPECT_EQ(modeOf(shelly) & 0111, 0111u);
    EXPECT_FALSE(exists(path("/usr/vexo_app/injected")));
    EXPECT_EQ(modeOf(later) & 0111, 0u);
    EXPECT_EQ(lines, QVector<Line> { line(2131, Red, "missing") });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Faults of the field: read-only and full media, links, changed sources, modes

namespace {

// Every staging file left below root.
QStringList stagedFilesBelow(const QString &root)
{
    QStringList staged;
    QDirIterator it(root, { "*.tmp" }, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        staged << it.next();
    return staged;
}

} // namespace

TEST_F(FileOperation, FolderCopies_FromAReadOnlyStick_CopyEveryFile)
{
    write("/media/usb0/pkg/lib/a.so", "a");
    write("/media/usb0/pkg/lib/.hidden", "h");
    write("/media/usb0/pkg/tree/f", "f");
    write("/media/usb0/pkg/tree/x/g", "g");
    const testsupport::ScopedMount readOnly(path("/media/usb0"));
    if (!readOnly.isMounted())
        GTEST_SKIP() << "cannot mount here";

    EXPECT_TRUE(ops.copyFile(
        CopyList { copyEntry(path("/media/usb0/pkg/lib"), path("/usr/vexo_app/lib"), "", 1),
            copyEntry(path("/media/usb0/pkg/tree"), path("/usr/vexo_app/tree/"), "", 2) }));
    EXPECT_EQ(read("/usr/vexo_app/lib/a.so"), "a");
    EXPECT_EQ(read("/usr/vexo_app/lib/.hidden"), "h");
    EXPECT_EQ(read("/usr/vexo_app/tree/f"), "f");
    EXPECT_EQ(read("/usr/vexo_app/tree/x/g"), "g");
}

TEST_F(FileOperation, FolderCopy_LinksLeavingThePackageOrLoopingAreRefused_InnerLinksFollowed)
{
    const QString package = path("/media/usb0/hixupdateu");
    ops.setPackageFolder(package);
    write("/host/etc/shadow", "root:$6$hash");
    write("/media/usb0/hixupdateu/out/app", "app");
    ASSERT_EQ(::symlink(QFile::encodeName(path("/host/etc")).constData(),
                  QFile::encodeName(package + "/out/etc").constData()),
        0);
    write("/media/usb0/hixupdateu/loop/sub/file", "f");
    ASSERT_EQ(::symlink("..", QFile::encodeName(package + "/loop/sub/back").constData()), 0);
    write("/media/usb0/hixupdateu/shared/libx.so.1", "x");
    write("/media/usb0/hixupdateu/in/app", "in");
    ASSERT_EQ(
        ::symlink("../shared/libx.so.1", QFile::encodeName(package + "/in/libx.so").constData()),
        0);

    EXPECT_FALSE(
        ops.copyFile(CopyList { copyEntry(package + "/out", path("/usr/vexo_app/out/"), "", 2) }));
    EXPECT_TRUE(lines.contains(line(2185, Red, "etc")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/out/etc")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/out/app")));

    lines.clear();
    EXPECT_FALSE(ops.copyFile(
        CopyList { copyEntry(package + "/loop", path("/usr/vexo_app/loop/"), "", 2) }));
    EXPECT_TRUE(lines.contains(line(2185, Red, "back")));
    EXPECT_FALSE(exists(path("/usr/vexo_app/loop/sub/back")));

    EXPECT_TRUE(
        ops.copyFile(CopyList { copyEntry(package + "/in", path("/usr/vexo_app/in"), "", 1) }));
    EXPECT_EQ(read("/usr/vexo_app/in/libx.so"), "x");
    EXPECT_TRUE(stagedFilesBelow(path("/usr/vexo_app")).isEmpty());
}

TEST_F(FileOperation, CopyList_PanelDiskFills_TheStagedFilesOfTheListAreAllRemoved)
{
    const testsupport::ScopedMount disk(path("/usr/vexo_app"), 256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount here";
    const QString a = write("/media/usb0/pkg/a", QByteArray(100 * 1024, 'a'));
    const QString b = write("/media/usb0/pkg/b", QByteArray(100 * 1024, 'b'));
    const QString c = write("/media/usb0/pkg/c", QByteArray(100 * 1024, 'c'));

    EXPECT_FALSE(ops.copyFile(CopyList { copyEntry(a, path("/usr/vexo_app/a"), "", 0),
        copyEntry(b, path("/usr/vexo_app/b"), "", 0),
        copyEntry(c, path("/usr/vexo_app/c"), "", 0) }));
    EXPECT_EQ(QDir(path("/usr/vexo_app")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList());
    EXPECT_TRUE(lines.contains(line(2130, Black)));
}

TEST_F(FileOperation, CopyList_ReplacedFileKeepsItsModeAndOwner_NewFileGetsTheDefault)
{
    const QString app = write("/media/usb0/pkg/app", "new app");
    const QString tool = write("/media/usb0/pkg/tool", "new tool");
    ::chmod(QFile::encodeName(app).constData(), 0644);
    write("/usr/vexo_app/app", "old app");
    ::chmod(QFile::encodeName(path("/usr/vexo_app/app")).constData(), 0750);
    ASSERT_EQ(::chown(QFile::encodeName(path("/usr/vexo_app/app")).constData(), 1234, 5678) == 0,
        ::geteuid() == 0);
    const mode_t mask = ::umask(022);
    ::umask(mask);

    EXPECT_TRUE(ops.copyFile(CopyList { copyEntry(app, path("/usr/vexo_app/app"), "", 0),
        copyEntry(tool, path("/usr/vexo_app/tool"), "", 0) }));
    EXPECT_EQ(read("/usr/vexo_app/app"), "new app");
    EXPECT_EQ(modeOf(path("/usr/vexo_app/app")), 0750u);
    EXPECT_EQ(modeOf(path("/usr/vexo_app/tool")), 0666u & ~unsigned(mask));
    if (::geteuid() == 0) {
        struct stat status;
        ASSERT_EQ(::stat(QFile::encodeName(path("/usr/vexo_app/app")).constData(), &status), 0);
        EXPECT_EQ(status.st_uid, 1234u);
        EXPECT_EQ(status.st_gid, 5678u);
    }
}

TEST_F(FileOperation, CopyList_WithManifest_ChangedMissingOrAddedSourceStopsTheList)
{
    write("/media/usb0/hixupdateu/fonts/a.ttf", QByteArray(4000, 'a'));
    write("/media/usb0/hixupdateu/fonts/b.ttf", QByteArray(4000, 'b'));
    write("/media/usb0/hixupdateu/tree/x/c", "c");
    PackageManifest manifest;
    for (const char *file :
        { "hixupdateu/fonts/a.ttf", "hixupdateu/fonts/b.ttf", "hixupdateu/tree/x/c" }) {
        PackageManifest::Entry entry;
        ASSERT_TRUE(fileDigest(path("/media/usb0/") + file, &entry));
        manifest.insert(QString::fromLatin1(file), entry);
    }
    manifest.setStickRoot(path("/media/usb0"));
    ops.setManifest(&manifest);
    const CopyList list { copyEntry(path("/media/usb0/hixupdateu/fonts"),
                              path("/usr/vexo_app/fonts"), "", 1),
        copyEntry(path("/media/usb0/hixupdateu/tree"), path("/usr/vexo_app/tree/"), "", 2) };
    const auto failsWith = [&](const Line &expected) {
        lines.clear();
        EXPECT_FALSE(ops.copyFile(list));
        EXPECT_TRUE(lines.contains(expected)) << qPrintable(expected.text);
        EXPECT_FALSE(
            exists(path("/usr/vexo_app/fonts")) && exists(path("/usr/vexo_app/fonts/b.ttf")));
        EXPECT_TRUE(stagedFilesBelow(path("/usr/vexo_app")).isEmpty());
    };

    // Cut short after the build.
    write("/media/usb0/hixupdateu/fonts/b.ttf", QByteArray(2000, 'b'));
    failsWith(line(2180, Red, "b.ttf"));
    write("/media/usb0/hixupdateu/fonts/b.ttf", QByteArray(4000, 'b'));
    // Gone, or a stranger added.
    QFile::remove(path("/media/usb0/hixupdateu/tree/x/c"));
    failsWith(line(2181, Red, "c"));
    write("/media/usb0/hixupdateu/tree/x/c", "c");
    write("/media/usb0/hixupdateu/fonts/extra.ttf", "x");
    failsWith(line(2180, Red, "extra.ttf"));
    QFile::remove(path("/media/usb0/hixupdateu/fonts/extra.ttf"));

    lines.clear();
    EXPECT_TRUE(ops.copyFile(list));
    EXPECT_EQ(read("/usr/vexo_app/fonts/b.ttf"), QByteArray(4000, 'b'));
    EXPECT_EQ(read("/usr/vexo_app/tree/x/c"), "c");

    // A package without a manifest is copied as it is found.
    ops.setManifest(nullptr);
    write("/media/usb0/hixupdateu/fonts/b.ttf", QByteArray(2000, 'b'));
    EXPECT_TRUE(ops.copyFile(list));
    EXPECT_EQ(read("/usr/vexo_app/fonts/b.ttf"), QByteArray(2000, 'b'));
}
