// Delete lists and execute grants.
#include "file_operation.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

bool file_operation_c::removeFile(const std::vector<delFileInfo_s> &list, const QString &suffix)
{
    for (const delFileInfo_s &entry : list) {
        if (!removeFile(entry, suffix))
            return false;
    }
    return true;
}

bool file_operation_c::removeFile(const delFileInfo_s &entry, QString suffix)
{
    const QFileInfo target(entry.srcPath);
    if (!target.exists()) {
        report(MsgDeleteMissing, entry.srcPath, Qt::black);
        return true;
    }
    if ((entry.mode == 0) != target.isFile()) {
        report(MsgDeleteModeMismatch, entry.srcPath, Qt::red);
        return false;
    }
    switch (entry.mode) {
    case 0:
        return removeRegularFile(entry, suffix);
    case 1:
        return removeDirFile(entry, suffix);
    case 2:
        return removeDirRecursive(entry, suffix);
    default:
        return true;
    }
}

bool file_operation_c::removeRegularFile(const delFileInfo_s &entry, const QString &suffix)
{
    qDebug() << "remove file: " << entry.srcPath;
    if (!entry.srcPath.endsWith(suffix))
        return true;
    report(MsgDeletingFile, entry.srcPath, Qt::black);
    if (!QFileInfo::exists(entry.srcPath)) {
        report(MsgDeleteGone, entry.srcPath, Qt::black);
        return true;
    }
    if (!QFile::remove(entry.srcPath)) {
        report(MsgDeleteFailed, entry.srcPath, Qt::red);
        return false;
    }
    return true;
}

bool file_operation_c::removeDirFile(const delFileInfo_s &entry, const QString &suffix)
{
    report(MsgDeletingFolder, entry.srcPath, Qt::black);
    if (!QFileInfo(entry.srcPath).isDir()) {
        report(MsgDeleteGone, entry.srcPath, Qt::black);
        return true;
    }
    const QFileInfoList files = listEntries(entry.srcPath, QDir::Files);
    for (const QFileInfo &file : files) {
        if (!file.fileName().endsWith(suffix))
            continue;
        const QString path = file.absoluteFilePath();
        if (!QFileInfo::exists(path)) {
            report(MsgDeleteGone, path, Qt::black);
            continue;
        }
        report(MsgDeletingFile, path, Qt::black);
        if (!QFile::remove(path))
            report(MsgDeleteFailed, path, Qt::red);
    }
    return true;
}

bool file_operation_c::removeDirRecursive(const delFileInfo_s &entry, const QString &suffix)
{
    if (!QFileInfo(entry.srcPath).isDir()) {
        report(MsgDeleteGone, entry.srcPath, Qt::black);
        return true;
    }
    bool fileFailed = false;
    const QFileInfoList entries = listEntries(entry.srcPath, QDir::Files | QDir::Dirs);
    for (const QFileInfo &item : entries) {
        const QString path = item.absoluteFilePath();
        if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink()) {
            report(MsgDeleteGone, path, Qt::black);
            continue;
        }
        // A link inside the tree is removed as a link: following it would empty folders that
        // lie outside the tree being deleted.
        if (item.isDir() && !item.isSymLink()) {
            removeDirRecursive({ path, 2 }, suffix);
            continue;
        }
        if (!item.fileName().endsWith(suffix))
            continue;
        report(MsgDeletingFile, path, Qt::black);
        if (!QFile::remove(path)) {
            report(MsgDeleteFailed, path, Qt::red);
            fileFailed = true;
        }
    }
    if (fileFailed)
        return false;
    // A folder that still holds something (a subfolder that could not be emptied, files that
    // did not match the suffix) is not removed.
    return QDir().rmdir(entry.srcPath);
}

bool file_operation_c::grantExeFile(const std::vector<exeFileInfo_s> &list)
{
    for (const exeFileInfo_s &entry : list) {
        // The permission bits are changed directly, never through a shell: a package path is
        // taken as one name, whatever blanks or shell characters it holds.
        const QByteArray path = QFile::encodeName(entry.srcPath);
        struct stat status;
        if (::stat(path.constData(), &status) != 0
            || ::chmod(path.constData(), (status.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH)
                != 0) {
            qDebug() << "chmod a+x" << entry.srcPath << "failed:" << ::strerror(errno);
            report(MsgGrantFailed, entry.srcPath, Qt::red);
            return false;
        }
    }
    return true;
}
