#include "system_restart.h"
#include "temp_sysroot.h"

#include <gtest/gtest.h>

// These tests run on development machines that honour a restart request: they must only ever
// see the recorded request.
TEST(SystemRestart, HostBuild_NeverRestartsForReal)
{
    TempSysroot sysroot;
    EXPECT_FALSE(hix::restartIsReal());
}

TEST(SystemRestart, WithSysroot_RecordsEachRequestInRestartLog)
{
    TempSysroot sysroot;
    ASSERT_EQ(hix::restartSystem(), 0);
    ASSERT_EQ(hix::restartSystem(), 0);
    const QList<QByteArray> lines = sysroot.readFile("/var/log/restart.log").trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("restart requested by "));
}
