#pragma once

#include "update_records.h"

#include <vector>

class ParseConfigInfo;

// Decides whether the panel meets the conditions of an update description: screen, system
// image, runtime version, processor, files, memory, free space and external check commands.
// Every call reads the panel afresh; nothing is cached.
class check_up_info_c
{
public:
    enum CheckResult {
        CheckMayRun = 0,
        CheckAlreadyDone = 1,
        CheckMayNotRun = 2,
    };

    // The parser is not owned and must outlive the checker.
    explicit check_up_info_c(ParseConfigInfo *parser);

    // True when every condition present holds; noCondition tells whether there was none at all.
    bool updateCheck(const updateCheck_s &check, bool isAfterCheck, bool &noCondition);

    // Folds a before-check and an after-check into a CheckResult.
    int updateCheckResult(bool beforePassed, bool afterPassed, bool afterHadNoCondition);

    // True when count equals the description's program count.
    bool isUpdateFinish(int count);

    // True when the backup needed to undo a program is present on the stick.
    bool CheckBackupDataExist(std::vector<backupFileInfo_s> list);

    // True when the program at index is complete with nothing left to do after it.
    bool proAfterCheck(int index);

private:
    bool checkScreen(const QStringList &resolutions);
    bool checkSystemImage(const updateCheck_s &check);
    bool checkAppVersion(const QStringList &versions, bool isAfterCheck);
    bool checkPlatform(const QStringList &platforms);
    bool checkFiles(const QStringList &files);
    bool checkMemory(const QString &limit);
    bool checkDiskSpace(const diskSpaceCheck_s &disk);
    bool checkExternal(const exCheckInfo_s &external);

    ParseConfigInfo *m_parser;
};
