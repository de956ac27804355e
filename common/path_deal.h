#pragma once

#include <QString>

class PathDeal
{
public:
    // The last component of a path: "a/b/" gives "b", "/" gives "", "update.ini" stays.
    static QString getTargetName(const QString &path);
};
