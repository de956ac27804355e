#include "package_show.h"

#include "description_text.h"
#include "panel_path.h"
#include "parse_config_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {

QJsonArray list(const QStringList &values)
{
    return QJsonArray::fromStringList(values);
}

QJsonObject check(const updateCheck_s &c)
{
    QJsonArray disks;
    for (const diskSpaceCheck_s &d : c.diskSpaceChecks)
        disks.append(QJsonObject {
            { QStringLiteral("partitionPath"), d.partitionPath },
            { QStringLiteral("freeDiskLimit"), d.freeDiskLimit },
        });
    QJsonArray extra;
    for (const exCheckInfo_s &e : c.exChecks)
        extra.append(QJsonObject {
            { QStringLiteral("exCheck"), e.exCheck },
            { QStringLiteral("exCheckRes"), e.exCheckRes },
        });
    return QJsonObject {
        { QStringLiteral("hmiResolution"), list(c.hmiResolution) },
        { QStringLiteral("nkVersion"), list(c.nkVersion) },
        { QStringLiteral("nkExtra"), list(c.nkExtra) },
        { QStringLiteral("appVersion"), list(c.appVersion) },
        { QStringLiteral("fileCheck"), list(c.fileCheck) },
        { QStringLiteral("hmiPlatform"), list(c.hmiPlatform) },
        { QStringLiteral("hmiType"), list(c.hmiType) },
        { QStringLiteral("cpuType"), list(c.cpuType) },
        { QStringLiteral("filesystemType"), list(c.filesystemType) },
        { QStringLiteral("lanCount"), list(c.lanCount) },
        { QStringLiteral("comCount"), list(c.comCount) },
        { QStringLiteral("usbCount"), list(c.usbCount) },
        { QStringLiteral("slaveCount"), list(c.slaveCount) },
        { QStringLiteral("memoryLimit"), c.memoryLimit },
        { QStringLiteral("diskSpaceChecks"), disks },
        { QStringLiteral("exChecks"), extra },
        { QStringLiteral("checkSuccessIsShowDlg"), c.checkSuccessIsShowDlg },
        { QStringLiteral("checkSuccessMessage"), c.checkSuccessMessage },
        { QStringLiteral("checkFailedIsShowDlg"), c.checkFailedIsShowDlg },
        { QStringLiteral("checkFailedMessage"), c.checkFailedMessage },
    };
}

QJsonObject copy(const copyFileInfo_s &info)
{
    QJsonArray entries;
    for (const copyFileData_s &d : info.copyFileData)
        entries.append(QJsonObject {
            { QStringLiteral("srcPath"), d.srcPath },
            { QStringLiteral("destPath"), d.destPath },
            { QStringLiteral("crcValue"), d.crcValue },
            { QStringLiteral("mode"), d.mode },
        });
    return QJsonObject {
        { QStringLiteral("delBeforeCopy"), info.delBeforeCopy },
        { QStringLiteral("copyFileData"), entries },
        { QStringLiteral("beforeCheck"), check(info.beforeCheck) },
        { QStringLiteral("afterCheck"), check(info.afterCheck) },
    };
}

QJsonArray del(const std::vector<delFileInfo_s> &entries)
{
    QJsonArray out;
    for (const delFileInfo_s &d : entries)
        out.append(QJsonObject {
            { QStringLiteral("srcPath"), d.srcPath },
            { QStringLiteral("mode"), d.mode },
        });
    return out;
}

QJsonArray exe(const std::vector<exeFileInfo_s> &entries)
{
    QJsonArray out;
    for (const exeFileInfo_s &e : entries)
        out.append(QJsonObject { { QStringLiteral("srcPath"), e.srcPath } });
    return out;
}

QJsonArray cmd(const std::vector<commondInfo_s> &entries)
{
    QJsonArray out;
    for (const commondInfo_s &c : entries)
        out.append(QJsonObject {
            { QStringLiteral("commond"), c.commond },
            { QStringLiteral("execResult"), c.execResult },
        });
    return out;
}

QJsonArray backup(const std::vector<backupFileInfo_s> &entries)
{
    QJsonArray out;
    for (const backupFileInfo_s &b : entries)
        out.append(QJsonObject {
            { QStringLiteral("srcPath"), b.srcPath },
            { QStringLiteral("dstPath"), b.dstPath },
            { QStringLiteral("backupCrc"), b.backupCrc },
            { QStringLiteral("mode"), b.mode },
            { QStringLiteral("existCheck"), b.existCheck },
        });
    return out;
}

QJsonObject program(const programConfig_s &p)
{
    return QJsonObject {
        { QStringLiteral("path"), p.path },
        { QStringLiteral("param"), list(p.param) },
        { QStringLiteral("isEncrypt"), p.isEncrypt },
        { QStringLiteral("isExitWait"), p.isExitWait },
        { QStringLiteral("isExitQwsServer"), p.isExitQwsServer },
        { QStringLiteral("isCheckResult"), p.isCheckResult },
        { QStringLiteral("successResult"), p.successResult },
        { QStringLiteral("startFailedMess"), p.startFailedMess },
        { QStringLiteral("execFailedMess"), p.execFailedMess },
        { QStringLiteral("execSuccessLaterAction"), p.execSuccessLaterAction },
        { QStringLiteral("execFailedLaterAction"), p.execFailedLaterAction },
        { QStringLiteral("beforeCheck"), check(p.beforeCheck) },
        { QStringLiteral("afterCheck"), check(p.afterCheck) },
        { QStringLiteral("beforeBackup"), backup(p.beforeBackup) },
        { QStringLiteral("beforeCopy"), copy(p.beforeCopy) },
        { QStringLiteral("beforeDel"), del(p.beforeDel) },
        { QStringLiteral("beforeExe"), exe(p.beforeExe) },
        { QStringLiteral("beforeCmd"), cmd(p.beforeCmd) },
        { QStringLiteral("afterCopy"), copy(p.afterCopy) },
        { QStringLiteral("afterDel"), del(p.afterDel) },
        { QStringLiteral("afterExe"), exe(p.afterExe) },
        { QStringLiteral("afterCmd"), cmd(p.afterCmd) },
    };
}

} // namespace

bool package_show_c::readDescription(const QString &descriptionFile, ParseConfigInfo &parser,
    const QTemporaryDir &work, QString *error)
{
    QFile file(descriptionFile);
    if (!QFileInfo(descriptionFile).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read \"%1\": no such file").arg(descriptionFile);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (!work.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    // The stand-in panel serves this read only: paths looked up later are the real ones.
    const bool ownSysroot = hix::sysroot().isEmpty();
    if (ownSysroot)
        qputenv(hix::SysrootVariable, QFile::encodeName(work.path()));
    const auto restore = qScopeGuard([ownSysroot] {
        if (ownSysroot)
            qunsetenv(hix::SysrootVariable);
    });
    QDir().mkpath(hix::panelPath(QStringLiteral("/tmp")));

    QString scrambledPath = descriptionFile;
    if (!description_text_c::isScrambled(bytes)) {
        QByteArray plain = bytes;
        if (!plain.startsWith("\xEF\xBB\xBF"))
            plain.prepend("\xEF\xBB\xBF#\n");
        else if (plain.size() < 4 || plain.at(3) != '#')
            plain.insert(3, "#\n");
        scrambledPath = work.filePath(QStringLiteral("update.ini"));
        QFile out(scrambledPath);
        if (!out.open(QIODevice::WriteOnly)
            || out.write(description_text_c::scramble(plain)) != plain.size()) {
            *error = QStringLiteral("cannot write \"%1\"").arg(scrambledPath);
            return false;
        }
    }

    QString messages;
    const QMetaObject::Connection collect = QObject::connect(&parser, &ParseConfigInfo::emitMessage,
        [&messages](const QString &text, const QColor &) { messages += text; });
    const bool read = parser.readIni(scrambledPath);
    QObject::disconnect(collect);
    if (!read)
        *error = messages.isEmpty() ? QStringLiteral("cannot parse \"%1\"").arg(descriptionFile)
                                    : messages;
    return read;
}

QByteArray package_show_c::recordsJson(const QString &descriptionFile, QString *error)
{
    QTemporaryDir work;
    ParseConfigInfo parser;
    if (!readDescription(descriptionFile, parser, work, error))
        return QByteArray();
    const bool ownSysroot = hix::sysroot().isEmpty();

    const updateConfig_s u = parser.getUpdateConfig();
    QJsonArray programs;
    for (programConfig_s p : parser.getProgramConfigInfo()) {
        // Backup folders as the panel names them, not inside this run's stand-in folder.
        if (ownSysroot)
            for (backupFileInfo_s &b : p.beforeBackup)
                if (b.dstPath.startsWith(work.path() + QLatin1Char('/')))
                    b.dstPath = b.dstPath.mid(work.path().size());
        programs.append(program(p));
    }
    const updateFinishConfig_s f = parser.getUpdateFinishConfig();
    const QJsonObject root {
        { QStringLiteral("updateConfig"),
            QJsonObject {
                { QStringLiteral("programNum"), u.programNum },
                { QStringLiteral("execCondition"), u.execCondition },
                { QStringLiteral("showUpdatePage"), u.showUpdatePage },
                { QStringLiteral("toolTitle"), u.toolTitle },
                { QStringLiteral("toolTip"), u.toolTip },
                { QStringLiteral("finishTip"), u.finishTip },
            } },
        { QStringLiteral("updateCheck"), check(parser.getUpdateCheck()) },
        { QStringLiteral("copyFileInfo"), copy(parser.getCopyFileInfo()) },
        { QStringLiteral("delFileInfo"), del(parser.getDeleteFileInfo()) },
        { QStringLiteral("exeFileInfo"), exe(parser.getExeFileInfo()) },
        { QStringLiteral("commondInfo"), cmd(parser.getCommondInfo()) },
        { QStringLiteral("programConfig"), programs },
        { QStringLiteral("updateFinishConfig"),
            QJsonObject {
                { QStringLiteral("beepNum"), f.beepNum },
                { QStringLiteral("reboot"), f.reboot },
            } },
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
