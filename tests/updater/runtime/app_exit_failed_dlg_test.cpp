#include "app_exit_failed_dlg.h"
#include "fake_runtime.h"
#include "modal_script.h"
#include "temp_sysroot.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QString label(app_exit_failed_dlg &dialog, const char *name)
{
    const auto *widget = dialog.findChild<QLabel *>(name);
    return widget ? widget->text() : QString();
}

QString button(app_exit_failed_dlg &dialog, const char *name)
{
    const auto *widget = dialog.findChild<QPushButton *>(name);
    return widget ? widget->text() : QString();
}

} // namespace

TEST(AppExitFailedDlg, Form_ObjectNamesTextsAndWindowPolicy)
{
    app_exit_failed_dlg dialog(nullptr, {});
    EXPECT_EQ(dialog.objectName(), "app_exit_failed_dlg");
    for (const char *name : { "gridLayout", "verticalLayout_2", "verticalLayout",
             "horizontalLayout_2", "horizontalLayout_3", "horizontalLayout" })
        EXPECT_NE(dialog.findChild<QLayout *>(name), nullptr) << name;
    EXPECT_EQ(label(dialog, "label"), QString::fromUtf8("正在退出应用程序，请稍候..."));
    EXPECT_EQ(label(dialog, "label_2"), QString::fromUtf8("若长时间无退出可强制执行或继续等待"));
    EXPECT_EQ(button(dialog, "forceExecBtn"), QString::fromUtf8("强制执行"));
    EXPECT_EQ(button(dialog, "rebootBtn"), QString::fromUtf8("重启HIX"));
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("警告"));
    EXPECT_EQ(dialog.size(), QSize(370, 160));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(dialog.isContinueWait());
}

TEST(AppExitFailedDlg, Texts_ComeFromLanguageLookup)
{
    app_exit_failed_dlg dialog(nullptr, [](int id) { return QStringLiteral("T%1").arg(id); });
    EXPECT_EQ(dialog.windowTitle(), "T1000");
    EXPECT_EQ(label(dialog, "label"), "T1015");
    EXPECT_EQ(label(dialog, "label_2"), "T1016");
    EXPECT_EQ(button(dialog, "forceExecBtn"), "T1017");
    EXPECT_EQ(button(dialog, "rebootBtn"), "T1018");
    dialog.setAppExitMethod(app_exit_failed_dlg::EXIT_TO_SETUP);
    EXPECT_EQ(label(dialog, "label"), "T1008");
    dialog.setAppExitMethod(app_exit_failed_dlg::EXIT_APP);
    EXPECT_EQ(label(dialog, "label"), "T1009");
}

TEST(AppExitFailedDlg, RebootButton_RestartsThroughGuardAndDialogStays)
{
    TempSysroot sysroot;
    FakeRuntime runtime({}, sysroot.root());
    ASSERT_TRUE(runtime.started());
    app_exit_failed_dlg dialog(nullptr, {});
    bool stillShownAfterRestart = false;
    ModalScript answers;
    answers.each<app_exit_failed_dlg>([&](app_exit_failed_dlg *shown) {
        shown->findChild<QPushButton *>("rebootBtn")->click();
        stillShownAfterRestart = shown->isVisible();
        shown->findChild<QPushButton *>("forceExecBtn")->click();
    });
    dialog.exec();
    EXPECT_EQ(answers.acted(), 1);
    EXPECT_TRUE(stillShownAfterRestart);
    EXPECT_TRUE(sysroot.readFile("/var/log/restart.log").startsWith("restart requested by "));
    EXPECT_FALSE(dialog.isContinueWait());
}

TEST(AppExitFailedDlg, RuntimeGone_FirstCheckAfterOneSecondClosesDialog)
{
    TempSysroot sysroot;
    app_exit_failed_dlg dialog(nullptr, {});
    QElapsedTimer took;
    took.start();
    dialog.exec();
    EXPECT_FALSE(dialog.isContinueWait());
    EXPECT_GE(took.elapsed(), app_exit_failed_dlg::FirstCheckMs - 50);
    EXPECT_LT(took.elapsed(), app_exit_failed_dlg::FirstCheckMs + 500);
}
