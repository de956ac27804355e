#include "temp_sysroot.h"
#include "tool_process_ctrl.h"

#include <QDir>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

class ToolProcessCtrlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = sysroot.path("/media/usb0/hixbackup/0123456789abcdef01234567_proctrl");
        ctrl = ToolProcessCtrl::GetInstance();
        ctrl->initIniPath(dir);
    }

    QString iniFile() const { return dir + "/toolProcessCtrl.ini"; }

    TempSysroot sysroot;
    QString dir;
    ToolProcessCtrl *ctrl = nullptr;
};

} // namespace

TEST_F(ToolProcessCtrlTest, InitIniPath_TouchesNothing_FirstWriteCreatesFolderAndFile)
{
    EXPECT_EQ(ctrl->iniPath(), iniFile());
    EXPECT_FALSE(QFileInfo::exists(dir));
    EXPECT_FALSE(ctrl->isProcessCtrlIniExit());
    EXPECT_TRUE(ctrl->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS));
    EXPECT_TRUE(ctrl->isProcessCtrlIniExit());
    QSettings file(iniFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("copyFile/status").toString(), QString("success"));
}

TEST_F(ToolProcessCtrlTest, StatusTexts_RoundTrip_AndUnknownTextsReadAsThree)
{
    ctrl->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS);
    ctrl->setProcessStatus(PROCESS_DEL_FILE, STATUS_FAILED);
    ctrl->setProcessStatus(PROCESS_EXE_FILE, STATUS_NOT_EXEC);
    ctrl->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_UNKNOWN);
    ctrl->setProcessValue("/command/status", "done");
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_COPY_FILE), STATUS_SUCCESS);
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_DEL_FILE), STATUS_FAILED);
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_EXE_FILE), STATUS_NOT_EXEC);
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_EXEC_RESULT), STATUS_UNKNOWN);
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_COMMAND), STATUS_UNKNOWN);
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_UPDATE_PRO), STATUS_UNKNOWN); // absent
    QSettings file(iniFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("updatePro/execResult").toString(), QString("?"));
    EXPECT_EQ(file.value("delFile/status").toString(), QString("failed"));
}

TEST_F(ToolProcessCtrlTest, MissingFile_ReadsAsNoKeys)
{
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_COPY_FILE), STATUS_UNKNOWN);
    EXPECT_FALSE(ctrl->getProcessValue("/updatePro/curProIndex").isValid());
    EXPECT_FALSE(ctrl->isContainKey("/updatePro/curProIndex"));
    EXPECT_TRUE(ctrl->isUpdateSuccess());
    ctrl->removeCtrlIniKey(PROCESS_CUR_PRO_INDEX);
    EXPECT_FALSE(ctrl->isProcessCtrlIniExit()); // removing a key creates no file
}

TEST_F(ToolProcessCtrlTest, IsUpdateSuccess_OnlySuccessKeys_CurProIndexMakesItFalse)
{
    ctrl->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS);
    ctrl->setProcessValue(ToolProcessCtrl::PackageKey, "0123abcd");
    EXPECT_TRUE(ctrl->isUpdateSuccess());
    ctrl->setProcessValue("/updatePro/curProIndex", "0");
    EXPECT_FALSE(ctrl->isUpdateSuccess());
    ctrl->removeCtrlIniKey(PROCESS_CUR_PRO_INDEX);
    EXPECT_TRUE(ctrl->isUpdateSuccess());
    EXPECT_FALSE(ctrl->isContainKey("/updatePro/curProIndex"));
    ctrl->setProcessStatus(PROCESS_DEL_FILE, STATUS_FAILED);
    EXPECT_FALSE(ctrl->isUpdateSuccess());
}

TEST_F(ToolProcessCtrlTest, RemoveCtrlIni_NothingThere_IsTrue)
{
    EXPECT_TRUE(ctrl->removeCtrlIni());
}

TEST_F(ToolProcessCtrlTest, RemoveCtrlIni_RemovesFileAndFolder)
{
    ctrl->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_SUCCESS);
    EXPECT_TRUE(ctrl->removeCtrlIni());
    EXPECT_FALSE(QFileInfo::exists(iniFile()));
    EXPECT_FALSE(QFileInfo::exists(dir));
}

TEST_F(ToolProcessCtrlTest, RemoveCtrlIni_FolderHoldsAnotherFile_DeletesStateButIsFalse)
{
    ctrl->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_SUCCESS);
    QFile other(dir + "/keep.txt");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    EXPECT_FALSE(ctrl->removeCtrlIni());
    EXPECT_FALSE(QFileInfo::exists(iniFile()));
    EXPECT_TRUE(QFileInfo::exists(dir + "/keep.txt"));
}

// A power cut while the state was written to a FAT stick leaves the settings writer's lock and
// its temporary copy beside the state (the stick had flushed them, but not the copy's new name):
// they go with the state. A name that only resembles theirs stays.
TEST_F(ToolProcessCtrlTest, RemoveCtrlIni_WriterFilesOfACutWrite_GoWithTheFolder)
{
    ctrl->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_SUCCESS);
    for (const char *name : { "/toolProcessCtrl.ini.CgkQwT", "/toolProcessCtrl.ini.lock" }) {
        QFile leftover(dir + name);
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        leftover.write("[copyFile]\nstatus=success\n");
    }
    EXPECT_TRUE(ctrl->removeCtrlIni());
    EXPECT_FALSE(QFileInfo::exists(dir));

    ctrl->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_SUCCESS);
    QFile notTheWriters(dir + "/toolProcessCtrl.ini.orig");
    ASSERT_TRUE(notTheWriters.open(QIODevice::WriteOnly));
    notTheWriters.close();
    EXPECT_FALSE(ctrl->removeCtrlIni());
    EXPECT_TRUE(notTheWriters.exists());
}

TEST_F(ToolProcessCtrlTest, RunFailedInDeletePhase_NextRunSeesCopyDoneAndDeleteToRepeat)
{
    ctrl->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS);
    ctrl->setProcessStatus(PROCESS_DEL_FILE, STATUS_FAILED);

    // The next run (possibly the other program) points at the same place anew.
    ctrl->initIniPath(dir);
    EXPECT_TRUE(ctrl->isProcessCtrlIniExit());
    EXPECT_EQ(ctrl->getProcessStatus(PROCESS_COPY_FILE), STATUS_SUCCESS);
    EXPECT_NE(ctrl->getProcessStatus(PROCESS_DEL_FILE), STATUS_SUCCESS);
    QSettings file(iniFile(), QSettings::IniFormat);
    EXPECT_EQ(file.allKeys().size(), 2);
}
