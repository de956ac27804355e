#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSignalMapper;

// The pop-up keyboard of the VNC password fields: a touch panel has no keys of its own. The
// entry goes to the field only when the confirm key is pressed.
class CKeyBoard : public QDialog
{
    Q_OBJECT

public:
    static constexpr int KeyRows = 5;
    static constexpr int KeyColumns = 8;
    static constexpr int CharacterKeys = 36;

    // screen is the panel's screen size; an empty size means the primary screen.
    explicit CKeyBoard(QWidget *parent = nullptr, QSize screen = QSize());

    void setLengthLimit(bool on) { lengthLimit = on; }
    void setMaxLength(int bytes) { maxLength = bytes; }
    void setEchoMode(int mode);
    QLineEdit *lineEdit() const { return m_lineEdit; }

signals:
    void signalText(QString _strValue);

private slots:
    void slotClicked(int index);
    void slotkeyBtnCapClicked();
    void slotKeyBtnBackClicked();
    void slotKeyBtnDelClicked();
    void slotKeyBtnConfirmClicked();
    void slotValueChanged(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QPushButton *makeKey(
        const QString &objectName, const QString &text, double scale, const QFont &font);

    bool caps = true;
    bool lengthLimit = false;
    int maxLength = 6;
    QLabel *m_label = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    QSignalMapper *signalMapper = nullptr;
    QPushButton *keyBtn[KeyRows][KeyColumns] = {};
    QPushButton *keyBtnCap = nullptr;
    QPushButton *keyBtnBack = nullptr;
    QPushButton *keyBtnDel = nullptr;
    QPushButton *keyBtnConfirm = nullptr;
};
