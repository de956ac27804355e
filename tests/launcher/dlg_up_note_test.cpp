// The confirmation dialog with its real buttons, the real password dialog and a stand-in updater
// that records how it was started.
#include "clogger.h"
#include "dlg_up_note.h"
#include "launcher_fixture.h"
#include "pwd_entry_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace {

class Confirmation : public LauncherFixture
{
protected:
    Confirmation()
    {
        QDir().mkpath(stickFile("hixbackup"));
        QDir::setCurrent(stick());
        gloadUiPath = stickFile("hixupdateu/upgrunner.bin");
    }

    // The run log as the launcher leaves it before the confirmation.
    std::unique_ptr<CLogger> openLog()
    {
        auto logger
            = std::make_unique<CLogger>(stickFile("upgradeProcess.log"), CLogger::WRITE_ONLY);
        logger->toggleLogger(true);
        logger->write("[失败]\n------------------------\n");
        return logger;
    }

    QByteArray expectedRecord(const QString &execond, const QString &lanID, const QString &title,
        const QString &showPage) const
    {
        return ("argc=5\narg 1=-execond " + execond + "\narg 2=-lanID " + lanID + "\narg 3=-title "
            + title + "\narg 4=-showUpdatePage " + showPage
            + "\nLD_LIBRARY_PATH=$PATH:" + QCoreApplication::applicationDirPath()
            + "/hixupdateu:/usr/vexo_app\ncwd=" + stickFile("hixbackup") + "\n")
            .toUtf8();
    }
};

} // namespace

TEST_F(Confirmation, Form_HasItsNamesTextsAndSize_KeepsItsSizeOnceShown)
{
    dlgUpNote dialog("0000", "警告");
    EXPECT_EQ(dialog.objectName(), "dlgUpNote");
    EXPECT_EQ(dialog.windowTitle(), "警告");
    auto *ok = dialog.findChild<QPushButton *>("upBtnOk");
    auto *cancel = dialog.findChild<QPushButton *>("upBtnCancel");
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->text(), "是");
    EXPECT_EQ(cancel->text(), "否");
    EXPECT_GE(ok->minimumWidth(), 100);
    EXPECT_GE(ok->minimumHeight(), 33);
    EXPECT_EQ(dialog.findChild<QLabel *>("warnlabel")->text(), "");
    EXPECT_TRUE(dialog.findChild<QLabel *>("upNoteLbl")->text().contains("U盘升级包，是否继续？"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.size(), QSize(370, 173));
    // Whatever the updater leaves in its working directory goes to the stick's backup folder.
    EXPECT_EQ(QDir::currentPath(), stickFile("hixbackup"));

    dialog.setTips("读取配置文件update.ini失败，请检查升级包是否完整!");
    dialog.show();
    QTest::qWait(0);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.findChild<QLabel *>("upNoteLbl")->text(),
        "读取配置文件update.ini失败，请检查升级包是否完整!");
}

TEST_F(Confirmation, Yes_NoPasswordStored_StartsTheUpdaterWithFourOneArgumentOptions)
{
    ASSERT_TRUE(installStandIn());
    auto logger = openLog();
    dlgUpNote dialog("0003", "升级 工具 A");
    dialog.setLogger(logger.get());
    dialog.setExecCondition(2);
    dialog.show();
    clickButton(&dialog, "upBtnOk");

    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedRecord("2", "0003", "升级 工具 A", "1"));
    EXPECT_TRUE(dialog.loadResult());
    EXPECT_FALSE(dialog.isVisible());
    // The launcher's last word in the log; the log is handed over closed.
    EXPECT_EQ(runLog(), "[失败]\n------------------------\n启动成功\n");
    EXPECT_FALSE(logger->isOpen());
}

TEST_F(Confirmation, PasswordSetButNoUpdatePage_NoPasswordAsked_FourthArgumentIsZero)
{
    ASSERT_TRUE(installStandIn());
    setPassword("1234");
    dlgUpNote dialog("0000", "T");
    dialog.setShowUpdatePageInfo(false);
    ModalScript script({ [](QWidget *) { ADD_FAILURE() << "a window was opened"; } });
    dialog.startUpdate();
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedRecord("0", "0000", "T", "0"));
}

TEST_F(Confirmation, PasswordSet_TypedOnTheKeys_StartsTheUpdaterFromTheCompletingKey)
{
    ASSERT_TRUE(installStandIn());
    setPassword("7A");
    dlgUpNote dialog("0000", "T");
    dialog.show();
    bool startedBeforeLastKey = true;
    ModalScript script({ [&](QWidget *window) {
        ASSERT_TRUE(qobject_cast<PwdEntryDialog *>(window));
        EXPECT_EQ(window->parentWidget(), &dialog);
        clickButton(window, "keyBtn7");
        startedBeforeLastKey = updaterStarted();
        clickButton(window, "keyBtnA");
    } });
    clickButton(&dialog, "upBtnOk");

    EXPECT_EQ(script.acted(), 1);
    EXPECT_FALSE(startedBeforeLastKey);
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_EQ(startedRecord(), expectedRecord("0", "0000", "T", "1"));
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(Confirmation, PasswordDialogClosedOrWrong_NothingStarted_DialogCloses)
{
    ASSERT_TRUE(installStandIn());
    setPassword("99");
    auto logger = openLog();
    dlgUpNote dialog("0000", "T");
    dialog.setLogger(logger.get());
    dialog.show();
    ModalScript script({ [](QWidget *window) {
        typeOnKeys(window, "98");
        window->close();
    } });
    clickButton(&dialog, "upBtnOk");

    EXPECT_EQ(script.acted(), 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.loadResult());
    QTest::qWait(100);
    EXPECT_FALSE(updaterStarted());
    EXPECT_EQ(runLog(), "[失败]\n------------------------\n");
}

TEST_F(Confirmation, PasswordStoreIsAFolderOrGarbage_NoPasswordAsked_UpdaterStarts)
{
    ASSERT_TRUE(installStandIn());
    QDir().mkpath(sysroot.path("/usr/vexo_app/config/vexo_app_conf.ini"));
    {
        dlgUpNote dialog("0000", "T");
        ModalScript script({ [](QWidget *) { ADD_FAILURE() << "a window was opened"; } });
        dialog.startUpdate();
        ASSERT_TRUE(waitForUpdaterStart());
    }
    QFile::remove(startedRecordPath());
    QDir().rmdir(sysroot.path("/usr/vexo_app/config/vexo_app_conf.ini"));
    sysroot.writeFile("/usr/vexo_app/config/vexo_app_conf.ini", QByteArray("\x01\xff[[=\n\0\0", 8));
    dlgUpNote dialog("0000", "T");
    ModalScript script({ [](QWidget *) { ADD_FAILURE() << "a window was opened"; } });
    dialog.startUpdate();
    EXPECT_TRUE(waitForUpdaterStart());
}

TEST_F(Confirmation, UpdaterMissing_WarnsWithText2005OnceAndLogsIt_DialogCloses)
{
    auto logger = openLog();
    dlgUpNote dialog("0000", "T");
    dialog.setLogger(logger.get());
    dialog.show();
    QString boxText, boxTitle, boxButton;
    ModalScript script({ [&](QWidget *window) {
        auto *box = qobject_cast<QMessageBox *>(window);
        ASSERT_TRUE(box);
        boxText = box->text();
        boxTitle = box->windowTitle();
        ASSERT_EQ(box->buttons().size(), 1);
        boxButton = box->buttons().first()->text();
        QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    } });
    clickButton(&dialog, "upBtnOk");

    const QString reason = MultilingualManager::GetInstance()->getMultilingualValue(2005);
    EXPECT_TRUE(reason.startsWith("不能升级，可能原因："));
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(boxText, reason);
    EXPECT_EQ(boxTitle, "警告");
    EXPECT_EQ(boxButton, "确认");
    EXPECT_FALSE(dialog.loadResult());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(QString::fromUtf8(runLog()), "[失败]\n------------------------\n" + reason);
}

TEST_F(Confirmation, No_ClosesWithoutStartingAnything)
{
    ASSERT_TRUE(installStandIn());
    dlgUpNote dialog("0000", "T");
    dialog.show();
    clickButton(&dialog, "upBtnCancel");
    EXPECT_FALSE(dialog.isVisible());
    QTest::qWait(100);
    EXPECT_FALSE(updaterStarted());
}
