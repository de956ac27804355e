#include "passwd_dlg.h"

#include "file_io.h"
#include "multilingual_manager.h"
#include "vnc_config.h"
#include "vnc_dialog_look.h"
#include "vnc_texts.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <unistd.h>

passwdDlg::passwdDlg(QWidget *parent, QSize screen)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("passwdDlg"));
    resize(270, 200);
    setMinimumSize(220, 200);
    setMaximumSize(600, 600);

    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    auto *formLayout = new QFormLayout();
    formLayout->setObjectName(QStringLiteral("formLayout"));
    const auto addRow = [this, formLayout](QLabel *&rowLabel, const char *labelName,
                            QLineEdit *&field, const char *fieldName) {
        rowLabel = new QLabel(this);
        rowLabel->setObjectName(QLatin1String(labelName));
        field = new QLineEdit(this);
        field->setObjectName(QLatin1String(fieldName));
        field->setMinimumHeight(30);
        field->setEchoMode(QLineEdit::Password);
        field->installEventFilter(this);
        formLayout->addRow(rowLabel, field);
    };
    addRow(label_3, "label_3", passwd_Edt_old, "passwd_Edt_old");
    addRow(label, "label", passwd_Edt, "passwd_Edt");
    addRow(label_2, "label_2", confirm_Edt, "confirm_Edt");
    verticalLayout->addLayout(formLayout);

    log_Lb = new QLabel(this);
    log_Lb->setObjectName(QStringLiteral("log_Lb"));
    verticalLayout->addWidget(log_Lb);

    auto *buttons = new QHBoxLayout();
    ok_Bt = new QPushButton(this);
    ok_Bt->setObjectName(QStringLiteral("ok_Bt"));
    ok_Bt->setMinimumHeight(30);
    canel_Bt = new QPushButton(this);
    canel_Bt->setObjectName(QStringLiteral("canel_Bt"));
    canel_Bt->setMinimumHeight(30);
    buttons->addWidget(ok_Bt);
    buttons->addWidget(canel_Bt);
    verticalLayout->addLayout(buttons);

    if (!screen.isValid())
        screen = primaryScreenSize();
    QSize fixed = isSmallScreen(screen) ? QSize(220, 135) : QSize(286, 175);
    // Three fields of 30 pixels, the message line and the buttons do not fit in 135 pixels: the
    // last field would be squeezed to nothing and could not be touched. The height grows to what
    // the rows need, with room for a message, and never below the panel's size.
    log_Lb->setMinimumHeight(log_Lb->fontMetrics().height());
    fixed.setHeight(qMax(fixed.height(), verticalLayout->totalMinimumSize().height()));
    setFixedSize(fixed);

    connect(ok_Bt, &QPushButton::clicked, this, &passwdDlg::clickedOKBt);
    connect(canel_Bt, &QPushButton::clicked, this, &passwdDlg::clickedCanelBt);
    label_3->setText(hix::text(MsgOldPwd));
    label->setText(hix::text(MsgNewPwd));
    label_2->setText(hix::text(MsgConfirmEntry));
    ok_Bt->setText(hix::text(MsgConfirm));
    canel_Bt->setText(hix::text(MsgCancel));
    setWindowTitle(hix::text(MsgPwdSetTitle));
    applyVncDialogLook(this);
    setModal(true);
}

void passwdDlg::showEvent(QShowEvent *event)
{
    const bool passwordSet = !readVncPasswd().isEmpty();
    label_3->setEnabled(passwordSet);
    passwd_Edt_old->setEnabled(passwordSet);
    if (passwordSet) {
        setTabOrder(passwd_Edt_old, passwd_Edt);
        setTabOrder(passwd_Edt, confirm_Edt);
        setTabOrder(confirm_Edt, ok_Bt);
        setTabOrder(ok_Bt, canel_Bt);
    }
    centreOnDesktop(this);
    activateWindow();
    QDialog::showEvent(event);
}

void passwdDlg::clickedOKBt()
{
    const bool askOld = passwd_Edt_old->isEnabled();
    const QString newPasswd = passwd_Edt->text();
    const QString confirmation = confirm_Edt->text();
    if (askOld && passwd_Edt_old->text().isEmpty()) {
        log_Lb->setText(hix::text(MsgOldPwdMissing));
    } else if (newPasswd.isEmpty() && confirmation.isEmpty()) {
        log_Lb->setText(hix::text(MsgNewPwdMissing));
    } else if (newPasswd.isEmpty() || confirmation.isEmpty()) {
        log_Lb->setText(hix::text(MsgPwdMismatch));
    } else if (askOld && passwd_Edt_old->text() != readVncPasswd()) {
        log_Lb->setText(hix::text(MsgOldPwdWrong));
    } else if (newPasswd != confirmation) {
        log_Lb->setText(hix::text(MsgPwdMismatch));
    } else if (!writeVncPasswd(newPasswd)) {
        // Reporting success for a password that never reached the server would leave the
        // panel open with the operator believing it protected.
        log_Lb->setText(hix::text(MsgConfigError));
    } else {
        result = true;
        hix::io::flush::vncChange();
        accept();
    }
}

void passwdDlg::clickedCanelBt()
{
    reject();
}

bool passwdDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress
        && (watched == passwd_Edt_old || watched == passwd_Edt || watched == confirm_Edt))
        typeWithKeyboard(this, static_cast<QLineEdit *>(watched), log_Lb);
    return QDialog::eventFilter(watched, event);
}
