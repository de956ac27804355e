#pragma once

#include "update_records.h"

#include <QColor>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

enum BACKUP_DIRECT {
    DIRECT_BACKUP = 0, // panel files into the backup folder
    DIRECT_RECOVER = 1, // saved files back to their places on the panel
};

enum PARASE_TYPE {
    PARASE_CRYPT = 0, // the runtime's file list is scrambled
    PARASE_PLAIN = 1,
};

// Saves the files a program may replace into the per-panel folder on the stick and puts them
// back afterwards. Both directions share one engine: a work list of (read, write, CRC) records,
// built from the update description or from the check file, copied record by record with a
// verified byte copy.
class backup_file_c : public QObject
{
    Q_OBJECT

public:
    enum MessageId {
        MsgCleanupStarts = 2100,
        MsgCleanupDone = 2101,
        MsgCreateFolderFailed = 2102,
        MsgCopyFileFailed = 2103,
        MsgOpenSourceFailed = 2104,
        MsgOpenTargetFailed = 2105,
        MsgReadFailed = 2106,
        MsgWriteFailed = 2107,
        MsgCreateParentFailed = 2108,
        MsgSourceCrcFailed = 2109,
        MsgTargetCrcFailed = 2111,
        MsgCrcMismatch = 2112,
        MsgExeRightFailed = 2113,
        MsgExeRightDone = 2114,
        MsgParsingRuntimeList = 2115,
        MsgRuntimeListEmpty = 2116,
        MsgRepairingLibraries = 2117,
        MsgLibraryRenameFailed = 2118,
        MsgLibrariesRepaired = 2119,
        MsgSourceFileMissing = 2120,
        MsgSourceFolderMissing = 2121,
        MsgSubfolderVanished = 2122,
        MsgRequiredSourceMissing = 2123,
        MsgModeMismatch = 2124,
        MsgCheckFileMissing = 2125,
        MsgVerifyMissing = 2126,
        MsgVerifyCrcDiffers = 2127,
        MsgBackingUp = 2157,
        MsgRestoring = 2158,
        MsgRestoreKeptPrevious = 2190,
    };

    static const char *const CheckFileName; // "backupFileCheck.ini"

    explicit backup_file_c(BACKUP_DIRECT direct, QObject *parent = nullptr);

    // Backing up: the work list from the backup section of the update description.
    bool getBackupFileList(const std::vector<backupFileInfo_s> &list);
    bool getRegualFileList(const backupFileInfo_s &entry);
    bool getDirFileList(const backupFileInfo_s &entry);
    bool getDirRecursiveList(const backupFileInfo_s &entry);

    // Writes the planned work list as the check file (an existing one is replaced).
    bool generateCheckFile(const QString &path);

    // Copies the work list; list only tells whether the whole runtime folder is restored.
    bool backupFile(const std::vector<backupFileInfo_s> &list);
    bool backupFile();
    bool backupBaseFile(const QString &src, const QString &dst);
    bool readWriteData(const QString &src, const QString &dst);
    // Restores one file through a staged copy, verified at once and renamed over the panel file
    // with the batch it belongs to; a failure leaves the panel file as it was and says so.
    bool restoreBaseFile(const QString &src, const QString &dst, const QString &srcCrc);
    bool writeData(int &fd, char *buffer, int length);

    // CRC-32 of a whole file as upper-case hexadecimal; empty when it cannot be read completely.
    QString backupCheckFile(const QString &path);

    // Every record's written side is present and matches the CRC recorded in the work list.
    bool checkBackupFile(BACKUP_DIRECT direct);

    // Restoring: the work list from the check file, read and write sides exchanged.
    bool getBackupFileInfo(const QString &path);

    // Whether the backup folder holds a finished backup of list, as an interrupted run left it:
    // the check file names only panel files of list's entries, and every saved copy it names is
    // there with the recorded CRC. Reports nothing.
    static bool isCompleteBackupOf(
        const QString &checkFile, const std::vector<backupFileInfo_s> &list);

    // Repairs the restored runtime folder: versioned library names, execute permission.
    bool recoverVexo_app();
    bool parseIniFile(PARASE_TYPE type);
    bool creatLink();
    bool changeFileRight();

    // The work list in key order, for the driver's and the tests' inspection.
    const std::map<QString, backupFileInfo_s> &workList() const { return m_backupMap; }

signals:
    void emitMessage(QString strMessage, QColor color = QColor(Qt::black));

private:
    void message(int id, const QString &path, const QColor &color = QColor(Qt::black));
    void insertRecord(
        const QString &key, const QString &src, const QString &dst, const QString &crc);
    bool listFilesOf(const backupFileInfo_s &entry, bool *added);
    bool makeFolder(const QString &path);
    bool restoresRuntimeFolder(const std::vector<backupFileInfo_s> &list) const;
    void removeFailedCopies();
    QString expectedCrcAfterRepair(const backupFileInfo_s &record, QString *path) const;
    // Puts the verified staged copies of the restore in place of the panel files, once their
    // data is on the medium.
    bool commitRestores();

    std::vector<delFileInfo_s> m_removeList;
    std::map<QString, backupFileInfo_s> m_backupMap;
    BACKUP_DIRECT m_direct;
    QStringList m_exeFileList;
    QString m_runtimeDir; // the runtime folder as the repair entered it
    QString m_checkFolder; // a backup's folder on the stick, once its check file was written
    // Restored files staged and verified, waiting for their rename: staged copy, panel file.
    std::vector<std::pair<QString, QString>> m_stagedRestores;
    qint64 m_stagedRestoreBytes = 0;
    // Library files the runtime repair renamed: old absolute path -> new absolute path, in order.
    std::vector<std::pair<QString, QString>> m_renamed;
};
