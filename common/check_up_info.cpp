#include "check_up_info.h"

#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "parse_platform_info.h"
#include "parse_system_info.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/statfs.h>

using hix::text;

check_up_info_c::check_up_info_c(ParseConfigInfo *parser)
    : m_parser(parser)
{
}

namespace {

QString listed(const QStringList &values)
{
    return values.join(QLatin1String(", "));
}

void record(QVector<check_up_info_c::CheckFailure> *failures, const QString &key,
    const QString &needed, const QString &found)
{
    if (failures)
        failures->append({ key, needed, found });
}

} // namespace

bool check_up_info_c::updateCheck(const updateCheck_s &check, bool isAfterCheck, bool &noCondition,
    QVector<CheckFailure> *failures)
{
    noCondition = true;
    bool passed = true;
    // Without a list of failures the first one decides; with it, the panel's facts are all
    // compared so that the log names every condition that stands in the way.
    const auto holds = [&](bool result) {
        passed = passed && result;
        return result || failures;
    };
    if (!check.hmiResolution.isEmpty()) {
        noCondition = false;
        if (!holds(checkScreen(check.hmiResolution, failures)))
            return false;
    }
    if (!check.nkVersion.isEmpty() || !check.nkExtra.isEmpty()) {
        noCondition = false;
        if (!holds(checkSystemImage(check, failures)))
            return false;
    }
    if (!check.appVersion.isEmpty()) {
        noCondition = false;
        if (!holds(checkAppVersion(check.appVersion, isAfterCheck, failures)))
            return false;
    }
    if (!check.hmiPlatform.isEmpty()) {
        noCondition = false;
        if (!holds(checkPlatform(check.hmiPlatform, failures)))
            return false;
    }
    if (!check.fileCheck.isEmpty()) {
        noCondition = false;
        if (!holds(checkFiles(check.fileCheck, failures)))
            return false;
    }
    if (!check.memoryLimit.isEmpty()) {
        noCondition = false;
        if (!holds(checkMemory(check.memoryLimit, failures)))
            return false;
    }
    if (!check.diskSpaceChecks.empty())
        noCondition = false;
    int number = 0;
    for (const diskSpaceCheck_s &disk : check.diskSpaceChecks) {
        if (!holds(checkDiskSpace(disk, ++number, failures)))
            return false;
    }
    if (!check.exChecks.empty())
        noCondition = false;
    number = 0;
    for (const exCheckInfo_s &external : check.exChecks) {
        // A command is run only where it would have run without the list of failures.
        if (!passed)
            break;
        if (!holds(checkExternal(external, ++number, failures)))
            return false;
    }
    return passed;
}

QStringList check_up_info_c::failureLines(
    const QString &section, const QVector<CheckFailure> &failures)
{
    QStringList lines;
    for (const CheckFailure &failure : failures)
        lines << text(MsgConditionFailed)
                     .arg(section + QLatin1Char('/') + failure.key, failure.needed, failure.found);
    return lines;
}

bool check_up_info_c::checkScreen(const QStringList &resolutions, QVector<CheckFailure> *failures)
{
    const QString local = ParseSystemInfo::getScreenInfo();
    qDebug() << "local screeninfo:" << local;
    if (resolutions.contains(local))
        return true;
    record(failures, QStringLiteral("HMI_RESOLUTION"), listed(resolutions), local);
    return false;
}

bool check_up_info_c::checkSystemImage(const updateCheck_s &check, QVector<CheckFailure> *failures)
{
    QString version, second, third, fourth;
    if (!ParseSystemInfo::getNkInfo(version, second, third, fourth)) {
        qDebug() << "read system nk info failed";
        if (!check.nkVersion.isEmpty())
            record(failures, QStringLiteral("NK_VERSION"), listed(check.nkVersion),
                text(MsgCannotBeRead));
        if (!check.nkExtra.isEmpty())
            record(
                failures, QStringLiteral("NK_EXTRA"), listed(check.nkExtra), text(MsgCannotBeRead));
        return false;
    }
    const QString extra = third + QLatin1Char('&') + fourth;
    qDebug() << "local NKVersion:" << version;
    qDebug() << "local nkExtraInfo:" << extra;
    bool passed = true;
    if (!check.nkVersion.isEmpty() && !check.nkVersion.contains(version)) {
        record(failures, QStringLiteral("NK_VERSION"), listed(check.nkVersion), version);
        passed = false;
    }
    if (!check.nkExtra.isEmpty() && !check.nkExtra.contains(extra)) {
        record(failures, QStringLiteral("NK_EXTRA"), listed(check.nkExtra), extra);
        passed = false;
    }
    return passed;
}

bool check_up_info_c::checkAppVersion(
    const QStringList &versions, bool isAfterCheck, QVector<CheckFailure> *failures)
{
    QString local;
    if (!ParseSystemInfo::getVexoappVersion(local)) {
        // Without an installed runtime a step may still install one, but cannot have done so.
        qDebug() << "getVexoappVersion failed";
        if (isAfterCheck)
            record(
                failures, QStringLiteral("APP_VERSION"), listed(versions), text(MsgCannotBeRead));
        return !isAfterCheck;
    }
    qDebug() << "local APP version:" << local;
    if (versions.contains(local))
        return true;
    record(failures, QStringLiteral("APP_VERSION"), listed(versions), local);
    return false;
}

bool check_up_info_c::checkPlatform(const QStringList &platforms, QVector<CheckFailure> *failures)
{
    ParsePlatformInfo platformInfo;
    const QString file = platformInfo.getPlatformFilepath(QString());
    int arch = -1;
    if (file.isEmpty() || !ParsePlatformInfo::getPlatform(file, arch)) {
        record(failures, QStringLiteral("HMI_PLATFORM"), listed(platforms), text(MsgCannotBeRead));
        return false;
    }
    if (platforms.contains(QString::number(arch)))
        return true;
    record(failures, QStringLiteral("HMI_PLATFORM"), listed(platforms), QString::number(arch));
    return false;
}

bool check_up_info_c::checkFiles(const QStringList &files, QVector<CheckFailure> *failures)
{
    bool passed = true;
    for (const QString &path : files) {
        const QFileInfo file(path);
        if (file.isFile())
            continue;
        record(failures, QStringLiteral("FILE_CHECK"), path,
            text(file.exists() ? MsgNotARegularFile : MsgMissing));
        passed = false;
        if (!failures)
            break;
    }
    return passed;
}

bool check_up_info_c::checkMemory(const QString &limit, QVector<CheckFailure> *failures)
{
    int freeKb = -1;
    int totalKb = -1;
    // A limit too large for the panel must fail, not wrap around: the product is taken in
    // 64 bits.
    const qint64 wantedKb = qint64(limit.trimmed().toInt()) * 1024;
    const bool read = ParseSystemInfo::get_memory_info(freeKb, totalKb) == 0;
    if (read && totalKb >= wantedKb)
        return true;
    qDebug() << "get_memory_info totalMem:" << totalKb;
    record(failures, QStringLiteral("MEMORY_LIMIT"), QStringLiteral("%1 MiB").arg(wantedKb / 1024),
        read ? QStringLiteral("%1 MiB").arg(totalKb / 1024) : text(MsgCannotBeRead));
    return false;
}

bool check_up_info_c::checkDiskSpace(
    const diskSpaceCheck_s &disk, int number, QVector<CheckFailure> *failures)
{
    const QString key = QStringLiteral("FREEDISK_LIMIT%1").arg(number);
    const QString needed = QStringLiteral("%1 MiB").arg(disk.freeDiskLimit.trimmed().toLongLong());
    if (disk.partitionPath.isEmpty()) {
        record(failures, QStringLiteral("PARTITION_PATH%1").arg(number), needed, text(MsgNotGiven));
        return false;
    }
    struct statfs64 fs;
    if (::statfs64(disk.partitionPath.toUtf8().constData(), &fs) != 0) {
        record(failures, key + QStringLiteral(" (%1)").arg(disk.partitionPath), needed,
            text(MsgCannotBeRead));
        return false;
    }
    const qint64 freeBytes = qint64(fs.f_bavail) * qint64(fs.f_bsize);
    const qint64 limitBytes = disk.freeDiskLimit.trimmed().toLongLong() << 20;
    if (freeBytes < limitBytes) {
        qDebug() << "disk spaces check failed:" << (freeBytes >> 20);
        record(failures, key + QStringLiteral(" (%1)").arg(disk.partitionPath), needed,
            QStringLiteral("%1 MiB").arg(freeBytes >> 20));
        return false;
    }
    return true;
}

bool check_up_info_c::checkExternal(
    const exCheckInfo_s &external, int number, QVector<CheckFailure> *failures)
{
    const QString key = QStringLiteral("EX_CHECK%1").arg(number);
    const QString needed = text(MsgExitCode).arg(external.exCheckRes.trimmed());
    if (external.exCheck.isEmpty()) {
        record(failures, key, needed, text(MsgNotGiven));
        return false;
    }
    // The command line is split into program and arguments; no shell sees package text
    // unless the package names one itself.
    QStringList arguments = QProcess::splitCommand(external.exCheck);
    if (arguments.isEmpty()) {
        record(failures, key, needed, text(MsgNotGiven));
        return false;
    }
    const QString program = arguments.takeFirst();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return true;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || external.exCheckRes.isEmpty())
        return true;
    if (process.exitCode() != external.exCheckRes.trimmed().toInt()) {
        qDebug() << "ex check failied, exCheckInfo:" << external.exCheck;
        qDebug() << "ex check failied, exitCode:" << process.exitCode();
        record(failures, key, needed, text(MsgExitCode).arg(process.exitCode()));
        return false;
    }
    return true;
}

int check_up_info_c::updateCheckResult(
    bool beforePassed, bool afterPassed, bool afterHadNoCondition)
{
    if (afterPassed && !afterHadNoCondition)
        return CheckAlreadyDone;
    return beforePassed ? CheckMayRun : CheckMayNotRun;
}

bool check_up_info_c::isUpdateFinish(int count)
{
    return count == m_parser->getUpdateConfig().programNum;
}

bool check_up_info_c::CheckBackupDataExist(std::vector<backupFileInfo_s> list)
{
    if (!QFileInfo(m_parser->backupRoot()).isDir())
        return false;
    for (const backupFileInfo_s &entry : list) {
        const QFileInfo saved(entry.dstPath);
        const bool present = entry.mode != 0 ? saved.isDir() : saved.exists();
        if (!present && entry.existCheck)
            return false;
    }
    return true;
}

bool check_up_info_c::proAfterCheck(int index)
{
    const std::vector<programConfig_s> programs = m_parser->getProgramConfigInfo();
    if (index < 0 || size_t(index) >= programs.size())
        return false;
    const programConfig_s &program = programs[size_t(index)];
    bool noCondition = true;
    if (!updateCheck(program.afterCheck, false, noCondition))
        return false;
    if (CheckBackupDataExist(program.beforeBackup))
        return false;
    return program.afterCopy.copyFileData.empty() && program.afterDel.empty()
        && program.afterExe.empty() && program.afterCmd.empty();
}
