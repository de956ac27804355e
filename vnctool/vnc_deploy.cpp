// Deploying VNC support from the stick's package and removing it again.
#include "access_file.h"
#include "directory_library.h"
#include "file_io.h"
#include "multilingual_manager.h"
#include "panel_path.h"
#include "vnc.h"
#include "vnc_paths.h"
#include "vnc_texts.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTextCodec>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

Qt::WindowFlags boxFlags(const QMessageBox &box)
{
    return (box.windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint;
}

} // namespace

bool vnc::isInstalled() const
{
    return QFileInfo::exists(hix::panelPath(VNC_SPACE::VNC_CONFIG_FILE))
        || QFileInfo::exists(hix::panelPath(VNC_SPACE::OLD_VNC_CONFIG_FILE));
}

bool vnc::initFileList()
{
    copyFiles.clear();
    deleteFiles.clear();
    const QString packageDir = vncStickDirectory() + QStringLiteral("/hixbackup/");

    QSettings description(hix::panelPath(vncCfgFile), QSettings::IniFormat);
    description.setIniCodec(QTextCodec::codecForName("UTF-8"));
    const QStringList groups = description.childGroups();
    for (const QString &group : groups) {
        description.beginGroup(group);
        if (group == QLatin1String("delete")) {
            const QStringList keys = description.childKeys();
            for (const QString &key : keys) {
                const QString path = description.value(key).toString();
                qDebug() << "delete entry" << path;
                deleteFiles << path;
            }
        } else if (group.startsWith(QLatin1String("copy"))) {
            const QString src = description.value(QStringLiteral("src")).toString();
            const QString desdir = description.value(QStringLiteral("desdir")).toString();
            const QString des = description.value(QStringLiteral("des")).toString();
            if (!src.isEmpty() && !desdir.isEmpty() && !des.isEmpty()) {
                copyFiles.append({ packageDir + src, desdir, des });
                qDebug() << "copy entry" << packageDir + src << desdir << des;
            }
        }
        description.endGroup();
    }
    return true;
}

bool vnc::deleteFile(const char *path)
{
    AccessFileRelease release;
    struct stat status;
    if (lstat(path, &status) != 0) {
        if (errno == ENOENT)
            return true;
        std::fprintf(stderr, "file:%s stat error!%s\n", path, std::strerror(errno));
        return false;
    }
    if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) {
        if (::remove(path) != 0) {
            std::fprintf(stderr, "remove file %s error:%s\n", path, std::strerror(errno));
            return false;
        }
        return true;
    }
    if (S_ISDIR(status.st_mode)) {
        if (Vexo_DeleteDirectory(path) == -1) {
            std::fprintf(stderr, "remove dir path %s error!\n", path);
            return false;
        }
        return true;
    }
    return false;
}

bool vnc::copyFile(const QString &srcPath, const QString &desPath)
{
    AccessFileRelease release;
    AccessFile *work = AccessFile::getInstance();
    if (!work || !work->allocate())
        return false;
    const QByteArray src = native(srcPath);
    const QByteArray des = native(desPath);

    struct stat status;
    if (stat(src.constData(), &status) != 0) {
        std::fprintf(
            stderr, "stat src path:%s failed! %s\n", src.constData(), std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "src file is not a regular file:%d\n", int(status.st_mode));
        return false;
    }
    const hix::io::Fd in = hix::io::openRegularForReading(srcPath);
    if (!in.isOpen()) {
        std::fprintf(
            stderr, "copy r open file:%s failed:%s\n", src.constData(), std::strerror(errno));
        return false;
    }
    const qint64 size = hix::io::sizeOf(in.get());
    if (size < 0) {
        std::fprintf(stderr, "seek file %s failed!%s\n", src.constData(), std::strerror(errno));
        return false;
    }
    hix::io::Fd out = hix::io::createForWriting(desPath, 0777);
    if (!out.isOpen()) {
        std::fprintf(
            stderr, "copy w open file:%s failed:%s\n", des.constData(), std::strerror(errno));
        return false;
    }
    if (size == 0)
        std::fprintf(stderr, "real copy a empty file:%s\n", des.constData());

    bool failed = true;
    switch (hix::io::copyBytes(in.get(), out.get(), size, work->data(), size_t(work->size()))) {
    case hix::io::CopyFailure::None:
        failed = false;
        break;
    case hix::io::CopyFailure::ReadFailed:
        std::fprintf(stderr, "error read failed!%s\n", std::strerror(errno));
        std::fprintf(stderr, " read file:%s data failed!\n", src.constData());
        break;
    case hix::io::CopyFailure::EndedEarly:
        std::fprintf(stderr, "reach the end of file, but not read finished!\n");
        std::fprintf(stderr, " read file:%s data failed!\n", src.constData());
        break;
    case hix::io::CopyFailure::WriteFailed:
        std::fprintf(stderr, "error write failed!%s\n", std::strerror(errno));
        std::fprintf(stderr, " write file:%s data failed!\n", des.constData());
        break;
    }
    hix::io::flush::deployedFile(out.get());
    // A close that fails can lose data the writes reported as done.
    const bool closed = out.close();
    if (!closed)
        std::fprintf(
            stderr, " write file:%s data failed!%s\n", des.constData(), std::strerror(errno));
    return !failed && closed;
}

void vnc::showResult(int titleId, int textId, const QString &text, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, hix::text(titleId),
        text.isNull() ? hix::text(textId) : text, QMessageBox::Ok, this);
    box.setWindowFlags(boxFlags(box));
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Ok)->setText(hix::text(MsgConfirm));
    box.exec();
}

void vnc::clickedSetVNCBt()
{
    if (isInstalled()) {
        QMessageBox question(
            QMessageBox::Information, hix::text(MsgDeployVnc), hix::text(MsgRedeployQuestion));
        question.setWindowFlags(boxFlags(question));
        QPushButton *confirm = question.addButton(hix::text(MsgConfirm), QMessageBox::AcceptRole);
        question.addButton(hix::text(MsgCancel), QMessageBox::RejectRole);
        question.exec();
        if (question.clickedButton() != confirm)
            return;
        if (!returnSignin())
            return;
    }

    const QDir base = QDir::current();
    initFileList();
    if (copyFiles.isEmpty()) {
        // A package that names nothing to copy deploys nothing: say so instead of success.
        showResult(MsgWarning, MsgConfigError, QString(), true);
        return;
    }
    const QString oldConfig = hix::panelPath(VNC_SPACE::OLD_VNC_CONFIG_FILE);
    for (const COPYFILE &entry : qAsConst(copyFiles)) {
        if (!QFileInfo::exists(entry.desdir) && !base.mkpath(entry.desdir)) {
            qWarning() << "vncsetup: cannot create" << entry.desdir;
            showResult(MsgWarning, 0,
                hix::text(MsgDeployFailed) + entry.desdir + hix::text(MsgCreateFailed), true);
            return;
        }
        deleteFile(native(entry.des).constData());
        if (QFileInfo::exists(oldConfig) || QFileInfo(oldConfig).isSymLink())
            deleteFile(native(oldConfig).constData());
        if (!copyFile(entry.src, entry.des)) {
            showResult(MsgWarning, 0,
                hix::text(MsgDeployFailed) + entry.des + hix::text(MsgCopyFailed), true);
            return;
        }
    }
    hix::io::flush::vncChange();
    showResult(MsgTip, MsgDeployed);
}

void vnc::clickedRemoveVNCBt()
{
    if (!isInstalled()) {
        QMessageBox box(
            QMessageBox::Information, hix::text(MsgRemoveVnc), hix::text(MsgNothingToRemove));
        box.setWindowFlags(boxFlags(box));
        box.addButton(hix::text(MsgConfirm), QMessageBox::AcceptRole);
        box.exec();
        return;
    }
    if (!returnSignin())
        return;
    initFileList();
    for (const QString &path : qAsConst(deleteFiles))
        deleteFile(native(path).constData());
    const QString oldConfig = hix::panelPath(VNC_SPACE::OLD_VNC_CONFIG_FILE);
    if (QFileInfo::exists(oldConfig))
        deleteFile(native(oldConfig).constData());
    hix::io::flush::vncChange();
    showResult(MsgTip, MsgRemoved);
}
