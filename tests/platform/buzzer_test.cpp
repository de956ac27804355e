#include "buzzer.h"
#include "temp_sysroot.h"

#include <gtest/gtest.h>

TEST(Buzzer, EachBeepAppendsOneLineToBuzzerLog)
{
    TempSysroot sysroot;
    EXPECT_EQ(hal_set_bee_time(500), 0);
    EXPECT_EQ(hal_set_bee_time(500), 0);
    EXPECT_EQ(hal_set_bee_time(2000), 0);
    EXPECT_EQ(sysroot.readFile("/run/buzzer.log"), QByteArray("beep 500\nbeep 500\nbeep 2000\n"));
}

TEST(Buzzer, LengthNotPositive_RefusedAndNothingRecorded)
{
    TempSysroot sysroot;
    EXPECT_NE(hal_set_bee_time(0), 0);
    EXPECT_NE(hal_set_bee_time(-5), 0);
    EXPECT_FALSE(QFile::exists(sysroot.path("/run/buzzer.log")));
}

TEST(Buzzer, LogCannotBeWritten_ReportsFailure)
{
    TempSysroot sysroot;
    // A folder where the log should be.
    QDir().mkpath(sysroot.path("/run/buzzer.log"));
    EXPECT_NE(hal_set_bee_time(500), 0);
}
