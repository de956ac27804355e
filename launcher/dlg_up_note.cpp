#include "dlg_up_note.h"

#include "clogger.h"
#include "launcher_messages.h"
#include "md5_crypt_ctrl.h"
#include "multilingual_manager.h"
#include "panel_path.h"
#include "pwd_entry_dialog.h"
#include "ui_dlg_up_note.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using hix::text;

QString gloadUiPath = QStringLiteral("./upgrunner.bin");

dlgUpNote::dlgUpNote(QString languageId, const QString &title, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::dlgUpNote)
    , lanID(std::move(languageId))
    , windowTitleText(title)
{
    ui->setupUi(this);
    setWindowTitle(title);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    setWindowIcon(QIcon(QStringLiteral(" ")));

    stickPath = getUDiskPath();
    if (stickPath.isEmpty()) {
        qDebug() << "Can not get the VEXO_EXPORT_DIR";
        stickPath = hix::panelPath(QString::fromLatin1(hix::StickMountPoint));
    }
    // Whatever the updater and the programs it starts leave in their working directory lands
    // in the stick's backup folder, never in the panel's own folders.
    const QString backupDir = stickPath + QStringLiteral("/hixbackup");
    qDebug() << "strHixbackupPath:" << backupDir;
    if (chdir(QFile::encodeName(backupDir).constData()) != 0)
        qDebug() << "Couldn`t  change current working diretory!";
    qDebug() << getUDiskPath();

    ui->warnlabel->setText(warningText);
    ui->upBtnOk->setText(text(MsgYes));
    ui->upBtnCancel->setText(text(MsgNo));

    resize(370, 173);
    connect(ui->upBtnOk, &QPushButton::clicked, this, &dlgUpNote::startUpdate);
    connect(ui->upBtnCancel, &QPushButton::clicked, this, &QWidget::close);
}

dlgUpNote::~dlgUpNote()
{
    delete ui;
}

void dlgUpNote::setTitle(const QString &title)
{
    windowTitleText = title;
    setWindowTitle(title);
}

void dlgUpNote::setTips(const QString &tips)
{
    ui->upNoteLbl->setText(tips);
}

void dlgUpNote::setTipsColor(const QColor &color)
{
    QPalette palette = ui->upNoteLbl->palette();
    palette.setColor(QPalette::WindowText, color);
    ui->upNoteLbl->setPalette(palette);
}

void dlgUpNote::setOkButtonDisabled(bool disabled)
{
    ui->upBtnOk->setDisabled(disabled);
}

QString dlgUpNote::getUDiskPath()
{
    const long limit = pathconf(".", _PC_PATH_MAX);
    if (limit < 0) {
        qDebug() << "Couldn`t get currentworking path length";
        return QString();
    }
    const size_t size = size_t(limit) + 1;
    std::unique_ptr<char, decltype(&std::free)> buffer(
        static_cast<char *>(std::calloc(size, 1)), &std::free);
    if (!buffer) {
        qDebug() << "Couldn't allocate memoryfor the pathname";
        return QString();
    }
    if (!getcwd(buffer.get(), size)) {
        qDebug() << "Couldn`t get currentworking directory!";
        return QString();
    }
    const QString path = QFile::decodeName(buffer.get());
    qDebug() << "Currentworking directory is" << path;
    return path;
}

QString dlgUpNote::libraryPathFor(const QString &applicationDir)
{
    return QStringLiteral("$PATH:%1:/usr/vexo_app")
        .arg(applicationDir + QStringLiteral("/hixupdateu"));
}

QStringList dlgUpNote::updaterArguments() const
{
    return { QStringLiteral("-execond ") + QString::number(execCond),
        QStringLiteral("-lanID ") + lanID, QStringLiteral("-title ") + windowTitleText,
        QStringLiteral("-showUpdatePage ")
            + (showUpdatePage ? QStringLiteral("1") : QStringLiteral("0")) };
}

void dlgUpNote::startUpdate()
{
    qDebug() << "start UpDate";
    if (showUpdatePage && md5_crypt_ctrl::GetInstance()->CryptInit()) {
        // A wrong or abandoned password returns here with nothing started.
        PwdEntryDialog passwordDialog(this, MultilingualManager::lookup());
        connect(&passwordDialog, &PwdEntryDialog::allowedAccess, this, &dlgUpNote::doAllowedAccess);
        passwordDialog.exec();
    } else {
        doAllowedAccess();
    }
    qDebug() << "end Update";
    close();
}

void dlgUpNote::doAllowedAccess()
{
    qDebug() << "doAllowedAccess";
    if (startLoadUi()) {
        loaded = true;
        return;
    }
    loaded = false;
    const QString reason = text(MsgCannotUpdate);
    if (log)
        log->write(reason);
    QMessageBox box(QMessageBox::Warning, text(MsgWarningTitle), reason, QMessageBox::Yes);
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Yes)->setText(text(MsgConfirm));
    box.exec();
}

void dlgUpNote::processExited()
{
    QCoreApplication::exit(0);
}

void dlgUpNote::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    setFixedSize(size());
}

bool dlgUpNote::startLoadUi()
{
    qDebug() << "正在启动:" << gloadUiPath;
    const QString libraryPath = libraryPathFor(QCoreApplication::applicationDirPath());
    qDebug() << "strLoadUiPath:" << libraryPath;
    if (setenv("LD_LIBRARY_PATH", libraryPath.toUtf8().constData(), 1) != 0)
        qDebug() << "设置环境变量失败";

    if (!QProcess::startDetached(gloadUiPath, updaterArguments())) {
        qDebug() << "启动失败:" << gloadUiPath;
        return false;
    }
    qDebug() << "启动完成:" << gloadUiPath;
    if (log) {
        log->write(text(MsgUpdaterStarted) + QLatin1Char('\n'));
        log->close();
    }
    return true;
}
