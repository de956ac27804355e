#include "app_exit_failed_dlg.h"
#include "fake_runtime.h"
#include "modal_script.h"
#include "multilingual_manager.h"
#include "temp_sysroot.h"
#include "vexo_process.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include <thread>

namespace {

class VexoProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
        vexo_process::setMulLanguage(MultilingualManager::lookup());
        vexo_process::setKillWaitLimit(vexo_process::DefaultKillWaitLimitMs);
    }
    void TearDown() override
    {
        vexo_process::setKillWaitLimit(vexo_process::DefaultKillWaitLimitMs);
    }

    TempSysroot sysroot;
    QElapsedTimer took;
};

} // namespace

TEST_F(VexoProcess, NoRuntime_ExitAndBackReturnAtOnceWithoutRequest)
{
    took.start();
    EXPECT_EQ(vexo_process::exitProcess(5000, nullptr, true), 1);
    EXPECT_EQ(vexo_process::backToCsevr(5000, nullptr), 1);
    EXPECT_LT(took.elapsed(), 100);
    EXPECT_FALSE(QFile::exists(sysroot.path("/run/vexo_app/request")));
}

TEST_F(VexoProcess, RuntimeExitsTwoSecondsAfterRequest_SeenWithin100ms)
{
    FakeRuntime runtime({ "--exit-delay", "2000" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    const qint64 asked = QDateTime::currentMSecsSinceEpoch();
    EXPECT_EQ(vexo_process::exitProcess(5000, nullptr, true), 1);
    const qint64 returned = QDateTime::currentMSecsSinceEpoch();

    const qint64 exited = runtime.timeOf("state exited");
    ASSERT_GT(exited, 0);
    EXPECT_GE(exited - asked, 2000);
    RecordProperty("detectedAfterMs", int(returned - exited));
    // Polled every 100 ms; 50 ms slack for a machine busy with other tests.
    EXPECT_LE(returned - exited, 150) << "detected " << returned - exited << " ms late";
    EXPECT_EQ(runtime.reap(), 0) << "the runtime exited by itself, it was not killed";
}

TEST_F(VexoProcess, RuntimeAcceptsButNeverExits_KilledAfterTheWait)
{
    FakeRuntime runtime({ "--exit-delay", "-1" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    took.start();
    EXPECT_EQ(vexo_process::exitProcess(300, nullptr, true), 1);
    EXPECT_GE(took.elapsed(), 300 + 1000);
    const int status = runtime.reap();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST_F(VexoProcess, RefusedExit_GoesStraightToKillWithoutWaiting)
{
    FakeRuntime runtime({ "--refuse-exit" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    took.start();
    EXPECT_EQ(vexo_process::exitProcess(5000, nullptr, true), 1);
    EXPECT_LT(took.elapsed(), 2500) << "the 5 s wait must be skipped";
    EXPECT_TRUE(WIFSIGNALED(runtime.reap()));
}

// A runtime that can be neither asked nor killed, with nobody to ask: the wait is bounded and
// the result says the runtime still runs, so the update is not started over its files.
TEST_F(VexoProcess, RefusedKillWithoutDialog_WaitIsBoundedAndReportsRuntimeStillRunning)
{
    FakeRuntime runtime({ "--refuse-exit", "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    vexo_process::setKillWaitLimit(1000);
    took.start();
    EXPECT_EQ(vexo_process::exitProcess(5000, nullptr, true), 0);
    EXPECT_GE(took.elapsed(), 1000);
    EXPECT_LT(took.elapsed(), 2500);
    EXPECT_TRUE(runtime.isAlive());
}

TEST_F(VexoProcess, RefusedKillWithoutDialog_KillRepeatedUntilRuntimeMayBeKilled)
{
    FakeRuntime runtime({ "--refuse-exit", "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    vexo_process::setKillWaitLimit(5000);
    const QString protect = sysroot.path("/run/vexo_app/protect");
    std::thread unprotect([protect] {
        usleep(700000);
        QFile::remove(protect);
    });
    EXPECT_EQ(vexo_process::exitProcess(5000, nullptr, true), 1);
    unprotect.join();
    EXPECT_TRUE(WIFSIGNALED(runtime.reap()));
}

TEST_F(VexoProcess, RefusedKillWithDialog_ForcePressed_BoundedWaitReportsRuntimeStillRunning)
{
    FakeRuntime runtime({ "--refuse-exit", "--refuse-kill" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    vexo_process::setKillWaitLimit(500);
    QString shownText;
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([&](app_exit_failed_dlg *dialog) {
        shownText = dialog->findChild<QLabel *>("label")->text();
        dialog->findChild<QPushButton *>("forceExecBtn")->click();
    });
    EXPECT_EQ(vexo_process::exitProcess(100, nullptr, false), 0);
    EXPECT_EQ(answers.acted(), 1);
    EXPECT_EQ(shownText, QString::fromUtf8("正在退出应用程序，请稍候..."));
    EXPECT_TRUE(runtime.isAlive());
}

TEST_F(VexoProcess, RefusedKillWithDialog_RuntimeLeavesWhileShown_DialogClosesItself)
{
    FakeRuntime runtime({ "--refuse-kill", "--exit-delay", "1200" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([](app_exit_failed_dlg *) {});
    // 100 ms of waiting, then the dialog; the runtime leaves 1.2 s after the request.
    EXPECT_EQ(vexo_process::exitProcess(100, nullptr, false), 1);
    EXPECT_EQ(answers.acted(), 1);
    EXPECT_EQ(runtime.reap(), 0);
}

TEST_F(VexoProcess, BackToCsevr_AlreadyInSetup_ReturnsAtOnceWithoutRequest)
{
    FakeRuntime runtime({ "--state", "setup" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    took.start();
    EXPECT_EQ(vexo_process::backToCsevr(5000, nullptr), 1);
    EXPECT_LT(took.elapsed(), 100);
    EXPECT_EQ(runtime.countEvents("request"), 0);
}

TEST_F(VexoProcess, BackToCsevr_RuntimeReturnsWithinWait_NoDialog)
{
    FakeRuntime runtime({ "--stop-delay", "300" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([](app_exit_failed_dlg *dialog) {
        dialog->findChild<QPushButton *>("forceExecBtn")->click();
    });
    EXPECT_EQ(vexo_process::backToCsevr(5000, nullptr), 1);
    EXPECT_EQ(answers.acted(), 0);
    EXPECT_EQ(QString::fromLatin1(sysroot.readFile("/run/vexo_app/state")).trimmed(), "setup");
    EXPECT_TRUE(runtime.isAlive()) << "returning to setup must not end the runtime";
}

TEST_F(VexoProcess, BackToCsevr_ForcePressed_CallerGoesOnWhileRuntimeStillRuns)
{
    FakeRuntime runtime({ "--stop-delay", "-1" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    QString shownText;
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([&](app_exit_failed_dlg *dialog) {
        shownText = dialog->findChild<QLabel *>("label")->text();
        dialog->findChild<QPushButton *>("forceExecBtn")->click();
    });
    EXPECT_EQ(vexo_process::backToCsevr(200, nullptr), 1);
    EXPECT_EQ(answers.acted(), 1);
    EXPECT_EQ(shownText, QString::fromUtf8("正在退出到系统设置界面，请稍候..."));
    EXPECT_EQ(QString::fromLatin1(sysroot.readFile("/run/vexo_app/state")).trimmed(), "running");
}

TEST_F(VexoProcess, BackToCsevr_DialogClosedOtherwise_AsksAgainAndShowsDialogAgain)
{
    FakeRuntime runtime({ "--stop-delay", "-1" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([](app_exit_failed_dlg *dialog) { dialog->close(); })
        .each<app_exit_failed_dlg>([](app_exit_failed_dlg *again) {
            again->findChild<QPushButton *>("forceExecBtn")->click();
        });
    EXPECT_EQ(vexo_process::backToCsevr(200, nullptr), 1);
    EXPECT_EQ(answers.acted(), 2);
    EXPECT_EQ(runtime.countEvents("request stop accepted"), 2);
}

TEST_F(VexoProcess, BackToCsevr_RuntimeReachesSetupWhileDialogShown_DialogClosesItself)
{
    FakeRuntime runtime({ "--stop-delay", "1500" }, sysroot.root());
    ASSERT_TRUE(runtime.started());
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([](app_exit_failed_dlg *) {});
    took.start();
    EXPECT_EQ(vexo_process::backToCsevr(200, nullptr), 1);
    EXPECT_EQ(answers.acted(), 1);
    // Reached at 1.5 s; checks come every 100 ms after the first second of the dialog.
    EXPECT_LT(took.elapsed(), 1500 + 400);
    EXPECT_EQ(QString::fromLatin1(sysroot.readFile("/run/vexo_app/state")).trimmed(), "setup");
}

TEST_F(VexoProcess, ForceFreshLog_AsksLogServiceToFlush)
{
    EXPECT_TRUE(vexo_process::forceFreshLog());
    EXPECT_TRUE(sysroot.readFile("/run/vexo_app/logger_flush").startsWith("flush "));
}
