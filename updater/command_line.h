#pragma once

#include <QString>
#include <QStringList>

// The updater's command line. The launcher passes every option together with its value in ONE
// argument, separated by a blank ("-execond 1"); an option is recognised anywhere inside an
// argument, and later arguments override earlier ones.
struct CommandLine
{
    QString lanID;
    QString title;
    int execCond = 0;
    bool showUpdatePage = true;

    // args without the program name.
    static CommandLine parse(const QStringList &args);
    static CommandLine parse(int argc, char **argv);
};

// What the updater does with the running HMI runtime before the update.
enum EXEC_COND {
    EXEC_COND_EXIT = 0, // stop it completely
    EXEC_COND_TO_SETUP = 1, // return it to its setup state
};
