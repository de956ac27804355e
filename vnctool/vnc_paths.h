#pragma once

#include <QString>

// Fixed panel paths of the VNC tool. They name places on the panel; every use goes through
// hix::panelPath().
namespace VNC_SPACE {

extern const QString VNC_DEFAULT_USB_PATH;
extern const QString VNC_CONFIG_FILE;
extern const QString OLD_VNC_CONFIG_FILE;
extern const QString VNC_CONFIG_FILE_NAME;
extern const QString VNC_LIBRARY_FILE_DIR;
extern const QString VNC_LIBRARY_FILE;
extern const QString VNC_LIBRARY_FILE_NAME;
extern const QString VNC_ENV_FILE;
extern const QString VNC_ENV_FILE_NAME;

} // namespace VNC_SPACE

// The stick directory: the working directory, or the default stick when it cannot be read.
QString vncStickDirectory();

// The VNC server configuration in force: the current place if the file is there, else the older
// one (also when neither exists).
QString getVncConFile();
