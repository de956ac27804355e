#include "clogger.h"

#include "temp_sysroot.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

const QByteArray LauncherHead = "[失败]\n------------------------\n";

QStringList debugLines;

void collectDebug(QtMsgType, const QMessageLogContext &, const QString &message)
{
    debugLines << message;
}

class CLoggerTest : public ::testing::Test
{
protected:
    QString logPath(const QString &name = QStringLiteral("upgradeProcess.log")) const
    {
        return sysroot.path(QStringLiteral("/media/usb0/") + name);
    }
    QByteArray content(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void writeLog(const QByteArray &bytes)
    {
        sysroot.writeFile(QStringLiteral("/media/usb0/upgradeProcess.log"), bytes);
    }

    TempSysroot sysroot;
};

} // namespace

TEST_F(CLoggerTest, LauncherThenUpdater_HeadSeparatorAndLinesInOrder)
{
    {
        CLogger launcher(logPath(), CLogger::WRITE_ONLY);
        launcher.writeReport(QStringLiteral("[失败]\n"));
        launcher.write(QStringLiteral("------------------------\n"));
        launcher.write(QStringLiteral("启动成功\n"));
    }
    CLogger updater(logPath(), CLogger::READ_WRITE);
    updater.toggleLogger(true);
    updater.write(QStringLiteral("开始升级...\n"));
    updater.writeReport(QStringLiteral("[成功]\n"));
    updater.close();
    EXPECT_EQ(content(logPath()),
        QByteArray("[成功]\n------------------------\n启动成功\n开始升级...\n"));
}

TEST_F(CLoggerTest, MissingFolders_AreCreated)
{
    const QString path = sysroot.path(QStringLiteral("/media/usb0/a/b/c/run.log"));
    CLogger log(path, CLogger::WRITE_ONLY);
    log.write(QStringLiteral("x\n"));
    EXPECT_TRUE(log.isOpen());
    EXPECT_EQ(content(path), QByteArray("x\n"));
}

TEST_F(CLoggerTest, DirectoryPath_GivesNoLogAndThirtyExclamationMarks)
{
    const QString dir = sysroot.path(QStringLiteral("/media/usb0/folder.log"));
    QDir().mkpath(dir);
    debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectDebug);
    CLogger log(dir, CLogger::READ_WRITE);
    log.write(QStringLiteral("line\n"));
    log.writeReport(QStringLiteral("[成功]\n"));
    qInstallMessageHandler(previous);

    EXPECT_FALSE(log.isOpen());
    EXPECT_TRUE(log.path().isEmpty());
    EXPECT_TRUE(debugLines.contains(QString(30, QLatin1Char('!'))))
        << debugLines.join('|').toStdString();
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_TRUE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(CLoggerTest, UnwritablePath_SkipsEveryWriteWithoutHarm)
{
    // A folder level that is a plain file can neither be created nor entered, even by root.
    sysroot.writeFile(QStringLiteral("/media/usb0/blocker"), "keep");
    const QString path = sysroot.path(QStringLiteral("/media/usb0/blocker/upgradeProcess.log"));
    CLogger log(path, CLogger::READ_WRITE);
    EXPECT_FALSE(log.isOpen());
    log.write(QStringLiteral("line\n"));
    log.writeReport(QStringLiteral("[成功]\n"));
    log.close();
    EXPECT_EQ(sysroot.readFile(QStringLiteral("/media/usb0/blocker")), QByteArray("keep"));
}

TEST_F(CLoggerTest, DisabledOrClosed_WritesNothing)
{
    writeLog(LauncherHead);
    CLogger log(logPath(), CLogger::READ_WRITE);
    log.toggleLogger(false);
    log.write(QStringLiteral("hidden\n"));
    log.writeReport(QStringLiteral("[成功]\n"));
    log.toggleLogger(true);
    log.write(QStringLiteral("shown\n"));
    log.close();
    log.toggleLogger(true);
    log.write(QStringLiteral("after close\n"));
    log.writeReport(QStringLiteral("[成功]\n"));
    EXPECT_EQ(content(logPath()), LauncherHead + "shown\n");
}

TEST_F(CLoggerTest, SameLengthReport_RewritesHeadInPlaceAndKeepsSeparator)
{
    writeLog(LauncherHead + "line one\n");
    CLogger log(logPath(), CLogger::READ_WRITE);
    log.writeReport(QStringLiteral("[成功]\n"));
    log.write(QStringLiteral("line two\n"));
    log.close();
    EXPECT_EQ(
        content(logPath()), QByteArray("[成功]\n------------------------\nline one\nline two\n"));
}

TEST_F(CLoggerTest, ReportOfAnotherLength_ReplacesOnlyTheHeadLine)
{
    writeLog("[FAILED]\n------------------------\nline one\n");
    {
        CLogger log(logPath(), CLogger::READ_WRITE);
        log.writeReport(QStringLiteral("[OK]\n"));
        log.write(QStringLiteral("line two\n"));
    }
    EXPECT_EQ(
        content(logPath()), QByteArray("[OK]\n------------------------\nline one\nline two\n"));

    CLogger log(logPath(), CLogger::READ_WRITE);
    log.writeReport(QStringLiteral("[SUCCESSFUL]\n"));
    log.close();
    EXPECT_EQ(content(logPath()),
        QByteArray("[SUCCESSFUL]\n------------------------\nline one\nline two\n"));
}

TEST_F(CLoggerTest, Modes_ReadWriteAppendsWriteOnlyEmptiesOtherOpensNothing)
{
    writeLog(LauncherHead);
    {
        CLogger log(logPath(), CLogger::READ_WRITE);
        log.write(QStringLiteral("appended\n"));
    }
    EXPECT_EQ(content(logPath()), LauncherHead + "appended\n");
    {
        CLogger log(logPath(), static_cast<CLogger::MODE>(7));
        EXPECT_FALSE(log.isOpen());
        log.write(QStringLiteral("ignored\n"));
    }
    EXPECT_EQ(content(logPath()), LauncherHead + "appended\n");
    {
        CLogger log(logPath(), CLogger::WRITE_ONLY);
        log.write(QStringLiteral("fresh\n"));
    }
    EXPECT_EQ(content(logPath()), QByteArray("fresh\n"));
}

TEST_F(CLoggerTest, EmptyPath_OpensNothing)
{
    CLogger log(QString(), CLogger::WRITE_ONLY);
    EXPECT_FALSE(log.isOpen());
    log.write(QStringLiteral("x\n"));
}
