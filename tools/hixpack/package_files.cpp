#include "package_files.h"

#include "package_lint.h"
#include "panel_path.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString PackageFolder = QStringLiteral("hixupdateu");
const QString StickMount = QString::fromLatin1(hix::StickMountPoint) + QLatin1Char('/');

bool isInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

void walk(const QString &folder, const QString &prefix, const QString &root,
    const QStringList &skipTopLevel, QStringList &ancestors, package_files_c::Tree &tree)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString relative = prefix + entry.fileName();
        if (prefix.isEmpty() && skipTopLevel.contains(entry.fileName()))
            continue;
        if (entry.isSymLink()) {
            const QString target = entry.canonicalFilePath();
            if (target.isEmpty()) {
                tree.problems.append({ relative,
                    QStringLiteral("a link to \"%1\", which does not exist")
                        .arg(entry.symLinkTarget()) });
                continue;
            }
            if (!isInside(target, root)) {
                tree.problems.append({ relative,
                    QStringLiteral("a link that leads out of the package, to \"%1\"")
                        .arg(target) });
                continue;
            }
            const bool loops = std::any_of(ancestors.begin(), ancestors.end(),
                [&target](const QString &ancestor) { return isInside(ancestor, target); });
            if (entry.isDir() && loops) {
                tree.problems.append(
                    { relative, QStringLiteral("a link back into a folder it lies in (a loop)") });
                continue;
            }
        }
        if (entry.isDir()) {
            ancestors.append(entry.canonicalFilePath());
            walk(
                entry.filePath(), relative + QLatin1Char('/'), root, skipTopLevel, ancestors, tree);
            ancestors.removeLast();
        } else if (entry.isFile()) {
            tree.files.append({ relative, entry.filePath() });
        } else {
            tree.problems.append({ relative,
                QStringLiteral("neither a file nor a folder (a FIFO, socket or device)") });
        }
    }
}

// The path below the stick root that a description value names, or an empty text for a path
// off the stick. Relative values start in the package folder.
QString stickPath(const QString &value)
{
    if (value.isEmpty())
        return QString();
    QString path;
    if (value.startsWith(StickMount))
        path = value.mid(StickMount.size());
    else if (!QDir::isAbsolutePath(value))
        path = PackageFolder + QLatin1Char('/') + value;
    path = QDir::cleanPath(path);
    return path.isEmpty() || path == QLatin1String(".") || path.startsWith(QLatin1String("../"))
        ? QString()
        : path;
}

// Adds what a run reads for one source: a file, or a folder's files (all below it for mode 2).
void addSource(
    QMap<QString, QString> &files, const QString &stickRoot, const QString &value, int mode)
{
    const QString relative = stickPath(value);
    if (relative.isEmpty())
        return;
    const QString path = QDir(stickRoot).filePath(relative);
    const QFileInfo info(path);
    if (mode == 0) {
        if (info.isFile())
            files.insert(relative, path);
        return;
    }
    if ((mode != 1 && mode != 2) || !info.isDir())
        return;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System,
        mode == 2 ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(relative + QLatin1Char('/') + QDir(path).relativeFilePath(file), file);
    }
}

} // namespace

QVector<package_files_c::Entry> package_files_c::entries(
    const description_text_c &text, const QString &section, const QString &countKey)
{
    QVector<Entry> list;
    const int count = text.value(section, countKey).toInt();
    for (int n = 1; n <= count; ++n) {
        const QString number = QString::number(n);
        Entry entry;
        entry.src = text.key(section, QStringLiteral("SRCPATH") + number);
        if (!entry.src || entry.src->value.isEmpty())
            continue;
        entry.dest = text.key(section, QStringLiteral("DESTPATH") + number);
        if (!entry.dest)
            entry.dest = text.key(section, QStringLiteral("DSTPATH") + number);
        entry.mode = text.value(section, QStringLiteral("MODE") + number).toInt();
        list.append(entry);
    }
    return list;
}

QVector<package_files_c::Entry> package_files_c::copyEntries(const description_text_c &text)
{
    QVector<Entry> list;
    for (const description_text_c::Section &section : text.sections()) {
        if (package_lint_c::isCopySection(section.name))
            list += entries(text, section.name, QStringLiteral("COPYFILENUM"));
    }
    return list;
}

package_files_c::Tree package_files_c::scanTree(
    const QString &root, const QStringList &skipTopLevel)
{
    Tree tree;
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    QStringList ancestors { canonicalRoot };
    walk(root, QString(), canonicalRoot, skipTopLevel, ancestors, tree);
    return tree;
}

QMap<QString, QString> package_files_c::filesTheRunReads(
    const description_text_c &text, const QString &stickRoot)
{
    // New kinds of files the run reads (libraries, plug-ins) are added here; the manifest lists
    // whatever this returns.
    QMap<QString, QString> files;
    const int programs
        = text.value(QStringLiteral("UPDATE_CONFIG"), QStringLiteral("PROGRAM_NUM")).toInt();
    for (const Entry &entry : copyEntries(text))
        addSource(files, stickRoot, entry.src->value, entry.mode);
    for (int n = 1; n <= programs; ++n) {
        addSource(files, stickRoot,
            text.value(QStringLiteral("PROGRAM%1_CONFIG").arg(n), QStringLiteral("PATH")), 0);
        for (const Entry &entry :
            entries(text, QStringLiteral("PROGRAM%1_BEFORE_BACKUPFILE").arg(n),
                QStringLiteral("BACKUPFILENUM")))
            addSource(files, stickRoot, entry.src->value, entry.mode);
    }
    return files;
}
