// The checks of a package's files beside its description: what the build would copy, names that
// cannot be staged on the panel and the manifest of a built stick.
#include "package_lint.h"

#include "package_files.h"
#include "package_manifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

// The longest file name the panel's file systems take, in bytes.
constexpr int NameMax = 255;
// A single file is staged as name.tmp and set aside as name.bak; a file of a copied folder is
// staged as name.tmp and set aside as name.tmp.bak.
constexpr int SingleFileExtra = 4;
constexpr int FolderFileExtra = 8;

} // namespace

void package_lint_c::checkPackageFiles()
{
    checkTree();
    checkStagingNames();
    checkManifest();
}

void package_lint_c::checkTree()
{
    const package_files_c::Tree tree = package_files_c::scanTree(
        packageDir, { descriptionFile, QStringLiteral("language"), QStringLiteral("config") });
    for (const package_files_c::Problem &problem : tree.problems)
        add(0,
            QStringLiteral("\"%1\" is %2: the build refuses it")
                .arg(problem.relative, problem.reason));
}

void package_lint_c::checkStagingNames()
{
    const auto tooLong
        = [](const QString &name, int extra) { return name.toUtf8().size() + extra > NameMax; };
    for (const package_files_c::Entry &entry : package_files_c::copyEntries(text)) {
        if (entry.mode == 0) {
            const QString name = entry.dest ? QFileInfo(entry.dest->value).fileName() : QString();
            if (tooLong(name, SingleFileExtra))
                add(entry.dest->line,
                    QStringLiteral("\"%1\" is too long to be staged as \"%1.tmp\" (more than %2 "
                                   "bytes): the copy fails on the panel")
                        .arg(name)
                        .arg(NameMax));
            continue;
        }
        if ((entry.mode != 1 && entry.mode != 2) || QDir::isAbsolutePath(entry.src->value))
            continue;
        QDirIterator it(packagePath(entry.src->value), QDir::Files | QDir::Hidden | QDir::System,
            entry.mode == 2 ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (it.hasNext()) {
            it.next();
            if (tooLong(it.fileName(), FolderFileExtra))
                add(entry.src->line,
                    QStringLiteral("\"%1\" is too long to be staged and set aside as "
                                   "\"%2.tmp.bak\" (more than %3 bytes): the copy fails on the "
                                   "panel")
                        .arg(QDir(packageDir).relativeFilePath(it.filePath()), it.fileName())
                        .arg(NameMax));
        }
    }
}

void package_lint_c::checkManifest()
{
    const QString path = QDir(packageDir).filePath(QLatin1String(PackageManifest::FileName));
    if (!QFileInfo::exists(path)) {
        if (text.wasScrambled() && QFileInfo(packageDir).fileName() == QLatin1String("hixupdateu"))
            warn(0,
                QStringLiteral("no \"%1\" beside the description: the updater cannot tell "
                               "a changed, cut short or missing file of the package "
                               "(hixpack build writes one)")
                    .arg(QLatin1String(PackageManifest::FileName)));
        return;
    }
    QFile file(path);
    PackageManifest manifest;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !manifest.parse(file.readAll(), &error)) {
        add(0,
            QStringLiteral("\"%1\" cannot be read (%2): the updater does not start")
                .arg(QLatin1String(PackageManifest::FileName), error));
        return;
    }
    const QString stickRoot = QDir::cleanPath(packageDir + QStringLiteral("/.."));
    const QMap<QString, QString> read = package_files_c::filesTheRunReads(text, stickRoot);
    for (const auto &item : manifest.all()) {
        const QString relative = QString::fromUtf8(item.first);
        PackageManifest::Entry actual;
        if (!fileDigest(QDir(stickRoot).filePath(relative), &actual) || actual != item.second)
            add(0,
                QStringLiteral("\"%1\" is not the file the manifest lists: %2")
                    .arg(relative,
                        read.contains(relative)
                            ? QStringLiteral("the updater stops the run")
                            : QStringLiteral("a panel with a key installed refuses the stick")));
    }
    for (auto it = read.cbegin(); it != read.cend(); ++it) {
        if (manifest.all().count(it.key().toUtf8()) == 0)
            add(0,
                QStringLiteral("\"%1\" is read by the update but not listed in the manifest: the "
                               "updater stops the run")
                    .arg(it.key()));
    }
}
