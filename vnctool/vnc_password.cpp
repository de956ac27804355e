// The VNC password (sign in, set, clear) and the restart and close buttons.
#include "file_io.h"
#include "multilingual_manager.h"
#include "passwd_dlg.h"
#include "passwd_sign_in.h"
#include "system_restart.h"
#include "vnc.h"
#include "vnc_config.h"
#include "vnc_texts.h"

#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

void showBox(QWidget *parent, int titleId, const QString &text, bool withIcon)
{
    QMessageBox box(
        QMessageBox::Information, hix::text(titleId), text, QMessageBox::NoButton, parent);
    box.setWindowFlags(
        (box.windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    if (withIcon)
        box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.addButton(hix::text(MsgConfirm), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

bool vnc::returnSignin()
{
    if (readVncPasswd().isEmpty())
        return true;
    passwdSignIN dialog(this);
    dialog.exec();
    if (!dialog.isSignedIn())
        return false;
    signedIn = true;
    return true;
}

void vnc::clickedPassWdBt()
{
    if (!isInstalled()) {
        showBox(nullptr, MsgSetPwd, hix::text(MsgNothingToSetPwd), false);
        return;
    }
    passwdDlg dialog;
    if (dialog.exec() == QDialog::Accepted) {
        hix::io::flush::vncChange();
        showBox(this, MsgTip, hix::text(MsgPwdSet), true);
    }
}

void vnc::clickedPasswdIsNull()
{
    if (!isInstalled()) {
        showBox(nullptr, MsgClearPwd, hix::text(MsgNothingToClearPwd), false);
        return;
    }
    if (!returnSignin())
        return;
    if (!signedIn) {
        showBox(this, MsgTip, hix::text(MsgNoSignIn), true);
        return;
    }
    signedIn = false;
    if (!writeVncPasswd(QString())) {
        showBox(this, MsgWarning, hix::text(MsgConfigError), true);
        return;
    }
    hix::io::flush::vncChange();
    showBox(this, MsgTip, hix::text(MsgPwdCleared), true);
}

void vnc::clickedRestartBt()
{
    hix::io::flush::beforeRestart();
    if (hix::restartSystem() == 0) {
        close();
        return;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    qDebug("restart\u3000the hix failed! %s...", qPrintable(reason));
    showBox(this, MsgTip, reason, true);
}

void vnc::clickedCloseBt()
{
    hix::io::flush::vncChange();
    close();
}
