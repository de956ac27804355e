#include "vexo_process.h"

#include "app_exit_failed_dlg.h"
#include "process_supervisor.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>

#include <unistd.h>

std::function<QString(int)> vexo_process::_func;
unsigned vexo_process::killWaitLimitMs = vexo_process::DefaultKillWaitLimitMs;

namespace {

constexpr useconds_t ExitPollUs = 100000;
constexpr useconds_t KillPollUs = 200000;
constexpr useconds_t SettleAfterExitUs = 1000000;
constexpr qint64 KillRepeatMs = 1000;

// The dialog is a window: without a QApplication there is nobody to ask.
bool canAskOperator()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

int vexo_process::isProcessExited()
{
    return __check_application_state(0);
}

int vexo_process::isProcessOnCsevr()
{
    return __check_application_state(1);
}

bool vexo_process::notifyExitApplication()
{
    return __notify_exit_application() == 0;
}

bool vexo_process::notifyStopApplication()
{
    return __notify_stop_application() == 0;
}

bool vexo_process::notifyKillApplication()
{
    return __notify_kill_application(0) == 0;
}

bool vexo_process::forceFreshLog()
{
    return __notify_logger_flush() == 0;
}

void vexo_process::setMulLanguage(std::function<QString(int)> lookup)
{
    _func = std::move(lookup);
}

void vexo_process::setKillWaitLimit(unsigned ms)
{
    killWaitLimitMs = ms;
}

unsigned vexo_process::killWaitLimit()
{
    return killWaitLimitMs;
}

int vexo_process::exitProcess(unsigned waitMs, QWidget *parent, bool noDialog)
{
    if (isProcessExited())
        return 1;
    if (notifyExitApplication() && waitMs != 0) {
        const quint64 totalUs = quint64(waitMs) * 1000;
        for (quint64 waitedUs = 0; waitedUs < totalUs; waitedUs += ExitPollUs) {
            usleep(ExitPollUs);
            if (isProcessExited())
                return 1;
        }
    }
    return forceExitProcess(parent, noDialog);
}

int vexo_process::forceExitProcess(QWidget *parent, bool noDialog)
{
    bool killed = notifyKillApplication();
    while (!killed && !noDialog) {
        if (!canAskOperator()) {
            qWarning() << "runtime refuses to be killed and no window can ask the operator";
            break;
        }
        app_exit_failed_dlg dialog(parent, _func);
        dialog.exec();
        if (!dialog.isContinueWait())
            break;
        killed = notifyKillApplication();
    }

    QElapsedTimer waited;
    waited.start();
    qint64 lastKillRequest = 0;
    while (!isProcessExited()) {
        if (waited.elapsed() >= qint64(killWaitLimitMs)) {
            qWarning() << "runtime still running after" << killWaitLimitMs
                       << "ms; the update must not start";
            return 0;
        }
        usleep(KillPollUs);
        if (!killed && waited.elapsed() - lastKillRequest >= KillRepeatMs) {
            lastKillRequest = waited.elapsed();
            killed = notifyKillApplication();
        }
    }
    usleep(SettleAfterExitUs);
    return isProcessExited();
}

int vexo_process::backToCsevr(unsigned waitMs, QWidget *parent)
{
    for (;;) {
        if (isProcessOnCsevr() || isProcessExited())
            return 1;
        if (notifyStopApplication() && waitMs != 0) {
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < qint64(waitMs)) {
                usleep(ExitPollUs);
                if (isProcessOnCsevr() || isProcessExited())
                    return 1;
            }
        }
        if (!canAskOperator()) {
            qWarning() << "runtime did not return to its setup state and no window can ask";
            return 0;
        }
        app_exit_failed_dlg dialog(parent, _func);
        dialog.setAppExitMethod(app_exit_failed_dlg::EXIT_TO_SETUP);
        dialog.exec();
        if (!dialog.isContinueWait())
            return 1;
    }
}
