// The stick as a panel without Qt sees it: every library its programs load, and what a FAT32
// stick cannot hold.
#include "elf_file.h"
#include "process_helpers.h"
#include "stick_libraries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

testsupport::ToolRun hixpack(const QStringList &args)
{
    return testsupport::runTool(testsupport::binDir() + "/hixpack", args);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    file.write(content);
}

const char *const OneFilePackage = "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=data\n"
                                   "DESTPATH1=/usr/vexo_app/data/\nMODE1=2\n";

} // namespace

TEST(StickLayout, Example_EveryLibraryTheProgramsLoadComesFromTheStick)
{
    QTemporaryDir stick;
    const testsupport::ToolRun run = hixpack({ "build", "--bin", testsupport::binDir(),
        QStringLiteral(HIX_SOURCE_DIR "/examples/package"), stick.path() });
    ASSERT_EQ(run.exitCode, 0) << run.out.constData() << run.err.constData();
    const QString libs = stick.filePath("hixlib");
    EXPECT_TRUE(QFileInfo(libs + "/plugins/platforms/libqlinuxfb.so").isFile());
    EXPECT_TRUE(QFileInfo(libs + "/fonts/fonts.conf").isFile());

    // The loader itself says where each library of each program comes from: a program that
    // found a library outside the stick would not start on a panel without it.
    for (const char *program :
        { "upgentry.bin", "vncsetup.bin", "hixupdateu/upgrunner.bin", "hixupdateu/hixresult" }) {
        const QString path = stick.filePath(program);
        if (!QFileInfo::exists(path))
            continue;
        QProcess loader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_TRACE_LOADED_OBJECTS", "1");
        env.remove("LD_LIBRARY_PATH");
        loader.setProcessEnvironment(env);
        loader.start(path, QStringList());
        ASSERT_TRUE(loader.waitForFinished(20000)) << program;
        const QStringList lines = QString::fromUtf8(loader.readAllStandardOutput()).split('\n');
        int fromStick = 0;
        for (const QString &line : lines) {
            const QString soname = line.trimmed().section(' ', 0, 0);
            if (!line.contains(" => ") || stick_libraries_c::isCLibrary(soname))
                continue;
            const QString found
                = QFileInfo(line.section(" => ", 1).section(" (", 0, 0)).canonicalFilePath();
            EXPECT_TRUE(found.startsWith(QDir(libs).canonicalPath() + '/'))
                << program << ": " << qPrintable(line);
            ++fromStick;
        }
        EXPECT_GT(fromStick, 0) << program;
    }

    // The plug-in's own libraries are on the stick too.
    elf_file_s plugin;
    QString error;
    ASSERT_TRUE(elf_file_s::read(libs + "/plugins/platforms/libqlinuxfb.so", &plugin, &error));
    for (const QString &soname : plugin.needed)
        EXPECT_TRUE(stick_libraries_c::isCLibrary(soname) || QFileInfo::exists(libs + '/' + soname))
            << qPrintable(soname);
}

TEST(StickLayout, FilesAFatStickCannotHold_NothingBuiltAndEachNamed)
{
    QTemporaryDir src;
    QTemporaryDir stick;
    writeFile(src.filePath("update.ini"), OneFilePackage);
    writeFile(src.filePath("data/Setup.ini"), "a");
    writeFile(src.filePath("data/setup.ini"), "b");
    writeFile(src.filePath("data/what?.txt"), "c");
    writeFile(src.filePath("data/notes."), "d");
    writeFile(src.filePath("data/说明.txt"), "a Chinese name is fine");
    // 4 GiB without the disk space: the check goes by the size alone.
    QFile big(src.filePath("data/image.bin"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(Q_INT64_C(4294967296)));
    big.close();

    const testsupport::ToolRun run
        = hixpack({ "build", "--bin", testsupport::binDir(), src.path(), stick.path() });
    const QString err = QString::fromUtf8(run.err);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(err.contains("\"data/Setup.ini\" and \"data/setup.ini\" are one name"))
        << qPrintable(err);
    EXPECT_TRUE(err.contains("\"data/what?.txt\" holds the character '?'")) << qPrintable(err);
    EXPECT_TRUE(err.contains("\"data/notes.\" ends in a dot")) << qPrintable(err);
    EXPECT_TRUE(err.contains("\"data/image.bin\" is 4 GiB or larger")) << qPrintable(err);
    EXPECT_FALSE(err.contains("说明")) << qPrintable(err);
    EXPECT_TRUE(err.contains("4 file name(s) or size(s)")) << qPrintable(err);
    EXPECT_TRUE(QDir(stick.path()).isEmpty());
}

TEST(StickLayout, ElfFile_ArmCLibraryAndNoElf)
{
    elf_file_s elf;
    QString error;
    const QString armLibc = QStringLiteral("/usr/arm-linux-gnueabihf/lib/libc.so.6");
    if (QFileInfo::exists(armLibc)) {
        ASSERT_TRUE(elf_file_s::read(armLibc, &elf, &error)) << qPrintable(error);
        EXPECT_FALSE(elf.is64);
        EXPECT_EQ(elf.machine, elf_file_s::MachineArm);
        EXPECT_EQ(elf.multiarch(), "arm-linux-gnueabihf");
        EXPECT_TRUE(elf.needed.contains("ld-linux-armhf.so.3")) << qPrintable(elf.needed.join(' '));
    }
    // The programs of this build carry the run path that finds the stick's libraries.
    ASSERT_TRUE(elf_file_s::read(testsupport::binDir() + "/upgrunner.bin", &elf, &error));
    EXPECT_EQ(elf.rpath, QStringList { "$ORIGIN/../hixlib" });
    EXPECT_TRUE(elf.runpath.isEmpty());

    QTemporaryDir dir;
    writeFile(dir.filePath("script.sh"), "#!/bin/sh\nexit 0\n");
    EXPECT_FALSE(elf_file_s::read(dir.filePath("script.sh"), &elf, &error));
    EXPECT_TRUE(error.contains("no little-endian ELF")) << qPrintable(error);
}
