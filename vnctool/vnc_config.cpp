#include "vnc_config.h"

#include "vnc_paths.h"

#include "file_io.h"

#include <QDebug>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

namespace {
const char *const VncGroup = "VNCCONFIG";
} // namespace

QString readVncPasswd()
{
    QSettings settings(getVncConFile(), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    return settings.value(QStringLiteral("/VNCCONFIG/passwd"), QString()).toString();
}

bool writeVncPasswd(const QString &passwd)
{
    const QString file = getVncConFile();
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    settings.beginGroup(QLatin1String(VncGroup));
    settings.setValue(QStringLiteral("runStatus"), 1);
    settings.setValue(QStringLiteral("passwd"), passwd);
    settings.setValue(QStringLiteral("shareMode"), 0);
    settings.endGroup();
    settings.sync();
    // The settings writer renames its new copy over the file: a new entry of the folder.
    hix::io::flush::noteFolder(QFileInfo(file).absolutePath());
    if (settings.status() != QSettings::NoError) {
        qWarning() << "vncsetup: cannot write" << file;
        return false;
    }
    return true;
}
