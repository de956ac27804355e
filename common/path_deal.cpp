#include "path_deal.h"

QString PathDeal::getTargetName(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QString name = path;
    if (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? name : name.mid(slash + 1);
}
