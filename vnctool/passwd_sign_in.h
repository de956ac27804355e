#pragma once

#include <QDialog>
#include <QSize>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the VNC password before an action that changes a deployed panel.
class passwdSignIN : public QDialog
{
    Q_OBJECT

public:
    explicit passwdSignIN(QWidget *parent = nullptr, QSize screen = QSize());

    bool isSignedIn() const { return result; }

    QLabel *label = nullptr;
    QLineEdit *passwd_Edt = nullptr;
    QLabel *log_Lb = nullptr;
    QPushButton *ok_Bt = nullptr;
    QPushButton *canel_Bt = nullptr;

public slots:
    void clickedOKBt();
    void clickedCanelBt();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool result = false;
};
