#include "system_restart.h"

#include "panel_path.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

#ifdef HIX_PANEL_BUILD
#include <sys/reboot.h>
#endif

namespace hix {

bool restartIsReal()
{
#ifdef HIX_PANEL_BUILD
    return sysroot().isEmpty();
#else
    return false;
#endif
}

static void recordRestartRequest()
{
    const QByteArray line = "restart requested by "
        + QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
        + " pid " + QByteArray::number(qint64(getpid())) + " at "
        + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + '\n';
    if (sysroot().isEmpty()) {
        fputs(line.constData(), stderr);
        return;
    }
    const QString logPath = panelPath(QStringLiteral("/var/log/restart.log"));
    QDir().mkpath(QFileInfo(logPath).path());
    QFile log(logPath);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        log.write(line);
        log.flush();
        fsync(log.handle());
    } else {
        fputs(line.constData(), stderr);
    }
}

int restartSystem()
{
#ifdef HIX_PANEL_BUILD
    if (restartIsReal()) {
        // The whole machine stops: what every program of the panel wrote goes to the medium
        // first, not only this system's files (those are on it already).
        sync();
        return reboot(RB_AUTOBOOT);
    }
#endif
    recordRestartRequest();
    return 0;
}

} // namespace hix
