// upgentry: the update launcher started from the stick.
#include "launcher_startup.h"
#include "main_cfg.h"
#include "multilingual_manager.h"
#include "my_kill_process.h"
#include "qws_process.h"
#include "stick_runtime.h"
#include "tip_main_dlg.h"

#include <QApplication>
#include <QTextCodec>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // Before Qt starts: on a panel, the libraries, plug-ins and font come from the stick.
    hix::useStickRuntime();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    my_kill_process::kill_Self_Previous(LauncherProgramName, SIGTERM);

    char exePath[1024] = {};
    if (readlink("/proc/self/exe", exePath, sizeof exePath - 1) < 0) {
        std::printf("upgentry get exepath failed:%s\n", std::strerror(errno));
        return -1;
    }
    const QString launcherDir = launcherDirFromExePath(QByteArray(exePath));
    const LauncherSettings settings = readLauncherSettings(launcherDir);

    if (!QwsProcess::qwsServerIsExit(settings.qwsTimeout))
        QwsProcess::startQwsServer(launcherDir + QStringLiteral("/qws/qwsserver"));

    QApplication app(argc, argv);
    hixInitResources();
    MainCfg().initCfg(app);
    // The launcher ends when its page or dialog is done, not when a window happens to close
    // between the page and the confirmation.
    app.setQuitOnLastWindowClosed(false);

    return runLauncher(launcherDir, settings);
}
