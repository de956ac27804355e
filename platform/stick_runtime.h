#pragma once

#include <QString>

// A stick made by "hixpack build" carries what the programs need beyond the kernel and the C
// library in one folder at its root, "hixlib": the shared libraries (found through the programs'
// own run path, "$ORIGIN/hixlib" for the launcher at the root and "$ORIGIN/../hixlib" for the
// programs in "hixupdateu/"), Qt's plug-ins in "hixlib/plugins" and a font with its fontconfig
// file in "hixlib/fonts". A panel has no Qt 5, no fontconfig setup and no udev of its own, so a
// program started from such a stick tells Qt where these are before its QApplication exists.
//
// Nothing changes for a program that does not run from such a stick (a build folder, the tests),
// and whatever the environment already names (a platform, a font setup, an input device) is
// left as the technician or a test set it.
namespace hix {

constexpr const char *StickLibraryFolderName = "hixlib";

// The stick's library folder for a program in exeDir: "<exeDir>/hixlib" or "<exeDir>/../hixlib",
// the first that holds Qt's plug-ins; empty when neither does.
QString stickLibraryFolder(const QString &exeDir);

// An absolute pointing device among /dev/input/event*: "<node>" of a touch screen (it reports
// touches) in touchScreen, or "<node>" of an absolute pointer with buttons (a tablet) in
// pointer. Empty when there is none. inputDir is "/dev/input" on a panel.
void findAbsoluteInput(const QString &inputDir, QString *touchScreen, QString *pointer);

// To be called first in main(): when the program runs from a stick laid out as above, adds the
// stick's plug-in folder to Qt's library paths, points fontconfig at the stick's font, makes the
// framebuffer the default platform and names the touch screen to Qt's evdev input when the
// environment does not. Returns the library folder used, empty when the program does not run
// from such a stick.
QString useStickRuntime();

// A program started from the stick must go on, and say what happened, when the stick is pulled:
// what it has not read by then can never be read, and a page of its code that is not in memory
// ends it (SIGBUS). Reads in and locks in memory every mapping of the program itself and of the
// stick's library folder (code, the platform plug-in, the font) but ICU's data, 30 MiB that the
// programs do not read once they run. Called once the window has been painted, when the font is
// mapped. Returns the bytes locked: 0 when the program does not run from such a stick.
qint64 lockStickRuntime();

} // namespace hix
