#pragma once

#include "language_choice.h"

#include <QByteArray>
#include <QString>

// The launcher's entry routine once the application object exists, and the start-up facts it
// needs before that.

// The folder that holds the running program; a path without "/" is used whole.
QString launcherDirFromExePath(const QByteArray &exePath);

struct LauncherSettings
{
    int toolLanguage = 0; // "/tool_language/type"
    int qwsTimeout = 0; // "/qws_detect/timeout", seconds
};

// "config/baseUpdateSet.ini" below the launcher folder; missing keys read as 0.
LauncherSettings readLauncherSettings(const QString &launcherDir);

// The HMI project's language when the stick has its file, else the tool language.
LanguageChoice chooseLauncherLanguage(const QString &launcherDir, int toolLanguage);

class ToolProcessCtrl;
class check_up_info_c;

// Whether the progress state of this package says its run ended: every phase it names
// succeeded, and the last program either finished or took the panel over and its
// after-conditions hold. Anything else is a run stopped half-way, to be resumed.
bool runHasFinished(const ToolProcessCtrl &state, check_up_info_c &checker, int programCount);

// Decides between an unreadable package, a fresh start and an interrupted or finished run, and
// acts on it. Returns the program's exit status.
int runLauncher(const QString &launcherDir, const LauncherSettings &settings);

constexpr const char *LauncherProgramName = "upgentry.bin";
