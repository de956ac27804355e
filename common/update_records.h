#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The records of one update description ("update.ini"). Plain values: copied freely, every text
// and list owned, the file's order kept. Defaults are those of a key that is absent.

struct updateConfig_s
{
    int programNum = 0;
    int execCondition = 0;
    bool showUpdatePage = true;
    QString toolTitle;   // text id
    QString toolTip;     // text id
    QString finishTip;   // text id
};

struct diskSpaceCheck_s
{
    QString partitionPath;
    QString freeDiskLimit; // MiB, decimal
};

struct exCheckInfo_s
{
    QString exCheck;    // command line
    QString exCheckRes; // expected exit code, decimal
};

struct updateCheck_s
{
    QStringList hmiResolution;
    QStringList nkVersion;
    QStringList nkExtra;
    QStringList appVersion;
    QStringList fileCheck;
    QStringList hmiPlatform;
    QStringList hmiType;
    QStringList cpuType;
    QStringList filesystemType;
    QStringList lanCount;
    QStringList comCount;
    QStringList usbCount;
    QStringList slaveCount;
    QString memoryLimit; // MiB, decimal
    std::vector<diskSpaceCheck_s> diskSpaceChecks;
    std::vector<exCheckInfo_s> exChecks;
    int checkSuccessIsShowDlg = 1; // a section read from a file takes the file's value, 0 if absent
    QString checkSuccessMessage;   // text id
    int checkFailedIsShowDlg = 0;
    QString checkFailedMessage; // text id
};

struct copyFileData_s
{
    QString srcPath;
    QString destPath;
    QString crcValue; // upper-case hexadecimal, empty for no check
    int mode = 0;     // 0 file, 1 folder top level, 2 folder recursive
};

struct copyFileInfo_s
{
    bool delBeforeCopy = false;
    std::vector<copyFileData_s> copyFileData;
    updateCheck_s beforeCheck;
    updateCheck_s afterCheck;
};

struct delFileInfo_s
{
    QString srcPath;
    int mode = 0;
};

struct exeFileInfo_s
{
    QString srcPath;
};

struct commondInfo_s
{
    QString commond;
    QString execResult; // expected exit code, empty accepts any
};

struct backupFileInfo_s
{
    QString srcPath;
    QString dstPath;   // backup root + "/" + the description's value
    QString backupCrc; // filled by the backup stage
    int mode = 0;
    bool existCheck = false;
};

struct programConfig_s
{
    QString path;
    QStringList param;
    bool isEncrypt = false;
    bool isExitWait = false;
    bool isExitQwsServer = false;
    bool isCheckResult = false;
    QString successResult;
    QString startFailedMess; // text id
    QString execFailedMess;  // text id
    int execSuccessLaterAction = 1;
    int execFailedLaterAction = 0;
    updateCheck_s beforeCheck;
    updateCheck_s afterCheck;
    std::vector<backupFileInfo_s> beforeBackup;
    copyFileInfo_s beforeCopy;
    std::vector<delFileInfo_s> beforeDel;
    std::vector<exeFileInfo_s> beforeExe;
    std::vector<commondInfo_s> beforeCmd;
    copyFileInfo_s afterCopy;
    std::vector<delFileInfo_s> afterDel;
    std::vector<exeFileInfo_s> afterExe;
    std::vector<commondInfo_s> afterCmd;
    // n of the "PROGRAMn_..." sections the program was read from, for messages that name them.
    int sectionNumber = 0;
};

struct updateFinishConfig_s
{
    int beepNum = 0;
    bool reboot = false;
};
