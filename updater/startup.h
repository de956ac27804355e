#pragma once

#include <QByteArray>
#include <QString>

// Start-up facts of the updater that do not need its window.

// The stick's root: the parent of the folder that holds the running program
// ("/media/usb0/hixupdateu/upgrunner.bin" gives "/media/usb0").
QString baseDirFromExePath(const QByteArray &exePath);

// Sets the library path to the application directory and makes it the working directory.
bool updateEnvPath();

struct LanguageChoice
{
    QString lanID; // passed on to every program the updater starts
    QString languageFile; // base + "/language/" + lanID + ".lan"
};

// The language of the run: the command line's number, else the HMI project's "lan_setup.ini",
// and when that file does not exist either, the launcher's "config/baseUpdateSet.ini".
LanguageChoice chooseLanguage(const QString &base, const QString &lanID);

// The project folder whose "lan_setup.ini" names the panel's language.
QString projectDir();

// Puts the HMI runtime into the state the update needs (execCond 0 gone, 1 back in its setup
// state, other values untouched), waiting waitMs before stronger means. mayAsk lets the shutdown
// dialog offer its choices when the runtime refuses. False when the runtime could not be stopped:
// then the update must not start, or the runtime would go on writing the files it replaces.
bool prepareRuntime(int execCond, bool mayAsk, unsigned waitMs = 5000);

// The red line for an update that did not start because the runtime stayed: the failure head
// text followed by the step that did not complete ("[失败]正在退出应用程序，请稍候...").
QString runtimeNotStoppedText(int execCond);

constexpr const char *BuiltinLanguageTable = ":/new/prefix1/resource/lan/0000.lan";
constexpr const char *RunLogName = "/upgradeProcess.log";
constexpr const char *UpdaterProgramName = "upgrunner.bin";
