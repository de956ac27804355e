#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

#include "update_records.h"

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <vector>

class CLogger;
class ParseConfigInfo;
class QCloseEvent;
class QShowEvent;
class QTimer;
class Ui_UDiskUpWin;
class CheckResultService;
class PackageManifest;
class PackageVerifier;
class PhaseRunner;
class check_up_info_c;
class file_operation_c;
class winBackgrnd;

// The updater's window: a small dialog over a full-screen background, with the warning not to
// pull the stick, the progress bar, the restart button and the coloured progress lines. Every
// line shown is also written to the run log. It owns everything the run needs.
class UDiskUpWin : public QDialog
{
    Q_OBJECT
public:
    UDiskUpWin(QString lanID, const QString &title, bool showUpdatePage, QWidget *parent = nullptr);
    ~UDiskUpWin() override;

    void updateShow();
    void CloseBySignal();
    bool changeWorkingDir(const char *path);

    // The run's phases (see udisk_up_win_run.cpp and udisk_up_win_program.cpp).
    bool parseIniFile();
    bool updateProgram(std::vector<programConfig_s> &programs);
    bool updatePro(const programConfig_s &program, bool &stopAll);

    // The file work around each program (udisk_up_win_operations.cpp).
    bool beforeUpdateOperate(const programConfig_s &program);
    bool afterUpdateOperate(const programConfig_s &program);
    bool copyCheck(const copyFileInfo_s &copyInfo);
    bool executeCMD(std::vector<commondInfo_s> commands);
    bool DeleteAllBackupData(const QString &path);

    // The result channel of the started programs, open while the program loop runs.
    void startCheckResultServer();
    void stopCheckResultServer();
    static void responseResult(int value);

    // The update must not start (the HMI runtime could not be stopped): the reason is shown in
    // red and logged, the restart button is the way out, and the run never begins.
    void refuseUpdate(const QString &reason);

    // One beep per second after the finish; the finish and restart live in
    // udisk_up_win_finish.cpp.
    void startBeep();
    void reBootHix();

    bool isInitOk() const { return initOk; }
    bool isUpdateStarted() const { return updateStarted; }
    bool isUpdateFinished() const { return updateFinished; }
    bool isUpdateSuccess() const { return updateSuccess; }
    int progress() const { return progressValue; }
    winBackgrnd *background() const { return backgroundWin.get(); }
    bool isCheckResultServing() const;

    // The last result a started program reported. Written by the result service's thread,
    // read by the GUI thread once the program has ended; set back to -1 before each program.
    static std::atomic<int> updateRes;

signals:
    void emitMessage(QString strMessage, QColor color = Qt::black);
    void setErrorBackgrnd(Qt::GlobalColor gcolor);
    // The window has accepted a close: the program's work is over, shown or hidden.
    void windowClosed();
    // A hidden run has ended without closing the window: nobody can press its restart button,
    // so the program ends with this status (0 success, otherwise failure).
    void hiddenRunEnded(int status);

public slots:
    void restartHix();
    void startUpdate();
    void updateOutMessage(QString strMessage, QColor color);
    void updateProcessBar();
    void Beep();
    void setLogger(CLogger *pLogger);
    void updatefinished();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void init();
    void setText();
    // The run itself; startUpdate() wraps it so a hidden run ends on every way out.
    void runUpdate();
    void endHiddenRun();
    // Ends the run after a failed package-wide phase, whose red line the phase runner said:
    // restart button, progress 100, the phase's status "failed", the "[失败]" head line.
    void failPhase(int phase);
    // Ends the run with one red line, before or between phases, writing no phase status.
    void failRun(int messageId, const QString &name = QString());
    // Whether the stick the updater runs from has been pulled since the run began.
    bool stickPulled() const;
    // Says once, in red, that the stick was pulled and the update did not finish.
    void sayStickPulled();
    // A write of the progress state failed: says why (the pulled stick, or a full or read-only
    // one).
    void sayStateNotWritten();
    void endRun(const QString &redLine);
    // On a panel with keys: the stick as its key signed it, every file the run reads included;
    // a refused stick ends the run with the reason in red. True when the run may go on.
    bool checkPackage(PackageVerifier &verifier);
    // Checks the stick, reads the package's manifest, deals with a progress state left by another
    // package and makes sure the state file and the log can be written, all before the panel
    // changes.
    bool preparePackage();
    // A state of another package is discarded; a backup it left pending is kept under another
    // name when the technician agrees, and otherwise stops the run.
    bool setAsideForeignState();
    // Whether the files of a backup entry that lie on the stick are the ones the package was
    // built with.
    bool backupSourcesMatchManifest(const backupFileInfo_s &entry);
    // Ends an instance of the program that an earlier run started and that still runs.
    bool endEarlierInstances(const QString &name, const QStringList &files);
    // The run's wait for a started program, keeping the window alive.
    void waitForProgram(pid_t pid);
    // A modal question; the default answer (no) without the page.
    bool ask(const QString &question);
    void inform(int titleId, const QString &message, int autoCloseMs = 0);
    // Runs the lists of work of a place through the one phase runner, speaking in this window.
    PhaseRunner phaseRunner();

    std::unique_ptr<Ui_UDiskUpWin> ui;
    int progressValue = 0;
    bool updateStarted = false;
    bool closeBySignal = false;
    std::unique_ptr<winBackgrnd> backgroundWin;
    QTimer *startTimer = nullptr;
    QTimer *progressTimer = nullptr;
    QTimer *beepTimer = nullptr;
    std::unique_ptr<ParseConfigInfo> configParser;
    std::unique_ptr<check_up_info_c> upChecker;
    std::unique_ptr<file_operation_c> fileOperation;
    std::unique_ptr<PackageManifest> manifest; // null for a package without one
    QString packageFolder; // the folder the description was read from
    int beepCount = 0;
    bool updateFinished = false;
    bool updateSuccess = false;
    CLogger *logger = nullptr; // lent by the entry routine, never deleted here
    std::unique_ptr<CheckResultService> checkResultService;
    QString lanId;
    bool initOk = false;
    bool programTookOver = false;
    // The program now worked on is the one an earlier run was cut off in (its backup, when
    // complete, holds the files as they were before that run changed them).
    bool resumingInterruptedProgram = false;
    bool showPage = true;
    bool updateRefused = false;
    bool logWriteFailed = false; // a line did not reach the run log
    bool stateWriteFailed = false; // a change did not reach the progress state file
    int currentProgram = -1; // index of the program being worked on
    // This panel's backup folder on the stick, read once when the run starts.
    QString backupRoot;
    int stickMount = -1; // the mount of the updater's own folder when the run began
    bool stickPulledSaid = false;
};
