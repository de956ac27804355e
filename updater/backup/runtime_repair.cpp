// The repair of a restored runtime: its own file list read, the shared libraries given the
// names they answer to, and its programs made executable again.
#include "backup_file.h"

#include "backup_detail.h"
#include "file_io.h"
#include "multilingual_manager.h"
#include "qsettings_factory.h"

#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QTextCodec>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

using hix::text;
using namespace backup_detail;

namespace {

// The runtime's own file list, relative to the runtime folder.
const char *const RuntimeFileList = "./update.ini";

} // namespace

bool backup_file_c::recoverVexo_app()
{
    // The runtime's own file list names its files relative to the runtime folder.
    const QString previous = QDir::currentPath();
    m_runtimeDir = runtimeFolder();
    if (!QDir::setCurrent(m_runtimeDir)) {
        qDebug() << QString::fromUtf8("切换路径%1失败。").arg(m_runtimeDir);
        return false;
    }
    bool ok = false;
    if (!parseIniFile(PARASE_PLAIN)) {
        qDebug() << QString::fromUtf8("待恢复vexo_app解析ini文件失败。");
    } else if (!creatLink()) {
        qDebug() << QString::fromUtf8("恢复vexo_app后创建软链接失败。");
    } else {
        hix::io::flush::runStep();
        if (!changeFileRight()) {
            qDebug() << QString::fromUtf8("恢复vexo_app后改变执行权限失败。");
        } else {
            hix::io::flush::runStep();
            ok = true;
        }
    }
    QDir::setCurrent(previous);
    return ok;
}

bool backup_file_c::parseIniFile(PARASE_TYPE type)
{
    emit emitMessage(text(MsgParsingRuntimeList));
    qDebug() << QString::fromUtf8("运行环境:正在解析升级文件...");
    std::unique_ptr<QSettings> settings;
    if (type == PARASE_CRYPT) {
        settings.reset(QSettingsFactory::createQSettings(
            QString::fromLatin1(RuntimeFileList), QSettings::IniFormat));
        if (!settings)
            return false;
    } else {
        settings = std::make_unique<QSettings>(
            QString::fromLatin1(RuntimeFileList), QSettings::IniFormat);
    }
    settings->setIniCodec(QTextCodec::codecForName("UTF-8"));
    if (settings->value("/UPDATEINFO/file_num").toUInt() == 0) {
        emit emitMessage(text(MsgRuntimeListEmpty));
        return false;
    }
    const uint count = settings->value("/ACCESSRIGHT/file_num").toUInt();
    for (uint i = 1; i <= count; ++i) {
        qDebug() << "parse file one...";
        m_exeFileList << settings->value(QStringLiteral("/EXE%1/file_name").arg(i)).toString();
    }
    qDebug() << QString::fromUtf8("运行环境:解析vexo_app/update.ini升级文件成功...");
    return true;
}

bool backup_file_c::creatLink()
{
    emit emitMessage(text(MsgRepairingLibraries));
    const QFileInfoList entries = listFolder(QStringLiteral("."), QDir::Files | QDir::Dirs);
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QString name = it->fileName();
        if (!it->isFile() || !name.contains(QLatin1String(".so.")))
            continue;
        // libx.so.1.2.3 answers to its first three dot-separated parts: libx.so.1.
        const QString target = name.section(QLatin1Char('.'), 0, 2);
        if (target == name)
            continue;
        if (::rename(nativePath(name).constData(), nativePath(target).constData()) != 0) {
            qWarning() << "cannot rename" << name << "to" << target << errorText(errno);
            message(MsgLibraryRenameFailed, name, QColor(Qt::red));
            return false;
        }
        const QString folder = m_runtimeDir.isEmpty() ? QDir::currentPath() : m_runtimeDir;
        m_renamed.emplace_back(QDir::cleanPath(folder + QLatin1Char('/') + name),
            QDir::cleanPath(folder + QLatin1Char('/') + target));
    }
    emit emitMessage(text(MsgLibrariesRepaired));
    return true;
}

bool backup_file_c::changeFileRight()
{
    for (const QString &name : qAsConst(m_exeFileList)) {
        const QByteArray native = nativePath(name);
        struct stat st;
        if (::stat(native.constData(), &st) != 0
            || ::chmod(native.constData(), (st.st_mode & 07777) | 0111) != 0) {
            qWarning() << "cannot give execute permission to" << name << errorText(errno);
            message(MsgExeRightFailed, name, QColor(Qt::red));
            return false;
        }
        message(MsgExeRightDone, name);
    }
    return true;
}
