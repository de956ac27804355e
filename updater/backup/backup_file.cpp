#include "backup_file.h"

#include "backup_detail.h"
#include "directory_library.h"
#include "file_io.h"
#include "file_operation.h"
#include "multilingual_manager.h"
#include "path_deal.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using hix::text;

namespace {

constexpr int BlockSize = 4096;
// A restored file is written beside the panel file under this name and renamed over it once it
// is whole. Not ".tmp": a folder copy would take such a file for one of its own staged files.
const QString RestoreSuffix = QStringLiteral(".restoring");
// Restored files are staged in batches: one flush of the panel's file system puts the data of a
// whole batch on the medium before its renames, instead of one flush per file. The bounds keep
// the room the staged copies take beside the panel files small.
constexpr size_t RestoreBatchFiles = 1000;
constexpr qint64 RestoreBatchBytes = 16 << 20;

} // namespace

namespace backup_detail {

QString runtimeFolder()
{
    const char *folder = Vexo_GetDirectory(VEXO_DIR_APP);
    return QString::fromUtf8(folder ? folder : "");
}

QByteArray nativePath(const QString &path)
{
    return path.toUtf8();
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QFileInfoList listFolder(const QString &folder, QDir::Filters kinds)
{
    QDir dir(folder);
    QFileInfoList entries = dir.entryInfoList(
        kinds | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Readable | QDir::Writable,
        QDir::NoSort);
    std::sort(entries.begin(), entries.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    return entries;
}

} // namespace backup_detail

using namespace backup_detail;

const char *const backup_file_c::CheckFileName = "backupFileCheck.ini";

backup_file_c::backup_file_c(BACKUP_DIRECT direct, QObject *parent)
    : QObject(parent)
    , m_direct(direct)
{
}

void backup_file_c::message(int id, const QString &path, const QColor &color)
{
    emit emitMessage(text(id).arg(PathDeal::getTargetName(path)), color);
}

void backup_file_c::insertRecord(
    const QString &key, const QString &src, const QString &dst, const QString &crc)
{
    backupFileInfo_s record;
    record.srcPath = src;
    record.dstPath = dst;
    record.backupCrc = crc;
    record.mode = 0;
    record.existCheck = false;
    m_backupMap[key] = record;
}

bool backup_file_c::getBackupFileList(const std::vector<backupFileInfo_s> &list)
{
    for (const backupFileInfo_s &entry : list) {
        const QFileInfo source(entry.srcPath);
        if (!source.exists()) {
            if (entry.existCheck) {
                message(MsgRequiredSourceMissing, entry.srcPath);
                return false;
            }
            continue;
        }
        if ((entry.mode == 0) != source.isFile()) {
            message(MsgModeMismatch, entry.srcPath);
            return false;
        }
        bool ok = true;
        switch (entry.mode) {
        case 0:
            ok = getRegualFileList(entry);
            break;
        case 1:
            ok = getDirFileList(entry);
            break;
        case 2:
            ok = getDirRecursiveList(entry);
            break;
        default:
            continue;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool backup_file_c::getRegualFileList(const backupFileInfo_s &entry)
{
    if (!QFileInfo::exists(entry.srcPath)) {
        if (!entry.existCheck)
            return true;
        message(MsgSourceFileMissing, entry.srcPath);
        qDebug() << QString::fromUtf8("%1文件不存在...").arg(entry.srcPath);
        return false;
    }
    const QString crc = backupCheckFile(entry.srcPath);
    // A file that cannot be read now would be saved as an empty folder and pass every later
    // check while its data is lost: the backup stops here instead.
    if (crc.isEmpty()) {
        message(MsgSourceCrcFailed, entry.srcPath);
        qDebug() << QString::fromUtf8("源%1文件CRC校验失败").arg(entry.srcPath);
        return false;
    }
    insertRecord(entry.dstPath, entry.srcPath, entry.dstPath, crc);
    return true;
}

bool backup_file_c::listFilesOf(const backupFileInfo_s &entry, bool *added)
{
    *added = false;
    for (const QFileInfo &file : listFolder(entry.srcPath, QDir::Files)) {
        const QString dst = entry.dstPath + file.fileName();
        const QString crc = backupCheckFile(file.absoluteFilePath());
        if (crc.isEmpty()) {
            message(MsgSourceCrcFailed, file.absoluteFilePath());
            qDebug() << QString::fromUtf8("源%1文件CRC校验失败").arg(file.absoluteFilePath());
            return false;
        }
        insertRecord(dst, file.absoluteFilePath(), dst, crc);
        *added = true;
    }
    return true;
}

bool backup_file_c::getDirFileList(const backupFileInfo_s &entry)
{
    if (!QFileInfo(entry.srcPath).isDir()) {
        if (!entry.existCheck)
            return true;
        message(MsgSourceFolderMissing, entry.srcPath);
        qDebug() << QString::fromUtf8("%1文件夹不存在...").arg(entry.srcPath);
        return false;
    }
    bool added = false;
    if (!listFilesOf(entry, &added))
        return false;
    // An empty folder is still part of the tree and must come back.
    if (!added)
        insertRecord(entry.dstPath, entry.srcPath, entry.dstPath, QString());
    return true;
}

bool backup_file_c::getDirRecursiveList(const backupFileInfo_s &entry)
{
    // A missing folder is judged as it is for a copy of a folder's top level.
    if (!QFileInfo(entry.srcPath).isDir())
        return getDirFileList(entry);
    if (!getDirFileList(entry)) {
        qDebug() << "backup dir file failed";
        return false;
    }
    for (const QFileInfo &folder : listFolder(entry.srcPath, QDir::Dirs)) {
        if (!QFileInfo::exists(folder.absoluteFilePath())) {
            qDebug() << QString("fileInfoTmp Folder %1 not exist, failed").arg(entry.srcPath);
            message(MsgSubfolderVanished, entry.srcPath);
            continue;
        }
        // A linked folder that leads back into its own ancestors would repeat the tree until
        // the path grows too long; its content is already saved where it really lives.
        if (folder.isSymLink()) {
            const QString target = folder.canonicalFilePath();
            const QString here = QFileInfo(entry.srcPath).canonicalFilePath();
            if (here == target || here.startsWith(target + QLatin1Char('/'))) {
                qWarning() << "not following folder link" << folder.absoluteFilePath();
                continue;
            }
        }
        backupFileInfo_s child;
        child.srcPath = folder.absoluteFilePath() + QLatin1Char('/');
        child.dstPath = entry.dstPath + folder.fileName() + QLatin1Char('/');
        child.mode = 2;
        child.existCheck = false;
        if (!getDirRecursiveList(child))
            return false;
    }
    return true;
}

bool backup_file_c::generateCheckFile(const QString &path)
{
    m_checkFolder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        qWarning() << "cannot replace the check file" << path;
        return false;
    }
    hix::io::flush::noteNewFolders(QFileInfo(path).absolutePath());
    if (!hix::io::flush::beforeSettingsWrite(path)) {
        qWarning() << "cannot write back the stick before the check file" << path;
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    int n = 1;
    for (const auto &item : m_backupMap) {
        const QString group = QStringLiteral("/File%1/").arg(n++);
        settings.setValue(group + QLatin1String("srcPath"), item.second.srcPath);
        settings.setValue(group + QLatin1String("destPath"), item.second.dstPath);
        settings.setValue(group + QLatin1String("crc32"), item.second.backupCrc);
    }
    settings.sync();
    // The settings writer flushes its new copy and renames it over the check file; the new name
    // goes to the stick with the backup.
    hix::io::flush::noteFolder(QFileInfo(path).absolutePath());
    // A check file that never reached the stick would make a later restore impossible.
    if (settings.status() != QSettings::NoError) {
        qWarning() << "cannot write the check file" << path;
        return false;
    }
    return true;
}

bool backup_file_c::restoresRuntimeFolder(const std::vector<backupFileInfo_s> &list) const
{
    const QString runtime = runtimeFolder();
    return std::any_of(list.begin(), list.end(), [&](const backupFileInfo_s &entry) {
        return entry.srcPath == runtime || entry.srcPath == runtime + QLatin1Char('/');
    });
}

bool backup_file_c::backupFile(const std::vector<backupFileInfo_s> &list)
{
    bool ok;
    if (m_direct == DIRECT_RECOVER && restoresRuntimeFolder(list))
        ok = backupFile() && recoverVexo_app();
    else
        ok = backupFile();
    // The program may change the backed-up files as soon as this returns, and the driver deletes
    // the backup once a restore has returned: either way what was written must be on the medium.
    if (ok && !hix::io::flush::runStep()) {
        qWarning() << "cannot flush the backup or restore to the medium" << errorText(errno);
        ok = false;
    }
    if (ok) {
        m_removeList.clear();
        return true;
    }
    qDebug() << "backup file failed.";
    emit emitMessage(text(MsgCleanupStarts));
    removeFailedCopies();
    emit emitMessage(text(MsgCleanupDone));
    return false;
}

void backup_file_c::removeFailedCopies()
{
    // Only copies that failed their own verification are removed; the driver removes the
    // whole backup folder after a failed backup. The delete's own messages stay unconnected.
    file_operation_c remover;
    if (!remover.removeFile(m_removeList, QString()))
        qWarning() << "cannot remove every copy that failed its check";
}

bool backup_file_c::backupFile()
{
    bool ok = true;
    for (const auto &item : m_backupMap) {
        const backupFileInfo_s &record = item.second;
        if (record.backupCrc.isEmpty()) {
            if (QFileInfo(record.dstPath).isDir())
                continue;
            if (!makeFolder(record.dstPath)) {
                message(MsgCreateFolderFailed, record.dstPath);
                qDebug() << QString("create %1 failed").arg(record.dstPath);
                ok = false;
                break;
            }
            continue;
        }
        if (!backupBaseFile(record.srcPath, record.dstPath)) {
            message(MsgCopyFileFailed, record.srcPath);
            qDebug() << "backup backupBaseFile failed";
            ok = false;
            break;
        }
    }
    // Restored files verified before a failure still take their places, as they did when each
    // was renamed at once.
    return commitRestores() && ok;
}

// A backup's folders are made only inside the folder of its check file: once the stick is
// pulled that folder is gone with it, and making it again would put the backup on the panel's own
// disk, under the empty mount point.
bool backup_file_c::makeFolder(const QString &path)
{
    if (!m_checkFolder.isEmpty() && !QFileInfo(m_checkFolder).isDir()) {
        qWarning() << "the backup folder is gone, with its stick:" << m_checkFolder;
        return false;
    }
    hix::io::flush::noteNewFolders(path);
    return QDir().mkpath(path);
}

bool backup_file_c::backupBaseFile(const QString &src, const QString &dst)
{
    const QString folder = QFileInfo(dst).absolutePath();
    if (!QFileInfo(folder).isDir() && !makeFolder(folder)) {
        message(MsgCreateParentFailed, folder);
        qDebug() << QString("create %1 failed").arg(folder);
        return false;
    }
    const QString srcCrc = backupCheckFile(src);
    if (srcCrc.isEmpty()) {
        message(MsgSourceCrcFailed, src);
        qDebug() << QString::fromUtf8("源%1文件CRC校验失败").arg(src);
        return false;
    }
    message(m_direct == DIRECT_BACKUP ? MsgBackingUp : MsgRestoring, src);
    if (m_direct == DIRECT_RECOVER)
        return restoreBaseFile(src, dst, srcCrc);
    if (!readWriteData(src, dst))
        return false;
    // Saved copies are not flushed one by one: the backup ends with one flush of all of them.
    hix::io::flush::noteFiles(dst);
    hix::io::flush::noteFolder(folder);
    QCoreApplication::processEvents();

    const QString dstCrc = backupCheckFile(dst);
    if (dstCrc.isEmpty()) {
        message(MsgTargetCrcFailed, dst);
        qDebug() << QString::fromUtf8("目标%1文件CRC校验失败").arg(dst);
        m_removeList.push_back(delFileInfo_s { dst, 0 });
        return false;
    }
    if (srcCrc.compare(dstCrc, Qt::CaseInsensitive) != 0) {
        message(MsgCrcMismatch, src);
        qDebug() << QString::fromUtf8("%1文件和%2文件CRC32校验不匹配").arg(src, dst);
        m_removeList.push_back(delFileInfo_s { dst, 0 });
        return false;
    }
    return true;
}

bool backup_file_c::restoreBaseFile(const QString &src, const QString &dst, const QString &srcCrc)
{
    // The operator's file is never rewritten in place: on a full panel that would leave it cut
    // short. The saved copy is written beside it and replaces it in one rename once it is whole;
    // until then the file on the panel stays as it was. A link on the panel keeps leading to
    // the file it names, which is the one restored.
    const QFileInfo panelFile(dst);
    const QString target
        = panelFile.isSymLink() && panelFile.exists() ? panelFile.canonicalFilePath() : dst;
    const QString staged = target + RestoreSuffix;
    const auto failed = [&] {
        if (QFileInfo::exists(staged) && !QFile::remove(staged))
            qWarning() << "cannot remove" << staged;
        emit emitMessage(
            text(MsgRestoreKeptPrevious).arg(PathDeal::getTargetName(dst)), QColor(Qt::red));
        return false;
    };
    if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) {
        message(MsgOpenTargetFailed, dst);
        return failed();
    }
    if (!readWriteData(src, staged))
        return failed();
    QCoreApplication::processEvents();

    const QString stagedCrc = backupCheckFile(staged);
    if (stagedCrc.isEmpty()) {
        message(MsgTargetCrcFailed, dst);
        qDebug() << QString::fromUtf8("目标%1文件CRC校验失败").arg(staged);
        return failed();
    }
    if (srcCrc.compare(stagedCrc, Qt::CaseInsensitive) != 0) {
        message(MsgCrcMismatch, src);
        qDebug() << QString::fromUtf8("%1文件和%2文件CRC32校验不匹配").arg(src, staged);
        return failed();
    }
    hix::io::flush::noteFiles(staged);
    hix::io::flush::noteFolder(QFileInfo(staged).absolutePath());
    m_stagedRestores.emplace_back(staged, target);
    m_stagedRestoreBytes += QFileInfo(staged).size();
    if (m_stagedRestores.size() >= RestoreBatchFiles || m_stagedRestoreBytes >= RestoreBatchBytes)
        return commitRestores();
    return true;
}

bool backup_file_c::commitRestores()
{
    std::vector<std::pair<QString, QString>> batch;
    batch.swap(m_stagedRestores);
    m_stagedRestoreBytes = 0;
    if (batch.empty())
        return true;
    const auto keepPrevious = [this, &batch](size_t from) {
        for (size_t i = from; i < batch.size(); ++i) {
            if (QFileInfo::exists(batch[i].first) && !QFile::remove(batch[i].first))
                qWarning() << "cannot remove" << batch[i].first;
            emit emitMessage(
                text(MsgRestoreKeptPrevious).arg(PathDeal::getTargetName(batch[i].second)),
                QColor(Qt::red));
        }
        return false;
    };
    // A rename must never reach the medium before the data it names: the staged copies go first.
    if (!hix::io::flush::runStep()) {
        qWarning() << "cannot flush the restored files to the medium" << errorText(errno);
        return keepPrevious(0);
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        const QString &staged = batch[i].first;
        const QString &target = batch[i].second;
        // The restored file takes the place of the panel file with its owner and permission
        // bits.
        struct stat installed;
        if (::stat(nativePath(target).constData(), &installed) == 0 && S_ISREG(installed.st_mode)) {
            if (::chown(nativePath(staged).constData(), installed.st_uid, installed.st_gid) != 0)
                qDebug() << "cannot keep the owner of" << target << errorText(errno);
            if (::chmod(nativePath(staged).constData(), installed.st_mode & 01777) != 0)
                qDebug() << "cannot keep the mode of" << target << errorText(errno);
        }
        if (::rename(nativePath(staged).constData(), nativePath(target).constData()) != 0) {
            qWarning() << "cannot rename" << staged << "to" << target << errorText(errno);
            return keepPrevious(i);
        }
        // The new name is an entry of the folder: it goes with the flush that ends the restore.
        hix::io::flush::noteFolder(QFileInfo(target).absolutePath());
    }
    return true;
}

bool backup_file_c::readWriteData(const QString &src, const QString &dst)
{
    const hix::io::Fd in = hix::io::openRegularForReading(src);
    if (!in.isOpen()) {
        message(MsgOpenSourceFailed, src);
        return false;
    }
    const qint64 expected = qMax<qint64>(hix::io::sizeOf(in.get()), 0);

    hix::io::Fd out = hix::io::createForWriting(dst, 0755);
    if (!out.isOpen()) {
        message(MsgOpenTargetFailed, dst);
        return false;
    }
    char buffer[BlockSize];
    switch (hix::io::copyBytes(
        in.get(), out.get(), expected, buffer, sizeof(buffer), hix::io::CopyEnd::AtEndOfFile)) {
    case hix::io::CopyFailure::None:
        break;
    case hix::io::CopyFailure::ReadFailed:
    case hix::io::CopyFailure::EndedEarly:
        // A file that shrank while it was read was not saved whole.
        emit emitMessage(text(MsgReadFailed).arg(PathDeal::getTargetName(src), errorText(errno)));
        return false;
    case hix::io::CopyFailure::WriteFailed:
        emit emitMessage(text(MsgWriteFailed) + errorText(errno));
        return false;
    }
    return true;
}

bool backup_file_c::writeData(int &fd, char *buffer, int length)
{
    if (hix::io::writeAll(fd, buffer, size_t(qMax(length, 0))))
        return true;
    emit emitMessage(text(MsgWriteFailed) + errorText(errno));
    return false;
}

QString backup_file_c::backupCheckFile(const QString &path)
{
    quint32 crc = 0;
    if (!hix::io::fileCrc32(path, &crc))
        return QString();
    return QString::number(crc, 16).toUpper();
}

QString backup_file_c::expectedCrcAfterRepair(const backupFileInfo_s &record, QString *path) const
{
    // The runtime repair renames versioned library files onto their short names: a record's
    // file may now live under another name, and a short name holds the content of the last
    // file renamed onto it.
    *path = record.dstPath;
    QString crc = record.backupCrc;
    const QString written = QDir::cleanPath(record.dstPath);
    for (const auto &rename : m_renamed) {
        if (rename.first == written)
            *path = rename.second;
    }
    const QString finalPath = QDir::cleanPath(*path);
    for (const auto &rename : m_renamed) {
        if (rename.second != finalPath)
            continue;
        for (const auto &item : m_backupMap) {
            if (QDir::cleanPath(item.second.dstPath) == rename.first)
                crc = item.second.backupCrc;
        }
    }
    return crc;
}

bool backup_file_c::checkBackupFile(BACKUP_DIRECT direct)
{
    Q_UNUSED(direct)
    if (m_backupMap.empty())
        return false;
    for (const auto &item : m_backupMap) {
        const backupFileInfo_s &record = item.second;
        QString path;
        const QString expected = expectedCrcAfterRepair(record, &path);
        if (!QFileInfo::exists(path)) {
            message(MsgVerifyMissing, path);
            qDebug() << QString("checkBackupFile::%1:not exist!").arg(path);
            return false;
        }
        if (record.backupCrc.isEmpty())
            continue;
        if (backupCheckFile(path) != expected) {
            message(MsgVerifyCrcDiffers, path);
            return false;
        }
    }
    return true;
}

bool backup_file_c::getBackupFileInfo(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        qDebug() << QString("%1: not exist!").arg(path);
        message(MsgCheckFileMissing, path);
        return false;
    }
    m_backupMap.clear();
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    for (int n = 1;; ++n) {
        const QString group = QStringLiteral("/File%1/").arg(n);
        if (!settings.contains(group + QLatin1String("destPath")))
            break;
        const QString saved = settings.value(group + QLatin1String("destPath")).toString();
        const QString panel = settings.value(group + QLatin1String("srcPath")).toString();
        const QString crc = settings.value(group + QLatin1String("crc32")).toString();
        qDebug() << QString("getBackupFileInfo::m_srcPath:%1").arg(saved);
        insertRecord(saved, saved, panel, crc);
    }
    return true;
}

bool backup_file_c::isCompleteBackupOf(
    const QString &checkFile, const std::vector<backupFileInfo_s> &list)
{
    if (list.empty() || !QFileInfo(checkFile).isFile())
        return false;
    backup_file_c reader(DIRECT_RECOVER);
    if (!reader.getBackupFileInfo(checkFile) || reader.m_backupMap.empty())
        return false;
    // Restoring records: srcPath the saved copy, dstPath the panel file. A record belongs to an
    // entry when both sides lie under the entry's two paths.
    const auto belongsToList = [&list](const backupFileInfo_s &record) {
        for (const backupFileInfo_s &entry : list) {
            if (!entry.srcPath.isEmpty() && !entry.dstPath.isEmpty()
                && record.dstPath.startsWith(entry.srcPath)
                && record.srcPath.startsWith(entry.dstPath))
                return true;
        }
        return false;
    };
    // The check file is written before the first copy, so a backup cut off on its way misses a
    // copy or holds a short one.
    for (const auto &item : reader.m_backupMap) {
        const backupFileInfo_s &record = item.second;
        if (!belongsToList(record))
            return false;
        if (record.backupCrc.isEmpty() ? !QFileInfo(record.srcPath).isDir()
                                       : reader.backupCheckFile(record.srcPath) != record.backupCrc)
            return false;
    }
    return true;
}
