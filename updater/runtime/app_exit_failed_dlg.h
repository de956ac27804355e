#pragma once

#include <QDialog>

#include <functional>
#include <memory>

class QTimer;
class Ui_app_exit_failed_dlg;

// Shown while the HMI runtime does not leave in time: it keeps watching the runtime and closes by
// itself once the runtime is gone (or back in its setup state), and lets the operator force the
// update on or restart the panel. Closing it any other way means "go on waiting".
class app_exit_failed_dlg : public QDialog
{
    Q_OBJECT

public:
    enum APP_EXIT_METHOD {
        EXIT_TO_SETUP = 0, // the runtime is to return to its setup state
        EXIT_APP = 1, // the runtime is to exit
    };

    // Texts of the language table this dialog shows.
    enum Message {
        MsgWarning = 1000,
        MsgConfirm = 1003,
        MsgExitingToSetup = 1008,
        MsgExitingApp = 1009,
        MsgRestartFailed = 1010,
        MsgExitingAppInitial = 1015,
        MsgWaitHint = 1016,
        MsgForce = 1017,
        MsgRestart = 1018,
    };

    // First check one second after showing, then ten times a second.
    static constexpr int FirstCheckMs = 1000;
    static constexpr int RepeatCheckMs = 100;

    app_exit_failed_dlg(QWidget *parent, std::function<QString(int)> lan);
    ~app_exit_failed_dlg() override;

    void setAppExitMethod(APP_EXIT_METHOD method);
    // True unless the runtime reached the wanted state or the operator forced the update on.
    bool isContinueWait() const { return continueWait; }

public slots:
    void checkAppStatus();
    void on_forceExecBtn_clicked();
    void on_rebootBtn_clicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString text(int id, const char *builtin) const;

    std::unique_ptr<Ui_app_exit_failed_dlg> ui;
    QTimer *checkTimer;
    bool continueWait = true;
    APP_EXIT_METHOD exitMethod = EXIT_APP;
    std::function<QString(int)> lan;
};
