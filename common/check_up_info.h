#pragma once

#include "update_records.h"

#include <QStringList>
#include <QVector>

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

    // Texts of the language table that say why a condition failed.
    enum MessageId {
        MsgConditionFailed = 2200, // "%1：升级包要求 %2，本机为 %3"
        MsgCannotBeRead = 2201,
        MsgMissing = 2202,
        MsgNotARegularFile = 2203,
        MsgExitCode = 2204,
        MsgNotGiven = 2205,
    };

    // One failed condition: its key, what the description asks for, what the panel has.
    struct CheckFailure
    {
        QString key;
        QString needed;
        QString found;
    };

    // The parser is not owned and must outlive the checker.
    explicit check_up_info_c(ParseConfigInfo *parser);

    // True when every condition present holds; noCondition tells whether there was none at all.
    // With failures given, every condition on the panel's own facts is compared, not only up to
    // the first that fails, and each one that fails is added; the external check commands still
    // run only while every condition before them held.
    bool updateCheck(const updateCheck_s &check, bool isAfterCheck, bool &noCondition,
        QVector<CheckFailure> *failures = nullptr);

    // One line per failure for the run log: section/key, what is needed, what the panel has.
    static QStringList failureLines(const QString &section, const QVector<CheckFailure> &failures);

    // Folds a before-check and an after-check into a CheckResult.
    int updateCheckResult(bool beforePassed, bool afterPassed, bool afterHadNoCondition);

    // True when count equals the description's program count.
    bool isUpdateFinish(int count);

    // True when the backup needed to undo a program is present on the stick.
    bool CheckBackupDataExist(std::vector<backupFileInfo_s> list);

    // True when the program at index is complete with nothing left to do after it.
    bool proAfterCheck(int index);

private:
    // Each adds what failed to failures when that is given.
    bool checkScreen(const QStringList &resolutions, QVector<CheckFailure> *failures);
    bool checkSystemImage(const updateCheck_s &check, QVector<CheckFailure> *failures);
    bool checkAppVersion(
        const QStringList &versions, bool isAfterCheck, QVector<CheckFailure> *failures);
    bool checkPlatform(const QStringList &platforms, QVector<CheckFailure> *failures);
    bool checkFiles(const QStringList &files, QVector<CheckFailure> *failures);
    bool checkMemory(const QString &limit, QVector<CheckFailure> *failures);
    bool checkDiskSpace(const diskSpaceCheck_s &disk, int number, QVector<CheckFailure> *failures);
    bool checkExternal(const exCheckInfo_s &external, int number, QVector<CheckFailure> *failures);

    ParseConfigInfo *m_parser;
};
