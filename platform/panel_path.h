#pragma once

#include <QByteArray>
#include <QString>

// Every fixed path of the panel ("/usr/vexo_app", "/media/usb0", "/tmp/update.ini", ...) goes
// through panelPath(). On the panel the path comes back unchanged; on a development machine or
// in a test the environment variable HIX_SYSROOT names a folder that stands in for the panel's
// root, so nothing outside it is ever touched.
namespace hix {

constexpr const char *SysrootVariable = "HIX_SYSROOT";

// Where the panel mounts the update stick unless the environment names another place.
constexpr const char *StickMountPoint = "/media/usb0";

// The sysroot in force, empty on the panel.
QString sysroot();

// Maps a fixed absolute panel path into the sysroot. Relative paths are returned unchanged.
QString panelPath(const QString &absolutePath);

// The same, as bytes for the C library (UTF-8).
QByteArray panelPathNative(const QString &absolutePath);

} // namespace hix
