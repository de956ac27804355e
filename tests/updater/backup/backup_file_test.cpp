#include "backup_file.h"
#include "multilingual_manager.h"
#include "scoped_mount.h"
#include "temp_sysroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QMetaObject>
#include <QSettings>
#include <QTextCodec>
#include <gtest/gtest.h>

#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Builtin = QStringLiteral(":/new/prefix1/resource/lan/0000.lan");

// A path as the C library takes it.
struct Native
{
    QByteArray bytes;
    operator const char *() const { return bytes.constData(); }
};

Native native(const QString &path)
{
    return Native { path.toUtf8() };
}

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

struct Line
{
    QString text;
    QColor color;
};

// Every file and folder below root: relative path -> content (links followed) or "<dir>".
std::map<QString, QByteArray> snapshot(const QString &root)
{
    std::map<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            tree[relative] = "<dir>";
        } else {
            QFile file(path);
            tree[relative] = file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>";
        }
    }
    return tree;
}

int countSymlinks(const QString &root)
{
    int links = 0;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        links += it.fileInfo().isSymLink() ? 1 : 0;
    }
    return links;
}

class BackupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sysroot.isValid());
        ASSERT_TRUE(MultilingualManager::GetInstance()->loadMultilingualFile(QString(), Builtin));
        backupRoot = sysroot.path("/media/usb0/hixbackup/PANEL01");
        checkFile = backupRoot + "/backupFileCheck.ini";
        runtime = sysroot.path("/usr/vexo_app");
    }

    void watch(backup_file_c &worker)
    {
        QObject::connect(
            &worker, &backup_file_c::emitMessage, [this](const QString &t, const QColor &c) {
                lines.push_back({ t, c });
            });
    }

    bool saw(const QString &wanted, QColor color = QColor(Qt::black)) const
    {
        for (const Line &line : lines) {
            if (line.text == wanted && line.color == color)
                return true;
        }
        return false;
    }

    static backupFileInfo_s entry(
        const QString &src, const QString &dst, int mode, bool existCheck = true)
    {
        backupFileInfo_s e;
        e.srcPath = src;
        e.dstPath = dst;
        e.mode = mode;
        e.existCheck = existCheck;
        return e;
    }

    // The driver's backup step: list, check file, copy, verify.
    bool backup(const std::vector<backupFileInfo_s> &list)
    {
        backup_file_c worker(DIRECT_BACKUP);
        watch(worker);
        return worker.getBackupFileList(list) && worker.generateCheckFile(checkFile)
            && worker.backupFile(list) && worker.checkBackupFile(DIRECT_BACKUP);
    }

    // The driver's restore step, from the check file.
    bool restore(const std::vector<backupFileInfo_s> &list)
    {
        backup_file_c worker(DIRECT_RECOVER);
        watch(worker);
        return worker.getBackupFileInfo(checkFile) && worker.backupFile(list)
            && worker.checkBackupFile(DIRECT_RECOVER);
    }

    TempSysroot sysroot;
    QString backupRoot;
    QString checkFile;
    QString runtime;
    std::vector<Line> lines;
};

} // namespace

TEST_F(BackupTest, RuntimeTree_WithEmptyFoldersHiddenFilesAndLinks_RestoresIdenticalTree)
{
    const QString cwd = QDir::currentPath();
    sysroot.writeFile("/usr/vexo_app/update.ini",
        "[UPDATEINFO]\nfile_num=3\n[ACCESSRIGHT]\nfile_num=1\n"
        "[EXE1]\nfile_name=bin/run.sh\n");
    sysroot.writeFile("/usr/vexo_app/.hidden", "secret");
    sysroot.writeFile("/usr/vexo_app/bin/run.sh", "#!/bin/sh\necho run\n");
    sysroot.writeFile("/usr/vexo_app/libx.so.1.2.3", QByteArray(9000, 'L'));
    sysroot.writeFile(QString::fromUtf8("/usr/vexo_app/配置/参数.ini"), "k=v\n");
    sysroot.writeFile("/usr/vexo_app/a/.dot/zero.bin", QByteArray());
    QDir().mkpath(runtime + "/empty");
    QDir().mkpath(runtime + "/a/b/deeper_empty");
    ASSERT_EQ(::symlink("libx.so.1.2.3", native(runtime + "/libx.so.1")), 0);
    ASSERT_EQ(::symlink("libx.so.1", native(runtime + "/libx.so")), 0);
    ASSERT_EQ(::symlink("../.hidden", native(runtime + "/a/hidden_link")), 0);
    const auto before = snapshot(runtime);

    const std::vector<backupFileInfo_s> list { entry(runtime + "/", backupRoot + "/app/", 2) };
    ASSERT_TRUE(backup(list));
    for (const Line &line : lines)
        EXPECT_EQ(line.color, QColor(Qt::black)) << line.text.toStdString();
    EXPECT_TRUE(saw(text(2157).arg("libx.so.1.2.3")));
    EXPECT_EQ(snapshot(backupRoot + "/app"), before);
    EXPECT_EQ(countSymlinks(backupRoot + "/app"), 0);

    // The program wiped the runtime and left a stale launcher without execute permission.
    ASSERT_TRUE(QDir(runtime).removeRecursively());
    sysroot.writeFile("/usr/vexo_app/bin/run.sh", "stale");
    ASSERT_EQ(::chmod(native(runtime + "/bin/run.sh"), 0644), 0);

    lines.clear();
    ASSERT_TRUE(restore(list));
    EXPECT_TRUE(saw(text(2158).arg(QString::fromUtf8("参数.ini"))));
    EXPECT_TRUE(saw(text(2119)));
    EXPECT_TRUE(saw(text(2114).arg("run.sh")));

    // Links come back as files; the versioned library answers to its short name again.
    auto expected = before;
    expected.erase("libx.so.1.2.3");
    EXPECT_EQ(snapshot(runtime), expected);
    EXPECT_EQ(countSymlinks(runtime), 0);
    EXPECT_FALSE(QFileInfo::exists(runtime + "/libx.so.1.2.3"));
    struct stat st;
    ASSERT_EQ(::stat(native(runtime + "/bin/run.sh"), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(QDir::currentPath(), cwd);
}

TEST_F(BackupTest, ChineseNames_RoundTripAsUtf8OnDiskAndInTheCheckFile)
{
    const QString name = QString::fromUtf8("升级文件.txt");
    const QString folder = sysroot.path(QString::fromUtf8("/data/中文"));
    sysroot.writeFile(QString::fromUtf8("/data/中文/") + name, "payload");
    const std::vector<backupFileInfo_s> list { entry(folder + "/", backupRoot + "/d/", 1) };
    ASSERT_TRUE(backup(list));

    // The saved file carries the name's UTF-8 bytes.
    bool found = false;
    DIR *dir = ::opendir(native(backupRoot + "/d"));
    ASSERT_NE(dir, nullptr);
    while (dirent *e = ::readdir(dir))
        found = found || QByteArray(e->d_name) == name.toUtf8();
    ::closedir(dir);
    EXPECT_TRUE(found);
    QFile raw(checkFile);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains(QString::fromUtf8("中文/升级文件").toUtf8()));

    ASSERT_TRUE(QFile::remove(folder + "/" + name));
    ASSERT_TRUE(restore(list));
    EXPECT_EQ(sysroot.readFile(QString::fromUtf8("/data/中文/") + name), QByteArray("payload"));
}

TEST_F(BackupTest, SavedCopyEditedOnTheStick_FailsRestoreVerificationWith2127)
{
    const QString panelFile = sysroot.writeFile("/data/param.bin", "original");
    const std::vector<backupFileInfo_s> list { entry(panelFile, backupRoot + "/param.bin", 0) };
    ASSERT_TRUE(backup(list));
    sysroot.writeFile("/media/usb0/hixbackup/PANEL01/param.bin", "tampered");

    lines.clear();
    EXPECT_FALSE(restore(list));
    EXPECT_TRUE(saw(text(2127).arg("param.bin")));
    EXPECT_TRUE(saw(text(2158).arg("param.bin")));
}

TEST_F(BackupTest, CompleteBackup_IsRecognisedAfterThePanelFilesChanged_OnlyForItsOwnList)
{
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "user data");
    sysroot.writeFile("/usr/vexo_app/recipes/a.rcp", "a");
    sysroot.writeFile("/usr/vexo_app/recipes/line/b.rcp", "b");
    const std::vector<backupFileInfo_s> list { entry(db, backupRoot + "/p1/user.db", 0),
        entry(runtime + "/recipes/", backupRoot + "/p1/recipes/", 2) };
    EXPECT_FALSE(backup_file_c::isCompleteBackupOf(checkFile, list)) << "nothing saved yet";
    ASSERT_TRUE(backup(list));

    // The program has scribbled over the panel files: the saved copies are what counts.
    sysroot.writeFile("/usr/vexo_app/config/user.db", "scribbled");
    sysroot.writeFile("/usr/vexo_app/recipes/line/b.rcp", "scribbled");
    EXPECT_TRUE(backup_file_c::isCompleteBackupOf(checkFile, list));

    // Another program's list does not own this backup.
    const QString net = sysroot.writeFile("/usr/vexo_app/config/net.cfg", "ip");
    EXPECT_FALSE(backup_file_c::isCompleteBackupOf(
        checkFile, { entry(net, backupRoot + "/p2/net.cfg", 0) }));
    EXPECT_FALSE(backup_file_c::isCompleteBackupOf(checkFile, {}));
}

TEST_F(BackupTest, BackupCutOffOnItsWay_IsNotComplete)
{
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "user data");
    const QString cfg = sysroot.writeFile("/usr/vexo_app/config/app.cfg", "settings");
    const std::vector<backupFileInfo_s> list { entry(db, backupRoot + "/user.db", 0),
        entry(cfg, backupRoot + "/app.cfg", 0) };
    ASSERT_TRUE(backup(list));

    // A short copy, as a cut inside the byte copy leaves it.
    sysroot.writeFile("/media/usb0/hixbackup/PANEL01/app.cfg", "sett");
    EXPECT_FALSE(backup_file_c::isCompleteBackupOf(checkFile, list));
    // A copy never made.
    QFile::remove(backupRoot + "/app.cfg");
    EXPECT_FALSE(backup_file_c::isCompleteBackupOf(checkFile, list));
}

TEST_F(BackupTest, PanelFileWhoseReadsFail_FailsTheBackupWith2106NamingIt)
{
    // Read access cannot be taken from root; a file whose every read fails stands in for it.
    if (!QFileInfo::exists("/proc/self/mem"))
        GTEST_SKIP() << "no /proc/self/mem on this machine";
    sysroot.writeFile("/data/ok.txt", "fine");
    ASSERT_EQ(::symlink("/proc/self/mem", native(sysroot.path("/data/broken.bin"))), 0);
    const std::vector<backupFileInfo_s> list { entry(
        sysroot.path("/data/"), backupRoot + "/data/", 1) };
    EXPECT_FALSE(backup(list));
    bool namesTheFile = false;
    for (const Line &line : lines)
        namesTheFile = namesTheFile || line.text.startsWith(text(2106).arg("broken.bin", ""));
    EXPECT_TRUE(namesTheFile);
    EXPECT_TRUE(saw(text(2103).arg("broken.bin")));
    EXPECT_TRUE(saw(text(2100)));
    EXPECT_TRUE(saw(text(2101)));
}

TEST_F(BackupTest, PanelFileEndingBeforeItsSize_StopsTheListWith2109)
{
    // A sysfs attribute claims 4096 bytes and ends after a few: a file that shrinks under the
    // reader. It must not become an empty folder in the backup.
    const QString shrinking = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (!QFileInfo(shrinking).isFile() || QFileInfo(shrinking).size() <= 100)
        GTEST_SKIP() << "no sysfs attribute with an overstated size here";
    ASSERT_TRUE(QDir().mkpath(sysroot.path("/data")));
    ASSERT_EQ(::symlink(native(shrinking), native(sysroot.path("/data/short.txt"))), 0);
    backup_file_c worker(DIRECT_BACKUP);
    watch(worker);
    EXPECT_EQ(worker.backupCheckFile(sysroot.path("/data/short.txt")), QString());
    EXPECT_FALSE(worker.getBackupFileList(
        { entry(sysroot.path("/data/short.txt"), backupRoot + "/short.txt", 0) }));
    EXPECT_TRUE(saw(text(2109).arg("short.txt")));
    EXPECT_TRUE(worker.workList().empty());
}

TEST_F(BackupTest, UnreadablePanelFileForAnOrdinaryUser_StopsTheListWith2109)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file; covered by the failing-read and shrinking cases";
    const QString file = sysroot.writeFile("/data/locked.txt", "x");
    ASSERT_EQ(::chmod(native(file), 0), 0);
    backup_file_c worker(DIRECT_BACKUP);
    watch(worker);
    EXPECT_FALSE(worker.getBackupFileList({ entry(file, backupRoot + "/locked.txt", 0) }));
    EXPECT_TRUE(saw(text(2109).arg("locked.txt")));
}

TEST_F(BackupTest, MissingCheckFile_Fails2125AndTouchesNothing)
{
    const QString panelFile = sysroot.writeFile("/data/keep.txt", "keep");
    backup_file_c worker(DIRECT_RECOVER);
    watch(worker);
    EXPECT_FALSE(worker.getBackupFileInfo(checkFile));
    EXPECT_TRUE(saw(text(2125).arg("backupFileCheck.ini")));
    EXPECT_FALSE(worker.checkBackupFile(DIRECT_RECOVER));
    EXPECT_EQ(sysroot.readFile("/data/keep.txt"), QByteArray("keep"));
    EXPECT_FALSE(QFileInfo::exists(backupRoot));
}

TEST_F(BackupTest, LibraryRepair_RenamesInReverseNameOrder_ShortNameKeepsLastContent)
{
    sysroot.writeFile("/usr/vexo_app/update.ini", "[UPDATEINFO]\nfile_num=1\n");
    sysroot.writeFile("/usr/vexo_app/libx.so.1", "one");
    sysroot.writeFile("/usr/vexo_app/libx.so.1.2", "two");
    sysroot.writeFile("/usr/vexo_app/libx.so.1.2.3", "three");
    sysroot.writeFile("/usr/vexo_app/liba.b.so.1", "ab");
    sysroot.writeFile("/usr/vexo_app/libz.so", "plain");
    sysroot.writeFile("/usr/vexo_app/sub/liby.so.2.0", "nested");
    const QString cwd = QDir::currentPath();

    backup_file_c worker(DIRECT_RECOVER);
    watch(worker);
    ASSERT_TRUE(worker.recoverVexo_app());
    EXPECT_EQ(QDir::currentPath(), cwd);
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/libx.so.1"), QByteArray("two"));
    EXPECT_FALSE(QFileInfo::exists(runtime + "/libx.so.1.2"));
    EXPECT_FALSE(QFileInfo::exists(runtime + "/libx.so.1.2.3"));
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/liba.b.so"), QByteArray("ab"));
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/libz.so"), QByteArray("plain"));
    EXPECT_EQ(sysroot.readFile("/usr/vexo_app/sub/liby.so.2.0"), QByteArray("nested"));
    EXPECT_TRUE(saw(text(2117)));
    EXPECT_TRUE(saw(text(2119)));
}

TEST_F(BackupTest, RuntimeRestore_FailsWhenItsFileListIsEmptyOrAnExeNameIsMissing)
{
    const QString lib = sysroot.writeFile("/usr/vexo_app/lib.so", "lib");
    const std::vector<backupFileInfo_s> list { entry(runtime, backupRoot + "/app/", 2) };
    sysroot.writeFile("/usr/vexo_app/update.ini", "[UPDATEINFO]\nfile_num=0\n");
    ASSERT_TRUE(backup(list));
    lines.clear();
    EXPECT_FALSE(restore(list));
    EXPECT_TRUE(saw(text(2116)));
    EXPECT_TRUE(saw(text(2100)));
    EXPECT_TRUE(saw(text(2101)));

    sysroot.writeFile("/usr/vexo_app/update.ini",
        "[UPDATEINFO]\nfile_num=1\n[ACCESSRIGHT]\nfile_num=2\n"
        "[EXE1]\nfile_name=lib.so\n[EXE2]\nfile_name=gone.bin\n");
    ASSERT_TRUE(backup(list));
    lines.clear();
    EXPECT_FALSE(restore(list));
    EXPECT_TRUE(saw(text(2114).arg("lib.so")));
    EXPECT_TRUE(saw(text(2113).arg("gone.bin"), QColor(Qt::red)));
    EXPECT_TRUE(QFileInfo(lib).isExecutable());
}

TEST_F(BackupTest, SavedCopyChangedBeforeItsCheck_FailsWith2112AndIsRemoved)
{
    // The copy lets the window draw once between writing a file and checking it; a change that
    // lands on the stick then must be caught and the bad copy removed.
    const QString panelFile = sysroot.writeFile("/data/cfg.bin", "config");
    const QString saved = backupRoot + "/cfg.bin";
    QMetaObject::invokeMethod(
        qApp,
        [saved] {
            QFile file(saved);
            if (file.open(QIODevice::Append))
                file.write("garbage");
        },
        Qt::QueuedConnection);
    EXPECT_FALSE(backup({ entry(panelFile, saved, 0) }));
    EXPECT_TRUE(saw(text(2112).arg("cfg.bin")));
    EXPECT_TRUE(saw(text(2103).arg("cfg.bin")));
    EXPECT_TRUE(saw(text(2100)));
    EXPECT_TRUE(saw(text(2101)));
    EXPECT_FALSE(QFileInfo::exists(saved));
    EXPECT_EQ(sysroot.readFile("/data/cfg.bin"), QByteArray("config"));
}

TEST_F(BackupTest, StickPulledAfterTheCheckFile_MakesNoFolderUnderTheEmptyMountPoint)
{
    const QString db = sysroot.writeFile("/usr/vexo_app/config/user.db", "user data");
    QDir().mkpath(sysroot.path("/usr/vexo_app/empty"));
    for (const auto &list :
        { std::vector<backupFileInfo_s> { entry(db, backupRoot + "/config/user.db", 0) },
            std::vector<backupFileInfo_s> {
                entry(sysroot.path("/usr/vexo_app/empty/"), backupRoot + "/empty/", 2) } }) {
        backup_file_c worker(DIRECT_BACKUP);
        watch(worker);
        ASSERT_TRUE(worker.getBackupFileList(list));
        ASSERT_TRUE(worker.generateCheckFile(checkFile));
        // The stick goes, and its folders with it; the mount point stays, on the panel's disk.
        ASSERT_TRUE(QDir(sysroot.path("/media/usb0/hixbackup")).removeRecursively());
        EXPECT_FALSE(worker.backupFile(list));
        EXPECT_TRUE(QDir(sysroot.path("/media/usb0"))
                        .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
}

TEST_F(BackupTest, WorkList_SkipsOptionalMissingSources_RejectsRequiredOnesAndWrongModes)
{
    const QString file = sysroot.writeFile("/data/f.txt", "f");
    QDir().mkpath(sysroot.path("/data/emptydir"));
    {
        backup_file_c worker(DIRECT_BACKUP);
        watch(worker);
        EXPECT_TRUE(
            worker.getBackupFileList({ entry(sysroot.path("/nothing"), backupRoot + "/n", 0, false),
                entry(sysroot.path("/data/emptydir/"), backupRoot + "/e/", 7) }));
        EXPECT_TRUE(lines.empty());
        ASSERT_TRUE(worker.generateCheckFile(checkFile));
        EXPECT_EQ(QFileInfo(checkFile).size(), 0);
        EXPECT_TRUE(worker.backupFile({}));
        EXPECT_FALSE(worker.checkBackupFile(DIRECT_BACKUP));
    }
    backup_file_c worker(DIRECT_BACKUP);
    watch(worker);
    EXPECT_FALSE(
        worker.getBackupFileList({ entry(sysroot.path("/nothing"), backupRoot + "/n", 0) }));
    EXPECT_TRUE(saw(text(2123).arg("nothing")));
    EXPECT_FALSE(worker.getBackupFileList({ entry(file, backupRoot + "/f/", 1) }));
    EXPECT_TRUE(saw(text(2124).arg("f.txt")));
    EXPECT_FALSE(worker.getBackupFileList({ entry(sysroot.path("/data/"), backupRoot + "/d", 0) }));
    EXPECT_TRUE(saw(text(2124).arg("data")));
}

TEST_F(BackupTest, ModeOne_SavesOnlyTopFiles_EmptyFolderComesBack_LaterEntryWins)
{
    sysroot.writeFile("/data/top.txt", "top");
    sysroot.writeFile("/data/sub/inner.txt", "inner");
    sysroot.writeFile("/other/top.txt", "other");
    QDir().mkpath(sysroot.path("/void"));
    const std::vector<backupFileInfo_s> list { entry(sysroot.path("/data/"), backupRoot + "/d/", 1),
        entry(sysroot.path("/other/top.txt"), backupRoot + "/d/top.txt", 0),
        entry(sysroot.path("/void/"), backupRoot + "/v/", 1) };
    ASSERT_TRUE(backup(list));
    EXPECT_EQ(
        snapshot(backupRoot + "/d"), (std::map<QString, QByteArray> { { "top.txt", "other" } }));
    EXPECT_TRUE(QFileInfo(backupRoot + "/v").isDir());

    QSettings ini(checkFile, QSettings::IniFormat);
    EXPECT_EQ(ini.value("/File1/destPath").toString(), backupRoot + "/d/top.txt");
    EXPECT_EQ(ini.value("/File1/srcPath").toString(), sysroot.path("/other/top.txt"));
    EXPECT_EQ(ini.value("/File2/crc32").toString(), QString());
    EXPECT_FALSE(ini.contains("/File3/destPath"));
}

TEST_F(BackupTest, CrcText_IsUpperCaseHexWithoutLeadingZeros_EmptyForFolders)
{
    backup_file_c worker(DIRECT_BACKUP);
    EXPECT_EQ(worker.backupCheckFile(sysroot.writeFile("/c/check.txt", "123456789")),
        QString("CBF43926"));
    EXPECT_EQ(worker.backupCheckFile(sysroot.writeFile("/c/empty", "")), QString("0"));
    EXPECT_EQ(worker.backupCheckFile(sysroot.path("/c")), QString());
    EXPECT_EQ(worker.backupCheckFile(sysroot.path("/c/missing")), QString());
}

TEST_F(BackupTest, CheckFileWithoutGroups_RestoresNothingAndFailsVerification)
{
    sysroot.writeFile("/media/usb0/hixbackup/PANEL01/backupFileCheck.ini", "[Other]\nx=1\n");
    backup_file_c worker(DIRECT_RECOVER);
    watch(worker);
    EXPECT_TRUE(worker.getBackupFileInfo(checkFile));
    EXPECT_TRUE(worker.workList().empty());
    EXPECT_TRUE(worker.backupFile({}));
    EXPECT_FALSE(worker.checkBackupFile(DIRECT_RECOVER));
}

TEST_F(BackupTest, PanelPathTakenByAFolder_RestoreFailsWith2105)
{
    const QString panelFile = sysroot.writeFile("/data/slot", "data");
    const std::vector<backupFileInfo_s> list { entry(panelFile, backupRoot + "/slot", 0) };
    ASSERT_TRUE(backup(list));
    ASSERT_TRUE(QFile::remove(panelFile));
    ASSERT_TRUE(QDir().mkpath(panelFile));
    lines.clear();
    EXPECT_FALSE(restore(list));
    EXPECT_TRUE(saw(text(2105).arg("slot")));
    EXPECT_TRUE(saw(text(2103).arg("slot")));
}

TEST_F(BackupTest, FolderRecord_VerifiesByExistenceOnly)
{
    QDir().mkpath(sysroot.path("/data/empty"));
    const std::vector<backupFileInfo_s> list { entry(
        sysroot.path("/data/empty/"), backupRoot + "/e/", 2) };
    ASSERT_TRUE(backup(list));
    ASSERT_TRUE(QDir(sysroot.path("/data/empty")).removeRecursively());
    ASSERT_TRUE(restore(list));
    EXPECT_TRUE(QFileInfo(sysroot.path("/data/empty")).isDir());

    backup_file_c worker(DIRECT_RECOVER);
    watch(worker);
    ASSERT_TRUE(worker.getBackupFileInfo(checkFile));
    ASSERT_TRUE(QDir(sysroot.path("/data/empty")).removeRecursively());
    EXPECT_FALSE(worker.checkBackupFile(DIRECT_RECOVER));
    EXPECT_TRUE(saw(text(2126).arg("empty")));
}

TEST_F(BackupTest, FolderLinkBackIntoTheTree_IsNotFollowed_OtherFolderLinksAre)
{
    sysroot.writeFile("/data/tree/a.txt", "a");
    sysroot.writeFile("/outside/b.txt", "b");
    ASSERT_EQ(::symlink("..", native(sysroot.path("/data/tree/up"))), 0);
    ASSERT_EQ(::symlink(".", native(sysroot.path("/data/tree/self"))), 0);
    ASSERT_EQ(::symlink("../../outside", native(sysroot.path("/data/tree/ext"))), 0);
    ASSERT_TRUE(backup({ entry(sysroot.path("/data/tree/"), backupRoot + "/t/", 2) }));
    EXPECT_EQ(snapshot(backupRoot + "/t"),
        (std::map<QString, QByteArray> {
            { "a.txt", "a" }, { "ext", "<dir>" }, { "ext/b.txt", "b" } }));
}

TEST_F(BackupTest, RestoreOntoAFullPanel_LeavesTheOperatorsFileWholeAndSaysSoInRed)
{
    const testsupport::ScopedMount disk(sysroot.path("/data"), 512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount here";
    const QString panelFile = sysroot.writeFile("/data/user.db", QByteArray(100000, 's'));
    ::chmod(native(panelFile), 0640);
    const std::vector<backupFileInfo_s> list { entry(panelFile, backupRoot + "/user.db", 0) };
    ASSERT_TRUE(backup(list));
    // The program rewrote the file shorter, and the disk is full now.
    sysroot.writeFile("/data/user.db", QByteArray(2000, 'p'));
    testsupport::ScopedMount::fill(sysroot.path("/data/filler"));

    lines.clear();
    EXPECT_FALSE(restore(list));
    EXPECT_EQ(sysroot.readFile("/data/user.db"), QByteArray(2000, 'p'));
    EXPECT_TRUE(saw(text(2190).arg("user.db"), QColor(Qt::red)));
    EXPECT_FALSE(QFileInfo::exists(panelFile + ".restoring"));

    // With room again the saved file comes back whole, in the place and mode of the old one.
    ASSERT_TRUE(QFile::remove(sysroot.path("/data/filler")));
    EXPECT_TRUE(restore(list));
    EXPECT_EQ(sysroot.readFile("/data/user.db"), QByteArray(100000, 's'));
    struct stat status;
    ASSERT_EQ(::stat(native(panelFile), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}
