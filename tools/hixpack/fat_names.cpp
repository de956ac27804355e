#include "fat_names.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>

namespace fat_names {

namespace {

QString nameProblem(const QString &name)
{
    static const QString forbidden = QStringLiteral("<>:\"\\|?*");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return QStringLiteral("holds the character '%1', which a FAT stick cannot store")
                .arg(c.unicode() < 0x20
                        ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                        : QString(c));
    }
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("ends in a dot or a blank, which a FAT stick drops");
    if (name.size() > 255)
        return QStringLiteral("is longer than the 255 characters of a FAT name");
    return QString();
}

} // namespace

QStringList problems(const QString &dir)
{
    QStringList found;
    const QDir root(dir);
    QHash<QString, QString> seen; // folder + case-folded name -> the first name met
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString &path : qAsConst(paths)) {
        const QFileInfo info(path);
        const QString relative = root.relativeFilePath(path);
        const QString problem = nameProblem(info.fileName());
        if (!problem.isEmpty())
            found << QStringLiteral("\"%1\" %2").arg(relative, problem);
        const QString key = info.path() + QLatin1Char('/') + info.fileName().toCaseFolded();
        const auto other = seen.constFind(key);
        if (other != seen.constEnd())
            found << QStringLiteral("\"%1\" and \"%2\" are one name on a FAT stick (no difference "
                                    "of case)")
                         .arg(other.value(), relative);
        else
            seen.insert(key, relative);
        if (info.isFile() && info.size() > LargestFile)
            found << QStringLiteral("\"%1\" is 4 GiB or larger: a FAT32 stick holds files up to "
                                    "4 GiB - 1 byte")
                         .arg(relative);
    }
    return found;
}

} // namespace fat_names
