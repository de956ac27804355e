// upgrunner: the updater started from the stick by the launcher.
#include "clogger.h"
#include "command_line.h"
#include "main_cfg.h"
#include "multilingual_manager.h"
#include "my_kill_process.h"
#include "qws_process.h"
#include "startup.h"
#include "stick_runtime.h"
#include "udisk_up_win.h"
#include "updater_messages.h"
#include "vexo_process.h"

#include <QApplication>
#include <QDebug>
#include <QSocketNotifier>
#include <QTextCodec>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using hix::text;

namespace {

UDiskUpWin *pDiskUpWin = nullptr;

// A newer updater tells this one to close with SIGRTMIN+10. The handler only wakes the main
// thread through this pipe: closing a window inside a signal handler is not safe.
int signalPipe[2] = { -1, -1 };

int closeSignal()
{
    return SIGRTMIN + 10;
}

void sigHandler(int sig)
{
    if (sig != closeSignal())
        return;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool installCloseSignal()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = sigHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(closeSignal(), &action, nullptr) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before Qt starts: on a panel, the libraries, plug-ins and font come from the stick.
    hix::useStickRuntime();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    installCloseSignal();
    my_kill_process::kill_Self_Previous(UpdaterProgramName, closeSignal());

    const CommandLine commandLine = CommandLine::parse(argc, argv);

    char exePath[1024] = {};
    if (readlink("/proc/self/exe", exePath, sizeof exePath - 1) < 0) {
        std::printf("upgrunner get exepath failed:%s\n", std::strerror(errno));
        return -1;
    }
    const QString base = baseDirFromExePath(QByteArray(exePath));

    if (!QwsProcess::qwsServerIsExit(0))
        QwsProcess::startQwsServer(base + QStringLiteral("/qws/qwsserver"));

    QApplication app(argc, argv);
    // From here on a pulled stick must not end the updater before its window can say so; the
    // run locks the font as well once the window is painted.
    hix::lockStickRuntime();
    hixInitResources();
    MainCfg().initCfg(app);
    // The window's own close ends the program, also when it was never shown.
    app.setQuitOnLastWindowClosed(false);

    updateEnvPath();

    const LanguageChoice language = chooseLanguage(base, commandLine.lanID);
    MultilingualManager::GetInstance()->loadMultilingualFile(
        language.languageFile, QString::fromLatin1(hix::BuiltinLanguageTable));
    vexo_process::setMulLanguage(MultilingualManager::lookup());

    // The runtime is brought into the update's state only now, once the application and the
    // language exist: when it does not leave in time the shutdown dialog can ask the operator
    // (with the page shown; a hidden update asks nobody).
    const bool runtimeReady = prepareRuntime(commandLine.execCond, commandLine.showUpdatePage);

    auto logger
        = std::make_unique<CLogger>(base + QString::fromLatin1(RunLogName), CLogger::READ_WRITE);
    logger->toggleLogger(true);
    if (logger->isEmpty()) {
        // Started without the launcher: the log gets the head line and the separator the launcher
        // writes, so the outcome written over the head line at the end replaces no message.
        logger->write(text(MsgReportFailed) + QLatin1Char('\n'));
        logger->write(QLatin1String(CLogger::Separator));
    }

    pDiskUpWin = new (std::nothrow)
        UDiskUpWin(language.lanID, commandLine.title, commandLine.showUpdatePage);
    if (!pDiskUpWin) {
        logger->writeReport(text(MsgReportFailed) + QLatin1Char('\n'));
        logger->write(QLatin1String(CLogger::Separator));
        logger->write(text(MsgWindowNoMemory) + QLatin1Char('\n'));
        logger->close();
        qDebug() << "dlgUpnote 内存分配失败";
        return -1;
    }
    pDiskUpWin->setLogger(logger.get());
    QObject::connect(
        pDiskUpWin, &UDiskUpWin::windowClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(pDiskUpWin, &UDiskUpWin::hiddenRunEnded, &app, &QCoreApplication::exit,
        Qt::QueuedConnection);

    QSocketNotifier closeNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&closeNotifier, &QSocketNotifier::activated, [&logger] {
        if (pDiskUpWin) {
            pDiskUpWin->CloseBySignal();
            delete pDiskUpWin;
            pDiskUpWin = nullptr;
        }
        logger->close();
        // The process ends here and now: the signal may have arrived while the run was inside
        // one of the window's own calls, which must never continue on a deleted window.
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(0);
    });

    if (!runtimeReady) {
        const QString reason = runtimeNotStoppedText(commandLine.execCond);
        qWarning() << "HMI runtime still running; the update does not start";
        pDiskUpWin->refuseUpdate(reason);
        if (!commandLine.showUpdatePage) {
            // Nobody could see or close a hidden window: the log holds the reason and the
            // program ends, leaving the panel to the runtime that refused to stop.
            delete pDiskUpWin;
            pDiskUpWin = nullptr;
            logger->close();
            return 1;
        }
    }

    if (commandLine.showUpdatePage)
        pDiskUpWin->show();
    else
        pDiskUpWin->updateShow();

    const int result = app.exec();
    delete pDiskUpWin;
    pDiskUpWin = nullptr;
    logger.reset();
    return result;
}
