#include "phase_runner.h"

#include "directory_library.h"
#include "file_io.h"
#include "file_operation.h"
#include "multilingual_manager.h"
#include "panel_path.h"
#include "parse_config_info.h"
#include "updater_messages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QProcess>

namespace {

constexpr int CommandPollMs = 100;

const std::array<WorkKindRow, 4> Table { {
    { WorkKind::Copy, PROCESS_COPY_FILE, { MsgCopyStarts, MsgCopyFailed, MsgCopyDone },
        { MsgBeforeCopyStarts, MsgBeforeCopyFailed, MsgBeforeCopyDone },
        { MsgAfterCopyStarts, MsgAfterCopyFailed, MsgAfterCopyDone }, 20, true },
    { WorkKind::Delete, PROCESS_DEL_FILE, { MsgDeleteStarts, MsgDeleteFailed, MsgDeleteDone },
        { MsgBeforeDeleteStarts, MsgBeforeDeleteFailed, MsgBeforeDeleteDone },
        { MsgAfterDeleteStarts, MsgAfterDeleteFailed, MsgAfterDeleteDone }, 25, true },
    { WorkKind::Grant, PROCESS_EXE_FILE, { MsgGrantStarts, MsgGrantFailed, MsgGrantDone },
        { MsgBeforeGrantStarts, MsgBeforeGrantFailed, MsgBeforeGrantDone },
        { MsgAfterGrantStarts, MsgAfterGrantFailed, MsgAfterGrantDone }, 30, true },
    { WorkKind::Commands, PROCESS_COMMAND, { MsgCommandsStart, MsgCommandsFailed, MsgCommandsDone },
        { MsgBeforeCommandsStart, MsgBeforeCommandsFailed, MsgBeforeCommandsDone },
        { MsgAfterCommandsStart, MsgAfterCommandsFailed, MsgAfterCommandsDone }, 35, false },
} };

} // namespace

const WorkTexts &WorkKindRow::texts(WorkPlace place) const
{
    switch (place) {
    case WorkPlace::BeforeProgram:
        return beforeProgram;
    case WorkPlace::AfterProgram:
        return afterProgram;
    case WorkPlace::Package:
        break;
    }
    return package;
}

const std::array<WorkKindRow, 4> &workKinds()
{
    return Table;
}

bool WorkLists::isEmpty(WorkKind kind) const
{
    switch (kind) {
    case WorkKind::Copy:
        return copy.copyFileData.empty();
    case WorkKind::Delete:
        return del.empty();
    case WorkKind::Grant:
        return exe.empty();
    case WorkKind::Commands:
        return commands.empty();
    }
    return true;
}

WorkLists WorkLists::ofPackage(const ParseConfigInfo &parser)
{
    return { parser.getCopyFileInfo(), parser.getDeleteFileInfo(), parser.getExeFileInfo(),
        parser.getCommondInfo() };
}

WorkLists WorkLists::beforeProgram(const programConfig_s &program)
{
    return { program.beforeCopy, program.beforeDel, program.beforeExe, program.beforeCmd };
}

WorkLists WorkLists::afterProgram(const programConfig_s &program)
{
    return { program.afterCopy, program.afterDel, program.afterExe, program.afterCmd };
}

PhaseRunner::PhaseRunner(file_operation_c &files, Say say)
    : files(files)
    , say(std::move(say))
{
}

QString PhaseRunner::textOf(int id, WorkPlace place, const QString &name) const
{
    const QString text = hix::text(id);
    return place == WorkPlace::Package ? text : text.arg(name);
}

bool PhaseRunner::run(
    const WorkKindRow &row, WorkPlace place, const WorkLists &lists, const QString &name)
{
    if (lists.isEmpty(row.kind))
        return true;
    const WorkTexts &texts = row.texts(place);
    say(textOf(texts.starts, place, name), Qt::black);
    if (!doWork(row.kind, lists)) {
        say(textOf(texts.failed, place, name), Qt::red);
        return false;
    }
    // What the work changed reaches the medium before its success is shown and recorded.
    if ((place == WorkPlace::Package || row.flushedAroundPrograms) && !hix::io::flush::runStep()) {
        qWarning() << "the changes of the phase did not reach the medium:" << ::strerror(errno);
        say(textOf(texts.failed, place, name), Qt::red);
        return false;
    }
    say(textOf(texts.done, place, name), Qt::black);
    return true;
}

bool PhaseRunner::runAll(WorkPlace place, const WorkLists &lists, const QString &name)
{
    for (const WorkKindRow &row : workKinds()) {
        if (!run(row, place, lists, name))
            return false;
    }
    return true;
}

bool PhaseRunner::doWork(WorkKind kind, const WorkLists &lists)
{
    switch (kind) {
    case WorkKind::Copy:
        if (lists.copy.delBeforeCopy) {
            // The destinations go first, whatever the outcome: the copy then starts from
            // nothing.
            for (const copyFileData_s &entry : lists.copy.copyFileData) {
                delFileInfo_s destination;
                destination.srcPath = entry.destPath;
                destination.mode = entry.mode;
                files.removeFile(destination, QString());
            }
        }
        return files.copyFile(lists.copy.copyFileData);
    case WorkKind::Delete:
        return files.removeFile(lists.del, QString());
    case WorkKind::Grant:
        return files.grantExeFile(lists.exe);
    case WorkKind::Commands:
        return runCommands(lists.commands);
    }
    return false;
}

bool PhaseRunner::runCommands(const std::vector<commondInfo_s> &commands)
{
    for (const commondInfo_s &command : commands) {
        // The line is split into a program and its arguments (blanks separate, double quotes
        // group); no shell sees it.
        QStringList words = QProcess::splitCommand(command.commond);
        QProcess process;
        bool finished = false;
        if (!words.isEmpty()) {
            const QString program = words.takeFirst();
            process.start(program, words, QIODevice::ReadWrite);
            if (process.waitForStarted()) {
                // No time limit, as for the program's own wait; the window stays alive meanwhile.
                while (process.state() != QProcess::NotRunning
                    && !process.waitForFinished(CommandPollMs))
                    QCoreApplication::processEvents();
                finished = process.exitStatus() == QProcess::NormalExit;
            }
        }
        if (!finished) {
            qDebug() << "command failed:" << command.commond << process.errorString();
            say(hix::text(MsgCommandFailed).arg(command.commond), Qt::red);
            return false;
        }
        // A command may write anywhere: the panel's own file systems and the stick's are synced
        // when the phase ends. The runtime comes first: its folder is flushed after the sync of
        // its file system, the one most commands write to.
        if (const char *runtime = Vexo_GetDirectory(VEXO_DIR_APP))
            hix::io::flush::noteFiles(QString::fromUtf8(runtime));
        hix::io::flush::noteFiles(hix::panelPath(QStringLiteral("/")));
        hix::io::flush::noteFiles(QDir::currentPath());
        if (!command.execResult.isEmpty() && command.execResult.toInt() != process.exitCode()) {
            qDebug() << "command" << command.commond << "exit code" << process.exitCode();
            say(hix::text(MsgCommandFailed).arg(command.commond), Qt::red);
            return false;
        }
    }
    return true;
}
