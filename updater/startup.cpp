#include "startup.h"

#include "command_line.h"
#include "multilingual_manager.h"
#include "updater_messages.h"
#include "vexo_process.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

QString baseDirFromExePath(const QByteArray &exePath)
{
    QString base = QString::fromUtf8(exePath);
    for (int cut = 0; cut < 2; ++cut) {
        const int slash = base.lastIndexOf(QLatin1Char('/'));
        if (slash >= 0)
            base.truncate(slash);
    }
    return base;
}

bool updateEnvPath()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    qDebug() << "get app path:" << appDir;
    if (setenv("LD_LIBRARY_PATH", appDir.toUtf8().constData(), 1) != 0) {
        qDebug() << "设置环境变量失败";
        return false;
    }
    const int changed = chdir(QFile::encodeName(appDir).constData());
    std::printf("upgrunner.bin %d\n", changed);
    std::fflush(stdout);
    return true;
}

LanguageChoice chooseLanguage(const QString &base, const QString &lanID)
{
    return hix::chooseLanguage(base, lanID, hix::toolLanguage(base));
}

bool prepareRuntime(int execCond, bool mayAsk, unsigned waitMs)
{
    switch (execCond) {
    case EXEC_COND_EXIT:
        return vexo_process::exitProcess(waitMs, nullptr, !mayAsk) != 0;
    case EXEC_COND_TO_SETUP:
        return vexo_process::backToCsevr(waitMs, nullptr) != 0;
    default:
        return true;
    }
}

QString runtimeNotStoppedText(int execCond)
{
    return hix::text(MsgReportFailed).trimmed()
        + hix::text(execCond == EXEC_COND_TO_SETUP ? MsgExitingToSetup : MsgExitingApp);
}
