#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class QSettings;

enum prcessNameEnum {
    PROCESS_COPY_FILE = 0,
    PROCESS_DEL_FILE = 1,
    PROCESS_EXE_FILE = 2,
    PROCESS_COMMAND = 3,
    PROCESS_UPDATE_PRO = 4,
    PROCESS_CUR_PRO_INDEX = 5,
    PROCESS_EXEC_RESULT = 6,
};

enum prcessStatuseEnum {
    STATUS_NOT_EXEC = 0,
    STATUS_SUCCESS = 1,
    STATUS_FAILED = 2,
    STATUS_UNKNOWN = 3,
};

// The progress state of the update package on the stick ("toolProcessCtrl.ini"): which phases
// have succeeded or failed and which program was being worked on. Every operation opens the file
// afresh and every change reaches the stick before it returns, so a power cut at any moment
// leaves the last completed step recorded.
class ToolProcessCtrl
{
public:
    static constexpr const char *IniFileName = "toolProcessCtrl.ini";
    // The package the recorded progress belongs to (packageDigest): a state left by another
    // package on the same stick must never make this one pass over a phase.
    static constexpr const char *PackageKey = "/package/digest";
    // The index of a program that took the panel over (the updater closed once it started), so
    // its start is recorded although it never reports back.
    static constexpr const char *HandedOverKey = "/updatePro/handedOver";

    static ToolProcessCtrl *GetInstance();

    void initIniPath(const QString &dir);
    QString iniPath() const { return ctrlIniPath; }

    bool isProcessCtrlIniExit() const;
    bool removeCtrlIni();
    bool isUpdateSuccess() const;
    // Both return false when the change did not reach the file (a full or read-only stick).
    bool setProcessStatus(const prcessNameEnum &name, const prcessStatuseEnum &status);
    bool setProcessValue(const QString &key, const QString &value);
    QVariant getProcessValue(const QString &key) const;
    prcessStatuseEnum getProcessStatus(const prcessNameEnum &name) const;
    bool isContainKey(const QString &key) const;
    bool removeCtrlIniKey(const prcessNameEnum &name);
    bool removeCtrlIniKey(const QString &key);

    // The set-aside names ("X.bak") of installed files that the rename pass of a copy list
    // moves aside, recorded before it starts: a run cut off on its way can tell them from files
    // of that name that the updater did not make. Kept in a group of its own ("setAside": a count
    // and numbered paths); an empty list removes the group and never creates the file.
    QStringList setAsideFiles() const;
    // False when the record did not reach the file.
    bool setSetAsideFiles(const QStringList &paths);

    static QString keyOf(prcessNameEnum name);
    static QString textOf(prcessStatuseEnum status);

private:
    ToolProcessCtrl() = default;
    // Writes the settings out and forces them to the stick; false when they did not reach it.
    bool commit(QSettings &settings) const;
    // Whether the state's path still leads to the stick it led to when the path was set.
    bool onItsStick() const;

    QString ctrlDir;
    QString ctrlIniPath;
    int ctrlMount = -1; // the mount that held the state's folder when its path was set
};
