#pragma once

#include <QDialog>
#include <QSize>

class QLabel;
class QLineEdit;
class QPushButton;

// Sets the VNC password: the old one (when one is set), the new one and its confirmation.
class passwdDlg : public QDialog
{
    Q_OBJECT

public:
    explicit passwdDlg(QWidget *parent = nullptr, QSize screen = QSize());

    bool isWritten() const { return result; }

    QLabel *label_3 = nullptr;
    QLineEdit *passwd_Edt_old = nullptr;
    QLabel *label = nullptr;
    QLineEdit *passwd_Edt = nullptr;
    QLabel *label_2 = nullptr;
    QLineEdit *confirm_Edt = nullptr;
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
