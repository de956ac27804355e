#pragma once

#include "copy_list_reader.h"
#include "update_records.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>

#include <vector>

class QSettings;

// Reads one update description ("update.ini", stored scrambled) into the description records and
// hands out copies of them. Also knows the per-panel backup folder on the stick.
class ParseConfigInfo : public QObject
{
    Q_OBJECT

public:
    enum MessageId {
        MsgIniMissing = 2153, // "ini文件 %1 不存在"
        MsgIniUnreadable = 2154,
    };

    ParseConfigInfo() = default;

    // Reads the whole file; false (and a message) when it is missing or cannot be unscrambled.
    bool readIni(const QString &path);

    void parseUpdateConfig(QSettings *reader);
    void parseUpdateCheck(QSettings *reader);
    void parseCopyFileInfo(QSettings *reader);
    void parseDeleteFileInfo(QSettings *reader);
    void parseExeFileInfo(QSettings *reader);
    void parseCommonInfo(QSettings *reader);
    void parseProgramConfigInfo(QSettings *reader);
    void parseUpdateFinishConfig(QSettings *reader);

    void parseCheckInfo(updateCheck_s &check, QSettings *reader, const QString &prefix);
    void parseCopyInfo(copyFileInfo_s &info, QSettings *reader, const QString &prefix);
    void parseDelInfo(std::vector<delFileInfo_s> &list, QSettings *reader, const QString &prefix);
    void parseExeInfo(std::vector<exeFileInfo_s> &list, QSettings *reader, const QString &prefix);
    void parseCmdInfo(std::vector<commondInfo_s> &list, QSettings *reader, const QString &prefix);
    void parseBackupInfo(
        std::vector<backupFileInfo_s> &list, QSettings *reader, const QString &prefix);
    static void setVecInfo(QStringList &list, const QVariant &value);
    // A value of the INI reader as the text the records hold (a list joined by commas).
    static QString textValue(const QVariant &value);

    updateConfig_s getUpdateConfig() const { return updateConfig; }
    updateCheck_s getUpdateCheck() const { return updateCheck; }
    copyFileInfo_s getCopyFileInfo() const { return copyFileInfo; }
    std::vector<delFileInfo_s> getDeleteFileInfo() const { return delFileInfo; }
    std::vector<exeFileInfo_s> getExeFileInfo() const { return exeFileInfo; }
    std::vector<commondInfo_s> getCommondInfo() const { return commondInfo; }
    std::vector<programConfig_s> getProgramConfigInfo() const { return programConfig; }
    updateFinishConfig_s getUpdateFinishConfig() const { return updateFinishConfig; }

    // The stick root ("VEXO_EXPORT_DIR", else "/media/usb0") + "/hixbackup/" + the panel
    // identifier; the identifier is asked of the driver on every call.
    static QString getBackupPath();

    // The same, but empty when the panel identifier cannot be read: the bare "hixbackup" folder
    // holds the backups and state files of every panel that used the stick, so it must never be
    // taken for this panel's own.
    static QString panelBackupPath();

    // The backup folder of the description's backup entries and of the backup checks. A run
    // fixes it once, so that an identifier read that fails half-way can never point part of the
    // run elsewhere; unset, it is asked of the driver on every call.
    void setBackupRoot(const QString &root) { fixedBackupRoot = root; }
    QString backupRoot() const;

    // Writes the panel identifier (24 lower-case hexadecimal digits) into out, a zeroed buffer of
    // 256 bytes. 0 on success, the driver client's negative code, or -1 for a refused request.
    static int getUniqueID(char *out);

    // The fixed mixing of the first six bytes of the decrypted identity into the 12 bytes that
    // name the panel. One-to-one: the first six output bytes give back the input.
    static void mixIdentity(const unsigned char plain[6], unsigned char out[12]);

signals:
    void emitMessage(QString strMessage, QColor color = Qt::black);

private:
    updateConfig_s updateConfig;
    updateCheck_s updateCheck;
    copyFileInfo_s copyFileInfo;
    std::vector<delFileInfo_s> delFileInfo;
    std::vector<exeFileInfo_s> exeFileInfo;
    std::vector<commondInfo_s> commondInfo;
    std::vector<programConfig_s> programConfig;
    updateFinishConfig_s updateFinishConfig;
    QString fixedBackupRoot;

    // The copy conditions have fixed section names; one readIni reads them once for every copy
    // list of the file.
    bool readingFile = false;
    bool copyChecksRead = false;
    // The copy lists of the file readIni reads, when they can be read without the settings
    // reader.
    CopyListReader copyLists;
    updateCheck_s copyBeforeCheck;
    updateCheck_s copyAfterCheck;
};
