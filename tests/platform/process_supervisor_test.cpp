#include "fake_runtime.h"
#include "process_supervisor.h"
#include "temp_sysroot.h"

#include <gtest/gtest.h>

namespace {

// Waits (bounded) until the condition holds.
template<typename Condition> bool eventually(Condition condition, int timeoutMs = 3000)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        usleep(5000);
    }
    return true;
}

} // namespace

TEST(ProcessSupervisor, NoRuntime_CountsAsExitedAndRefusesEveryRequest)
{
    TempSysroot sysroot;
    EXPECT_NE(__check_application_state(0), 0);
    EXPECT_EQ(__check_application_state(1), 0);
    EXPECT_NE(__notify_exit_application(), 0);
    EXPECT_NE(__notify_stop_application(), 0);
    EXPECT_NE(__notify_kill_application(0), 0);
}

TEST(ProcessSupervisor, RunningRuntime_StopAccepted_ReachesSetupThenExitAccepted_Exits)
{
    TempSysroot sysroot;
    FakeRuntime runtime({ "--stop-delay", "100", "--exit-delay", "100" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    EXPECT_EQ(__check_application_state(0), 0);
    EXPECT_EQ(__check_application_state(1), 0);

    EXPECT_EQ(__notify_stop_application(), 0);
    EXPECT_TRUE(eventually([] { return __check_application_state(1) != 0; }));
    EXPECT_EQ(__check_application_state(0), 0);

    EXPECT_EQ(__notify_exit_application(), 0);
    EXPECT_TRUE(eventually([] { return __check_application_state(0) != 0; }));
    EXPECT_EQ(__check_application_state(1), 0);
    EXPECT_EQ(runtime.reap(), 0);
}

TEST(ProcessSupervisor, RefusingRuntime_RequestsReportRefusalAndRuntimeKeepsRunning)
{
    TempSysroot sysroot;
    FakeRuntime runtime({ "--refuse-exit", "--refuse-stop" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    EXPECT_NE(__notify_exit_application(), 0);
    EXPECT_NE(__notify_stop_application(), 0);
    usleep(100000);
    EXPECT_TRUE(runtime.isAlive());
    EXPECT_EQ(__check_application_state(0), 0);
    EXPECT_EQ(runtime.countEvents("request exit refused"), 1);
}

TEST(ProcessSupervisor, SilentRuntime_RequestTimesOutAsRefused)
{
    TempSysroot sysroot;
    FakeRuntime runtime({ "--no-answer" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    QElapsedTimer took;
    took.start();
    EXPECT_NE(__notify_exit_application(), 0);
    EXPECT_GE(took.elapsed(), hix::supervisor::RequestReplyMs - 50);
    EXPECT_LT(took.elapsed(), hix::supervisor::RequestReplyMs + 1000);
}

TEST(ProcessSupervisor, Kill_EndsRegisteredProcessAndItCountsAsExitedEvenUnreaped)
{
    TempSysroot sysroot;
    FakeRuntime runtime({}, sysroot.root());
    ASSERT_TRUE(runtime.started());
    EXPECT_EQ(__notify_kill_application(0), 0);
    // Not reaped yet: the zombie must already count as gone.
    EXPECT_TRUE(eventually([&] { return !runtime.isAlive(); }));
    EXPECT_NE(__check_application_state(0), 0);
    const int status = runtime.reap();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(ProcessSupervisor, ProtectedRuntime_KillRefused)
{
    TempSysroot sysroot;
    FakeRuntime runtime({ "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    EXPECT_NE(__notify_kill_application(0), 0);
    usleep(50000);
    EXPECT_TRUE(runtime.isAlive());
}

TEST(ProcessSupervisor, PidFileOfAnotherProcess_IsNeverSignalledAndCountsAsExited)
{
    TempSysroot sysroot;
    // Our own number with a start time that is not ours: a number handed on to another process.
    sysroot.writeFile("/run/vexo_app/pid", QByteArray::number(getpid()) + " 1\n");
    sysroot.writeFile("/run/vexo_app/state", "running\n");
    EXPECT_NE(__check_application_state(0), 0);
    EXPECT_NE(__notify_kill_application(0), 0);
}

TEST(ProcessSupervisor, LoggerFlush_RecordsEachRequest)
{
    TempSysroot sysroot;
    EXPECT_EQ(__notify_logger_flush(), 0);
    EXPECT_EQ(__notify_logger_flush(), 0);
    EXPECT_EQ(sysroot.readFile("/run/vexo_app/logger_flush").count("flush "), 2);
}
