#pragma once

#include "update_records.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QSet>
#include <QString>

#include <vector>

class PackageManifest;
namespace hix::io {
class Sha256;
}

// Installs the files of the update description on the panel. A copy list is first staged next to
// its destinations under ".tmp" names and checked by CRC-32; only when the whole list is staged
// are the staged files renamed into place, each installed file set aside under a ".bak" name
// until the list is committed. Also carries the delete lists and the execute grants.
class file_operation_c : public QObject
{
    Q_OBJECT

public:
    enum downLoadStatus {
        DOWNLOAD_BEFORE = 1, // the source file
        DOWNLOAD_AFTER = 2, // the staged file
    };

    // Texts of the language table shown by the file operations.
    enum MessageId {
        MsgWorkDirFailed = 2128,
        MsgCopyListFailed = 2129,
        MsgCopyListCleanedUp = 2130,
        MsgGrantFailed = 2131,
        MsgDeleteMissing = 2132,
        MsgDeleteModeMismatch = 2133,
        MsgCopySourceMissing = 2134,
        MsgCopyModeMismatch = 2135,
        MsgDeletingFile = 2136,
        MsgDeleteGone = 2137,
        MsgDeleteFailed = 2138,
        MsgDeletingFolder = 2139,
        MsgCreateFileFolderFailed = 2140,
        MsgCopyFileFailed = 2141,
        MsgCreateFolderFailed = 2142,
        MsgSourceFolderMissing = 2143,
        MsgCopyFolderFileFailed = 2144,
        MsgCopying = 2145,
        MsgWriteFailed = 2146,
        MsgStagedMissing = 2147,
        MsgRenameFailed = 2148,
        MsgStagedVanished = 2149,
        MsgRenameFolderMissing = 2150,
        MsgCrcCheckFailed = 2151,
        MsgCrcMismatch = 2152,
        MsgManifestMismatch = 2180,
        MsgStateNotWritten = 2183,
        MsgManifestFileMissing = 2181,
        MsgLinkRefused = 2185,
        MsgStagedNotRemoved = 2195,
    };

    explicit file_operation_c(QObject *parent = nullptr);
    ~file_operation_c() override;

    // The package's manifest, or null when it has none: every staged file whose source lies on
    // the stick must then match it, and a folder copy must find every file it lists. Not owned.
    void setManifest(const PackageManifest *manifest) { m_manifest = manifest; }
    // The folder that holds the package: a link in a copied folder that leads out of it (or out
    // of the copied folder, for a source elsewhere) is never followed.
    void setPackageFolder(const QString &folder) { m_packageFolder = folder; }

    // Copy lists.
    bool copyFile(const std::vector<copyFileData_s> &list);
    bool copyFile(const copyFileData_s &entry);
    bool copyRegualFile(const copyFileData_s &entry);
    bool copyDirFile(const copyFileData_s &entry);
    bool copyDirRecursive(const copyFileData_s &entry);
    bool copyBaseFile(const QString &src, const QString &dest);

    // CRC-32 (zlib) of a whole file, continuing from crc; false when the file cannot be read to
    // its end.
    bool generateCrc(const QString &path, unsigned int &crc);
    // One pass over a file for its CRC-32 (when crc is given), its SHA-256 (when sha is given)
    // and its size.
    bool digestFile(const QString &path, unsigned int *crc, hix::io::Sha256 *sha, qint64 *size);
    bool isCopySameFile(const copyFileData_s &entry);
    bool isFileCheckedCRC32(const copyFileData_s &entry, downLoadStatus status);
    bool isFileChecked(const copyFileData_s &entry, downLoadStatus status);

    // Staged rename.
    bool renameFile(const copyFileData_s &entry, const QString &suffix);
    bool renameFile(const std::vector<copyFileData_s> &list, const QString &suffix);
    bool renameRegualrFile(const copyFileData_s &entry, const QString &suffix);
    bool renameDirName(const copyFileData_s &entry, const QString &suffix);
    bool renameDirRecursive(const copyFileData_s &entry, const QString &suffix);

    // Delete lists; only names ending with suffix are deleted (an empty suffix matches all).
    bool removeFile(const std::vector<delFileInfo_s> &list, const QString &suffix);
    bool removeFile(const delFileInfo_s &entry, QString suffix);
    bool removeRegularFile(const delFileInfo_s &entry, const QString &suffix);
    bool removeDirFile(const delFileInfo_s &entry, const QString &suffix);
    bool removeDirRecursive(const delFileInfo_s &entry, const QString &suffix);

    // Execute permission for everyone on each file, in order; stops at the first failure.
    bool grantExeFile(const std::vector<exeFileInfo_s> &list);

signals:
    void emitMessage(const QString &strMessage, QColor color = QColor(Qt::black));

protected:
    // Moves one directory entry to a name that must not exist yet; never replaces anything.
    virtual bool moveEntry(const QString &from, const QString &to);

private:
    // Regular files or folders directly inside folder that the process may both read and write,
    // hidden ones included, sorted by name.
    static QFileInfoList listEntries(const QString &folder, QDir::Filters kind);
    // What a folder copy reads: every entry of the kind, hidden ones included, sorted by name.
    // A source needs only to be readable (a read-only stick is the usual case); an entry that
    // cannot be read fails the copy rather than being left out.
    static QFileInfoList listSourceEntries(const QString &folder, QDir::Filters kind);
    // False (reported) for a link the folder copy must not follow.
    bool linkMayBeFollowed(const QFileInfo &entry);
    // Checks a staged file against the entry's CRC value (mode 0) and the manifest, in one read.
    bool checkStaged(const QString &source, const QString &staged, const copyFileData_s *entry);
    // Every file the manifest lists in a copied source folder was read by the copy.
    bool manifestFilesCopied(const copyFileData_s &entry);
    void removeStagedFiles();
    // The mode-2 entry of one subfolder; the copy and the rename pass both name children so.
    static copyFileData_s childEntry(
        const copyFileData_s &parent, const QString &name, const QString &sourceFolder);
    void report(MessageId id, const QColor &color);
    void report(MessageId id, const QString &path, const QColor &color);
    bool commitStaged(const QString &staged, const QString &final, const QString &setAside,
        MessageId vanishedMessage);
    // Set-aside files this updater made, in this run or in a run that was cut off: only those
    // are ever taken for an installed file, moved over or cleaned up. A name is claimed while
    // its file is staged, when an installed file will be set aside under it and nothing bears
    // that name yet.
    void claimSetAside(const QString &final, const QString &setAside);
    bool isOwnSetAside(const QString &path) const;
    // The claimed names, sorted; only those that still exist when existingOnly is set.
    QStringList ownSetAsides(bool existingOnly) const;
    bool makeFolder(const QString &folder);
    void flushTouchedFolders();

    std::vector<delFileInfo_s> m_bakFileList; // installed files set aside by the rename pass
    std::vector<delFileInfo_s> m_tmpFileList; // staging files whose writing failed
    std::vector<delFileInfo_s> m_stagedThisList; // every staging file the current list created
    QSet<QString> m_touchedFolders; // folders whose entries a copy list changed
    QSet<QString> m_alreadyInstalled; // single-file destinations that already held their content
    QSet<QString> m_ownSetAside; // absolute set-aside paths this updater made (state file record)
    std::vector<char> m_buffer; // the one block every read and write goes through
    const PackageManifest *m_manifest = nullptr;
    QString m_packageFolder;
    QString m_linkBoundary; // canonical folder that links of the current folder copy stay in
    QStringList m_copyAncestors; // canonical folders of the folder copy being walked
    QSet<QString> m_sourcesRead; // files a folder copy of the current entry read, cleaned paths
};
