#pragma once

#include "language_choice.h"

#include <QByteArray>
#include <QString>

// Start-up facts of the updater that do not need its window.

// The stick's root: the parent of the folder that holds the running program
// ("/media/usb0/hixupdateu/upgrunner.bin" gives "/media/usb0").
QString baseDirFromExePath(const QByteArray &exePath);

// Sets the library path to the application directory and makes it the working directory.
bool updateEnvPath();

// The language of the run: the command line's number, else the HMI project's "lan_setup.ini",
// and when that names no file on the stick, the launcher's "config/baseUpdateSet.ini".
LanguageChoice chooseLanguage(const QString &base, const QString &lanID);

// Puts the HMI runtime into the state the update needs (execCond 0 gone, 1 back in its setup
// state, other values untouched), waiting waitMs before stronger means. mayAsk lets the shutdown
// dialog offer its choices when the runtime refuses. False when the runtime could not be stopped:
// then the update must not start, or the runtime would go on writing the files it replaces.
bool prepareRuntime(int execCond, bool mayAsk, unsigned waitMs = 5000);

// The red line for an update that did not start because the runtime stayed: the failure head
// text followed by the step that did not complete ("[失败]正在退出应用程序，请稍候...").
QString runtimeNotStoppedText(int execCond);

constexpr const char *RunLogName = "/upgradeProcess.log";
constexpr const char *UpdaterProgramName = "upgrunner.bin";
