#pragma once

#include <QString>
#include <QStringList>

#include <string>

// Starts the programs of an update package fully detached from the updater: own session, no
// inherited descriptors, not a child of the updater.
class startProcess
{
public:
    enum { MaxArguments = 98 };

    // 0 when program was handed to a detached child, -1 when program is empty, missing or not a
    // regular file, -2 when no child could be created.
    static int startProc(const QString &workDir, const QString &program, const QStringList &args);

    // The standard output of a shell command. Only for fixed command texts: package or user
    // text never reaches a shell.
    static std::string doShellCmdSync(const std::string &cmd);
};
