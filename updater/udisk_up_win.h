#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

#include <memory>

class CLogger;
class ParseConfigInfo;
class QCloseEvent;
class QShowEvent;
class QTimer;
class Ui_UDiskUpWin;
class check_up_info_c;
class file_operation_c;
class winBackgrnd;
namespace Kz {
namespace RPC {
class DispatchService;
} // namespace RPC
} // namespace Kz

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

    bool isInitOk() const { return initOk; }
    bool isUpdateStarted() const { return updateStarted; }
    winBackgrnd *background() const { return backgroundWin.get(); }

    // The last result a started program reported; kept across programs.
    static int updateRes;

signals:
    void emitMessage(QString strMessage, QColor color = Qt::black);
    void setErrorBackgrnd(Qt::GlobalColor gcolor);
    // The window has accepted a close: the program's work is over, shown or hidden.
    void windowClosed();

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

    std::unique_ptr<Ui_UDiskUpWin> ui;
    int progressValue = 0;
    bool updateStarted = false;
    bool closeBySignal = false;
    std::unique_ptr<winBackgrnd> backgroundWin;
    QTimer *startTimer = nullptr;
    QTimer *progressTimer = nullptr;
    QTimer *beepTimer = nullptr;
    // The run's objects are created together with the run itself; until then they stay null.
    ParseConfigInfo *configParser = nullptr;
    check_up_info_c *upChecker = nullptr;
    file_operation_c *fileOperation = nullptr;
    int beepCount = 0;
    bool updateFinished = false;
    bool updateSuccess = false;
    CLogger *logger = nullptr; // lent by the entry routine, never deleted here
    Kz::RPC::DispatchService *checkResultService = nullptr;
    QString lanId;
    bool initOk = false;
    bool programTookOver = false;
    bool showPage = true;
};
