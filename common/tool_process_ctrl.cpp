#include "tool_process_ctrl.h"

#include "file_io.h"
#include "mount_watch.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <unistd.h>

namespace {

const char *const ProcessKeys[] = {
    "/copyFile/status",
    "/delFile/status",
    "/exeFile/status",
    "/command/status",
    "/updatePro/status",
    "/updatePro/curProIndex",
    "/updatePro/execResult",
};

const char *const StatusTexts[] = { "notExec", "success", "failed", "?" };

const QString SetAsideGroup = QStringLiteral("setAside");

constexpr int ProcessKeyCount = int(sizeof ProcessKeys / sizeof *ProcessKeys);
constexpr int StatusCount = int(sizeof StatusTexts / sizeof *StatusTexts);

} // namespace

ToolProcessCtrl *ToolProcessCtrl::GetInstance()
{
    static ToolProcessCtrl instance;
    return &instance;
}

QString ToolProcessCtrl::keyOf(prcessNameEnum name)
{
    const int i = int(name);
    return i >= 0 && i < ProcessKeyCount ? QString::fromLatin1(ProcessKeys[i]) : QString();
}

QString ToolProcessCtrl::textOf(prcessStatuseEnum status)
{
    const int i = int(status);
    return QString::fromLatin1(StatusTexts[i >= 0 && i < StatusCount ? i : STATUS_UNKNOWN]);
}

void ToolProcessCtrl::initIniPath(const QString &dir)
{
    ctrlDir = dir;
    ctrlIniPath = dir + QLatin1Char('/') + QLatin1String(IniFileName);
    ctrlMount = hix::mountIdOf(dir);
}

bool ToolProcessCtrl::onItsStick() const
{
    // A pulled stick's path leads into the panel's own disk: a state written there would be
    // hidden under the stick once it is back, and no run would ever read it.
    if (ctrlMount < 0 || hix::mountIdOf(ctrlDir) == ctrlMount)
        return true;
    qWarning() << "the stick of the progress state has gone:" << ctrlIniPath;
    return false;
}

bool ToolProcessCtrl::isProcessCtrlIniExit() const
{
    return !ctrlIniPath.isEmpty() && QFileInfo(ctrlIniPath).isFile();
}

bool ToolProcessCtrl::removeCtrlIni()
{
    hix::io::flush::beforeRecord();
    bool fileGone = true;
    if (QFileInfo::exists(ctrlIniPath)) {
        fileGone = QFile::remove(ctrlIniPath);
        if (!fileGone)
            qWarning() << "cannot remove" << ctrlIniPath;
    }
    bool dirGone = true;
    if (!ctrlDir.isEmpty() && QFileInfo(ctrlDir).isDir()) {
        // A write of the state cut off by a power cut leaves the settings writer's own files
        // beside it on a stick (its lock and its temporary copy): they are the state's and go
        // with it.
        const QRegularExpression writerFile(QStringLiteral("^%1\\.([A-Za-z0-9]{6}|lock|rmlock)$")
                                                .arg(QRegularExpression::escape(IniFileName)));
        for (const QString &name : QDir(ctrlDir).entryList(QDir::Files | QDir::Hidden)) {
            if (writerFile.match(name).hasMatch() && !QFile::remove(ctrlDir + '/' + name))
                qWarning() << "cannot remove" << name << "in" << ctrlDir;
        }
        dirGone = QDir().rmdir(ctrlDir);
        if (!dirGone)
            qWarning() << "cannot remove folder" << ctrlDir;
    }
    // The state's folder has gone: the folder that held it takes the removal to the stick.
    if (!ctrlDir.isEmpty()) {
        if (QFileInfo(ctrlDir).isDir())
            hix::io::flush::noteFolder(ctrlDir);
        hix::io::flush::stateRemoved(QFileInfo(ctrlDir).absolutePath());
    }
    return fileGone && dirGone;
}

bool ToolProcessCtrl::isUpdateSuccess() const
{
    if (ctrlIniPath.isEmpty())
        return true;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        // The package the progress belongs to and the record of set-aside files are no phase.
        if (QLatin1Char('/') + key == QLatin1String(PackageKey)
            || key.startsWith(SetAsideGroup + QLatin1Char('/')))
            continue;
        // A program index means the program loop has not finished.
        if (QLatin1Char('/') + key == keyOf(PROCESS_CUR_PRO_INDEX))
            return false;
        if (settings.value(key).toString() != textOf(STATUS_SUCCESS))
            return false;
    }
    return true;
}

bool ToolProcessCtrl::setProcessStatus(const prcessNameEnum &name, const prcessStatuseEnum &status)
{
    return setProcessValue(keyOf(name), textOf(status));
}

bool ToolProcessCtrl::setProcessValue(const QString &key, const QString &value)
{
    if (ctrlIniPath.isEmpty() || key.isEmpty()) {
        qWarning() << "progress state written before its place is known:" << key;
        return true;
    }
    if (!onItsStick())
        return false;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    settings.setValue(key, value);
    return commit(settings);
}

bool ToolProcessCtrl::commit(QSettings &settings) const
{
    bool flushed = hix::io::flush::beforeRecord();
    // The first write creates the state's folder, and the stick's backup folder with it: their
    // names must reach the stick together with the state.
    hix::io::flush::noteNewFolders(ctrlDir);
    flushed = hix::io::flush::beforeSettingsWrite(ctrlIniPath) && flushed;
    settings.sync();
    // The settings writer flushes its new copy before that copy takes the file's name: on a
    // stick that keeps writes in its cache the name must be flushed as well, or a cut finds the
    // state of a step before.
    flushed = hix::io::flush::stateFile(ctrlIniPath) && flushed;
    if (settings.status() == QSettings::NoError && flushed)
        return true;
    qWarning() << "cannot write progress state" << ctrlIniPath << (flushed ? "" : "to the medium");
    return false;
}

QVariant ToolProcessCtrl::getProcessValue(const QString &key) const
{
    if (ctrlIniPath.isEmpty())
        return QVariant();
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    return settings.value(key);
}

prcessStatuseEnum ToolProcessCtrl::getProcessStatus(const prcessNameEnum &name) const
{
    const QString text = getProcessValue(keyOf(name)).toString();
    for (int i = 0; i < StatusCount; ++i) {
        if (text == QLatin1String(StatusTexts[i]))
            return prcessStatuseEnum(i);
    }
    return STATUS_UNKNOWN;
}

bool ToolProcessCtrl::isContainKey(const QString &key) const
{
    if (ctrlIniPath.isEmpty())
        return false;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    return settings.contains(key);
}

bool ToolProcessCtrl::removeCtrlIniKey(const prcessNameEnum &name)
{
    return removeCtrlIniKey(keyOf(name));
}

bool ToolProcessCtrl::removeCtrlIniKey(const QString &key)
{
    // Removing from a file that does not exist must not create one: an existing file tells the
    // launcher that an update was interrupted.
    if (!isProcessCtrlIniExit())
        return true;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    settings.remove(key);
    return commit(settings);
}

QStringList ToolProcessCtrl::setAsideFiles() const
{
    QStringList paths;
    if (!isProcessCtrlIniExit())
        return paths;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    settings.beginGroup(SetAsideGroup);
    const int count = settings.value(QStringLiteral("count")).toInt();
    for (int i = 1; i <= count; ++i) {
        const QString path = settings.value(QStringLiteral("path%1").arg(i)).toString();
        if (!path.isEmpty())
            paths << path;
    }
    return paths;
}

bool ToolProcessCtrl::setSetAsideFiles(const QStringList &paths)
{
    if (ctrlIniPath.isEmpty() || (paths.isEmpty() && !isProcessCtrlIniExit()))
        return true;
    if (!onItsStick())
        return false;
    QSettings settings(ctrlIniPath, QSettings::IniFormat);
    settings.remove(SetAsideGroup);
    if (!paths.isEmpty()) {
        settings.beginGroup(SetAsideGroup);
        settings.setValue(QStringLiteral("count"), paths.size());
        for (int i = 0; i < paths.size(); ++i)
            settings.setValue(QStringLiteral("path%1").arg(i + 1), paths.at(i));
        settings.endGroup();
    }
    return commit(settings);
}
