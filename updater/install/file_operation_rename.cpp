// The staged rename: commits staged files to their final names, setting installed ones aside.
#include "file_operation.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString SetAsideSuffix = QStringLiteral(".bak");

// One form for every name of a set-aside file, however the description wrote its folder.
QString absoluteName(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Renames a staged file over the installed one in a single step: at every moment one of the
// two is under the final name.
bool replaceInOneStep(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

void file_operation_c::claimSetAside(const QString &final, const QString &setAside)
{
    const QFileInfo name(setAside);
    if (QFileInfo::exists(final) && !name.exists() && !name.isSymLink())
        m_ownSetAside.insert(absoluteName(setAside));
}

bool file_operation_c::isOwnSetAside(const QString &path) const
{
    return m_ownSetAside.contains(absoluteName(path));
}

QStringList file_operation_c::ownSetAsides(bool existingOnly) const
{
    QStringList paths;
    for (const QString &path : m_ownSetAside) {
        if (!existingOnly || QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            paths << path;
    }
    paths.sort();
    return paths;
}

bool file_operation_c::moveEntry(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the no-replace rename still refuse to link over an existing name.
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    if (::unlink(source.constData()) != 0) {
        ::unlink(target.constData());
        return false;
    }
    return true;
}

bool file_operation_c::renameFile(const copyFileData_s &entry, const QString &suffix)
{
    bool result = true;
    switch (entry.mode) {
    case 0:
        qDebug() << "rename 0 ";
        result = renameRegualrFile(entry, suffix);
        break;
    case 1:
        qDebug() << "rename 1 ";
        result = renameDirName(entry, suffix);
        break;
    case 2:
        qDebug() << "rename 2 ";
        result = renameDirRecursive(entry, suffix);
        break;
    default:
        return true;
    }
    qDebug() << (result ? "success" : "fail");
    return result;
}

bool file_operation_c::renameFile(const std::vector<copyFileData_s> &list, const QString &suffix)
{
    for (const copyFileData_s &entry : list)
        renameFile(entry, suffix);
    return true;
}

bool file_operation_c::commitStaged(
    const QString &staged, const QString &final, const QString &setAside, MessageId vanishedMessage)
{
    m_touchedFolders.insert(QFileInfo(final).absolutePath());
    // Only a set-aside name this updater claimed is ever used: a file of that name that it did
    // not make (a copy kept by hand, another tool's) is never moved over, deleted or taken for
    // the installed file.
    const bool ownSetAside = isOwnSetAside(setAside);
    bool setAsideDone = false;
    // A run cut off between its two moves left the installed file only under its set-aside
    // name, with nothing under the final name: it is still the installed file until the new one
    // is in its place.
    bool setAsideByCut = false;
    bool oneStep = false;
    if (QFileInfo::exists(final) && ownSetAside) {
        qDebug() << "Rename : " << setAside;
        // A set-aside copy beside an installed file was left by a run cut off before its
        // clean-up: it is older than the installed file and the clean-up deletes it anyway.
        // Left in place it would block this move, and the staged copy would stay behind to be
        // taken for a staged file by the next update.
        if (QFileInfo(setAside).isFile() && !QFileInfo(setAside).isSymLink())
            QFile::remove(setAside);
        setAsideDone = moveEntry(final, setAside);
        m_bakFileList.push_back({ setAside, 0 });
    } else if (QFileInfo::exists(final)) {
        // The name was not free to claim: the staged file replaces the installed one at once.
        qDebug() << "Replace in one step: " << final;
        oneStep = true;
    } else if (ownSetAside && QFileInfo(setAside).isFile()) {
        setAsideByCut = true;
    }

    bool committed = false;
    if (!QFileInfo::exists(staged)) {
        report(vanishedMessage, staged, Qt::red);
    } else if (!(oneStep ? replaceInOneStep(staged, final) : moveEntry(staged, final))) {
        report(MsgRenameFailed, staged, Qt::red);
    } else {
        committed = true;
    }

    if (committed && setAsideByCut)
        m_bakFileList.push_back({ setAside, 0 });
    if (!committed && (setAsideDone || setAsideByCut)) {
        // The set-aside file is the only copy of the installed one: it goes back into place, and
        // when even that fails it stays under its set-aside name instead of being cleaned up.
        if (setAsideDone)
            m_bakFileList.pop_back();
        if (!moveEntry(setAside, final))
            qWarning() << "cannot put" << setAside << "back as" << final << ::strerror(errno)
                       << "; it is kept";
    }
    return committed;
}

bool file_operation_c::renameRegualrFile(const copyFileData_s &entry, const QString &suffix)
{
    qDebug() << "renameRegualrFile start.";
    const QString staged = entry.destPath + suffix;
    if (!QFileInfo::exists(staged) && m_alreadyInstalled.contains(entry.destPath)) {
        // Nothing was staged because the file already held its content: there is nothing to
        // commit, and a red line would tell the technician of a failure that did not happen.
        qDebug() << "already installed, nothing to rename:" << entry.destPath;
        return true;
    }
    if (!QFileInfo::exists(staged)) {
        qDebug() << "目地文件" << staged << "不存在,无法完成更名操作";
        report(MsgStagedMissing, staged, Qt::red);
        return false;
    }
    const QString final = QFileInfo(staged).absolutePath() + QLatin1Char('/')
        + QFileInfo(staged).completeBaseName();
    qDebug() << final;
    const bool committed = commitStaged(staged, final, final + SetAsideSuffix, MsgStagedVanished);
    qDebug() << "renameRegualrFile end.";
    return committed;
}

bool file_operation_c::renameDirName(const copyFileData_s &entry, const QString &suffix)
{
    if (!QFileInfo(entry.destPath).isDir()) {
        qDebug() << "目地文件夹" << entry.destPath << "不存在,无法完成更名操作";
        report(MsgRenameFolderMissing, entry.destPath, Qt::red);
        return false;
    }
    const QString folder = QFileInfo(entry.destPath).absoluteFilePath();
    const QFileInfoList files = listEntries(folder, QDir::Files);
    for (const QFileInfo &file : files) {
        if (!file.fileName().endsWith(suffix))
            continue;
        const QString final = file.absolutePath() + QLatin1Char('/') + file.completeBaseName();
        const QString staged = file.absolutePath() + QLatin1Char('/') + file.fileName();
        qDebug() << "fileTmp1 " << final;
        qDebug() << "fileTmp2 " << staged;
        if (!commitStaged(staged, final, staged + SetAsideSuffix, MsgRenameFailed))
            qDebug() << "文件" << staged << "更名到" << final << "失败";
    }
    return true;
}

bool file_operation_c::renameDirRecursive(const copyFileData_s &entry, const QString &suffix)
{
    if (!QFileInfo(entry.destPath).isDir()) {
        qDebug() << "dest folder" << entry.destPath << "not exist,cannot rename.";
        report(MsgRenameFolderMissing, entry.destPath, Qt::red);
        return false;
    }
    qDebug() << "rename dir file!";
    if (!renameDirName(entry, suffix)) {
        qDebug() << "rename dir file failed";
        return false;
    }
    // Child folders are named like the copy names them: the destination text followed directly
    // by the folder name. Without a trailing "/" on the destination the copy staged the source's
    // subfolders beside it (lib + x = libx/), so those are visited as well; otherwise their
    // staged files would never be committed.
    QMap<QString, QString> children; // folder name -> the child's folder to list further
    for (const QFileInfo &folder : listEntries(entry.destPath, QDir::Dirs))
        children.insert(folder.fileName(), folder.absoluteFilePath());
    if (!entry.destPath.endsWith(QLatin1Char('/')) && QFileInfo(entry.srcPath).isDir()) {
        for (const QFileInfo &folder : listEntries(entry.srcPath, QDir::Dirs)) {
            if (QFileInfo(entry.destPath + folder.fileName()).isDir())
                children.insert(folder.fileName(), folder.absoluteFilePath());
        }
    }
    for (auto child = children.cbegin(); child != children.cend(); ++child) {
        if (!QFileInfo::exists(child.value())) {
            qDebug() << "fileInfoTmp Folder" << entry.destPath << "not exist, failed";
            report(MsgSourceFolderMissing, entry.destPath, Qt::red);
            continue;
        }
        const copyFileData_s childData = childEntry(entry, child.key(), child.value());
        qDebug() << "srcPath:" << childData.srcPath;
        qDebug() << "destPath:" << childData.destPath;
        qDebug() << "copyDirRecursive";
        renameDirRecursive(childData, suffix);
    }
    return true;
}
