#include "check_up_info.h"

#include "parse_config_info.h"
#include "parse_platform_info.h"
#include "parse_system_info.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/statfs.h>

check_up_info_c::check_up_info_c(ParseConfigInfo *parser)
    : m_parser(parser)
{
}

bool check_up_info_c::updateCheck(const updateCheck_s &check, bool isAfterCheck, bool &noCondition)
{
    noCondition = true;
    if (!check.hmiResolution.isEmpty()) {
        noCondition = false;
        if (!checkScreen(check.hmiResolution))
            return false;
    }
    if (!check.nkVersion.isEmpty() || !check.nkExtra.isEmpty()) {
        noCondition = false;
        if (!checkSystemImage(check))
            return false;
    }
    if (!check.appVersion.isEmpty()) {
        noCondition = false;
        if (!checkAppVersion(check.appVersion, isAfterCheck))
            return false;
    }
    if (!check.hmiPlatform.isEmpty()) {
        noCondition = false;
        if (!checkPlatform(check.hmiPlatform))
            return false;
    }
    if (!check.fileCheck.isEmpty()) {
        noCondition = false;
        if (!checkFiles(check.fileCheck))
            return false;
    }
    if (!check.memoryLimit.isEmpty()) {
        noCondition = false;
        if (!checkMemory(check.memoryLimit))
            return false;
    }
    if (!check.diskSpaceChecks.empty())
        noCondition = false;
    for (const diskSpaceCheck_s &disk : check.diskSpaceChecks) {
        if (!checkDiskSpace(disk))
            return false;
    }
    if (!check.exChecks.empty())
        noCondition = false;
    for (const exCheckInfo_s &external : check.exChecks) {
        if (!checkExternal(external))
            return false;
    }
    return true;
}

bool check_up_info_c::checkScreen(const QStringList &resolutions)
{
    const QString local = ParseSystemInfo::getScreenInfo();
    qDebug() << "local screeninfo:" << local;
    return resolutions.contains(local);
}

bool check_up_info_c::checkSystemImage(const updateCheck_s &check)
{
    QString version, second, third, fourth;
    if (!ParseSystemInfo::getNkInfo(version, second, third, fourth)) {
        qDebug() << "read system nk info failed";
        return false;
    }
    const QString extra = third + QLatin1Char('&') + fourth;
    qDebug() << "local NKVersion:" << version;
    qDebug() << "local nkExtraInfo:" << extra;
    if (!check.nkVersion.isEmpty() && !check.nkVersion.contains(version))
        return false;
    if (!check.nkExtra.isEmpty() && !check.nkExtra.contains(extra))
        return false;
    return true;
}

bool check_up_info_c::checkAppVersion(const QStringList &versions, bool isAfterCheck)
{
    QString local;
    if (!ParseSystemInfo::getVexoappVersion(local)) {
        // Without an installed runtime a step may still install one, but cannot have done so.
        qDebug() << "getVexoappVersion failed";
        return !isAfterCheck;
    }
    qDebug() << "local APP version:" << local;
    return versions.contains(local);
}

bool check_up_info_c::checkPlatform(const QStringList &platforms)
{
    ParsePlatformInfo platformInfo;
    const QString file = platformInfo.getPlatformFilepath(QString());
    if (file.isEmpty())
        return false;
    int arch = -1;
    if (!ParsePlatformInfo::getPlatform(file, arch))
        return false;
    return platforms.contains(QString::number(arch));
}

bool check_up_info_c::checkFiles(const QStringList &files)
{
    for (const QString &path : files) {
        if (!QFileInfo(path).isFile())
            return false;
    }
    return true;
}

bool check_up_info_c::checkMemory(const QString &limit)
{
    int freeKb = -1;
    int totalKb = -1;
    // A limit too large for the panel must fail, not wrap around: the product is taken in
    // 64 bits.
    const qint64 wantedKb = qint64(limit.trimmed().toInt()) * 1024;
    if (ParseSystemInfo::get_memory_info(freeKb, totalKb) != 0 || totalKb < wantedKb) {
        qDebug() << "get_memory_info totalMem:" << totalKb;
        return false;
    }
    return true;
}

bool check_up_info_c::checkDiskSpace(const diskSpaceCheck_s &disk)
{
    if (disk.partitionPath.isEmpty())
        return false;
    struct statfs64 fs;
    if (::statfs64(disk.partitionPath.toUtf8().constData(), &fs) != 0)
        return false;
    const qint64 freeBytes = qint64(fs.f_bavail) * qint64(fs.f_bsize);
    const qint64 limitBytes = disk.freeDiskLimit.trimmed().toLongLong() << 20;
    if (freeBytes < limitBytes) {
        qDebug() << "disk spaces check failed:" << (freeBytes >> 20);
        return false;
    }
    return true;
}

bool check_up_info_c::checkExternal(const exCheckInfo_s &external)
{
    if (external.exCheck.isEmpty())
        return false;
    // The command line is split into program and arguments; no shell sees package text
    // unless the package names one itself.
    QStringList arguments = QProcess::splitCommand(external.exCheck);
    if (arguments.isEmpty())
        return false;
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
