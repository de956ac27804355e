#include "panel_path.h"

#include <QDir>
#include <QFile>

namespace hix {

QString sysroot()
{
    QString root = QString::fromUtf8(qgetenv(SysrootVariable));
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString panelPath(const QString &absolutePath)
{
    if (!absolutePath.startsWith(QLatin1Char('/')))
        return absolutePath;
    const QString root = sysroot();
    if (root.isEmpty() || root == QLatin1String("/"))
        return absolutePath;
    // Paths written with doubled separators ("//tmp//update.ini") map like their clean form.
    if (absolutePath.startsWith(root + QLatin1Char('/')))
        return absolutePath;
    return root + absolutePath;
}

QByteArray panelPathNative(const QString &absolutePath)
{
    return QFile::encodeName(panelPath(absolutePath));
}

} // namespace hix
