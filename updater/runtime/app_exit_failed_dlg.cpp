#include "app_exit_failed_dlg.h"

#include "file_io.h"
#include "process_supervisor.h"
#include "system_restart.h"
#include "ui_app_exit_failed_dlg.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

app_exit_failed_dlg::app_exit_failed_dlg(QWidget *parent, std::function<QString(int)> lan)
    : QDialog(parent)
    , ui(std::make_unique<Ui_app_exit_failed_dlg>())
    , checkTimer(new QTimer(this))
    , lan(std::move(lan))
{
    ui->setupUi(this);
    setWindowTitle(text(MsgWarning, "警告"));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    setWindowIcon(QIcon(QStringLiteral(" ")));
    setFixedSize(370, 160);
    connect(checkTimer, &QTimer::timeout, this, &app_exit_failed_dlg::checkAppStatus);
    if (this->lan) {
        ui->label->setText(text(MsgExitingAppInitial, "正在退出应用程序，请稍候..."));
        ui->label_2->setText(text(MsgWaitHint, "若长时间无退出可强制执行或继续等待"));
        ui->forceExecBtn->setText(text(MsgForce, "强制执行"));
        ui->rebootBtn->setText(text(MsgRestart, "重启HIX"));
    }
}

app_exit_failed_dlg::~app_exit_failed_dlg() = default;

QString app_exit_failed_dlg::text(int id, const char *builtin) const
{
    const QString translated = lan ? lan(id) : QString();
    return translated.isEmpty() ? QString::fromUtf8(builtin) : translated;
}

void app_exit_failed_dlg::setAppExitMethod(APP_EXIT_METHOD method)
{
    exitMethod = method;
    ui->label->setText(method == EXIT_TO_SETUP
            ? text(MsgExitingToSetup, "正在退出到系统设置界面，请稍候...")
            : text(MsgExitingApp, "正在退出应用程序，请稍候..."));
}

void app_exit_failed_dlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    checkTimer->start(FirstCheckMs);
}

void app_exit_failed_dlg::checkAppStatus()
{
    // The supervisor is asked directly: the shutdown (vexo_process) shows this dialog, and the
    // dialog must not call back into it.
    if ((exitMethod == EXIT_TO_SETUP && __check_application_state(1))
        || __check_application_state(0)) {
        continueWait = false;
        checkTimer->stop();
        close();
        return;
    }
    checkTimer->setInterval(RepeatCheckMs);
}

void app_exit_failed_dlg::on_forceExecBtn_clicked()
{
    continueWait = false;
    checkTimer->stop();
    close();
}

void app_exit_failed_dlg::on_rebootBtn_clicked()
{
    hix::io::flush::beforeRestart();
    // On the panel a successful restart does not return; the dialog stays until the power goes.
    if (hix::restartSystem() == 0)
        return;
    const QString reason = QString::fromLocal8Bit(strerror(errno));
    qWarning() << "restart failed:" << reason;
    QMessageBox box(QMessageBox::Warning, text(MsgWarning, "警告"),
        text(MsgRestartFailed, "系统重启失败!%1").arg(reason), QMessageBox::NoButton, this);
    box.setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.addButton(text(MsgConfirm, "确认"), QMessageBox::AcceptRole);
    box.exec();
}
