#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSignalMapper;
class QVBoxLayout;

// Asks for the panel's access password on a touch screen: its own grid of keys and one masked
// field. The field is checked on every change, and the dialog closes itself the moment it holds
// the right password, so the confirm key only ever reports a wrong one.
class PwdEntryDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int KeyRows = 5;
    static constexpr int KeyColumns = 8;
    static constexpr int CharacterKeys = 36;
    static constexpr int MaxPasswordLength = 20;

    // lookup gives the texts by language-table id; an empty lookup shows the Chinese texts.
    explicit PwdEntryDialog(QWidget *parent = nullptr,
        std::function<QString(int)> lookup = std::function<QString(int)>());

    bool GetPassed() const { return passed; }

signals:
    void allowedAccess();

private slots:
    void valueChanged(const QString &inputValue);
    void doClicked(int index);
    void on_keyBtnCap_clicked();
    void on_keyBtnBack_clicked();
    void on_keyBtnDel_clicked();
    void on_keyBtnConfirm_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void init_data();
    QPushButton *makeKey(const QString &objectName, const QString &text);
    QString text(int id) const;
    void showMessage(int id);

    bool caps = true;
    QLabel *label = nullptr;
    QLineEdit *lineEditPwd = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QGridLayout *gridLayout = nullptr;
    QHBoxLayout *horizontalLayout_exp = nullptr;
    QHBoxLayout *rowLayouts[KeyRows] = {};
    QSignalMapper *signalMapper = nullptr;
    QPushButton *keyBtn[KeyRows][KeyColumns] = {};
    QPushButton *keyBtnBack = nullptr;
    QPushButton *keyBtnCap = nullptr;
    QPushButton *keyBtnDel = nullptr;
    QPushButton *keyBtnConfirm = nullptr;
    bool passed = false;
    std::function<QString(int)> lookup;
};
