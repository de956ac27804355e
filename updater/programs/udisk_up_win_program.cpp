// The program loop of a run: each program with its conditions, its file work around it, its
// start, the wait for its end and the judgement of its reported result.
#include "udisk_up_win.h"

#include "check_result_service.h"
#include "check_up_info.h"
#include "multilingual_manager.h"
#include "my_kill_process.h"
#include "package_manifest.h"
#include "parse_config_info.h"
#include "path_deal.h"
#include "qsettings_factory.h"
#include "start_process.h"
#include "tool_process_ctrl.h"
#include "updater_messages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using hix::text;

namespace {

// A text of the language table named by a description value, or the fallback when the value is
// empty.
QString textOr(const QString &idText, int fallback)
{
    return idText.isEmpty() ? text(fallback) : text(idText.toInt());
}

constexpr int MaxAttempts = 4;
constexpr useconds_t ProgramPollUs = 100000;
// How long an earlier instance of a program gets to end after SIGTERM, and after SIGKILL.
constexpr int TermWaitMs = 3000;
constexpr int KillWaitMs = 2000;

// Whether the process still runs: signal 0 reaches it and it is not a zombie left for a parent
// that does not collect it.
bool processRuns(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

// Sends sig to a program and to what it started: the updater starts each program as the leader
// of a process group of its own.
void signalProgram(pid_t pid, int sig)
{
    if (getpgid(pid) == pid && kill(-pid, sig) == 0)
        return;
    kill(pid, sig);
}

// Waits until none of pids runs any more, keeping the window alive; false at the time limit.
bool waitUntilEnded(const QList<pid_t> &pids, int timeoutMs)
{
    for (int waited = 0;; waited += int(ProgramPollUs / 1000)) {
        if (std::none_of(pids.begin(), pids.end(), processRuns))
            return true;
        if (waited >= timeoutMs)
            return false;
        usleep(ProgramPollUs);
        QCoreApplication::processEvents();
    }
}

// Runs a callable when the scope is left, on every way out.
template<typename F> class ScopeExit
{
public:
    explicit ScopeExit(F f)
        : f(std::move(f))
    {
    }
    ~ScopeExit() { f(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

private:
    F f;
};

} // namespace

void UDiskUpWin::startCheckResultServer()
{
    if (checkResultService && !checkResultService->startCheckResultServer())
        qWarning() << "check-result service: port" << CheckResultService::DefaultPort
                   << "not served; programs cannot report";
}

void UDiskUpWin::stopCheckResultServer()
{
    if (checkResultService)
        checkResultService->stopCheckResultServer();
}

bool UDiskUpWin::isCheckResultServing() const
{
    return checkResultService && checkResultService->isRunning();
}

void UDiskUpWin::responseResult(int value)
{
    updateRes.store(value);
}

bool UDiskUpWin::updateProgram(std::vector<programConfig_s> &programs)
{
    // Backups, restores and their deletion work only in this panel's own backup folder, never
    // in an empty path (the working folder) nor in the stick's bare backup folder.
    if (backupRoot.isEmpty())
        backupRoot = ParseConfigInfo::panelBackupPath();
    if (backupRoot.isEmpty()) {
        emit emitMessage(text(MsgPanelIdUnreadable), Qt::red);
        return false;
    }
    configParser->setBackupRoot(backupRoot);

    const QString previousDir = QDir::currentPath();
    if (!QDir::setCurrent(QCoreApplication::applicationDirPath())) {
        emit emitMessage(text(MsgProgramDirFailed), Qt::red);
        return false;
    }
    startCheckResultServer();
    const ScopeExit restore([this, &previousDir] {
        stopCheckResultServer();
        QDir::setCurrent(previousDir);
    });

    ToolProcessCtrl *const state = ToolProcessCtrl::GetInstance();
    int first = 0;
    prcessStatuseEnum resume = STATUS_NOT_EXEC;
    if (state->isProcessCtrlIniExit()) {
        first = state->getProcessValue(ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX)).toInt();
        resume = state->getProcessStatus(PROCESS_EXEC_RESULT);
    }
    first = qMax(first, 0);
    // A program still marked "?" was cut off, or failed, while it was being worked on.
    const bool firstInterrupted = resume == STATUS_UNKNOWN
        && state->isContainKey(ToolProcessCtrl::keyOf(PROCESS_EXEC_RESULT));

    const int count = int(programs.size());
    const QString handedOver = QLatin1String(ToolProcessCtrl::HandedOverKey);
    for (int i = first; i < count; ++i) {
        // Only the program the state file names has finished; the ones after it have not run.
        if (i == first && resume == STATUS_SUCCESS)
            continue;
        resumingInterruptedProgram = i == first && firstInterrupted;
        currentProgram = i;
        const programConfig_s &program = programs[size_t(i)];
        const QString name = PathDeal::getTargetName(program.path);

        // A hand-over recorded by an earlier attempt says nothing about this one.
        if ((state->isContainKey(handedOver) && !state->removeCtrlIniKey(handedOver))
            || !state->setProcessValue(
                ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX), QString::number(i))
            || !state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_UNKNOWN)) {
            sayStateNotWritten();
            return false;
        }

        bool beforeNoCondition = true;
        bool afterNoCondition = true;
        QVector<check_up_info_c::CheckFailure> failures;
        const bool before
            = upChecker->updateCheck(program.beforeCheck, false, beforeNoCondition, &failures);
        const bool after = upChecker->updateCheck(program.afterCheck, true, afterNoCondition);
        const int result = upChecker->updateCheckResult(before, after, afterNoCondition);
        qDebug() << "updateCheckResult:" << result;

        if (result == check_up_info_c::CheckMayNotRun) {
            emit emitMessage(text(MsgConditionsNotMet).arg(name), Qt::red);
            for (const QString &line : check_up_info_c::failureLines(
                     QStringLiteral("PROGRAM%1_BEFORE_CHECK").arg(program.sectionNumber), failures))
                emit emitMessage(line, Qt::red);
            return false;
        }
        bool runProgram = result == check_up_info_c::CheckMayRun;
        if (result == check_up_info_c::CheckAlreadyDone
            && !upChecker->CheckBackupDataExist(program.beforeBackup))
            runProgram = ask(text(MsgAlreadyDoneAskAgain).arg(name));

        if (runProgram) {
            if (!beforeUpdateOperate(program)) {
                emit emitMessage(text(MsgBeforeOperationsFailed).arg(name), Qt::red);
                return false;
            }
            for (int attempt = 1;; ++attempt) {
                bool stopAll = false;
                if (!updatePro(program, stopAll)) {
                    emit emitMessage(text(MsgProgramRunFailed).arg(name), Qt::red);
                    return false;
                }
                if (stopAll)
                    return true;
                bool noCondition = true;
                if (afterNoCondition
                    || upChecker->updateCheck(program.afterCheck, true, noCondition))
                    break;
                if (attempt >= MaxAttempts) {
                    emit emitMessage(text(MsgAttemptsExhausted).arg(name), Qt::red);
                    return false;
                }
                if (showPage && !ask(text(MsgAfterNotMetAskAgain).arg(name))) {
                    emit emitMessage(text(MsgRetryDeclined).arg(name), Qt::red);
                    return false;
                }
            }
        }

        if (!afterUpdateOperate(program)) {
            emit emitMessage(text(MsgAfterOperationsFailed).arg(name), Qt::red);
            return false;
        }
        if (!state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_SUCCESS)) {
            sayStateNotWritten();
            return false;
        }
        progressValue += 60 / count;
    }
    return true;
}

bool UDiskUpWin::endEarlierInstances(const QString &name, const QStringList &files)
{
    QList<pid_t> running;
    for (const QString &file : files) {
        for (const pid_t pid : startProcess::runningInstances(file)) {
            if (processRuns(pid) && !running.contains(pid))
                running << pid;
        }
    }
    if (running.isEmpty())
        return true;
    // The run that started it was cut off (or the launcher was started again) while the program
    // hung: a second instance beside it would do the same work twice at the same time.
    qDebug() << "earlier instances of" << name << "still run:" << running;
    emit emitMessage(text(MsgEarlierInstanceEnding).arg(name), Qt::black);
    for (const pid_t pid : qAsConst(running))
        signalProgram(pid, SIGTERM);
    if (waitUntilEnded(running, TermWaitMs))
        return true;
    for (const pid_t pid : qAsConst(running))
        signalProgram(pid, SIGKILL);
    if (waitUntilEnded(running, KillWaitMs))
        return true;
    emit emitMessage(text(MsgEarlierInstanceNotEnded).arg(name), Qt::red);
    return false;
}

bool UDiskUpWin::updatePro(const programConfig_s &program, bool &stopAll)
{
    const QString name = PathDeal::getTargetName(program.path);
    // Only a program of the package itself: a system program named as PATH (a shell) may run
    // many times on the panel for reasons of its own.
    const QString canonicalProgram = QFileInfo(program.path).canonicalFilePath();
    const QString canonicalPackage = QFileInfo(packageFolder).canonicalFilePath();
    if (!canonicalPackage.isEmpty()
        && canonicalProgram.startsWith(canonicalPackage + QLatin1Char('/'))
        && !endEarlierInstances(name, { program.path, program.path + QStringLiteral(".tmp") }))
        return false;
    if (manifest && !manifest->relativePath(program.path).isEmpty()) {
        const PackageManifest::Entry *expected = manifest->find(program.path);
        PackageManifest::Entry actual;
        if (!expected || !fileDigest(program.path, &actual) || actual != *expected) {
            qWarning() << "program" << program.path << "differs from the manifest";
            emit emitMessage(text(MsgManifestMismatch).arg(name), Qt::red);
            return false;
        }
    }
    QString exe = program.path;
    if (program.isEncrypt) {
        exe = program.path + QStringLiteral(".tmp");
        if (!QSettingsFactory::decryptFile(program.path, exe, CRYPT_TYPE_FILE)) {
            emit emitMessage(text(MsgProgramDecryptFailed).arg(name), Qt::red);
            return false;
        }
    }
    const QByteArray exeNative = QFile::encodeName(exe);
    if (chmod(exeNative.constData(), 0755) != 0)
        qDebug() << "chmod 0755 failed:" << exe << strerror(errno);

    QStringList arguments = program.param;
    arguments << QStringLiteral("-lanID ") + lanId;

    const int slash = program.path.lastIndexOf(QLatin1Char('/'));
    const QString libraryDir = slash >= 0 ? program.path.left(slash + 1) : QString();
    if (setenv("LD_LIBRARY_PATH", libraryDir.toUtf8().constData(), 1) != 0) {
        emit emitMessage(text(MsgProgramEnvFailed).arg(name), Qt::red);
        qDebug() << "设置环境变量失败";
        return false;
    }

    // Each program is judged by its own report only: a program that reports nothing must never
    // pass on the report of the one before it.
    updateRes.store(CheckResultService::NoResult);
    const unsigned reportsBefore = checkResultService ? checkResultService->reportCount() : 0;
    // The launcher tells a run that handed the panel over to its last program from one cut off
    // in it by this mark; it is written before the program can take over.
    if (program.isExitQwsServer
        && !ToolProcessCtrl::GetInstance()->setProcessValue(
            QLatin1String(ToolProcessCtrl::HandedOverKey), QString::number(currentProgram))) {
        sayStateNotWritten();
        if (program.isEncrypt)
            QFile::remove(exe);
        return false;
    }
    pid_t pid = 0;
    const int started = startProcess::startProcWithPid(
        QCoreApplication::applicationDirPath(), exe, arguments, &pid);
    if (started != 0) {
        qDebug() << "program start failed:" << exe << started;
        emit emitMessage(textOr(program.startFailedMess, MsgProgramStartFailed).arg(name), Qt::red);
        if (program.isEncrypt)
            QFile::remove(exe);
        return false;
    }

    if (program.isExitQwsServer || program.isExitWait) {
        if (program.isExitQwsServer)
            my_kill_process::kill_process("qwsserver", SIGKILL);
        else
            ToolProcessCtrl::GetInstance()->removeCtrlIni();
        stopAll = true;
        programTookOver = true;
        return true;
    }

    emit emitMessage(text(MsgProgramStarted).arg(name), Qt::black);
    emit emitMessage(text(MsgProgramWaiting).arg(name), Qt::black);
    QCoreApplication::processEvents();
    hide();
    waitForProgram(pid);
    if (program.isEncrypt)
        QFile::remove(exe);
    if (showPage)
        show();

    const int reported = updateRes.load();
    qDebug() << name << "exec res is:" << reported;

    if (!program.isCheckResult) {
        emit emitMessage(text(MsgProgramCompleted).arg(name), Qt::black);
        return true;
    }
    if (program.successResult.toInt() == reported) {
        emit emitMessage(text(MsgProgramSucceeded).arg(name), Qt::black);
        if (program.execSuccessLaterAction != 0) {
            emit emitMessage(text(MsgProgramCompleted).arg(name), Qt::black);
            return true;
        }
        stopAll = true;
        emit emitMessage(text(MsgProgramStopsRun).arg(name), Qt::black);
        return true;
    }
    const QString failure = textOr(program.execFailedMess, MsgProgramFailed).arg(name);
    const bool reportedSomething
        = checkResultService && checkResultService->reportCount() != reportsBefore;
    const QString why = reportedSomething
        ? text(MsgProgramReportedOther).arg(name).arg(reported).arg(program.successResult.toInt())
        : text(MsgProgramReportedNothing).arg(name);
    const QColor color = program.execFailedLaterAction == 0 ? Qt::red : Qt::black;
    emit emitMessage(failure, color);
    emit emitMessage(why, color);
    emit emitMessage(
        text(program.execFailedLaterAction == 0 ? MsgProgramStopsRun : MsgProgramRunGoesOn)
            .arg(name),
        color);
    return false;
}

void UDiskUpWin::waitForProgram(pid_t pid)
{
    while (pid > 0 && processRuns(pid)) {
        usleep(ProgramPollUs);
        QCoreApplication::processEvents();
    }
}
