#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QPushButton;
class QVBoxLayout;

// The VNC tool's main window: deploy or remove VNC support from the stick's package, set or
// clear the VNC password, restart the panel.
class vnc : public QWidget
{
    Q_OBJECT

public:
    struct COPYFILE
    {
        QString src;
        QString desdir;
        QString des;
    };

    // The plain copy of the package description (a fixed panel path).
    static const QString vncCfgFile;

    // screen is the panel's screen size; an empty size means the primary screen.
    explicit vnc(QWidget *parent = nullptr, QSize screen = QSize());

    // The working directory, or an empty text when it cannot be read.
    static QString getUDiskPath();

    void initGui();
    // Offers the two languages, the table's own language first; selecting the first one loads
    // its language file.
    void fillLanguageList();

    bool isInstalled() const;
    bool initFileList();
    bool deleteFile(const char *path);
    bool returnSignin();
    bool isSignedIn() const { return signedIn; }

    const QVector<COPYFILE> &copyList() const { return copyFiles; }
    const QStringList &deleteList() const { return deleteFiles; }

    QComboBox *MultiLang = nullptr;
    QPushButton *setVNC_Bt = nullptr;
    QPushButton *removeVNC_Bt = nullptr;
    QPushButton *passwd_Bt = nullptr;
    QPushButton *passwdIsNull_Bt = nullptr;
    QPushButton *restart_Bt = nullptr;
    QPushButton *close_Bt = nullptr;

public slots:
    void clickedSetVNCBt();
    void clickedRemoveVNCBt();
    void clickedPassWdBt();
    void clickedPasswdIsNull();
    void clickedRestartBt();
    void clickedCloseBt();

private slots:
    void on_MultiLang_currentIndexChanged(const QString &text);

private:
    void buildLayout();
    bool copyFile(const QString &src, const QString &des);
    void showResult(int titleId, int textId, const QString &text = QString(), bool warning = false);

    QVector<COPYFILE> copyFiles;
    QStringList deleteFiles;
    bool signedIn = false;
};
