// The program loop of a run: each program with its conditions, its file work around it, its
// start, the wait for its end and the judgement of its reported result.
#include "udisk_up_win.h"

#include "check_result_service.h"
#include "check_up_info.h"
#include "multilingual_manager.h"
#include "my_kill_process.h"
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

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

// A text of the language table named by a description value, or the fallback when the value is
// empty.
QString textOr(const QString &idText, int fallback)
{
    return idText.isEmpty() ? text(fallback) : text(idText.toInt());
}

constexpr int MaxAttempts = 4;
constexpr useconds_t ProgramPollUs = 100000;

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
    for (int i = first; i < count; ++i) {
        // Only the program the state file names has finished; the ones after it have not run.
        if (i == first && resume == STATUS_SUCCESS)
            continue;
        resumingInterruptedProgram = i == first && firstInterrupted;
        const programConfig_s &program = programs[size_t(i)];
        const QString name = PathDeal::getTargetName(program.path);

        state->setProcessValue(ToolProcessCtrl::keyOf(PROCESS_CUR_PRO_INDEX), QString::number(i));
        state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_UNKNOWN);

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
        state->setProcessStatus(PROCESS_EXEC_RESULT, STATUS_SUCCESS);
        progressValue += 60 / count;
    }
    return true;
}

bool UDiskUpWin::updatePro(const programConfig_s &program, bool &stopAll)
{
    const QString name = PathDeal::getTargetName(program.path);
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
    if (program.execFailedLaterAction == 0) {
        emit emitMessage(failure, Qt::red);
        emit emitMessage(text(MsgProgramStopsRun).arg(name), Qt::red);
    } else {
        emit emitMessage(failure, Qt::black);
        emit emitMessage(text(MsgProgramRunGoesOn).arg(name), Qt::black);
    }
    return false;
}

void UDiskUpWin::waitForProgram(pid_t pid)
{
    while (pid > 0 && processRuns(pid)) {
        usleep(ProgramPollUs);
        QCoreApplication::processEvents();
    }
}
