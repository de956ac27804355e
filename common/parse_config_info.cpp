#include "parse_config_info.h"

#include "multilingual_manager.h"
#include "netlink_wrapper2.h"
#include "panel_path.h"
#include "path_deal.h"
#include "qsettings_factory.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

#include <openssl/aes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

const QString ExportDirVariable = QStringLiteral("VEXO_EXPORT_DIR");
const QString DefaultStickRoot = QString::fromLatin1(hix::StickMountPoint);
const QString BackupFolder = QStringLiteral("/hixbackup/");
const QString CopyBeforeCheckSection = QStringLiteral("COPYFILE_BEFORE_CHECK");
const QString CopyAfterCheckSection = QStringLiteral("COPYFILE_AFTER_CHECK");
const QString ProgramSection = QStringLiteral("PROGRAM%1_CONFIG");

// The stick's folder of every panel's backups, each in a folder named after its panel.
QString stickBackupFolder()
{
    // An empty variable names no stick: backups never go to the root of the panel's own disk.
    const QString exportDir = qEnvironmentVariable(qPrintable(ExportDirVariable));
    const QString root = exportDir.isEmpty() ? hix::panelPath(DefaultStickRoot) : exportDir;
    return root + BackupFolder;
}

// A count larger than the entries a section holds is a mistake in the description; the groups
// whose entries need no key of their own get at most this many entries past the last one
// written, so an absurd count costs nothing.
constexpr int MaxEntriesPastLastKey = 16;

constexpr int NonceLength = 16;
constexpr int IdentifierLength = 12;

QString textOf(QSettings *reader, const QString &key)
{
    return ParseConfigInfo::textValue(reader->value(key));
}

QString trimmedText(QSettings *reader, const QString &key)
{
    return textOf(reader, key).trimmed();
}

// Decimal integer; absent or not a number reads as 0.
int intOf(QSettings *reader, const QString &key)
{
    return trimmedText(reader, key).toInt();
}

bool flagOf(QSettings *reader, const QString &key)
{
    return intOf(reader, key) != 0;
}

QString groupOf(const QString &prefix)
{
    return prefix.startsWith(QLatin1Char('/')) ? prefix.mid(1) : prefix;
}

// The highest n for which one of the keys name + n (n in plain decimal) exists in the section.
int highestIndex(
    QSettings *reader, const QString &prefix, std::initializer_list<QLatin1String> names)
{
    reader->beginGroup(groupOf(prefix));
    const QStringList keys = reader->childKeys();
    reader->endGroup();
    int highest = 0;
    for (const QString &key : keys) {
        for (const QLatin1String &name : names) {
            if (!key.startsWith(name))
                continue;
            const QString suffix = key.mid(name.size());
            bool ok = false;
            const int n = suffix.toInt(&ok);
            if (ok && n > highest && QString::number(n) == suffix)
                highest = n;
        }
    }
    return highest;
}

// Whether one of the keys name + n exists. A count whose own last entry is there needs no list
// of the section's keys, which for a package of many files is as large as the section itself.
bool hasEntry(
    QSettings *reader, const QString &prefix, std::initializer_list<QLatin1String> names, int n)
{
    for (const QLatin1String &name : names) {
        if (reader->contains(prefix + QLatin1Char('/') + name + QString::number(n)))
            return true;
    }
    return false;
}

// Entries to read for a group whose entries start with a gate key: none past the last gate key
// present, whatever the count says.
int gatedCount(
    QSettings *reader, const QString &prefix, const QString &countKey, QLatin1String gate)
{
    const int count = intOf(reader, prefix + countKey);
    if (count <= 0)
        return 0;
    if (hasEntry(reader, prefix, { gate }, count))
        return count;
    return qMin(count, highestIndex(reader, prefix, { gate }));
}

int ungatedCount(QSettings *reader, const QString &prefix, const QString &countKey,
    std::initializer_list<QLatin1String> names)
{
    const int count = intOf(reader, prefix + countKey);
    if (count <= 0)
        return 0;
    if (hasEntry(reader, prefix, names, count))
        return count;
    const int last = highestIndex(reader, prefix, names);
    return qMin(count, last + MaxEntriesPastLastKey);
}

QString numbered(const QString &prefix, const char *key, int n)
{
    return prefix + QLatin1Char('/') + QLatin1String(key) + QString::number(n);
}

QString message(int id, const QString &path)
{
    return hix::text(id).arg(PathDeal::getTargetName(path));
}

} // namespace

bool ParseConfigInfo::readIni(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        emit emitMessage(message(MsgIniMissing, path), Qt::black);
        return false;
    }
    const QString plain = QSettingsFactory::plainCopyOf(path);
    if (plain.isEmpty()) {
        emit emitMessage(message(MsgIniUnreadable, path), Qt::black);
        return false;
    }
    // The copy lists are read here; the settings reader reads the rest of the file.
    const QString others = plain + QStringLiteral(".others");
    const bool listsRead = copyLists.read(plain, others);
    auto reader = std::make_unique<QSettings>(listsRead ? others : plain, QSettings::IniFormat);
    reader->setIniCodec(QTextCodec::codecForName("utf-8"));

    readingFile = true;
    copyChecksRead = false;
    parseUpdateConfig(reader.get());
    parseUpdateCheck(reader.get());
    parseCopyFileInfo(reader.get());
    parseDeleteFileInfo(reader.get());
    parseExeFileInfo(reader.get());
    parseCommonInfo(reader.get());
    parseProgramConfigInfo(reader.get());
    parseUpdateFinishConfig(reader.get());
    readingFile = false;
    copyChecksRead = false;
    copyLists = CopyListReader();
    reader.reset();
    QFile::remove(others);
    return true;
}

void ParseConfigInfo::parseUpdateConfig(QSettings *reader)
{
    if (!reader)
        return;
    updateConfig.programNum = intOf(reader, QStringLiteral("/UPDATE_CONFIG/PROGRAM_NUM"));
    updateConfig.execCondition = intOf(reader, QStringLiteral("/UPDATE_CONFIG/EXEC_CONDITION"));
    const QString showKey = QStringLiteral("/UPDATE_CONFIG/SHOW_UPDATE_PAGE");
    updateConfig.showUpdatePage = !reader->contains(showKey) || flagOf(reader, showKey);
    updateConfig.toolTitle = textOf(reader, QStringLiteral("/UPDATE_CONFIG/TOOL_TITLE"));
    updateConfig.toolTip = textOf(reader, QStringLiteral("/UPDATE_CONFIG/TOOL_TIP"));
    updateConfig.finishTip = textOf(reader, QStringLiteral("/UPDATE_CONFIG/FINISH_TIP"));
}

void ParseConfigInfo::parseUpdateCheck(QSettings *reader)
{
    if (!reader)
        return;
    parseCheckInfo(updateCheck, reader, QStringLiteral("/UPDATE_CHECK"));
}

void ParseConfigInfo::parseCheckInfo(updateCheck_s &check, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    struct ListKey
    {
        const char *name;
        QStringList updateCheck_s::*list;
    };
    static const ListKey listKeys[] = {
        { "HMI_RESOLUTION", &updateCheck_s::hmiResolution },
        { "NK_VERSION", &updateCheck_s::nkVersion },
        { "NK_EXTRA", &updateCheck_s::nkExtra },
        { "APP_VERSION", &updateCheck_s::appVersion },
        { "FILE_CHECK", &updateCheck_s::fileCheck },
        { "HMI_PLATFORM", &updateCheck_s::hmiPlatform },
        { "HMI_TPYE", &updateCheck_s::hmiType },
        { "CPU_TPYE", &updateCheck_s::cpuType },
        { "FILESYSTEM_TYPE", &updateCheck_s::filesystemType },
        { "LAN_COUNT", &updateCheck_s::lanCount },
        { "COM_COUNT", &updateCheck_s::comCount },
        { "USB_COUNT", &updateCheck_s::usbCount },
        { "SLAVE_COUNT", &updateCheck_s::slaveCount },
    };
    for (const ListKey &key : listKeys) {
        QStringList &list = check.*key.list;
        list.clear();
        setVecInfo(list, reader->value(prefix + QLatin1Char('/') + QLatin1String(key.name)));
    }
    check.memoryLimit = textOf(reader, prefix + QLatin1String("/MEMORY_LIMIT"));

    check.diskSpaceChecks.clear();
    const int diskCount = ungatedCount(reader, prefix, QStringLiteral("/DISKSPACES_CHECK_NUM"),
        { QLatin1String("PARTITION_PATH"), QLatin1String("FREEDISK_LIMIT") });
    for (int i = 1; i <= diskCount; ++i) {
        diskSpaceCheck_s disk;
        disk.partitionPath = textOf(reader, numbered(prefix, "PARTITION_PATH", i));
        disk.freeDiskLimit = textOf(reader, numbered(prefix, "FREEDISK_LIMIT", i));
        check.diskSpaceChecks.push_back(disk);
    }

    check.exChecks.clear();
    const int exCount = ungatedCount(
        reader, prefix, QStringLiteral("/EX_CHECK_NUM"), { QLatin1String("EX_CHECK") });
    for (int i = 1; i <= exCount; ++i) {
        exCheckInfo_s ex;
        ex.exCheck = textOf(reader, numbered(prefix, "EX_CHECK", i));
        ex.exCheckRes = textOf(reader, numbered(prefix, "EX_CHECK_RES", i));
        check.exChecks.push_back(ex);
    }

    check.checkSuccessIsShowDlg = intOf(reader, prefix + QLatin1String("/CHECK_SUCCESS_ISSHOWDLG"));
    check.checkSuccessMessage = textOf(reader, prefix + QLatin1String("/CHECK_SUCCESS_MESSAGE"));
    check.checkFailedIsShowDlg = intOf(reader, prefix + QLatin1String("/CHECK_FAILED_ISSHOWDLG"));
    check.checkFailedMessage = textOf(reader, prefix + QLatin1String("/CHECK_FAILED_MESSAGE"));
}

QString ParseConfigInfo::textValue(const QVariant &value)
{
    // The INI reader turns an unquoted value with commas into a list; the text is given back
    // with its elements joined by commas rather than lost.
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void ParseConfigInfo::setVecInfo(QStringList &list, const QVariant &value)
{
    if (value.type() == QVariant::StringList) {
        for (const QString &element : value.toStringList()) {
            const QString trimmed = element.trimmed();
            if (!trimmed.isEmpty())
                list.append(trimmed);
        }
        return;
    }
    const QString trimmed = value.toString().trimmed();
    if (!trimmed.isEmpty())
        list.append(trimmed);
}

void ParseConfigInfo::parseCopyFileInfo(QSettings *reader)
{
    if (!reader)
        return;
    parseCopyInfo(copyFileInfo, reader, QStringLiteral("/COPYFILE"));
}

void ParseConfigInfo::parseCopyInfo(copyFileInfo_s &info, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    if (!copyChecksRead) {
        parseCheckInfo(copyBeforeCheck, reader, CopyBeforeCheckSection);
        parseCheckInfo(copyAfterCheck, reader, CopyAfterCheckSection);
        // Outside readIni every call reads the sections afresh.
        copyChecksRead = readingFile;
    }
    info.beforeCheck = copyBeforeCheck;
    info.afterCheck = copyAfterCheck;

    if (readingFile && copyLists.isRead()) {
        // The settings reader never parses the section: it would hold the list a second time.
        copyLists.take(groupOf(prefix), info);
        return;
    }
    info.copyFileData.clear();
    const int count
        = gatedCount(reader, prefix, QStringLiteral("/COPYFILENUM"), QLatin1String("SRCPATH"));
    info.delBeforeCopy = flagOf(reader, prefix + QLatin1String("/DELBEFORECOPY"));
    // A list of many files would otherwise hold its old and new storage at once while it grows.
    info.copyFileData.reserve(size_t(count));
    for (int i = 1; i <= count; ++i) {
        const QString srcKey = numbered(prefix, "SRCPATH", i);
        if (!reader->contains(srcKey))
            continue;
        copyFileData_s data;
        data.srcPath = trimmedText(reader, srcKey);
        data.destPath = trimmedText(reader, numbered(prefix, "DESTPATH", i));
        if (data.srcPath.isEmpty() || data.destPath.isEmpty())
            continue;
        data.crcValue = trimmedText(reader, numbered(prefix, "CRCVALUE", i)).toUpper();
        data.mode = intOf(reader, numbered(prefix, "MODE", i));
        info.copyFileData.push_back(data);
    }
}

void ParseConfigInfo::parseDeleteFileInfo(QSettings *reader)
{
    if (!reader)
        return;
    parseDelInfo(delFileInfo, reader, QStringLiteral("/DELFILE"));
}

void ParseConfigInfo::parseExeFileInfo(QSettings *reader)
{
    if (!reader)
        return;
    parseExeInfo(exeFileInfo, reader, QStringLiteral("/EXEFILE"));
}

void ParseConfigInfo::parseCommonInfo(QSettings *reader)
{
    if (!reader)
        return;
    parseCmdInfo(commondInfo, reader, QStringLiteral("/COMMOND"));
}

void ParseConfigInfo::parseDelInfo(
    std::vector<delFileInfo_s> &list, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    list.clear();
    const int declared = intOf(reader, prefix + QLatin1String("/DELFILENUM"));
    qDebug().noquote() << prefix << " delFileNum: " << declared;
    const int count
        = gatedCount(reader, prefix, QStringLiteral("/DELFILENUM"), QLatin1String("SRCPATH"));
    for (int i = 1; i <= count; ++i) {
        const QString srcKey = numbered(prefix, "SRCPATH", i);
        if (!reader->contains(srcKey))
            continue;
        delFileInfo_s entry;
        entry.srcPath = trimmedText(reader, srcKey);
        if (entry.srcPath.isEmpty())
            continue;
        entry.mode = intOf(reader, numbered(prefix, "MODE", i));
        list.push_back(entry);
    }
}

void ParseConfigInfo::parseExeInfo(
    std::vector<exeFileInfo_s> &list, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    list.clear();
    qDebug().noquote() << prefix
                       << "exeFileNum: " << intOf(reader, prefix + QLatin1String("/EXEFILENUM"));
    const int count
        = gatedCount(reader, prefix, QStringLiteral("/EXEFILENUM"), QLatin1String("SRCPATH"));
    for (int i = 1; i <= count; ++i) {
        const QString srcKey = numbered(prefix, "SRCPATH", i);
        if (!reader->contains(srcKey))
            continue;
        exeFileInfo_s entry;
        entry.srcPath = trimmedText(reader, srcKey);
        if (!entry.srcPath.isEmpty())
            list.push_back(entry);
    }
}

void ParseConfigInfo::parseCmdInfo(
    std::vector<commondInfo_s> &list, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    list.clear();
    qDebug().noquote() << prefix
                       << "cmdNum: " << intOf(reader, prefix + QLatin1String("/COMMONDNUM"));
    const int count
        = gatedCount(reader, prefix, QStringLiteral("/COMMONDNUM"), QLatin1String("COMMONDINFO"));
    for (int i = 1; i <= count; ++i) {
        const QString cmdKey = numbered(prefix, "COMMONDINFO", i);
        if (!reader->contains(cmdKey))
            continue;
        commondInfo_s entry;
        entry.commond = trimmedText(reader, cmdKey);
        if (entry.commond.isEmpty())
            continue;
        entry.execResult = trimmedText(reader, numbered(prefix, "EXECRESULT", i));
        list.push_back(entry);
    }
}

void ParseConfigInfo::parseBackupInfo(
    std::vector<backupFileInfo_s> &list, QSettings *reader, const QString &prefix)
{
    if (!reader)
        return;
    list.clear();
    const int count
        = gatedCount(reader, prefix, QStringLiteral("/BACKUPFILENUM"), QLatin1String("SRCPATH"));
    for (int i = 1; i <= count; ++i) {
        const QString srcKey = numbered(prefix, "SRCPATH", i);
        if (!reader->contains(srcKey))
            continue;
        backupFileInfo_s entry;
        entry.srcPath = trimmedText(reader, srcKey);
        const QString dst = trimmedText(reader, numbered(prefix, "DSTPATH", i));
        if (entry.srcPath.isEmpty() || dst.isEmpty())
            continue;
        entry.dstPath = backupRoot() + QLatin1Char('/') + dst;
        entry.mode = intOf(reader, numbered(prefix, "MODE", i));
        entry.existCheck = flagOf(reader, numbered(prefix, "EXIST_CHECK", i));
        list.push_back(entry);
    }
}

void ParseConfigInfo::parseProgramConfigInfo(QSettings *reader)
{
    if (!reader)
        return;
    programConfig.clear();
    if (updateConfig.programNum <= 0)
        return;

    // Numbers past the last program section written cannot yield a program.
    int lastSection = 0;
    // The settings reader lists its groups only once it has parsed every section, the copy
    // lists with them.
    const QStringList groups
        = readingFile && copyLists.isRead() ? copyLists.sectionNames() : reader->childGroups();
    for (const QString &group : groups) {
        if (!group.startsWith(QLatin1String("PROGRAM"))
            || !group.endsWith(QLatin1String("_CONFIG")))
            continue;
        const QString digits = group.mid(7, group.size() - 7 - 7);
        bool ok = false;
        const int n = digits.toInt(&ok);
        if (ok && n > lastSection && QString::number(n) == digits)
            lastSection = n;
    }
    const int count = qMin(updateConfig.programNum, lastSection);

    for (int i = 1; i <= count; ++i) {
        const QString p = ProgramSection.arg(i);
        const QString pathKey = p + QLatin1String("/PATH");
        if (!reader->contains(pathKey))
            continue;
        programConfig_s program;
        program.sectionNumber = i;
        program.path = trimmedText(reader, pathKey);
        if (program.path.isEmpty())
            continue;
        program.param = reader->value(p + QLatin1String("/PARAM")).toStringList();
        // An empty PARAM means no arguments, not one empty argument.
        if (program.param.size() == 1 && program.param.first().isEmpty())
            program.param.clear();
        program.isEncrypt = flagOf(reader, p + QLatin1String("/IS_ENCRYPT"));
        program.isExitWait = flagOf(reader, p + QLatin1String("/IS_EXIT_WAIT"));
        program.isExitQwsServer = flagOf(reader, p + QLatin1String("/IS_EXIT_QWSSERVER"));
        program.isCheckResult = flagOf(reader, p + QLatin1String("/IS_CHECK_RESULT"));
        program.successResult = trimmedText(reader, p + QLatin1String("/SUCCESS_RESULT"));
        program.startFailedMess = trimmedText(reader, p + QLatin1String("/START_FAILED_MESS"));
        program.execFailedMess = trimmedText(reader, p + QLatin1String("/EXEC_FAILED_MESS"));
        const QString successAction
            = trimmedText(reader, p + QLatin1String("/EXEC_SUCCESS_LATER_ACTION"));
        program.execSuccessLaterAction = successAction.isEmpty() ? 1 : successAction.toInt();
        const QString failedAction
            = trimmedText(reader, p + QLatin1String("/EXEC_FAILED_LATER_ACTION"));
        program.execFailedLaterAction = failedAction.isEmpty() ? 0 : failedAction.toInt();

        const QString n = QString::number(i);
        parseCheckInfo(
            program.beforeCheck, reader, QStringLiteral("PROGRAM%1_BEFORE_CHECK").arg(n));
        parseCheckInfo(program.afterCheck, reader, QStringLiteral("PROGRAM%1_AFTER_CHECK").arg(n));
        parseBackupInfo(
            program.beforeBackup, reader, QStringLiteral("PROGRAM%1_BEFORE_BACKUPFILE").arg(n));
        parseCopyInfo(
            program.beforeCopy, reader, QStringLiteral("PROGRAM%1_BEFORE_COPYFILE").arg(n));
        parseDelInfo(program.beforeDel, reader, QStringLiteral("PROGRAM%1_BEFORE_DELFILE").arg(n));
        parseExeInfo(program.beforeExe, reader, QStringLiteral("PROGRAM%1_BEFORE_EXEFILE").arg(n));
        parseCmdInfo(program.beforeCmd, reader, QStringLiteral("PROGRAM%1_BEFORE_COMMOND").arg(n));
        parseCopyInfo(program.afterCopy, reader, QStringLiteral("PROGRAM%1_AFTER_COPYFILE").arg(n));
        parseDelInfo(program.afterDel, reader, QStringLiteral("PROGRAM%1_AFTER_DELFILE").arg(n));
        parseExeInfo(program.afterExe, reader, QStringLiteral("PROGRAM%1_AFTER_EXEFILE").arg(n));
        parseCmdInfo(program.afterCmd, reader, QStringLiteral("PROGRAM%1_AFTER_COMMOND").arg(n));
        programConfig.push_back(std::move(program));
    }
}

void ParseConfigInfo::parseUpdateFinishConfig(QSettings *reader)
{
    if (!reader)
        return;
    updateFinishConfig.beepNum = intOf(reader, QStringLiteral("/UPDATE_FINISH_CONFIG/BEEPNUM"));
    updateFinishConfig.reboot = flagOf(reader, QStringLiteral("/UPDATE_FINISH_CONFIG/REBOOT"));
}

QString ParseConfigInfo::getBackupPath()
{
    const QString own = panelBackupPath();
    return own.isEmpty() ? stickBackupFolder() : own;
}

QString ParseConfigInfo::panelBackupPath()
{
    char identifier[256] = {};
    if (getUniqueID(identifier) != 0 || identifier[0] == '\0')
        return QString();
    return stickBackupFolder() + QString::fromLatin1(identifier);
}

QString ParseConfigInfo::backupRoot() const
{
    return fixedBackupRoot.isEmpty() ? getBackupPath() : fixedBackupRoot;
}

void ParseConfigInfo::mixIdentity(const unsigned char p[6], unsigned char out[12])
{
    out[0] = p[0];
    out[1] = p[1] ^ 0x5A;
    out[2] = p[2];
    out[3] = p[3] ^ 0xC3;
    out[4] = p[4];
    out[5] = p[5] ^ 0x96;
    out[6] = p[0] ^ p[1] ^ 0x3C;
    out[7] = p[1] ^ p[2] ^ 0xA5;
    out[8] = p[2] ^ p[3] ^ 0x69;
    out[9] = p[3] ^ p[4] ^ 0x0F;
    out[10] = p[4] ^ p[5] ^ 0xE1;
    out[11] = p[5] ^ p[0] ^ 0x78;
}

int ParseConfigInfo::getUniqueID(char *out)
{
    if (!out)
        return -1;
    int err = netlink_wrapper2::hal_netlink_init();
    if (err != 0) {
        // The trace names the failure only; the code is the result.
        qDebug() << "system hal netlink init failed: %d!";
        return err;
    }

    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    srand(static_cast<unsigned>(now.tv_sec * 1000 + now.tv_nsec / 1000000));
    unsigned char nonce[NonceLength];
    for (unsigned char &byte : nonce)
        byte = static_cast<unsigned char>((static_cast<unsigned long long>(rand()) * 255) >> 31);

    hal_netlink_cmd_get_id_req req {};
    std::memcpy(req.key, nonce, NonceLength);
    req.keyLen = NonceLength;
    hal_netlink_cmd_get_id_resp resp {};
    err = netlink_wrapper2::hal_netlink_get_platform_id(&req, &resp);
    if (err != 0) {
        qDebug("hal_netlink_get_platform_id failed");
        netlink_wrapper2::hal_netlink_exit();
        return err;
    }
    if (resp.status != 0) {
        qDebug("hal_netlink_get_platform_id resp_id.status = %d", resp.status);
        netlink_wrapper2::hal_netlink_exit();
        return -1;
    }

    unsigned char masked[NonceLength];
    for (int i = 0; i < NonceLength; ++i)
        masked[i] = resp.idBlock[i] ^ nonce[i];
    AES_KEY key;
    AES_set_decrypt_key(nonce, 128, &key);
    unsigned char plain[NonceLength];
    AES_ecb_encrypt(masked, plain, &key, AES_DECRYPT);

    unsigned char identifier[IdentifierLength];
    mixIdentity(plain, identifier);
    char text[IdentifierLength * 2 + 1] = {};
    for (int i = 0; i < IdentifierLength; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", identifier[i]);
    std::memcpy(out, text, sizeof text);
    netlink_wrapper2::hal_netlink_exit();
    return 0;
}
