// Runs the real updater program from an emulated stick.
#include "process_helpers.h"
#include "temp_sysroot.h"
#include "update_package.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

const QByteArray LauncherHead = "[失败]\n------------------------\n";
// A run on a stick without a package description.
const QByteArray NoPackageRun = "开始升级...\n正在解析配置文件...\nini文件 update.ini 不存在\n"
                                "配置文件update.ini解析失败！\n";

class UpgrunnerTest : public ::testing::Test
{
protected:
    UpgrunnerTest()
    {
        // <build>/bin from ctest's variable, or beside the test programs' folder <build>/tests.
        QString binDir = qEnvironmentVariable("HIX_BIN_DIR");
        if (binDir.isEmpty())
            binDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
        const QString installed = binDir + QStringLiteral("/upgrunner.bin");
        program = sysroot.path("/media/usb0/hixupdateu/upgrunner.bin");
        QDir().mkpath(QFileInfo(program).path());
        copied = QFile::copy(installed, program);
        QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        sysroot.writeFile("/media/usb0/upgradeProcess.log", LauncherHead);
    }
    ~UpgrunnerTest() override
    {
        for (auto &process : processes) {
            endProcess(process->processId());
            process->waitForFinished(5000);
        }
    }

    QProcess *start(const QStringList &args)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIX_SYSROOT", sysroot.root());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("VEXO_PROJECT_DIR");
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, args);
        process->waitForStarted(5000);
        processes.push_back(std::move(process));
        return processes.back().get();
    }

    QByteArray log() const { return sysroot.readFile("/media/usb0/upgradeProcess.log"); }

    bool waitForLog(const QByteArray &expected, int timeoutMs = 15000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (log() != expected && !deadline.hasExpired())
            QThread::msleep(20);
        return log() == expected;
    }

    TempSysroot sysroot;
    QString program;
    bool copied = false;
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

TEST_F(UpgrunnerTest, SecondStart_EndsAHiddenFirstWithStatusZero)
{
    ASSERT_TRUE(copied);
    // A hidden run ends by itself once its outcome is written: this one is still busy with a
    // command when the second updater starts.
    QDir().mkpath(sysroot.path("/run/vexo-hal"));
    UpdatePackage::writeScrambled(sysroot.path("/media/usb0/hixupdateu/update.ini"),
        "\xEF\xBB\xBF# update\n[UPDATE_CONFIG]\nPROGRAM_NUM=0\n"
        "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=sleep 3\n");
    const QByteArray busyRun = "开始升级...\n正在解析配置文件...\n配置文件update.ini解析成功...\n"
                               "执行指定命令...\n";
    QProcess *first = start({ "-showUpdatePage 0" });
    ASSERT_TRUE(waitForLog(LauncherHead + busyRun));
    EXPECT_EQ(first->state(), QProcess::Running);

    QProcess *second = start({ "-execond 2", "-title Update" });
    ASSERT_TRUE(waitForExit(*first, 15000)) << first->readAll().toStdString();
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_TRUE(waitForLog(LauncherHead + busyRun + busyRun));
    EXPECT_EQ(second->state(), QProcess::Running);
    const QByteArray output = first->readAll();
    // The display server is missing on the emulated panel: one look, no wait.
    EXPECT_TRUE(output.contains("connect more than 20 seconds"));
    EXPECT_TRUE(output.contains("exiting ..."));
}

TEST_F(UpgrunnerTest, SecondStart_EndsAShownFirstWithStatusZero)
{
    ASSERT_TRUE(copied);
    QProcess *first = start({ "-title Update" });
    ASSERT_TRUE(waitForLog(LauncherHead + NoPackageRun));
    start({ "-showUpdatePage 0" });
    ASSERT_TRUE(waitForExit(*first, 15000)) << first->readAll().toStdString();
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_TRUE(waitForLog(LauncherHead + NoPackageRun + NoPackageRun));
}

TEST_F(UpgrunnerTest, LanguageFileOnTheStick_GivesTheLinesOfItsLanguage)
{
    ASSERT_TRUE(copied);
    sysroot.writeFile("/media/usb0/language/0001.lan", "[2018]\r\nstring=\"Update starts...\"\r\n");
    start({ "-lanID 0001", "-showUpdatePage 0" });
    EXPECT_TRUE(waitForLog(
        LauncherHead + QByteArray(NoPackageRun).replace("开始升级...", "Update starts...")));
}

TEST_F(UpgrunnerTest, LogPathIsAFolder_TheUpdaterStillRuns)
{
    ASSERT_TRUE(copied);
    QFile::remove(sysroot.path("/media/usb0/upgradeProcess.log"));
    QDir().mkpath(sysroot.path("/media/usb0/upgradeProcess.log"));
    QProcess *runner = start({ "-showUpdatePage 0" });
    QDeadlineTimer deadline(15000);
    QByteArray output;
    while (!output.contains("start update...") && !deadline.hasExpired()) {
        runner->waitForReadyRead(100);
        output += runner->readAll();
    }
    EXPECT_TRUE(output.contains("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!"));
    EXPECT_TRUE(output.contains("start update..."));
    EXPECT_EQ(runner->state(), QProcess::Running);
}
