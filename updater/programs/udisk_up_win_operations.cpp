// The file work around each program: backup and copies before it, restore and copies after it,
// the guard of the package-wide copy list, the command lists and the removal of old backups.
#include "udisk_up_win.h"

#include "backup_file.h"
#include "check_up_info.h"
#include "file_io.h"
#include "file_operation.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "path_deal.h"
#include "phase_runner.h"
#include "tool_process_ctrl.h"
#include "updater_messages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

using hix::text;

bool UDiskUpWin::DeleteAllBackupData(const QString &path)
{
    file_operation_c quiet;
    delFileInfo_s folder;
    folder.srcPath = path;
    folder.mode = 2;
    const bool removed = quiet.removeFile(folder, QString());
    if (removed)
        hix::io::flush::backupFolder(QFileInfo(path).absolutePath());
    else
        emit emitMessage(text(MsgBackupNotDeleted), Qt::black);
    return removed;
}

bool UDiskUpWin::backupSourcesMatchManifest(const backupFileInfo_s &entry)
{
    if (!manifest || manifest->relativePath(entry.srcPath).isEmpty())
        return true;
    // A backup taken from the stick is put on the panel by the restore: its files must be the
    // package's own, as the copies' are.
    const QFileInfo source(entry.srcPath);
    QStringList files;
    QStringList listed;
    if (source.isFile()) {
        files << source.absoluteFilePath();
    } else if (source.isDir()) {
        QDirIterator it(entry.srcPath, QDir::Files | QDir::Hidden | QDir::System,
            entry.mode == 2 ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (it.hasNext())
            files << it.next();
        listed = manifest->filesIn(entry.srcPath, entry.mode == 2);
    }
    for (const QString &file : qAsConst(files)) {
        const PackageManifest::Entry *expected = manifest->find(file);
        PackageManifest::Entry actual;
        if (!expected || !fileDigest(file, &actual) || actual != *expected) {
            qWarning() << "backup source" << file << "differs from the manifest";
            emit emitMessage(text(MsgManifestMismatch).arg(PathDeal::getTargetName(file)), Qt::red);
            return false;
        }
        listed.removeAll(QDir::cleanPath(QFileInfo(file).absoluteFilePath()));
    }
    if (!listed.isEmpty()) {
        qWarning() << "backup sources missing from the stick:" << listed;
        emit emitMessage(
            text(MsgManifestMismatch).arg(PathDeal::getTargetName(listed.first())), Qt::red);
        return false;
    }
    return true;
}

bool UDiskUpWin::beforeUpdateOperate(const programConfig_s &program)
{
    const QString name = PathDeal::getTargetName(program.path);

    const QString checkFile = backupRoot + QLatin1Char('/') + backup_file_c::CheckFileName;
    if (!program.beforeBackup.empty() && resumingInterruptedProgram
        && backup_file_c::isCompleteBackupOf(checkFile, program.beforeBackup)) {
        // The interrupted run of this program had finished its backup, and the program may have
        // changed the files since: a new backup would save the changed files and delete the only
        // copy of the old ones. The backup stays until the restore after the program.
        qDebug() << "keeping the complete backup of the interrupted run in" << backupRoot;
        emit emitMessage(text(MsgBackupDone).arg(name), Qt::black);
    } else if (!program.beforeBackup.empty()) {
        for (const backupFileInfo_s &entry : program.beforeBackup) {
            if (!backupSourcesMatchManifest(entry))
                return false;
        }
        DeleteAllBackupData(backupRoot);
        emit emitMessage(text(MsgBackupStarts).arg(name), Qt::black);
        backup_file_c backup(DIRECT_BACKUP);
        connect(&backup, &backup_file_c::emitMessage, this, &UDiskUpWin::updateOutMessage);
        int failure = 0;
        if (!backup.getBackupFileList(program.beforeBackup))
            failure = MsgBackupListFailed;
        else if (!backup.generateCheckFile(
                     backupRoot + QLatin1Char('/') + backup_file_c::CheckFileName))
            failure = MsgBackupCheckFileFailed;
        else if (!backup.backupFile(program.beforeBackup))
            failure = MsgBackupFailed;
        // After a pull the backup's folder leads into the panel's own disk: what was written
        // there is no backup on the stick, and it goes with the failed backup.
        else if (stickPulled())
            failure = MsgBackupFailed;
        // The program changes the files once it runs: from then on the backup is their only
        // copy, and it must be on the stick, not in its cache.
        else if (!hix::io::flush::backupFolder(backupRoot))
            failure = MsgBackupFailed;
        if (failure == 0) {
            emit emitMessage(text(MsgBackupDone).arg(name), Qt::black);
            if (!backup.checkBackupFile(DIRECT_BACKUP))
                failure = MsgBackupVerifyFailed;
        }
        if (failure != 0) {
            emit emitMessage(text(failure).arg(name), Qt::red);
            DeleteAllBackupData(backupRoot);
            return false;
        }
    }

    return phaseRunner().runAll(WorkPlace::BeforeProgram, WorkLists::beforeProgram(program), name);
}

bool UDiskUpWin::afterUpdateOperate(const programConfig_s &program)
{
    const QString name = PathDeal::getTargetName(program.path);

    if (upChecker->CheckBackupDataExist(program.beforeBackup)) {
        emit emitMessage(text(MsgRestoreComing).arg(name), Qt::black);
        backup_file_c restore(DIRECT_RECOVER);
        connect(&restore, &backup_file_c::emitMessage, this, &UDiskUpWin::updateOutMessage);
        if (!restore.getBackupFileInfo(
                backupRoot + QLatin1Char('/') + backup_file_c::CheckFileName)) {
            emit emitMessage(text(MsgRestoreListFailed).arg(name), Qt::red);
            return false;
        }
        emit emitMessage(text(MsgRestoreStarts).arg(name), Qt::black);
        if (!restore.backupFile(program.beforeBackup)) {
            emit emitMessage(text(MsgRestoreFailed).arg(name), Qt::red);
            return false;
        }
        hix::io::flush::runStep();
        emit emitMessage(text(MsgRestoreCopied).arg(name), Qt::black);
        if (!restore.checkBackupFile(DIRECT_RECOVER)) {
            emit emitMessage(text(MsgRestoreVerifyFailed).arg(name), Qt::red);
            return false;
        }
        emit emitMessage(text(MsgRestoreDone).arg(name), Qt::black);
        DeleteAllBackupData(backupRoot);
    }

    return phaseRunner().runAll(WorkPlace::AfterProgram, WorkLists::afterProgram(program), name);
}

bool UDiskUpWin::copyCheck(const copyFileInfo_s &copyInfo)
{
    bool beforeNoCondition = true;
    bool afterNoCondition = true;
    QVector<check_up_info_c::CheckFailure> failures;
    const bool before
        = upChecker->updateCheck(copyInfo.beforeCheck, false, beforeNoCondition, &failures);
    const bool after = upChecker->updateCheck(copyInfo.afterCheck, true, afterNoCondition);
    const int result = upChecker->updateCheckResult(before, after, afterNoCondition);
    if (result == check_up_info_c::CheckMayNotRun) {
        // The run goes on without the copy list: the log says which condition left it out.
        for (const QString &line :
            check_up_info_c::failureLines(QStringLiteral("COPYFILE_BEFORE_CHECK"), failures))
            emit emitMessage(line, Qt::black);
        if (showPage)
            inform(MsgNote, text(MsgCopyConditionsNotMet));
        return false;
    }
    if (result == check_up_info_c::CheckAlreadyDone) {
        if (ask(text(MsgAlreadyCopiedAskAgain)))
            return true;
        if (!ToolProcessCtrl::GetInstance()->setProcessStatus(PROCESS_COPY_FILE, STATUS_SUCCESS))
            stateWriteFailed = true;
        return false;
    }
    return true;
}

bool UDiskUpWin::executeCMD(std::vector<commondInfo_s> commands)
{
    return phaseRunner().runCommands(commands);
}
