// Start-up's handling of the HMI runtime with the stand-in runtime.
#include "fake_runtime.h"
#include "multilingual_manager.h"
#include "startup.h"
#include "temp_sysroot.h"
#include "vexo_process.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class PrepareRuntime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
        vexo_process::setKillWaitLimit(600);
    }
    void TearDown() override
    {
        vexo_process::setKillWaitLimit(vexo_process::DefaultKillWaitLimitMs);
    }

    // The supervisor sees the runtime (bounded wait after its start).
    static bool supervisorSeesRuntime()
    {
        QElapsedTimer waited;
        waited.start();
        while (vexo_process::isProcessExited() && waited.elapsed() < 5000)
            QThread::msleep(5);
        return !vexo_process::isProcessExited();
    }

    TempSysroot sysroot;
};

} // namespace

TEST_F(PrepareRuntime, RuntimeRefusesToBeKilled_HiddenUpdateDoesNotStartAndRuntimeRuns)
{
    FakeRuntime runtime({ "--refuse-exit", "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ASSERT_TRUE(supervisorSeesRuntime());
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(prepareRuntime(0, false, 200));
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_TRUE(runtime.isAlive());
    EXPECT_EQ(runtimeNotStoppedText(0), QStringLiteral("[失败]正在退出应用程序，请稍候..."));
    EXPECT_EQ(runtimeNotStoppedText(1), QStringLiteral("[失败]正在退出到系统设置界面，请稍候..."));
}

TEST_F(PrepareRuntime, RuntimeLeavesOnRequest_UpdateMayStart)
{
    FakeRuntime runtime({ "--exit-delay", "100" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ASSERT_TRUE(supervisorSeesRuntime());
    EXPECT_TRUE(prepareRuntime(0, false, 2000));
    // The supervisor reports the exit as the runtime leaves; the process itself follows at once.
    EXPECT_GE(runtime.reap(2000), 0);
}

TEST_F(PrepareRuntime, NoRuntimeOrLeaveItAlone_UpdateMayStartAtOnce)
{
    EXPECT_TRUE(prepareRuntime(0, false, 2000));
    FakeRuntime runtime({ "--refuse-exit", "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ASSERT_TRUE(supervisorSeesRuntime());
    QElapsedTimer took;
    took.start();
    EXPECT_TRUE(prepareRuntime(2, false, 2000));
    EXPECT_LT(took.elapsed(), 100);
    EXPECT_TRUE(runtime.isAlive());
}
