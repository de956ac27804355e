#pragma once

#include <QString>
#include <QStringList>

#include <QList>

#include <string>
#include <sys/types.h>

// Starts the programs of an update package fully detached from the updater: own session, no
// inherited descriptors, not a child of the updater.
class startProcess
{
public:
    enum { MaxArguments = 98 };

    // 0 when program was handed to a detached child, -1 when program is empty, missing or not a
    // regular file, -2 when no child could be created.
    static int startProc(const QString &workDir, const QString &program, const QStringList &args);

    // As startProc, and the started program's process id in startedPid once the program really
    // runs (its exec succeeded; a "#!" script runs as its interpreter under that id). -3 when
    // the exec failed (not executable, a folder, a missing interpreter); -2 also when the
    // program's id could not be learned.
    static int startProcWithPid(
        const QString &workDir, const QString &program, const QStringList &args, pid_t *startedPid);

    // Processes other than the caller that an updater started from program (an argument of
    // theirs is the language option "-lanID NNNN"): its executable, or a script run by its
    // interpreter (the script's path as the interpreter's first argument).
    static QList<pid_t> runningInstances(const QString &program);

    // The standard output of a shell command. Only for fixed command texts: package or user
    // text never reaches a shell.
    static std::string doShellCmdSync(const std::string &cmd);

private:
    static int start(
        const QString &workDir, const QString &program, const QStringList &args, pid_t *startedPid);
};
