#include "directory_library.h"
#include "temp_sysroot.h"

#include <gtest/gtest.h>

TEST(DirectoryLibrary, DataFolder_IsInsideSysroot)
{
    TempSysroot sysroot;
    ASSERT_NE(Vexo_GetDirectory(VEXO_DIR_DATA), nullptr);
    EXPECT_EQ(QString::fromUtf8(Vexo_GetDirectory(6)), sysroot.path("/usr/vexo_app/data"));
    EXPECT_EQ(QString::fromUtf8(Vexo_GetDirectory(0)), sysroot.path("/usr/vexo_app"));
    EXPECT_EQ(Vexo_GetDirectory(99), nullptr);
}

TEST(DirectoryLibrary, Delete_RemovesWholeTreeButNotWhatLinksPointTo)
{
    TempSysroot sysroot;
    sysroot.writeFile("/data/tree/a.txt", "a");
    sysroot.writeFile("/data/tree/sub/.hidden", "h");
    sysroot.writeFile("/data/tree/sub/deeper/b.bin", "b");
    sysroot.writeFile("/data/outside/keep.txt", "keep");
    ASSERT_TRUE(QFile::link(sysroot.path("/data/outside"), sysroot.path("/data/tree/sub/link")));

    EXPECT_EQ(Vexo_DeleteDirectory(QFile::encodeName(sysroot.path("/data/tree")).constData()), 0);
    EXPECT_FALSE(QFileInfo::exists(sysroot.path("/data/tree")));
    EXPECT_EQ(sysroot.readFile("/data/outside/keep.txt"), QByteArray("keep"));
}

TEST(DirectoryLibrary, Delete_RefusesWhatIsNoDirectory)
{
    TempSysroot sysroot;
    const QByteArray file = QFile::encodeName(sysroot.writeFile("/data/file.txt", "x"));
    EXPECT_EQ(Vexo_DeleteDirectory(file.constData()), -1);
    EXPECT_TRUE(QFile::exists(QString::fromUtf8(file)));
    EXPECT_EQ(Vexo_DeleteDirectory(QFile::encodeName(sysroot.path("/missing")).constData()), -1);
    EXPECT_EQ(Vexo_DeleteDirectory(nullptr), -1);
    EXPECT_EQ(Vexo_DeleteDirectory(""), -1);
    EXPECT_EQ(Vexo_DeleteDirectory("/"), -1);
}

TEST(DirectoryLibrary, Delete_UnremovableEntry_ReportsFailure)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root removes entries of read-only folders";
    TempSysroot sysroot;
    sysroot.writeFile("/data/locked/inner/file", "x");
    const QString inner = sysroot.path("/data/locked/inner");
    ASSERT_TRUE(QFile::setPermissions(inner, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(
        Vexo_DeleteDirectory(QFile::encodeName(sysroot.path("/data/locked")).constData()), -1);
    QFile::setPermissions(inner, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
