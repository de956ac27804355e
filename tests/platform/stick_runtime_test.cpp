// Where a program finds the stick's library folder.
#include "stick_runtime.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(StickRuntime, LibraryFolder_BesideTheLauncherOrAboveTheUpdaterAndOnlyWithPlugins)
{
    QTemporaryDir stick;
    const QString root = QDir(stick.path()).canonicalPath();
    QDir().mkpath(root + "/hixupdateu");
    // A folder of that name without Qt's plug-ins is not the stick's (a build folder, a
    // package's own files).
    QDir().mkpath(root + "/hixupdateu/hixlib");
    EXPECT_EQ(hix::stickLibraryFolder(root), QString());
    EXPECT_EQ(hix::stickLibraryFolder(root + "/hixupdateu"), QString());

    QDir().mkpath(root + "/hixlib/plugins");
    EXPECT_EQ(hix::stickLibraryFolder(root), root + "/hixlib");
    EXPECT_EQ(hix::stickLibraryFolder(root + "/hixupdateu"), root + "/hixlib");
    EXPECT_EQ(hix::stickLibraryFolder(QString()), QString());
}
