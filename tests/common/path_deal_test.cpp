#include "path_deal.h"

#include <gtest/gtest.h>

TEST(PathDeal, LastComponentOfPaths)
{
    EXPECT_EQ(PathDeal::getTargetName("/media/usb0/hixupdateu/update.ini"), QString("update.ini"));
    EXPECT_EQ(PathDeal::getTargetName("/usr/vexo_app/"), QString("vexo_app"));
    EXPECT_EQ(PathDeal::getTargetName("update.ini"), QString("update.ini"));
    EXPECT_EQ(PathDeal::getTargetName("a/b/"), QString("b"));
    EXPECT_EQ(PathDeal::getTargetName("/"), QString());
    EXPECT_EQ(PathDeal::getTargetName(""), QString());
}
