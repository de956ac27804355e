#include "file_operation.h"

#include "file_io.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "path_deal.h"
#include "tool_process_ctrl.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using hix::text;

namespace {

// Files are read and written in blocks of this size through the object's one buffer, so memory
// use never grows with the size of a file; a block this size keeps the number of system calls
// per file low.
constexpr qint64 BlockSize = 64 * 1024;

const QString StagingSuffix = QStringLiteral(".tmp");
const QString SetAsideSuffix = QStringLiteral(".bak");

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool isInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// The CRC value of the description; a text that is not a hexadecimal number reads as 0.
unsigned int expectedCrc(const QString &crcValue)
{
    bool ok = false;
    const unsigned int value = crcValue.trimmed().toUInt(&ok, 16);
    return ok ? value : 0;
}

} // namespace

file_operation_c::file_operation_c(QObject *parent)
    : QObject(parent)
    , m_buffer(BlockSize)
{
}

file_operation_c::~file_operation_c() = default;

QFileInfoList file_operation_c::listEntries(const QString &folder, QDir::Filters kind)
{
    return QDir(folder).entryInfoList(
        kind | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Readable | QDir::Writable, QDir::Name);
}

QFileInfoList file_operation_c::listSourceEntries(const QString &folder, QDir::Filters kind)
{
    return QDir(folder).entryInfoList(kind | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool file_operation_c::linkMayBeFollowed(const QFileInfo &entry)
{
    if (!entry.isSymLink())
        return true;
    // A link that leads out of the package would copy whatever the machine holds there (a
    // build machine's "/etc"); one that leads back into a folder being copied would repeat the
    // tree until the paths grow too long.
    const QString canonical = entry.canonicalFilePath();
    const QString target = canonical.isEmpty() ? QDir::cleanPath(entry.symLinkTarget()) : canonical;
    bool refused = !isInside(target, m_linkBoundary);
    for (const QString &ancestor : qAsConst(m_copyAncestors)) {
        if (isInside(ancestor, target))
            refused = true;
    }
    if (!refused)
        return true;
    qWarning() << "not following the link" << entry.absoluteFilePath() << "to" << target;
    report(MsgLinkRefused, entry.absoluteFilePath(), Qt::red);
    return false;
}

void file_operation_c::report(MessageId id, const QColor &color)
{
    emit emitMessage(text(id), color);
}

void file_operation_c::report(MessageId id, const QString &path, const QColor &color)
{
    emit emitMessage(text(id).arg(PathDeal::getTargetName(path)), color);
}

// ---------------------------------------------------------------------------------------------
// Verified copy

bool file_operation_c::copyFile(const std::vector<copyFileData_s> &list)
{
    // Relative paths of a package are relative to the updater's own folder.
    const QString previousDir = QDir::currentPath();
    if (!QDir::setCurrent(QCoreApplication::applicationDirPath())) {
        report(MsgWorkDirFailed, Qt::red);
        return false;
    }
    struct RestoreWorkDir
    {
        QString path;
        ~RestoreWorkDir() { QDir::setCurrent(path); }
    } restoreWorkDir { previousDir };

    m_touchedFolders.clear();
    m_alreadyInstalled.clear();
    m_stagedThisList.clear();
    ToolProcessCtrl *const state = ToolProcessCtrl::GetInstance();
    QStringList recorded = state->setAsideFiles();
    recorded.sort();
    m_ownSetAside = QSet<QString>(recorded.cbegin(), recorded.cend());
    for (const copyFileData_s &entry : list) {
        if (!copyFile(entry)) {
            qDebug() << "copy file failed.";
            report(MsgCopyListFailed, Qt::red);
            removeStagedFiles();
            return false;
        }
    }
    qDebug() << "copy file success.";

    // The names installed files are set aside under are on the stick before the first move: a
    // run cut off in the rename pass leaves no set-aside file the next run would not know.
    const QStringList planned = ownSetAsides(false);
    if (planned != recorded) {
        if (!state->setSetAsideFiles(planned)) {
            // Without the record nothing installed may be set aside: the list stops here.
            report(MsgStateNotWritten, Qt::red);
            removeStagedFiles();
            return false;
        }
        recorded = planned;
    }
    for (const copyFileData_s &entry : list)
        renameFile(entry, StagingSuffix);
    // The set-aside files are the only copies of the previous installation until the new names
    // are on the medium.
    flushTouchedFolders();
    removeFile(m_bakFileList, SetAsideSuffix);
    // A set-aside file that could not go (kept as the only copy of an installed file) stays
    // recorded, so a later run still knows it.
    const QStringList left = ownSetAsides(true);
    if (left != recorded && !state->setSetAsideFiles(left)) {
        report(MsgStateNotWritten, Qt::red);
        return false;
    }
    return true;
}

void file_operation_c::removeStagedFiles()
{
    // Every staging file of the list goes, not only those whose writing failed: on a full disk
    // the staged copies of the earlier entries are what fills it.
    std::vector<delFileInfo_s> staged = m_tmpFileList;
    for (const delFileInfo_s &file : m_stagedThisList) {
        const bool listed = std::any_of(staged.begin(), staged.end(),
            [&file](const delFileInfo_s &other) { return other.srcPath == file.srcPath; });
        if (!listed)
            staged.push_back(file);
    }
    bool removed = true;
    for (const delFileInfo_s &file : staged) {
        if (!removeFile(file, StagingSuffix))
            removed = false;
    }
    m_stagedThisList.clear();
    report(removed ? MsgCopyListCleanedUp : MsgStagedNotRemoved, removed ? Qt::black : Qt::red);
}

bool file_operation_c::copyFile(const copyFileData_s &entry)
{
    const QFileInfo source(entry.srcPath);
    if (!source.exists()) {
        report(MsgCopySourceMissing, entry.srcPath, Qt::red);
        return false;
    }
    if ((entry.mode == 0) != source.isFile()) {
        report(MsgCopyModeMismatch, entry.srcPath, Qt::red);
        return false;
    }
    // Links inside a copied folder stay inside the package; a source outside the package (a
    // folder of the panel) keeps them inside itself.
    const QString canonicalSource = source.canonicalFilePath();
    const QString package
        = m_packageFolder.isEmpty() ? QString() : QFileInfo(m_packageFolder).canonicalFilePath();
    const bool inPackage = !package.isEmpty()
        && isInside(cleanAbsolute(entry.srcPath), cleanAbsolute(m_packageFolder));
    m_linkBoundary = inPackage ? package : canonicalSource;
    if (inPackage && !isInside(canonicalSource, package)) {
        qWarning() << "source" << entry.srcPath << "leads out of the package to" << canonicalSource;
        report(MsgLinkRefused, entry.srcPath, Qt::red);
        return false;
    }
    m_copyAncestors = QStringList { canonicalSource };
    m_sourcesRead.clear();
    switch (entry.mode) {
    case 0:
        qDebug() << "copy file.";
        return copyRegualFile(entry);
    case 1:
        qDebug() << "copy folder.";
        return copyDirFile(entry) && manifestFilesCopied(entry);
    case 2:
        qDebug() << "copy folder recursive.";
        return copyDirRecursive(entry) && manifestFilesCopied(entry);
    default:
        return true;
    }
}

bool file_operation_c::manifestFilesCopied(const copyFileData_s &entry)
{
    if (!m_manifest)
        return true;
    // A file the package was built with that has gone from the stick would otherwise leave the
    // panel with a mixture of old and new files.
    for (const QString &file : m_manifest->filesIn(entry.srcPath, entry.mode == 2)) {
        if (!m_sourcesRead.contains(QDir::cleanPath(file))) {
            qWarning() << "the manifest lists" << file << "but the copy did not find it";
            report(MsgManifestFileMissing, file, Qt::red);
            return false;
        }
    }
    return true;
}

bool file_operation_c::checkStaged(
    const QString &source, const QString &staged, const copyFileData_s *entry)
{
    const bool checkCrc = entry && !entry->crcValue.isEmpty();
    const bool onStick = m_manifest && !m_manifest->relativePath(source).isEmpty();
    if (!checkCrc && !onStick)
        return true;
    unsigned int crc = 0;
    hix::io::Sha256 sha;
    qint64 size = 0;
    const bool read
        = digestFile(staged, checkCrc ? &crc : nullptr, onStick ? &sha : nullptr, &size);
    if (read && checkCrc && crc != expectedCrc(entry->crcValue))
        report(MsgCrcMismatch, Qt::red);
    if (!read || (checkCrc && crc != expectedCrc(entry->crcValue))) {
        if (entry)
            emit emitMessage(text(MsgCrcCheckFailed)
                                 .arg(PathDeal::getTargetName(entry->destPath) + StagingSuffix),
                Qt::red);
        else
            report(MsgCopyFolderFileFailed, source, Qt::red);
        return false;
    }
    if (!onStick)
        return true;
    const PackageManifest::Entry *expected = m_manifest->find(source);
    const QByteArray digest = sha.hexDigest();
    if (expected && expected->size == size && expected->sha256 == digest)
        return true;
    qWarning() << "staged copy of" << source << "differs from the manifest:" << size << digest;
    report(MsgManifestMismatch, source, Qt::red);
    return false;
}

bool file_operation_c::copyRegualFile(const copyFileData_s &entry)
{
    if (!isFileChecked(entry, DOWNLOAD_BEFORE))
        return false;

    const QString staged = entry.destPath + StagingSuffix;
    if (isCopySameFile(entry)) {
        // A staging file left by an earlier attempt was never checked in this run; the rename
        // pass must not install it over the file that is already right.
        if (QFileInfo(staged).isFile() && !QFile::remove(staged))
            qWarning() << "cannot remove stale staging file" << staged;
        // A run cut off after moving this file in but before its clean-up left the file it
        // replaced under the set-aside name. The rename pass passes over a file that is already
        // right, so only this list's clean-up can still take that copy away.
        const QFileInfo setAside(entry.destPath + SetAsideSuffix);
        if (setAside.isFile() && !setAside.isSymLink() && isOwnSetAside(setAside.filePath()))
            m_bakFileList.push_back({ setAside.filePath(), 0 });
        m_alreadyInstalled.insert(entry.destPath);
        return true;
    }

    const int separator = entry.destPath.contains(QLatin1Char('\\'))
        ? entry.destPath.lastIndexOf(QLatin1Char('\\'))
        : entry.destPath.lastIndexOf(QLatin1Char('/'));
    if (separator >= 0) {
        const QString folder = entry.destPath.left(separator);
        if (!folder.isEmpty() && !QFileInfo(folder).isDir() && !makeFolder(folder)) {
            report(MsgCreateFileFolderFailed, folder, Qt::red);
            qDebug() << "create" << folder << "failed";
            return false;
        }
    }

    if (!copyBaseFile(entry.srcPath, entry.destPath)) {
        report(MsgCopyFileFailed, entry.srcPath, Qt::red);
        m_tmpFileList.push_back({ staged, 0 });
        return false;
    }
    claimSetAside(entry.destPath, entry.destPath + SetAsideSuffix);
    return checkStaged(entry.srcPath, staged, &entry);
}

bool file_operation_c::copyDirFile(const copyFileData_s &entry)
{
    if (isCopySameFile(entry))
        return true;
    if (!QFileInfo(entry.destPath).isDir() && !makeFolder(entry.destPath)) {
        report(MsgCreateFolderFailed, entry.destPath, Qt::red);
        qDebug() << "create" << entry.destPath << "failed";
        return false;
    }
    if (!QFileInfo(entry.srcPath).isDir()) {
        report(MsgSourceFolderMissing, entry.srcPath, Qt::red);
        qDebug() << "folder" << entry.srcPath << "not exist, failed";
        return false;
    }
    // A folder that cannot be listed would look empty and be "copied" with nothing in it.
    if (::access(QFile::encodeName(entry.srcPath).constData(), R_OK | X_OK) != 0) {
        qDebug() << "cannot list" << entry.srcPath << ::strerror(errno);
        report(MsgCopyFolderFileFailed, entry.srcPath, Qt::red);
        return false;
    }

    // Special files (FIFOs, devices, dangling links) are listed too, so that they fail the copy.
    const QFileInfoList files = listSourceEntries(entry.srcPath, QDir::Files | QDir::System);
    for (const QFileInfo &file : files) {
        if (file.isDir())
            continue;
        if (!linkMayBeFollowed(file))
            return false;
        const QString target = entry.destPath + QLatin1Char('/') + file.fileName();
        qDebug() << "strPathTmp: " << target;
        qDebug() << "fileInfoTmp: " << file.absoluteFilePath();
        if (!copyBaseFile(file.absoluteFilePath(), target)) {
            m_tmpFileList.push_back({ target + StagingSuffix, 0 });
            report(MsgCopyFolderFileFailed, file.absoluteFilePath(), Qt::red);
            qDebug() << "copy file" << file.absoluteFilePath() << "to" << target << "failed";
            return false;
        }
        claimSetAside(target, target + StagingSuffix + SetAsideSuffix);
        if (!checkStaged(file.absoluteFilePath(), target + StagingSuffix, nullptr))
            return false;
        m_sourcesRead.insert(cleanAbsolute(file.absoluteFilePath()));
    }
    return true;
}

// The child destination is the parent's text followed directly by the folder name, so a
// destination is written with a trailing "/".
copyFileData_s file_operation_c::childEntry(
    const copyFileData_s &parent, const QString &name, const QString &sourceFolder)
{
    copyFileData_s child;
    child.srcPath = sourceFolder + QLatin1Char('/');
    child.destPath = parent.destPath + name + QLatin1Char('/');
    child.mode = 2;
    return child;
}

bool file_operation_c::copyDirRecursive(const copyFileData_s &entry)
{
    if (!QFileInfo(entry.srcPath).isDir()) {
        qDebug() << "srcPath Folder" << entry.srcPath << "not exist, failed";
        report(MsgSourceFolderMissing, entry.srcPath, Qt::red);
        return false;
    }
    qDebug() << "copy dir file";
    if (!copyDirFile(entry)) {
        qDebug() << "copy dir file failed";
        return false;
    }

    const QFileInfoList folders = listSourceEntries(entry.srcPath, QDir::Dirs);
    for (const QFileInfo &folder : folders) {
        if (!QFileInfo::exists(folder.absoluteFilePath())) {
            qDebug() << "fileInfoTmp Folder" << entry.srcPath << "not exist, failed";
            report(MsgSourceFolderMissing, entry.srcPath, Qt::red);
            continue;
        }
        if (!linkMayBeFollowed(folder))
            return false;
        const copyFileData_s child
            = childEntry(entry, folder.fileName(), folder.absoluteFilePath());
        qDebug() << "srcPath:" << child.srcPath;
        qDebug() << "destPath:" << child.destPath;
        qDebug() << "copyDirRecursive";
        m_copyAncestors.append(folder.canonicalFilePath());
        const bool copied = copyDirRecursive(child);
        m_copyAncestors.removeLast();
        if (!copied)
            return false;
    }
    return true;
}

bool file_operation_c::copyBaseFile(const QString &src, const QString &dest)
{
    report(MsgCopying, src, Qt::black);

    const hix::io::Fd in = hix::io::openRegularForReading(src);
    if (!in.isOpen()) {
        qDebug() << "cannot open" << src << ::strerror(errno);
        return false;
    }
    const QString staged = dest + StagingSuffix;
    hix::io::Fd out = hix::io::createForWriting(staged, 0666);
    if (!out.isOpen()) {
        qDebug() << "cannot create" << staged << ::strerror(errno);
        return false;
    }
    m_stagedThisList.push_back({ staged, 0 });
    // A file that replaces an installed one keeps the installed file's owner and permission
    // bits, as a copy onto an existing file does: an execute bit the package file lacks must not
    // vanish from the panel. Set-user and set-group bits are not carried over to new content.
    struct stat installed;
    if (::stat(QFile::encodeName(dest).constData(), &installed) == 0
        && S_ISREG(installed.st_mode)) {
        if (::fchown(out.get(), installed.st_uid, installed.st_gid) != 0)
            qDebug() << "cannot keep the owner of" << dest << ::strerror(errno);
        if (::fchmod(out.get(), installed.st_mode & 01777) != 0)
            qDebug() << "cannot keep the mode of" << dest << ::strerror(errno);
    }

    const qint64 size = hix::io::sizeOf(in.get());
    if (size < 0) {
        qDebug() << "cannot read the size of" << src << ::strerror(errno);
        return false;
    }
    const auto writeFailed = [this] {
        emit emitMessage(text(MsgWriteFailed) + QString::fromLocal8Bit(::strerror(errno)), Qt::red);
        return false;
    };
    switch (hix::io::copyBytes(in.get(), out.get(), size, m_buffer.data(), m_buffer.size(),
        hix::io::CopyEnd::AtSize, hix::io::flush::stagedProgress)) {
    case hix::io::CopyFailure::None:
        break;
    case hix::io::CopyFailure::ReadFailed:
        qDebug() << "cannot read" << src << ::strerror(errno);
        return false;
    case hix::io::CopyFailure::EndedEarly:
        qDebug() << "source" << src << "ended before its size" << size;
        return false;
    case hix::io::CopyFailure::WriteFailed:
        return writeFailed();
    }
    if (!hix::io::flush::stagedFile(out.get()) || !out.close())
        return writeFailed();
    QCoreApplication::processEvents();
    return true;
}

bool file_operation_c::generateCrc(const QString &path, unsigned int &crc)
{
    return digestFile(path, &crc, nullptr, nullptr);
}

bool file_operation_c::digestFile(
    const QString &path, unsigned int *crc, hix::io::Sha256 *sha, qint64 *size)
{
    quint32 value = crc ? *crc : 0;
    if (!hix::io::digestFile(
            path, crc ? &value : nullptr, sha, size, m_buffer.data(), m_buffer.size())) {
        // A file that ends before its size (it shrank while read) has no valid CRC.
        qDebug() << "cannot read" << path << "to its end";
        if (crc)
            *crc = 0;
        return false;
    }
    if (crc)
        *crc = value;
    return true;
}

bool file_operation_c::isCopySameFile(const copyFileData_s &entry)
{
    if (!QFileInfo::exists(entry.destPath))
        return false;
    unsigned int crc = 0;
    return generateCrc(entry.destPath, crc) && crc == expectedCrc(entry.crcValue);
}

bool file_operation_c::isFileCheckedCRC32(const copyFileData_s &entry, downLoadStatus status)
{
    if (entry.crcValue.isEmpty())
        return true;
    const QString path = status == DOWNLOAD_BEFORE ? entry.srcPath : entry.destPath + StagingSuffix;
    unsigned int crc = 0;
    if (!generateCrc(path, crc))
        return false;
    if (crc != expectedCrc(entry.crcValue)) {
        report(MsgCrcMismatch, Qt::red);
        return false;
    }
    return true;
}

bool file_operation_c::isFileChecked(const copyFileData_s &entry, downLoadStatus status)
{
    if (isFileCheckedCRC32(entry, status))
        return true;
    const QString name = status == DOWNLOAD_BEFORE
        ? PathDeal::getTargetName(entry.srcPath)
        : PathDeal::getTargetName(entry.destPath) + StagingSuffix;
    emit emitMessage(text(MsgCrcCheckFailed).arg(name), Qt::red);
    return false;
}

bool file_operation_c::makeFolder(const QString &folder)
{
    QStringList missing;
    for (QString path = QFileInfo(folder).absoluteFilePath(); !QFileInfo::exists(path);) {
        missing.append(path);
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    if (!QDir().mkpath(folder))
        return false;
    // A new folder is a new entry in its parent, which must reach the medium with the files.
    for (const QString &path : qAsConst(missing))
        m_touchedFolders.insert(QFileInfo(path).absolutePath());
    return true;
}

void file_operation_c::flushTouchedFolders()
{
    for (const QString &folder : qAsConst(m_touchedFolders)) {
        if (!hix::io::flush::changedFolder(folder))
            qWarning() << "cannot flush folder" << folder << ::strerror(errno);
    }
    m_touchedFolders.clear();
}
