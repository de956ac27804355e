#include "passwd_sign_in.h"

#include "multilingual_manager.h"
#include "vnc_config.h"
#include "vnc_dialog_look.h"
#include "vnc_texts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

passwdSignIN::passwdSignIN(QWidget *parent, QSize screen)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("passwdSignIN"));
    resize(297, 200);
    setMinimumSize(230, 135);
    setMaximumSize(400, 400);

    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    auto *horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    passwd_Edt = new QLineEdit(this);
    passwd_Edt->setObjectName(QStringLiteral("passwd_Edt"));
    horizontalLayout->addWidget(label);
    horizontalLayout->addWidget(passwd_Edt);
    verticalLayout->addLayout(horizontalLayout);

    log_Lb = new QLabel(this);
    log_Lb->setObjectName(QStringLiteral("log_Lb"));
    verticalLayout->addWidget(log_Lb);

    auto *horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    ok_Bt = new QPushButton(this);
    ok_Bt->setObjectName(QStringLiteral("ok_Bt"));
    ok_Bt->setMinimumHeight(30);
    canel_Bt = new QPushButton(this);
    canel_Bt->setObjectName(QStringLiteral("canel_Bt"));
    canel_Bt->setMinimumHeight(30);
    horizontalLayout_2->addWidget(ok_Bt);
    horizontalLayout_2->addWidget(canel_Bt);
    verticalLayout->addLayout(horizontalLayout_2);

    if (!screen.isValid())
        screen = primaryScreenSize();
    setFixedSize(isSmallScreen(screen) ? QSize(230, 135) : QSize(299, 175));

    passwd_Edt->installEventFilter(this);
    passwd_Edt->setEchoMode(QLineEdit::Password);
    connect(ok_Bt, &QPushButton::clicked, this, &passwdSignIN::clickedOKBt);
    connect(canel_Bt, &QPushButton::clicked, this, &passwdSignIN::clickedCanelBt);
    label->setText(hix::text(MsgEnterPwd));
    ok_Bt->setText(hix::text(MsgConfirm));
    canel_Bt->setText(hix::text(MsgCancel));
    setWindowTitle(hix::text(MsgSignInTitle));
    applyVncDialogLook(this);
    setModal(true);
}

void passwdSignIN::clickedOKBt()
{
    if (passwd_Edt->text().isEmpty()) {
        log_Lb->setText(hix::text(MsgNewPwdMissing));
        return;
    }
    if (passwd_Edt->text() == readVncPasswd()) {
        result = true;
        close();
        return;
    }
    result = false;
    log_Lb->setText(hix::text(MsgSignInWrong));
}

void passwdSignIN::clickedCanelBt()
{
    result = false;
    close();
}

void passwdSignIN::showEvent(QShowEvent *event)
{
    result = false;
    centreOnDesktop(this);
    activateWindow();
    QDialog::showEvent(event);
}

bool passwdSignIN::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == passwd_Edt && event->type() == QEvent::MouseButtonPress)
        typeWithKeyboard(this, passwd_Edt, log_Lb);
    return QDialog::eventFilter(watched, event);
}
