#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QApplication;

// Start-up of the VNC tool, step by step so each choice can be checked on its own.
namespace vnc_startup {

// The language number of a single "-lanID <n>" argument, or -1.
int commandLineLanguage(const QStringList &arguments);

// Unscrambles the package's "vnc.ini" into the plain description; the old plain copy never
// survives, so a missing package leaves an empty description.
bool unscramblePackage(const QString &stickDir);

// language/lanId of the plain description, or -1.
int packageLanguage();

// The system language's file in the stick's language directory.
QString systemLanguageFile(const QString &stickDir);

// Loads the language table from the chosen file over the built-in table; returns the file.
QString loadLanguage(int cmdLanguage, int pkgLanguage, const QString &stickDir);

// The panel's access password: true when none is set or the operator typed it.
bool passAccessGate();

// Title-bar height for the program's windows: 40 pixels on a full-HD panel, else 0 (the
// platform's own).
int titleBarHeight(QSize screen);

// Installs the panel's window policy on the application, with the title-bar height for the
// screen.
void installWindowPolicy(QApplication &app, QSize screen);

// Application font size for the screen.
int applicationFontPixelSize(QSize screen);

// The whole start-up after the application exists; the program's exit code.
int run(QApplication &app);

} // namespace vnc_startup
