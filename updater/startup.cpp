#include "startup.h"

#include "command_line.h"
#include "multilingual_manager.h"
#include "panel_path.h"
#include "updater_messages.h"
#include "vexo_process.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

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

QString projectDir()
{
    const QString fromEnvironment = QString::fromUtf8(qgetenv("VEXO_PROJECT_DIR"));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return hix::panelPath(QStringLiteral("/usr/vexo_app/project"));
}

namespace {

QString languageNumber(int type)
{
    return QStringLiteral("%1").arg(type, 4, 10, QLatin1Char('0'));
}

QString languageFileOf(const QString &base, const QString &lanID)
{
    return base + QStringLiteral("/language/%1.lan").arg(lanID);
}

} // namespace

LanguageChoice chooseLanguage(const QString &base, const QString &lanID)
{
    LanguageChoice choice { lanID, QString() };
    if (choice.lanID.isEmpty()) {
        const QString setup = projectDir() + QStringLiteral("/lan_setup.ini");
        if (QFileInfo(setup).isFile()) {
            QSettings settings(setup, QSettings::IniFormat);
            settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
            const QString key = QStringLiteral("/current_language/type");
            if (settings.contains(key)) {
                const int type = settings.value(key).toInt();
                if (type != -1)
                    choice.lanID = languageNumber(type);
            }
        }
    }
    choice.languageFile = languageFileOf(base, choice.lanID);

    if (choice.lanID.isEmpty() || !QFileInfo::exists(choice.languageFile)) {
        QSettings settings(
            base + QStringLiteral("/config/baseUpdateSet.ini"), QSettings::IniFormat);
        settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
        choice.lanID
            = languageNumber(settings.value(QStringLiteral("/tool_language/type"), 0).toInt());
        choice.languageFile = languageFileOf(base, choice.lanID);
    }
    return choice;
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
