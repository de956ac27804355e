#pragma once

#include <QString>

// The VNC password in the VNC server's configuration (group VNCCONFIG of getVncConFile()).
QString readVncPasswd();

// Writes runStatus=1, the password and shareMode=0; false when the file could not be written.
bool writeVncPasswd(const QString &passwd);
