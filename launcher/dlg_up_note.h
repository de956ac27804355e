#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

class CLogger;
class QShowEvent;

namespace Ui {
class dlgUpNote;
}

// Full path of the updater program that the confirmation starts; the launcher's start-up points
// it at the package folder on the stick before any dialog can use it.
extern QString gloadUiPath;

// The launcher's confirmation: asks whether to run the package, or shows why it cannot run. On
// "是" it passes the access-password gate and starts the updater detached; the launcher's part
// ends there.
class dlgUpNote : public QDialog
{
    Q_OBJECT

public:
    dlgUpNote(QString languageId, const QString &title, QWidget *parent = nullptr);
    ~dlgUpNote() override;

    void setTitle(const QString &title);
    void setExecCondition(int execCondition) { execCond = execCondition; }
    void setShowUpdatePageInfo(bool show) { showUpdatePage = show; }
    void setLogger(CLogger *logger) { log = logger; }
    void setTips(const QString &tips);
    // An error that ends the launcher shows in red, as the updater shows its errors.
    void setTipsColor(const QColor &color);
    void setOkButtonDisabled(bool disabled);

    // True once the updater was started.
    bool loadResult() const { return loaded; }

    // The process's working directory, empty when it cannot be read.
    static QString getUDiskPath();

    // The updater's library path: "$PATH" stays literal text, as the panel's loader expects.
    static QString libraryPathFor(const QString &applicationDir);

    // The updater's command line: each option and its value in one argument.
    QStringList updaterArguments() const;

signals:
    void okClicked();

public slots:
    void startUpdate();
    void doAllowedAccess();
    void processExited();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool startLoadUi();

    Ui::dlgUpNote *ui = nullptr;
    QString warningText;
    QString stickPath;
    bool loaded = false;
    CLogger *log = nullptr;
    bool showUpdatePage = true;
    int execCond = 0;
    QString lanID;
    QString windowTitleText;
};
