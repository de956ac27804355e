// The end of a run: the head line of the log, the beeps, the restart and the close policy.
#include "udisk_up_win.h"

#include "buzzer.h"
#include "clogger.h"
#include "file_io.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "system_restart.h"
#include "ui_udisk_up_win.h"
#include "updater_messages.h"
#include "win_backgrnd.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using hix::text;

namespace {

constexpr int BeepIntervalMs = 1000;
constexpr int BeepMs = 500;
constexpr int RestartBeepMs = 1000;

void beepFor(int ms)
{
    const int result = hal_set_bee_time(ms);
    if (result != 0)
        std::fprintf(stderr, "buzzing voice failed: %d!\n", result);
}

} // namespace

void UDiskUpWin::updatefinished()
{
    updateFinished = true;
    const QString report
        = text(updateSuccess ? MsgReportSuccess : MsgReportFailed) + QLatin1Char('\n');
    if (logger) {
        logger->writeReport(report);
        logger->close();
    }
    hix::io::flush::runStep();
}

void UDiskUpWin::startBeep()
{
    beepCount = configParser ? configParser->getUpdateFinishConfig().beepNum : 0;
    if (beepCount <= 0)
        return;
    beepTimer = new QTimer(this);
    connect(beepTimer, &QTimer::timeout, this, &UDiskUpWin::Beep);
    beepTimer->start(BeepIntervalMs);
}

void UDiskUpWin::Beep()
{
    if (beepCount < 1)
        return;
    beepFor(BeepMs);
    --beepCount;
}

void UDiskUpWin::reBootHix()
{
    if (!configParser || !configParser->getUpdateFinishConfig().reboot)
        return;
    // The beeps the package asks for are the operator's sign that the update is over: a restart
    // at once would cut them off, so they sound first (one second each, bounded).
    QElapsedTimer waited;
    waited.start();
    const qint64 limit = qint64(qMax(beepCount, 0)) * BeepIntervalMs + BeepIntervalMs / 2;
    while (beepCount > 0 && beepTimer && waited.elapsed() < limit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(10000);
    }
    restartHix();
    close();
}

void UDiskUpWin::endHiddenRun()
{
    // The outcome is in the log and the state file. A hidden window has no button anybody could
    // press, so waiting on would hold the panel until it is switched off. The beeps the package
    // asks for sound first, and the last tone is over before the program ends.
    const int status = updateSuccess ? 0 : 1;
    const int pending = beepTimer ? qMax(beepCount, 0) : 0;
    const int delayMs = pending > 0 ? pending * BeepIntervalMs + BeepMs + BeepIntervalMs / 10 : 0;
    qDebug() << "hidden run ended, status" << status << "after" << delayMs << "ms";
    QTimer::singleShot(delayMs, this, [this, status] { emit hiddenRunEnded(status); });
}

void UDiskUpWin::restartHix()
{
    beepFor(RestartBeepMs);
    qDebug() << "restarting the hix...";
    hix::io::flush::beforeRestart();
    if (hix::restartSystem() != 0) {
        const QString reason = QString::fromLocal8Bit(strerror(errno));
        qDebug() << "restart\u3000the hix failed!" << reason << "...";
        if (showPage)
            QMessageBox::about(this, text(MsgNote), reason);
        return;
    }
    // The panel restarts; the window goes without asking again.
    closeBySignal = true;
    close();
}

void UDiskUpWin::CloseBySignal()
{
    closeBySignal = true;
    close();
}

void UDiskUpWin::closeEvent(QCloseEvent *event)
{
    if (closeBySignal) {
        if (backgroundWin)
            backgroundWin->close();
        event->accept();
        emit windowClosed();
        return;
    }
    if (updateFinished) {
        // The panel restarts; when that fails the window still closes.
        restartHix();
        if (backgroundWin)
            backgroundWin->close();
        event->accept();
        emit windowClosed();
        return;
    }
    event->ignore();
    if (showPage) {
        QMessageBox box(QMessageBox::Warning, text(MsgWarning), text(MsgCloseAfterUpdate),
            QMessageBox::Ok, this);
        box.setWindowFlags(
            (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
        box.setWindowIcon(QIcon(QStringLiteral(" ")));
        box.button(QMessageBox::Ok)->setText(text(MsgConfirm));
        box.exec();
    }
}
