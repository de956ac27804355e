#pragma once

#include "tool_process_ctrl.h"
#include "update_records.h"

#include <QColor>
#include <QString>

#include <array>
#include <functional>
#include <vector>

class ParseConfigInfo;
class file_operation_c;

// The four kinds of work a package asks for, package-wide and around each of its programs.
enum class WorkKind {
    Copy,
    Delete,
    Grant,
    Commands,
};

// Where a list of work stands in the run; each place announces it with texts of its own.
enum class WorkPlace {
    Package, // the package-wide phase, recorded in the progress state file
    BeforeProgram,
    AfterProgram,
};

// The texts of one list of work: its start, its failure and its success.
struct WorkTexts
{
    int starts;
    int failed;
    int done;
};

// One kind of work as every part of the run knows it.
struct WorkKindRow
{
    WorkKind kind;
    prcessNameEnum phase; // the package-wide phase's key in the progress state file
    WorkTexts package;
    WorkTexts beforeProgram;
    WorkTexts afterProgram;
    int progressAfter; // the run's progress once the package-wide phase is over
    // What the work changed is flushed before its success is said around a program too; a
    // package-wide phase is always flushed, its success is recorded in the state file.
    bool flushedAroundPrograms;

    const WorkTexts &texts(WorkPlace place) const;
};

// The table, in the order in which a run does the work. A new kind of work is a new row here,
// a list of it in WorkLists and its action in PhaseRunner::doWork.
const std::array<WorkKindRow, 4> &workKinds();

// The lists of one place: the package's own, or those of one program before or after it.
struct WorkLists
{
    copyFileInfo_s copy;
    std::vector<delFileInfo_s> del;
    std::vector<exeFileInfo_s> exe;
    std::vector<commondInfo_s> commands;

    bool isEmpty(WorkKind kind) const;

    static WorkLists ofPackage(const ParseConfigInfo &parser);
    static WorkLists beforeProgram(const programConfig_s &program);
    static WorkLists afterProgram(const programConfig_s &program);
};

// Runs lists of work the same way everywhere: the start text, the work, the flush, the done
// text; a failure says its failed text in red. The work reports its own steps through the
// file operation's and the commands' messages.
class PhaseRunner
{
public:
    using Say = std::function<void(const QString &text, const QColor &color)>;

    PhaseRunner(file_operation_c &files, Say say);

    // One kind of work of lists; name fills "%1" of the texts around a program. A kind whose
    // list is empty succeeds without a word.
    bool run(const WorkKindRow &row, WorkPlace place, const WorkLists &lists,
        const QString &name = QString());
    // Every kind in the table's order, around a program; stops at the first that fails.
    bool runAll(WorkPlace place, const WorkLists &lists, const QString &name);

    // The work of one kind, without its texts.
    bool doWork(WorkKind kind, const WorkLists &lists);
    // The command list: each command started without a shell and waited for, its exit code
    // compared with the expected one; stops at the first that fails (text 2040).
    bool runCommands(const std::vector<commondInfo_s> &commands);

private:
    QString textOf(int id, WorkPlace place, const QString &name) const;

    file_operation_c &files;
    Say say;
};
