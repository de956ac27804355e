#include "netlink_wrapper2.h"
#include "parse_system_info.h"
#include "temp_sysroot.h"

#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <gtest/gtest.h>

TEST(SystemInfo, MemoryInfo_RealKernel_GivesTotalAndFreeSum)
{
    int freeKb = 0, totalKb = 0;
    ASSERT_EQ(ParseSystemInfo::get_memory_info(freeKb, totalKb), 0);
    EXPECT_GT(totalKb, 0);
    EXPECT_GE(freeKb, 0);
    EXPECT_LE(freeKb, totalKb);
}

TEST(SystemInfo, MemoryInfo_SumsFreeBuffersCached_MissingLinesFail)
{
    TempSysroot sysroot;
    const QString full = sysroot.writeFile("/meminfo",
        "MemTotal:  1000 kB\nMemFree:  100 kB\n"
        "MemAvailable: 500 kB\nBuffers: 20 kB\n"
        "Cached:  3 kB\nSwapCached: 999 kB\n");
    int freeKb = 0, totalKb = 0;
    ASSERT_EQ(ParseSystemInfo::get_memory_info(freeKb, totalKb, full), 0);
    EXPECT_EQ(totalKb, 1000);
    EXPECT_EQ(freeKb, 123);

    const QString noCached = sysroot.writeFile("/meminfo2",
        "MemTotal: 1000 kB\nMemFree: 100 kB\n"
        "Buffers: 20 kB\n");
    EXPECT_EQ(ParseSystemInfo::get_memory_info(freeKb, totalKb, noCached), -1);
    EXPECT_EQ(freeKb, -1);

    const QString noValue = sysroot.writeFile("/meminfo3",
        "MemTotal:\nMemFree: 1\nBuffers: 2\n"
        "Cached: 3\n");
    EXPECT_EQ(ParseSystemInfo::get_memory_info(freeKb, totalKb, noValue), -1);
    EXPECT_EQ(ParseSystemInfo::get_memory_info(freeKb, totalKb, sysroot.path("/none")), -1);
    EXPECT_EQ(totalKb, -1);
}

TEST(SystemInfo, ScreenText_WidthTimesHeight)
{
    EXPECT_EQ(ParseSystemInfo::screenText(QRect(0, 0, 1024, 600)), QString("1024*600"));
    EXPECT_EQ(ParseSystemInfo::screenText(QRect(0, 0, 800, 480)), QString("800*480"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(ParseSystemInfo::getScreenInfo(),
        QString("%1*%2").arg(screen.width()).arg(screen.height()));
}

TEST(SystemInfo, VexoappVersion_FromTheRuntimesPlainDescription)
{
    TempSysroot sysroot;
    QString version = "stale";
    EXPECT_FALSE(ParseSystemInfo::getVexoappVersion(version));
    EXPECT_TRUE(version.isEmpty());
    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=2.3.4\n");
    EXPECT_TRUE(ParseSystemInfo::getVexoappVersion(version));
    EXPECT_EQ(version, QString("2.3.4"));
    sysroot.writeFile("/usr/vexo_app/update.ini", "[PREPARE]\nversion=\n");
    EXPECT_FALSE(ParseSystemInfo::getVexoappVersion(version));
}

TEST(SystemInfo, NkInfo_FromTheEmulatedDriver_RefusalGivesEmptyTexts)
{
    TempSysroot sysroot;
    QString v, s, t, f;
    EXPECT_FALSE(ParseSystemInfo::getNkInfo(v, s, t, f)); // no driver at all

    sysroot.writeFile("/run/vexo-hal/platform_info",
        "NK-2.0\nsecond\n\xE6\x9D\xBF board\n0123456789012345678901234567890123\n");
    ASSERT_TRUE(ParseSystemInfo::getNkInfo(v, s, t, f));
    EXPECT_EQ(v, QString("NK-2.0"));
    EXPECT_EQ(s, QString("second"));
    EXPECT_EQ(t, QString::fromUtf8("\xE6\x9D\xBF board"));
    EXPECT_EQ(f, QString("0123456789012345678901234567890")); // a 32-byte field keeps 31
    QString version;
    ASSERT_TRUE(ParseSystemInfo::getNkVersion(version));
    EXPECT_EQ(version, QString("NK-2.0"));

    sysroot.writeFile("/run/vexo-hal/info_status", "1");
    EXPECT_TRUE(ParseSystemInfo::getNkInfo(v, s, t, f));
    EXPECT_TRUE(v.isEmpty() && s.isEmpty() && t.isEmpty() && f.isEmpty());
}

TEST(SystemInfo, ReadSystemInfo_AppendsToTheCallersBuffers_FailsWhenClientClosed)
{
    TempSysroot sysroot;
    sysroot.writeFile("/run/vexo-hal/platform_info", "A\nB\nC\nD\n");
    char buffers[4][256] = { "x", "", "", "y" };
    char *texts[4] = { buffers[0], buffers[1], buffers[2], buffers[3] };
    EXPECT_EQ(ParseSystemInfo::read_system_info(texts), 0); // client not open
    ASSERT_EQ(netlink_wrapper2::hal_netlink_init(), 0);
    EXPECT_EQ(ParseSystemInfo::read_system_info(texts), 1);
    netlink_wrapper2::hal_netlink_exit();
    EXPECT_STREQ(buffers[0], "xA");
    EXPECT_STREQ(buffers[1], "B");
    EXPECT_STREQ(buffers[3], "yD");
}
