#pragma once

#include <QString>

#include <functional>

class QWidget;

// Brings the HMI runtime into the state an update needs: gone (exitProcess) or back in its setup
// state (backToCsevr). The calls block the caller until that state is reached, the operator
// forces the update on, or the panel restarts; they run before the updater's window exists.
class vexo_process
{
public:
    static int isProcessExited();
    static int isProcessOnCsevr();
    static bool notifyExitApplication();
    static bool notifyStopApplication();
    static bool notifyKillApplication();
    static bool forceFreshLog();

    // The language lookup the shutdown dialog speaks with.
    static void setMulLanguage(std::function<QString(int)> lookup);

    // Asks the runtime to exit and waits up to waitMs for it, polling every 100 ms; then kills it.
    // 1 when the runtime is gone; 0 when it could not be ended (see forceExitProcess).
    static int exitProcess(unsigned waitMs, QWidget *parent, bool noDialog);

    // Asks the supervisor to kill the runtime and waits until it is gone, plus one second for the
    // supervisor to let go of its files. When the kill is refused and noDialog is false, the
    // operator is asked first (wait on, force on, or restart).
    //
    // The wait is bounded by killWaitLimit(): during it the kill request is repeated every
    // second (a runtime busy writing its own files refuses to be killed only for a while). When
    // the runtime still runs at the end, the result is 0: the caller must not start the update,
    // because the runtime would go on writing the very files the update replaces. Waiting without
    // end instead would leave a panel with neither a window nor a way out.
    static int forceExitProcess(QWidget *parent, bool noDialog);

    // Asks the runtime to return to its setup state and waits up to waitMs, polling every 100 ms;
    // then asks the operator. 1 when the runtime is in its setup state or gone, or the operator
    // forced the update on; 0 when no application exists to ask the operator in.
    static int backToCsevr(unsigned waitMs, QWidget *parent);

    static constexpr unsigned DefaultKillWaitLimitMs = 30000;
    static void setKillWaitLimit(unsigned ms);
    static unsigned killWaitLimit();

    static std::function<QString(int)> _func;

private:
    static unsigned killWaitLimitMs;
};
