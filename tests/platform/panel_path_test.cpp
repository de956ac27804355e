#include "panel_path.h"
#include "temp_sysroot.h"

#include <gtest/gtest.h>

TEST(PanelPath, WithoutSysroot_PathsStayAsTheyAre)
{
    const QByteArray saved = qgetenv("HIX_SYSROOT");
    qunsetenv("HIX_SYSROOT");
    EXPECT_EQ(hix::panelPath("/usr/vexo_app"), QString("/usr/vexo_app"));
    EXPECT_EQ(hix::panelPath("//tmp//update.ini"), QString("//tmp//update.ini"));
    if (!saved.isEmpty())
        qputenv("HIX_SYSROOT", saved);
}

TEST(PanelPath, WithSysroot_AbsolutePathsMapInside_RelativeStay)
{
    TempSysroot sysroot;
    ASSERT_TRUE(sysroot.isValid());
    EXPECT_EQ(hix::panelPath("/usr/vexo_app/update.ini"), sysroot.root() + "/usr/vexo_app/update.ini");
    EXPECT_EQ(hix::panelPath("//tmp//update.ini"), sysroot.root() + "//tmp//update.ini");
    EXPECT_EQ(hix::panelPath("./update.ini"), QString("./update.ini"));
    // A path already inside the sysroot is not mapped twice.
    const QString inside = sysroot.root() + "/media/usb0";
    EXPECT_EQ(hix::panelPath(inside), inside);
}

TEST(PanelPath, TrailingSlashOfSysrootIsIgnored)
{
    TempSysroot sysroot;
    qputenv("HIX_SYSROOT", QFile::encodeName(sysroot.root() + "/"));
    EXPECT_EQ(hix::panelPath("/lib"), sysroot.root() + "/lib");
}
