#include "vnc_paths.h"

#include "panel_path.h"
#include "vnc.h"

#include <QFileInfo>

namespace VNC_SPACE {

const QString VNC_DEFAULT_USB_PATH = QString::fromLatin1(hix::StickMountPoint);
const QString VNC_CONFIG_FILE = QStringLiteral("/etc/iot_cfg/vncConfig.ini");
const QString OLD_VNC_CONFIG_FILE = QStringLiteral("/usr/vexo_app/config/vncConfig.ini");
const QString VNC_CONFIG_FILE_NAME = QStringLiteral("vncConfig.ini");
const QString VNC_LIBRARY_FILE_DIR = QStringLiteral("/usr/plugins/gfxdrivers/");
const QString VNC_LIBRARY_FILE = QStringLiteral("/usr/plugins/gfxdrivers/libqgfxvnc.so");
const QString VNC_LIBRARY_FILE_NAME = QStringLiteral("libqgfxvnc.so");
const QString VNC_ENV_FILE = QStringLiteral("/etc/init.d/envs.d/99-vnc.env");
const QString VNC_ENV_FILE_NAME = QStringLiteral("99-vnc.env");

} // namespace VNC_SPACE

QString vncStickDirectory()
{
    const QString stick = vnc::getUDiskPath();
    return stick.isEmpty() ? hix::panelPath(VNC_SPACE::VNC_DEFAULT_USB_PATH) : stick;
}

QString getVncConFile()
{
    const QString current = hix::panelPath(VNC_SPACE::VNC_CONFIG_FILE);
    return QFileInfo::exists(current) ? current : hix::panelPath(VNC_SPACE::OLD_VNC_CONFIG_FILE);
}
