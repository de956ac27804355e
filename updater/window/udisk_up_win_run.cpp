// One run of the update: the description, the four package-wide phases, the programs and the
// finish.
#include "udisk_up_win.h"

#include "check_result_service.h"
#include "check_up_info.h"
#include "clogger.h"
#include "directory_library.h"
#include "file_io.h"
#include "file_operation.h"
#include "language_choice.h"
#include "mount_watch.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "package_verifier.h"
#include "parse_config_info.h"
#include "path_deal.h"
#include "phase_runner.h"
#include "stick_runtime.h"
#include "tool_process_ctrl.h"
#include "ui_udisk_up_win.h"
#include "updater_messages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

using hix::text;

namespace {

constexpr int FinishBoxAutoCloseMs = 3000;
// How far the bar moves while the stick is checked, from where the parsed description left it.
constexpr int CheckProgressSpan = 5;

} // namespace

bool UDiskUpWin::parseIniFile()
{
    emit emitMessage(text(MsgParsing), Qt::black);
    return configParser->readIni(QStringLiteral("./update.ini"));
}

void UDiskUpWin::failPhase(int phase)
{
    ui->btnRestart->setEnabled(true);
    progressValue = 100;
    if (stickPulled())
        sayStickPulled();
    else if (!ToolProcessCtrl::GetInstance()->setProcessStatus(
                 static_cast<prcessNameEnum>(phase), STATUS_FAILED))
        sayStateNotWritten();
    updatefinished();
}

bool UDiskUpWin::stickPulled() const
{
    return stickMount >= 0 && !hix::isMounted(stickMount);
}

void UDiskUpWin::sayStickPulled()
{
    if (!stickPulledSaid)
        emit emitMessage(text(MsgStickPulled), Qt::red);
    stickPulledSaid = true;
}

void UDiskUpWin::sayStateNotWritten()
{
    if (stickPulled())
        sayStickPulled();
    else
        emit emitMessage(text(MsgStateNotWritten), Qt::red);
}

void UDiskUpWin::failRun(int messageId, const QString &name)
{
    // A stick that was pulled takes every write to it: that is said instead of the write.
    if (stickPulled() && (messageId == MsgStateNotWritten || messageId == MsgLogNotWritten))
        endRun(QString());
    else
        endRun(name.isNull() ? text(messageId) : text(messageId).arg(name));
}

void UDiskUpWin::endRun(const QString &redLine)
{
    if (!redLine.isEmpty())
        emit emitMessage(redLine, Qt::red);
    if (stickPulled())
        sayStickPulled();
    ui->btnRestart->setEnabled(true);
    progressValue = 100;
    updatefinished();
}

bool UDiskUpWin::checkPackage(PackageVerifier &verifier)
{
    if (verifier.checkSignature() == PackageVerifier::NoKeyInstalled)
        return true;
    emit emitMessage(text(PackageVerifier::MsgChecking), Qt::black);
    // Reading a large stick takes a while on a panel: the bar moves and the window stays drawn.
    const int from = progressValue;
    verifier.setProgress([this, from](qint64 done, qint64 total) {
        progressValue = from + int(total > 0 ? done * CheckProgressSpan / total : 0);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    verifier.checkStick(*configParser);
    verifier.setProgress(nullptr);
    if (!verifier.refused()) {
        qDebug().noquote() << "package" << packageFolder << verifier.reason();
        emit emitMessage(text(PackageVerifier::MsgVerified), Qt::black);
        return true;
    }
    // The stick's own language table could say anything, a success included: the refusal and
    // the log's head line speak the built-in one.
    MultilingualManager::GetInstance()->loadMultilingualFile(
        QString(), QString::fromLatin1(hix::BuiltinLanguageTable));
    endRun(verifier.operatorText());
    return false;
}

bool UDiskUpWin::preparePackage()
{
    ToolProcessCtrl *const state = ToolProcessCtrl::GetInstance();
    // The description was read from the working directory; the rest of the package lies beside
    // it, and the stick root is the folder above.
    const QString folder = QDir::currentPath();
    packageFolder = folder;
    manifest.reset();
    // On a panel with keys the whole stick is checked again before the first change: the
    // launcher's check says nothing about a stick changed since, or an updater started by hand.
    PackageVerifier verifier(folder, TrustedKeys::ofPanel());
    if (!checkPackage(verifier))
        return false;
    const QString manifestPath = folder + QLatin1Char('/') + PackageManifest::FileName;
    if (verifier.outcome() == PackageVerifier::Verified) {
        // Each staged file and each program is compared with what the key signed, not with
        // whatever manifest the stick holds by then.
        manifest = std::make_unique<PackageManifest>(verifier.manifest());
    } else if (QFileInfo::exists(manifestPath)) {
        QFile file(manifestPath);
        auto loaded = std::make_unique<PackageManifest>();
        QString error;
        if (!file.open(QIODevice::ReadOnly) || !loaded->parse(file.readAll(), &error)) {
            qWarning() << "package manifest" << manifestPath << "unreadable:" << error;
            failRun(MsgManifestUnreadable, QLatin1String(PackageManifest::FileName));
            return false;
        }
        loaded->setStickRoot(folder + QStringLiteral("/.."));
        manifest = std::move(loaded);
    }
    fileOperation->setManifest(manifest.get());
    fileOperation->setPackageFolder(folder);

    const QString digest = packageDigest(folder);
    if (state->isProcessCtrlIniExit()
        && state->getProcessValue(QLatin1String(ToolProcessCtrl::PackageKey)).toString() != digest
        && !setAsideForeignState())
        return false;
    // Nothing on the panel changes before the state file and the log are known to take what the
    // run writes: a run that cannot record its progress can neither be resumed nor judged later.
    if (!state->setProcessValue(QLatin1String(ToolProcessCtrl::PackageKey), digest)) {
        failRun(MsgStateNotWritten);
        return false;
    }
    if (logWriteFailed) {
        failRun(MsgLogNotWritten);
        return false;
    }
    return true;
}

bool UDiskUpWin::setAsideForeignState()
{
    ToolProcessCtrl *const state = ToolProcessCtrl::GetInstance();
    qDebug() << "the progress state belongs to another package:"
             << state->getProcessValue(QLatin1String(ToolProcessCtrl::PackageKey)).toString();
    // The backup folder exists only between a program's backup and its completed restore: it
    // holds the operator's files that the other package never put back. This package's own
    // backups would delete it, and a program without backups would restore it.
    if (QFileInfo(backupRoot).isDir()) {
        QString keptAs = backupRoot + QStringLiteral("_kept");
        for (int n = 2; QFileInfo::exists(keptAs); ++n)
            keptAs = backupRoot + QStringLiteral("_kept") + QString::number(n);
        const QString keptName = PathDeal::getTargetName(keptAs);
        if (!ask(text(MsgForeignBackupAsk).arg(keptName))) {
            failRun(MsgForeignBackupRefused);
            return false;
        }
        if (!QDir().rename(backupRoot, keptAs)) {
            qWarning() << "cannot rename" << backupRoot << "to" << keptAs;
            failRun(MsgForeignBackupRefused);
            return false;
        }
        hix::io::flush::noteFolder(QFileInfo(backupRoot).absolutePath());
        hix::io::flush::runStep();
        emit emitMessage(text(MsgForeignBackupKept).arg(keptName), Qt::black);
    }
    if (!state->removeCtrlIni())
        qWarning() << "cannot remove the other package's progress state";
    emit emitMessage(text(MsgForeignStateDiscarded), Qt::black);
    return true;
}

PhaseRunner UDiskUpWin::phaseRunner()
{
    return PhaseRunner(*fileOperation,
        [this](const QString &line, const QColor &color) { emit emitMessage(line, color); });
}

void UDiskUpWin::refuseUpdate(const QString &reason)
{
    updateRefused = true;
    if (startTimer)
        startTimer->stop();
    emit emitMessage(reason, Qt::red);
    if (ui)
        ui->btnRestart->setEnabled(true);
    progressValue = 100;
}

void UDiskUpWin::startUpdate()
{
    if (startTimer)
        startTimer->stop();
    if (updateStarted || updateRefused || !initOk)
        return;
    runUpdate();
    if (!showPage && !closeBySignal)
        endHiddenRun();
}

void UDiskUpWin::runUpdate()
{
    // The identifier is read once: every backup, restore and deletion of this run and the state
    // file stay in the one folder named after this panel.
    backupRoot = ParseConfigInfo::panelBackupPath();
    // A stick may be pulled while the run goes on: the run tells it by the stick's mount, and
    // keeps in memory what it runs from the stick, so that it can still say so.
    stickMount = hix::mountIdOf(QCoreApplication::applicationDirPath());
    stickPulledSaid = false;
    hix::lockStickRuntime();
    ToolProcessCtrl *const state = ToolProcessCtrl::GetInstance();
    if (!backupRoot.isEmpty()) {
        state->initIniPath(backupRoot + QStringLiteral("_proctrl"));
        configParser->setBackupRoot(backupRoot);
    }
    usleep(1000);
    programTookOver = false;
    updateStarted = true;
    qDebug() << "start update...";
    updateFinished = false;

    emit emitMessage(text(MsgUpdateStarts), Qt::black);
    progressValue = 0;

    if (!parseIniFile()) {
        emit emitMessage(text(MsgParseFailed), Qt::red);
        if (stickPulled())
            sayStickPulled();
        ui->btnRestart->setEnabled(true);
        progressValue = 100;
        return;
    }
    emit emitMessage(text(MsgParseDone), Qt::black);
    progressValue = 10;

    if (backupRoot.isEmpty()) {
        // Without the identifier the backups would go to the stick's bare backup folder, which
        // holds every panel's backups and state files: the run must not touch the panel.
        qWarning() << "panel identifier unreadable; the update does not start";
        emit emitMessage(text(MsgPanelIdUnreadable), Qt::red);
        ui->btnRestart->setEnabled(true);
        progressValue = 100;
        updatefinished();
        return;
    }
    if (!preparePackage())
        return;

    // The four package-wide phases. A phase whose list is empty writes no status; one that an
    // earlier, interrupted run finished is passed over.
    const WorkLists lists = WorkLists::ofPackage(*configParser);
    PhaseRunner phases = phaseRunner();
    for (const WorkKindRow &row : workKinds()) {
        if (!lists.isEmpty(row.kind) && state->getProcessStatus(row.phase) != STATUS_SUCCESS
            && (row.kind != WorkKind::Copy || copyCheck(lists.copy))) {
            if (!phases.run(row, WorkPlace::Package, lists)) {
                failPhase(row.phase);
                return;
            }
            if (!state->setProcessStatus(row.phase, STATUS_SUCCESS)) {
                failRun(MsgStateNotWritten);
                return;
            }
        }
        if (stateWriteFailed) {
            failRun(MsgStateNotWritten);
            return;
        }
        progressValue = row.progressAfter;
    }

    std::vector<programConfig_s> programs = configParser->getProgramConfigInfo();
    if (!programs.empty() && state->getProcessStatus(PROCESS_UPDATE_PRO) != STATUS_SUCCESS) {
        emit emitMessage(text(MsgProgramsStart), Qt::black);
        if (!updateProgram(programs)) {
            emit emitMessage(text(MsgProgramsFailed), Qt::red);
            ui->btnRestart->setEnabled(true);
            progressValue = 100;
            if (stickPulled())
                sayStickPulled();
            else if (!state->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_FAILED))
                sayStateNotWritten();
            return;
        }
        if (programTookOver) {
            closeBySignal = true;
            close();
            return;
        }
        emit emitMessage(text(MsgProgramsDone), Qt::black);
        // The loop's success goes first: a cut between these writes must never leave a state
        // without a program index that a resumed run would read as "start at the first program".
        if (!state->setProcessStatus(PROCESS_UPDATE_PRO, STATUS_SUCCESS)
            || !state->removeCtrlIniKey(PROCESS_CUR_PRO_INDEX)
            || !state->removeCtrlIniKey(PROCESS_EXEC_RESULT)
            || !state->removeCtrlIniKey(QLatin1String(ToolProcessCtrl::HandedOverKey))) {
            failRun(MsgStateNotWritten);
            return;
        }
    }

    progressValue = 95;
    emit emitMessage(text(MsgUpdateDone), Qt::black);
    ui->label->setText(text(MsgStickMayGo));
    ui->btnRestart->setEnabled(true);
    progressValue = 100;
    startBeep();
    if (!state->removeCtrlIni())
        emit emitMessage(text(MsgStateFileNotRemoved), Qt::black);
    const char *dataDir = Vexo_GetDirectory(VEXO_DIR_DATA);
    const QString history
        = QString::fromUtf8(dataDir ? dataDir : "") + QStringLiteral("/hixbackup");
    if (QFile::remove(history + QStringLiteral("/HisInfo.ini")))
        hix::io::flush::noteFolder(history); // gone before the head line says the run ended

    const updateConfig_s config = configParser->getUpdateConfig();
    if (showPage && !config.finishTip.isEmpty())
        inform(MsgNote, text(config.finishTip.toInt()),
            configParser->getUpdateFinishConfig().reboot ? FinishBoxAutoCloseMs : 0);

    updateSuccess = true;
    updateFinished = true;
    updatefinished();
    reBootHix();
    if (logger)
        logger->close();
}

bool UDiskUpWin::ask(const QString &question)
{
    if (!showPage)
        return false;
    QMessageBox box(QMessageBox::Information, text(MsgNote), question,
        QMessageBox::Yes | QMessageBox::No, this);
    box.setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Yes)->setText(text(MsgYes));
    box.button(QMessageBox::No)->setText(text(MsgNo));
    return box.exec() == QMessageBox::Yes;
}

void UDiskUpWin::inform(int titleId, const QString &message, int autoCloseMs)
{
    QMessageBox box(QMessageBox::Information, text(titleId), message, QMessageBox::Ok, this);
    box.setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Ok)->setText(text(MsgConfirm));
    if (autoCloseMs > 0)
        QTimer::singleShot(autoCloseMs, &box, &QMessageBox::accept);
    box.exec();
}
