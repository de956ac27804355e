// The launcher's entry routine in this process, on an emulated stick, with its real windows
// answered as the operator would: the three situations and the language choice.
#include "dlg_up_note.h"
#include "launcher_fixture.h"
#include "launcher_startup.h"
#include "package_verifier.h"
#include "pwd_entry_dialog.h"
#include "stick_signer.h"
#include "tip_main_dlg.h"

#include <QLabel>
#include <QMessageBox>

namespace {

const QByteArray Package = R"(
[UPDATE_CONFIG]
PROGRAM_NUM=1
EXEC_CONDITION=1
TOOL_TITLE=2159
TOOL_TIP=2160
FINISH_TIP=2161

[PROGRAM1_CONFIG]
PATH=./tool.bin
)";

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

class LauncherRun : public LauncherFixture
{
protected:
    LauncherRun() { QDir::setCurrent(stick()); }

    int run() { return runLauncher(stick(), readLauncherSettings(stick())); }

    const QByteArray logHead = "[失败]\n------------------------\n";
};

} // namespace

TEST_F(LauncherRun, UnreadablePackage_ShowsText2002WithOkDisabled_LogsIt_ReturnsZero)
{
    ASSERT_TRUE(installStandIn());
    sysroot.writeFile("/media/usb0/hixupdateu/update.ini", "[UPDATE_CONFIG]\nPROGRAM_NUM=1\n");
    QString tips, title;
    bool okEnabled = true;
    ModalScript script({ [&](QWidget *window) {
        ASSERT_TRUE(qobject_cast<dlgUpNote *>(window));
        tips = window->findChild<QLabel *>("upNoteLbl")->text();
        title = window->windowTitle();
        okEnabled = window->findChild<QPushButton *>("upBtnOk")->isEnabled();
        clickButton(window, "upBtnCancel");
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(tips, "读取配置文件update.ini失败，请检查升级包是否完整!");
    EXPECT_EQ(title, "警告");
    EXPECT_FALSE(okEnabled);
    EXPECT_EQ(QString::fromUtf8(runLog()), logHead + tips + "\n");
    EXPECT_FALSE(updaterStarted());
}

TEST_F(LauncherRun, PanelIdentifierUnreadable_ShowsText2011WithOkDisabled_TouchesNoStateFile)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package);
    QDir(sysroot.path("/run/vexo-hal")).removeRecursively();
    // The stick's bare backup folder is nobody's own; a state file there is not this panel's.
    const QString bareState = sysroot.writeFile(
        "/media/usb0/hixbackup/_proctrl/toolProcessCtrl.ini", "[updatePro]\ncurProIndex=0\n");
    QString tips;
    bool okEnabled = true;
    ModalScript script({ [&](QWidget *window) {
        ASSERT_TRUE(qobject_cast<dlgUpNote *>(window));
        tips = window->findChild<QLabel *>("upNoteLbl")->text();
        okEnabled = window->findChild<QPushButton *>("upBtnOk")->isEnabled();
        clickButton(window, "upBtnCancel");
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(tips, "读取平台标识失败！");
    EXPECT_FALSE(okEnabled);
    EXPECT_EQ(QString::fromUtf8(runLog()), logHead + tips + "\n");
    EXPECT_TRUE(QFileInfo::exists(bareState));
    EXPECT_FALSE(updaterStarted());
}

TEST_F(LauncherRun, FreshPackage_PageYesThenConfirmationYes_StartsTheUpdater)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(
        Package + "\n[UPDATE_CHECK]\nCHECK_SUCCESS_ISSHOWDLG=1\nCHECK_SUCCESS_MESSAGE=2159\n");
    QString pageTitle, tips;
    ModalScript script({
        [&](QWidget *window) {
            ASSERT_TRUE(qobject_cast<TipMainDlg *>(window));
            pageTitle = window->windowTitle();
            clickButton(window, "okBtn");
        },
        [&](QWidget *window) {
            ASSERT_TRUE(qobject_cast<dlgUpNote *>(window));
            tips = window->findChild<QLabel *>("upNoteLbl")->text();
            clickButton(window, "upBtnOk");
        },
    });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.seen, QStringList({ "TipMainDlg", "dlgUpNote" }));
    EXPECT_EQ(pageTitle, text(2159));
    EXPECT_EQ(tips, text(2159));
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_TRUE(
        startedRecord().startsWith(("argc=5\narg 1=-execond 1\narg 2=-lanID 0000\narg 3=-title "
            + text(2159) + "\narg 4=-showUpdatePage 1\n")
                                       .toUtf8()));
    EXPECT_EQ(runLog(), logHead + "启动成功\n");
}

TEST_F(LauncherRun, FreshPackage_PageNo_EndsWithNothingStarted)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package);
    ModalScript script({ [](QWidget *window) { clickButton(window, "cancelBtn"); } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.seen, QStringList({ "TipMainDlg" }));
    EXPECT_FALSE(updaterStarted());
    EXPECT_EQ(runLog(), logHead);
}

TEST_F(LauncherRun, TitleWithoutTip_PageNotShown_ItsOkActionRunsDirectly)
{
    ASSERT_TRUE(installStandIn());
    writeDescription("[UPDATE_CONFIG]\nTOOL_TITLE=2159\nEXEC_CONDITION=2\nSHOW_UPDATE_PAGE=0\n");
    ModalScript script({ [](QWidget *window) {
        ADD_FAILURE() << "opened " << window->metaObject()->className();
    } });
    EXPECT_EQ(run(), 0);
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_TRUE(
        startedRecord().startsWith(("argc=5\narg 1=-execond 2\narg 2=-lanID 0000\narg 3=-title "
            + text(2159) + "\narg 4=-showUpdatePage 0\n")
                                       .toUtf8()));
}

TEST_F(LauncherRun, NoPageAndFailedCheckWithoutDialog_TheFailureStillReachesTheLog)
{
    ASSERT_TRUE(installStandIn());
    writeDescription("[UPDATE_CONFIG]\nTOOL_TITLE=2159\n\n[UPDATE_CHECK]\n"
                     "FILE_CHECK=/nowhere/at/all\nCHECK_FAILED_MESSAGE=2003\n");
    ModalScript script({ [](QWidget *window) {
        ADD_FAILURE() << "opened " << window->metaObject()->className();
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(QString::fromUtf8(runLog()),
        logHead + text(2003)
            + "\nUPDATE_CHECK/FILE_CHECK：升级包要求 /nowhere/at/all，本机为 不存在\n");
    EXPECT_FALSE(updaterStarted());
}

TEST_F(LauncherRun, FinishedRunWithFinishText_ShowsIt_RemovesTheStateFile_StartsNothing)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package);
    const QString state = writeProgressState(0, "success");
    sysroot.writeFile("/media/usb0/HisInfo.ini", "[x]\n");
    QString boxText, boxTitle, boxButton;
    ModalScript script({ [&](QWidget *window) {
        auto *box = qobject_cast<QMessageBox *>(window);
        ASSERT_TRUE(box);
        boxText = box->text();
        boxTitle = box->windowTitle();
        boxButton = box->buttons().first()->text();
        EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
        // The state file goes only once the operator has seen the text.
        EXPECT_TRUE(QFileInfo::exists(state));
        QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(boxText, text(2161));
    EXPECT_EQ(boxTitle, "提示");
    EXPECT_EQ(boxButton, "确认");
    EXPECT_FALSE(QFileInfo::exists(state));
    EXPECT_TRUE(QFileInfo::exists(stickFile("HisInfo.ini")));
    EXPECT_FALSE(updaterStarted());
    // The run ended well, so the log the launcher opened anew says so.
    EXPECT_TRUE(runLog().startsWith(QString("[成功]\n------------------------\n").toUtf8()));
}

TEST_F(LauncherRun, FinishedRun_HeadLinesOfDifferentLengths_TheSeparatorStaysWhole)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package);
    writeProgressState(0, "success");
    sysroot.writeFile(
        "/media/usb0/language/0000.lan", "[2000]\nstring=\"[FAILED]\"\n[2001]\nstring=\"[OK]\"\n");
    ModalScript script({ [&](QWidget *window) {
        auto *box = qobject_cast<QMessageBox *>(window);
        ASSERT_TRUE(box);
        QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(runLog(), QByteArray("[OK]\n------------------------\n"));
}

TEST_F(LauncherRun, RunCutHalfWay_PasswordSetAndPageShown_AsksThePassword_ThenStarts)
{
    ASSERT_TRUE(installStandIn());
    setPassword("5B");
    QByteArray twoPrograms = Package;
    twoPrograms.replace("PROGRAM_NUM=1", "PROGRAM_NUM=2");
    writeDescription(twoPrograms + "[PROGRAM2_CONFIG]\nPATH=./two.bin\n");
    const QString state = writeProgressState(0);
    ModalScript script({ [](QWidget *window) { typeOnKeys(window, "5B"); } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.seen, QStringList({ "PwdEntryDialog" }));
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_TRUE(
        startedRecord().startsWith(("argc=5\narg 1=-execond 1\narg 2=-lanID 0000\narg 3=-title "
            + text(2159) + "\narg 4=-showUpdatePage 1\n")
                                       .toUtf8()));
    // The run goes on where it stopped.
    EXPECT_TRUE(QFileInfo::exists(state));
}

TEST_F(LauncherRun, RunCutHalfWay_PasswordSetNoPage_StartsAtOnce_WrongPasswordStartsNothing)
{
    ASSERT_TRUE(installStandIn());
    setPassword("5B");
    writeDescription("[UPDATE_CONFIG]\nPROGRAM_NUM=3\nSHOW_UPDATE_PAGE=0\n");
    writeProgressState(1);
    {
        ModalScript script({ [](QWidget *window) {
            ADD_FAILURE() << "opened " << window->metaObject()->className();
        } });
        EXPECT_EQ(run(), 0);
        ASSERT_TRUE(waitForUpdaterStart());
        EXPECT_TRUE(startedRecord().contains("arg 4=-showUpdatePage 0\n"));
    }
    QFile::remove(startedRecordPath());
    writeDescription("[UPDATE_CONFIG]\nPROGRAM_NUM=3\n");
    ModalScript script({ [](QWidget *window) {
        typeOnKeys(window, "55");
        window->close();
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.acted(), 1);
    QTest::qWait(100);
    EXPECT_FALSE(updaterStarted());
}

TEST_F(LauncherRun, LanguageChoice_ProjectLanguage_ElseToolLanguage_ElseBuiltin)
{
    sysroot.writeFile("/media/usb0/config/baseUpdateSet.ini",
        "[tool_language]\ntype=2\n[qws_detect]\ntimeout=3\n");
    const LauncherSettings settings = readLauncherSettings(stick());
    EXPECT_EQ(settings.toolLanguage, 2);
    EXPECT_EQ(settings.qwsTimeout, 3);

    sysroot.writeFile("/usr/vexo_app/project/lan_setup.ini", "[current_language]\ntype=3\n");
    sysroot.writeFile("/media/usb0/language/0003.lan", "[1004]\r\nstring=\"Ja\"\r\n");
    EXPECT_EQ(chooseLauncherLanguage(stick(), 2).lanID, "0003");
    EXPECT_EQ(chooseLauncherLanguage(stick(), 2).languageFile, stickFile("language/0003.lan"));

    // The project's language has no file on the stick: the tool language, file or not.
    QFile::remove(stickFile("language/0003.lan"));
    EXPECT_EQ(chooseLauncherLanguage(stick(), 2).lanID, "0002");
    EXPECT_EQ(chooseLauncherLanguage(stick(), 2).languageFile, stickFile("language/0002.lan"));

    sysroot.writeFile("/usr/vexo_app/project/lan_setup.ini", "[current_language]\ntype=-1\n");
    sysroot.writeFile("/media/usb0/language/-001.lan", "x");
    EXPECT_EQ(chooseLauncherLanguage(stick(), 0).lanID, "0000");

    // The environment names the project folder.
    sysroot.writeFile("/elsewhere/lan_setup.ini", "[current_language]\ntype=1\n");
    sysroot.writeFile("/media/usb0/language/0001.lan", "[1004]\r\nstring=\"Yes\"\r\n");
    qputenv("VEXO_PROJECT_DIR", QFile::encodeName(sysroot.path("/elsewhere")));
    EXPECT_EQ(chooseLauncherLanguage(stick(), 0).lanID, "0001");
    qunsetenv("VEXO_PROJECT_DIR");

    // The whole entry routine then speaks the chosen language on its page.
    sysroot.writeFile("/usr/vexo_app/project/lan_setup.ini", "[current_language]\ntype=1\n");
    writeDescription(Package);
    QString yes;
    ModalScript script({ [&](QWidget *window) {
        yes = window->findChild<QPushButton *>("okBtn")->text();
        clickButton(window, "cancelBtn");
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(yes, "Yes");
}

TEST_F(LauncherRun, ExePath_FolderOfTheProgram_PathWithoutSlashUsedWhole)
{
    EXPECT_EQ(launcherDirFromExePath("/media/usb0/upgentry.bin"), "/media/usb0");
    EXPECT_EQ(launcherDirFromExePath("/upgentry.bin"), "");
    EXPECT_EQ(launcherDirFromExePath("upgentry.bin"), "upgentry.bin");
}

TEST_F(LauncherRun, FailedOrInterruptedLastProgram_IsResumed_NeverReportedFinished)
{
    ASSERT_TRUE(installStandIn());
    // The last program's after-condition holds, as it did in the field.
    writeDescription("[UPDATE_CONFIG]\nPROGRAM_NUM=1\nSHOW_UPDATE_PAGE=0\nFINISH_TIP=2161\n"
                     "[PROGRAM1_CONFIG]\nPATH=./tool.bin\n[PROGRAM1_AFTER_CHECK]\nFILE_CHECK="
        + stickFile("hixupdateu/update.ini").toUtf8() + "\n");
    // execResult, more of the program loop's group, other groups.
    const QList<QList<QByteArray>> interrupted {
        { "?", "status=failed\n", "" }, // it reported 7
        { "?", "", "" }, // cut while it ran
        { "success", "status=?\n", "" }, // a later write of the loop never came
        { "?", "", "[copyFile]\nstatus=success\n[command]\nstatus=failed\n" }, // cut in commands
        { "?", "", "[copyFile]\nstatus=failed\n" }, // a read-only panel folder
    };
    for (const QList<QByteArray> &recorded : interrupted) {
        const QString state = writeProgressState(0, recorded[0], recorded[1], recorded[2]);
        ModalScript script({ [](QWidget *window) {
            ADD_FAILURE() << "opened " << window->metaObject()->className();
            window->close();
        } });
        EXPECT_EQ(run(), 0);
        EXPECT_TRUE(waitForUpdaterStart()) << recorded.join('|').constData();
        EXPECT_TRUE(QFileInfo::exists(state));
        EXPECT_EQ(runLog(), logHead + "启动成功\n");
        QFile::remove(startedRecordPath());
    }

    // A last program that took the panel over is finished once its after-condition holds.
    const QString state = writeProgressState(0, "?", "handedOver=0\n");
    QString boxText;
    ModalScript script({ [&](QWidget *window) {
        auto *box = qobject_cast<QMessageBox *>(window);
        ASSERT_TRUE(box);
        boxText = box->text();
        QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(boxText, text(2161));
    EXPECT_FALSE(QFileInfo::exists(state));
    EXPECT_FALSE(updaterStarted());
}

TEST_F(LauncherRun, StateOfAnotherPackage_ThisPackageStartsAsNew)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package);
    const QString state = writeProgressState(0, "success");
    // The stick was built anew with another package since.
    writeDescription(Package + "\n[UPDATE_FINISH_CONFIG]\nBEEPNUM=2\n");
    ModalScript script({ [](QWidget *window) { clickButton(window, "cancelBtn"); } });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.seen, QStringList({ "TipMainDlg" }));
    EXPECT_FALSE(updaterStarted());
    EXPECT_TRUE(QFileInfo::exists(state));
}

TEST_F(LauncherRun, KeyInstalled_SignedStickShowsItsPage_AnyChangeOrUnsignedRefusedInRedBuiltIn)
{
    ASSERT_TRUE(installStandIn());
    writeDescription(Package
        + "\n[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=files\nDESTPATH1=/usr/vexo_app/files/\nMODE1=2\n");
    const QString copied = sysroot.writeFile("/media/usb0/hixupdateu/files/a/b.txt", "payload");
    sysroot.writeFile("/media/usb0/hixupdateu/tool.bin", "#!/bin/sh\n");
    // The project speaks English; a refused stick's own table could say anything.
    sysroot.writeFile("/usr/vexo_app/project/lan_setup.ini", "[current_language]\ntype=1\n");
    sysroot.writeFile("/media/usb0/language/0001.lan",
        "[2159]\nstring=\"Base package\"\n[2240]\nstring=\"forged\"\n");
    const QString keyFolder = sysroot.path(TrustedKeys::PanelFolder);
    const auto appendTo = [&](const QString &file) {
        ASSERT_TRUE(
            StickSigner::save(stickFile(file), testsupport::readAll(stickFile(file)) + "x"));
    };
    StickSigner signer;
    ASSERT_TRUE(signer.install(keyFolder));

    struct Case
    {
        const char *name;
        std::function<void()> change;
        int textId; // 0: the page shows
        QString named;
    };
    const Case cases[] = {
        { "signed", [] {}, 0, QString() },
        { "unsigned", [&] { QFile::remove(stickFile("hixupdateu/update.sig")); }, 2240, {} },
        { "another key", [&] { ASSERT_TRUE(StickSigner().sign(stick())); }, 2241, {} },
        { "a copied file changed",
            [&] { sysroot.writeFile(copied.mid(sysroot.root().size()), "x"); }, 2243,
            "hixupdateu/files/a/b.txt" },
        { "a file added to a copied folder",
            [&] { sysroot.writeFile("/media/usb0/hixupdateu/files/c.txt", "x"); }, 2245,
            "hixupdateu/files/c.txt" },
        { "the program changed", [&] { appendTo("hixupdateu/tool.bin"); }, 2243,
            "hixupdateu/tool.bin" },
        { "the updater changed", [&] { appendTo("hixupdateu/upgrunner.bin"); }, 2243,
            "hixupdateu/upgrunner.bin" },
        { "the description changed", [&] { writeDescription(Package); }, 2242, {} },
        { "the manifest changed", [&] { appendTo("hixupdateu/update.manifest"); }, 2242, {} },
        { "the signature changed",
            [&] {
                QByteArray signature = testsupport::readAll(stickFile("hixupdateu/update.sig"));
                signature[signature.size() - 2] = signature.endsWith("0\n") ? '1' : '0';
                ASSERT_TRUE(StickSigner::save(stickFile("hixupdateu/update.sig"), signature));
            },
            2242, {} },
        { "garbage in the key folder",
            [&] {
                QDir(keyFolder).removeRecursively();
                sysroot.writeFile(QString(TrustedKeys::PanelFolder) + "/panel.pub", "garbage");
            },
            2244, keyFolder },
        // An empty folder is no key: the panel runs every stick, as it did before keys.
        { "an empty key folder, the stick unsigned",
            [&] {
                QDir(keyFolder).removeRecursively();
                QDir().mkpath(keyFolder);
                QFile::remove(stickFile("hixupdateu/update.sig"));
            },
            0, {} },
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(signer.sign(stick()));
        c.change();
        QString tips;
        QColor colour;
        bool okEnabled = true;
        ModalScript script({ [&](QWidget *window) {
            if (auto *label = window->findChild<QLabel *>("upNoteLbl")) {
                tips = label->text();
                colour = label->palette().color(QPalette::WindowText);
                okEnabled = window->findChild<QPushButton *>("upBtnOk")->isEnabled();
                clickButton(window, "upBtnCancel");
            } else {
                tips = window->windowTitle();
                clickButton(window, "cancelBtn");
            }
        } });
        EXPECT_EQ(run(), 0) << c.name;
        EXPECT_EQ(script.acted(), 1) << c.name;
        EXPECT_FALSE(updaterStarted()) << c.name;
        if (c.textId == 0) {
            EXPECT_EQ(tips, "Base package") << c.name;
            continue;
        }
        MultilingualManager::GetInstance()->loadMultilingualFile(QString(), Builtin);
        const QString expected = c.named.isEmpty() ? text(c.textId) : text(c.textId).arg(c.named);
        EXPECT_EQ(tips, expected) << c.name;
        EXPECT_EQ(colour, QColor(Qt::red)) << c.name;
        EXPECT_FALSE(okEnabled) << c.name;
        EXPECT_EQ(QString::fromUtf8(runLog()), logHead + expected + "\n") << c.name;
    }
}
