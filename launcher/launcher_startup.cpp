#include "launcher_startup.h"

#include "check_up_info.h"
#include "clogger.h"
#include "dlg_up_note.h"
#include "launcher_messages.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "package_verifier.h"
#include "parse_config_info.h"
#include "tip_main_dlg.h"
#include "tool_process_ctrl.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTextCodec>

using hix::text;

namespace {

// Description keys hold text numbers; anything that is not a number names no text.
QString textOfNumber(const QString &number)
{
    return text(number.toInt());
}

// The finished run's closing word: one box, then the state file goes.
void showFinishText(const QString &finishText)
{
    QMessageBox box(QMessageBox::Information, text(MsgNoticeTitle), finishText, QMessageBox::Ok);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Ok)->setText(text(MsgConfirm));
    box.exec();
}

} // namespace

bool runHasFinished(const ToolProcessCtrl &state, check_up_info_c &checker, int programCount)
{
    // Every phase the state file names must have succeeded: a failed or unfinished phase, or a
    // failed program loop, is a run stopped half-way however the panel looks now.
    for (const prcessNameEnum phase : { PROCESS_COPY_FILE, PROCESS_DEL_FILE, PROCESS_EXE_FILE,
             PROCESS_COMMAND, PROCESS_UPDATE_PRO }) {
        if (state.isContainKey(ToolProcessCtrl::keyOf(phase))
            && state.getProcessStatus(phase) != STATUS_SUCCESS)
            return false;
    }
    if (programCount <= 0)
        return false;
    if (state.getProcessStatus(PROCESS_UPDATE_PRO) == STATUS_SUCCESS)
        return true;
    const QString indexKey = ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX);
    bool isNumber = false;
    const int index = state.getProcessValue(indexKey).toString().toInt(&isNumber);
    if (!isNumber || !checker.isUpdateFinish(index + 1))
        return false;
    if (state.getProcessStatus(PROCESS_EXEC_RESULT) == STATUS_SUCCESS)
        return true;
    // A last program that took the panel over never reports back: its mark and its
    // after-conditions are all there is to judge it by.
    const QVariant handedOver
        = state.getProcessValue(QLatin1String(ToolProcessCtrl::HandedOverKey));
    return handedOver.isValid() && handedOver.toString() == QString::number(index)
        && checker.proAfterCheck(index);
}

QString launcherDirFromExePath(const QByteArray &exePath)
{
    const QString path = QFile::decodeName(exePath);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.left(slash);
}

LauncherSettings readLauncherSettings(const QString &launcherDir)
{
    QSettings settings(launcherDir + QLatin1String(hix::ToolSettingsFile), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    LauncherSettings result;
    result.toolLanguage = settings.value(QStringLiteral("/tool_language/type"), 0).toInt();
    result.qwsTimeout = settings.value(QStringLiteral("/qws_detect/timeout"), 0).toInt();
    return result;
}

LanguageChoice chooseLauncherLanguage(const QString &launcherDir, int toolLanguage)
{
    return hix::chooseLanguage(launcherDir, QString(), toolLanguage);
}

int runLauncher(const QString &launcherDir, const LauncherSettings &settings)
{
    const LanguageChoice language = chooseLauncherLanguage(launcherDir, settings.toolLanguage);
    // On a panel with keys installed the stick is checked before anything of it is shown; a
    // refused stick speaks with the built-in texts, since its own could say anything.
    PackageVerifier verifier(launcherDir + QStringLiteral("/hixupdateu"), TrustedKeys::ofPanel());
    verifier.checkSignature();
    if (QFileInfo::exists(language.languageFile))
        verifier.checkFile(language.languageFile);
    MultilingualManager::GetInstance()->loadMultilingualFile(
        verifier.refused() ? QString() : language.languageFile,
        QLatin1String(hix::BuiltinLanguageTable));

    // Declared in the order of creation, so they go in the reverse order.
    dlgUpNote confirmation(language.lanID, text(MsgWarningTitle));

    CLogger logger(launcherDir + QStringLiteral("/upgradeProcess.log"), CLogger::WRITE_ONLY);
    logger.toggleLogger(true);
    confirmation.setLogger(&logger);
    // Pessimistic until the updater writes the outcome over it.
    logger.write(text(MsgReportFailed) + QLatin1Char('\n'));
    logger.write(QLatin1String(CLogger::Separator));

    gloadUiPath = launcherDir + QStringLiteral("/hixupdateu/upgrunner.bin");

    // Says why no update can run here, in the log and in the dialog, whose OK stays disabled.
    const auto refuse
        = [&logger, &confirmation](const QString &reason, const QColor &color = QColor()) {
              logger.write(reason + QLatin1Char('\n'));
              logger.close();
              confirmation.setTips(reason);
              if (color.isValid())
                  confirmation.setTipsColor(color);
              confirmation.setOkButtonDisabled(true);
              confirmation.exec();
              return 0;
          };

    if (verifier.refused())
        return refuse(verifier.operatorText(), Qt::red);
    ParseConfigInfo parser;
    if (!parser.readIni(launcherDir + QStringLiteral("/hixupdateu/update.ini")))
        return refuse(text(MsgDescriptionUnreadable));
    // Every file of the stick, before the first page: a changed byte anywhere stops the update
    // here, not half-way through it. Reading a large stick takes a while on a panel; the
    // technician sees that something happens.
    {
        QProgressDialog checking(text(PackageVerifier::MsgChecking), QString(), 0, 1000);
        checking.setWindowTitle(text(MsgNoticeTitle));
        checking.setWindowFlags(checking.windowFlags() | Qt::WindowStaysOnTopHint);
        checking.setWindowIcon(QIcon(QStringLiteral(" ")));
        checking.setWindowModality(Qt::ApplicationModal);
        checking.setMinimumDuration(1000);
        verifier.setProgress([&checking](qint64 done, qint64 total) {
            checking.setValue(total > 0 ? int(done * 1000 / total) : 1000);
        });
        if (verifier.checkStick(parser) == PackageVerifier::Verified)
            qDebug().noquote() << "stick" << launcherDir << verifier.reason();
        verifier.setProgress(nullptr);
    }
    if (verifier.refused())
        return refuse(verifier.operatorText(), Qt::red);
    // Without the panel identifier the progress state would be looked for, and removed, in the
    // stick's bare backup folder, which holds every panel's backups.
    const QString backupRoot = ParseConfigInfo::panelBackupPath();
    if (backupRoot.isEmpty())
        return refuse(text(MsgPanelIdUnreadable));
    parser.setBackupRoot(backupRoot);

    check_up_info_c checker(&parser);
    ToolProcessCtrl *progress = ToolProcessCtrl::GetInstance();
    progress->initIniPath(backupRoot + QStringLiteral("_proctrl"));
    const updateConfig_s config = parser.getUpdateConfig();

    // A state file left by another package (the stick was rebuilt) is no run of this one: this
    // package starts as new, and the updater deals with what the other one left.
    const QString digest = packageDigest(launcherDir + QStringLiteral("/hixupdateu"));
    const bool ownState = progress->isProcessCtrlIniExit()
        && progress->getProcessValue(QLatin1String(ToolProcessCtrl::PackageKey)).toString()
            == digest;
    if (!ownState) {
        TipMainDlg page(&parser, &checker, language.lanID, nullptr, launcherDir);
        // A package without a page still gets its check written to the log, so a failed check
        // never ends the launcher without a word anywhere.
        page.setLogger(&logger);
        if (!config.toolTitle.isEmpty() && !config.toolTip.isEmpty()) {
            QObject::connect(&page, &TipMainDlg::pageClosed, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
            page.show();
            return QApplication::exec();
        }
        page.okClick();
        return 0;
    }

    if (runHasFinished(*progress, checker, config.programNum)) {
        const QString finishText = textOfNumber(config.finishTip);
        if (!finishText.isEmpty()) {
            // The log was opened anew with the pessimistic head line; this run has ended well.
            logger.writeReport(text(MsgReportSucceeded) + QLatin1Char('\n'));
            showFinishText(finishText);
            progress->removeCtrlIni();
            return 0;
        }
        QFile::remove(launcherDir + QStringLiteral("/HisInfo.ini"));
        progress->removeCtrlIni();
    }

    // The operator already agreed when the run began; only the password gate applies again.
    confirmation.setTitle(textOfNumber(config.toolTitle));
    confirmation.setExecCondition(config.execCondition);
    confirmation.setShowUpdatePageInfo(config.showUpdatePage);
    confirmation.startUpdate();
    return 0;
}
