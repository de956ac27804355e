// The pre-check page with its real widgets: language list and switch, the package-wide check
// and its dialog settings.
#include "check_up_info.h"
#include "clogger.h"
#include "dlg_up_note.h"
#include "launcher_fixture.h"
#include "tip_main_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTextEdit>

namespace {

const QByteArray Package = R"(
[UPDATE_CONFIG]
PROGRAM_NUM=0
TOOL_TITLE=2159
TOOL_TIP=2160
SHOW_UPDATE_PAGE=0
)";

class PreCheckPage : public LauncherFixture
{
protected:
    PreCheckPage()
    {
        gloadUiPath = stickFile("hixupdateu/upgrunner.bin");
        QDir::setCurrent(stick());
    }

    // The page as the launcher builds it on the stick, reading the package first.
    std::unique_ptr<TipMainDlg> makePage(const QByteArray &ini, const QString &languageId = "0000")
    {
        writeDescription(ini);
        EXPECT_TRUE(parser.readIni(stickFile("hixupdateu/update.ini")));
        return std::make_unique<TipMainDlg>(&parser, &checker, languageId, nullptr, stick());
    }

    QString appFile(const QString &name) const { return stickFile(name); }
    void writeAppFile(const QString &name, const QByteArray &content)
    {
        sysroot.writeFile("/media/usb0/" + name, content);
    }

    template<typename T> T *child(QWidget *page, const char *name)
    {
        return page->findChild<T *>(QLatin1String(name));
    }

    ParseConfigInfo parser;
    check_up_info_c checker { &parser };
};

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

} // namespace

TEST_F(PreCheckPage, Page_NamesThePackageAndShowsItsTip_WithItsFormAndImage)
{
    auto page = makePage(Package);
    EXPECT_EQ(page->objectName(), "TipMainDlg");
    EXPECT_EQ(page->windowTitle(), text(2159));
    EXPECT_FALSE(text(2159).isEmpty());
    EXPECT_EQ(child<QLabel>(page.get(), "infoLab")->text(), text(2004).arg(text(2159)));
    EXPECT_EQ(child<QTextEdit>(page.get(), "infoEdit")->toPlainText(), text(2160));
    EXPECT_EQ(child<QTextEdit>(page.get(), "infoEdit")->styleSheet(),
        "QScrollBar{background:transparent;}");
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "是");
    EXPECT_EQ(child<QPushButton>(page.get(), "cancelBtn")->text(), "否");
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->maximumSize(), QSize(90, 35));
    EXPECT_EQ(page->minimumSize(), QSize(422, 256));
    EXPECT_EQ(page->maximumSize(), QSize(422, 256));
    EXPECT_TRUE(page->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(page->windowFlags() & Qt::WindowContextHelpButtonHint);
    auto *combo = child<QComboBox>(page.get(), "comboBox");
    ASSERT_TRUE(combo);
    EXPECT_TRUE(combo->styleSheet().startsWith(
        "QComboBox::down-arrow {\n\tborder-image: url(:/new/prefix1/resource/img/downarrow.png);"));
    EXPECT_TRUE(
        combo->styleSheet().endsWith("QComboBox QAbstractItemView::item{\n   height:25px;\n}\n"));
    EXPECT_TRUE(qobject_cast<QStyledItemDelegate *>(combo->itemDelegate()));
    EXPECT_FALSE(QPixmap(TipMainDlg::DownArrowImage).isNull());
}

TEST_F(PreCheckPage, LanguageList_StartsOnTheStartLanguageWithoutReloading_ThenSwitches)
{
    writeAppFile("config/baseUpdate.ini",
        scrambledBytes("\xEF\xBB\xBF#\n[language_conf]\nlist=中文, English\nid=0000, 0001\n"));
    writeAppFile("language/0001.lan", "[1004]\r\nstring=\"Yes\"\r\n[2159]\r\nstring=\"Tool\"\r\n");
    // The start language as the launcher loaded it; a reload at start would replace it.
    writeAppFile("language/start.lan", "[1004]\r\nstring=\"Start-yes\"\r\n");
    MultilingualManager::GetInstance()->loadMultilingualFile(
        appFile("language/start.lan"), Builtin);

    auto page = makePage(Package, "0001");
    auto *combo = child<QComboBox>(page.get(), "comboBox");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "中文");
    EXPECT_EQ(combo->itemText(1), "English");
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "Start-yes");
    // The plain copy stays beside the scrambled list.
    EXPECT_TRUE(QFileInfo::exists(appFile("config/baseUpdateTmp.ini")));

    combo->setCurrentIndex(0);
    EXPECT_EQ(page->currentLanguageId(), "0000");
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "是");
    combo->setCurrentIndex(1);
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "Yes");
    EXPECT_EQ(page->windowTitle(), "Tool");
    EXPECT_EQ(child<QLabel>(page.get(), "infoLab")->text(), text(2004).arg("Tool"));
}

TEST_F(PreCheckPage, ChosenLanguageFileMissing_LoadsTheToolLanguage_RecordsTheChosenId)
{
    writeAppFile("config/baseUpdate.ini",
        scrambledBytes("\xEF\xBB\xBF#\n[language_conf]\nlist=A, B\nid=0000, 0007\n"));
    writeAppFile("config/baseUpdateSet.ini", "[tool_language]\ntype=2\n");
    writeAppFile("language/0002.lan", "[1004]\r\nstring=\"Ja\"\r\n");
    auto page = makePage(Package);
    child<QComboBox>(page.get(), "comboBox")->setCurrentIndex(1);
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "Ja");
    EXPECT_EQ(page->currentLanguageId(), "0007");
}

TEST_F(PreCheckPage, LanguageListNotScrambled_NoEntries_PageKeepsItsLanguage)
{
    writeAppFile(
        "config/baseUpdate.ini", "\xEF\xBB\xBF#\n[language_conf]\nlist=A, B\nid=0000, 0001\n");
    auto page = makePage(Package);
    auto *combo = child<QComboBox>(page.get(), "comboBox");
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "是");
    EXPECT_EQ(page->windowTitle(), text(2159));
}

TEST_F(PreCheckPage, IdsAndNamesOfDifferentLengths_OnlyEntriesWithAnIdSwitch)
{
    writeAppFile("config/baseUpdate.ini",
        scrambledBytes("\xEF\xBB\xBF#\n[language_conf]\nlist=A, B, C\nid=0001\n"));
    writeAppFile("language/0001.lan", "[1004]\r\nstring=\"Yes\"\r\n");
    auto page = makePage(Package, "0000");
    auto *combo = child<QComboBox>(page.get(), "comboBox");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), 0);
    combo->setCurrentIndex(2);
    EXPECT_EQ(page->currentLanguageId(), "0000");
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "是");
    combo->setCurrentIndex(0);
    EXPECT_EQ(page->currentLanguageId(), "0001");
    EXPECT_EQ(child<QPushButton>(page.get(), "okBtn")->text(), "Yes");

    // More ids than names: the start language's entry does not exist in the box.
    writeAppFile("config/baseUpdate.ini",
        scrambledBytes("\xEF\xBB\xBF#\n[language_conf]\nlist=A\nid=0000, 0001, 0002\n"));
    auto second = makePage(Package, "0002");
    EXPECT_EQ(child<QComboBox>(second.get(), "comboBox")->count(), 1);
}

TEST_F(PreCheckPage, ToolTitleNotANumber_EmptyTitleNoCrash)
{
    auto page = makePage("[UPDATE_CONFIG]\nTOOL_TITLE=abc\nTOOL_TIP=12x\n");
    EXPECT_EQ(page->windowTitle(), "");
    EXPECT_EQ(child<QLabel>(page.get(), "infoLab")->text(), text(2004).arg(QString()));
}

TEST_F(PreCheckPage, CheckPassedWithoutSuccessDialog_Yes_StartsTheUpdaterWithoutAnyDialog)
{
    ASSERT_TRUE(installStandIn());
    auto page = makePage(Package + "\n[UPDATE_CHECK]\nCHECK_SUCCESS_MESSAGE=2001\n", "0003");
    QSignalSpy closed(page.get(), &TipMainDlg::pageClosed);
    page->show();
    ModalScript script({ [](QWidget *window) {
        ADD_FAILURE() << "opened " << window->metaObject()->className();
    } });
    clickButton(page.get(), "okBtn");
    ASSERT_TRUE(waitForUpdaterStart());
    EXPECT_TRUE(
        startedRecord().startsWith(("argc=5\narg 1=-execond 0\narg 2=-lanID 0003\narg 3=-title "
            + text(2159) + "\narg 4=-showUpdatePage 0\n")
                                       .toUtf8()));
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(PreCheckPage, CheckPassedWithSuccessDialog_ShowsTheMessage_YesStarts)
{
    ASSERT_TRUE(installStandIn());
    auto page = makePage(
        Package + "\n[UPDATE_CHECK]\nCHECK_SUCCESS_ISSHOWDLG=1\nCHECK_SUCCESS_MESSAGE=2159\n");
    page->show();
    QString tips;
    bool okEnabled = false;
    ModalScript script({ [&](QWidget *window) {
        ASSERT_TRUE(qobject_cast<dlgUpNote *>(window));
        tips = window->findChild<QLabel *>("upNoteLbl")->text();
        okEnabled = window->findChild<QPushButton *>("upBtnOk")->isEnabled();
        clickButton(window, "upBtnOk");
    } });
    clickButton(page.get(), "okBtn");
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(tips, text(2159));
    EXPECT_TRUE(okEnabled);
    EXPECT_TRUE(waitForUpdaterStart());
}

TEST_F(PreCheckPage, CheckFailedWithDialog_FailureTextLogged_OkDisabled_NothingStarted)
{
    ASSERT_TRUE(installStandIn());
    const QByteArray failing = Package
        + "\n[UPDATE_CHECK]\nFILE_CHECK=/nowhere/at/all\nCHECK_FAILED_ISSHOWDLG=1\n"
          "CHECK_FAILED_MESSAGE=2003\n";
    auto page = makePage(failing);
    CLogger logger(stickFile("upgradeProcess.log"), CLogger::WRITE_ONLY);
    logger.toggleLogger(true);
    page->setLogger(&logger);
    page->show();
    QString tips;
    bool okEnabled = true;
    ModalScript script({ [&](QWidget *window) {
        tips = window->findChild<QLabel *>("upNoteLbl")->text();
        okEnabled = window->findChild<QPushButton *>("upBtnOk")->isEnabled();
        clickButton(window, "upBtnCancel");
    } });
    clickButton(page.get(), "okBtn");
    EXPECT_EQ(script.acted(), 1);
    EXPECT_EQ(tips, text(2003));
    EXPECT_FALSE(okEnabled);
    // The author's words, then the condition that failed with what this panel has.
    EXPECT_EQ(QString::fromUtf8(runLog()),
        text(2003) + "\nUPDATE_CHECK/FILE_CHECK：升级包要求 /nowhere/at/all，本机为 不存在\n");
    EXPECT_FALSE(logger.isOpen());
    EXPECT_FALSE(updaterStarted());
}

TEST_F(PreCheckPage, CheckFailedWithoutDialog_PageNotShown_FailureStillReachesTheLog)
{
    ASSERT_TRUE(installStandIn());
    auto page = makePage("[UPDATE_CONFIG]\nTOOL_TITLE=2159\n\n[UPDATE_CHECK]\n"
                         "FILE_CHECK=/nowhere/at/all\nCHECK_FAILED_MESSAGE=2003\n");
    CLogger logger(stickFile("upgradeProcess.log"), CLogger::WRITE_ONLY);
    logger.toggleLogger(true);
    page->setLogger(&logger);
    ModalScript script({ [](QWidget *window) {
        ADD_FAILURE() << "opened " << window->metaObject()->className();
    } });
    page->okClick();
    EXPECT_EQ(QString::fromUtf8(runLog()),
        text(2003) + "\nUPDATE_CHECK/FILE_CHECK：升级包要求 /nowhere/at/all，本机为 不存在\n");
    EXPECT_FALSE(updaterStarted());
}

TEST_F(PreCheckPage, No_ClosesThePage_NothingStarted)
{
    ASSERT_TRUE(installStandIn());
    auto page = makePage(Package);
    QSignalSpy closed(page.get(), &TipMainDlg::pageClosed);
    page->show();
    clickButton(page.get(), "cancelBtn");
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(updaterStarted());
}
