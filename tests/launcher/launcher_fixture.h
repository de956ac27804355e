#pragma once

#include "description_writer.h"
#include "md5_crypt_ctrl.h"
#include "modal_script.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "parse_config_info.h"
#include "process_helpers.h"
#include "temp_sysroot.h"
#include "tool_process_ctrl.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

// An emulated panel with an update stick at "/media/usb0": the package folder, the stand-in
// updater that records its start, the run log. Restores the working directory and the library
// path that the confirmation changes for the process.
class LauncherFixture : public ::testing::Test
{
protected:
    static constexpr const char *Builtin = ":/new/prefix1/resource/lan/0000.lan";

    LauncherFixture()
        : savedCwd(QDir::currentPath())
        , savedLibraryPath(qgetenv("LD_LIBRARY_PATH"))
        , hadLibraryPath(qEnvironmentVariableIsSet("LD_LIBRARY_PATH"))
    {
        qunsetenv("VEXO_EXPORT_DIR");
        qunsetenv("VEXO_PROJECT_DIR");
        QDir().mkpath(stick());
        // The panel driver answers, so the stick's backup folder is named after this panel.
        QDir().mkpath(sysroot.path("/run/vexo-hal"));
        MultilingualManager::GetInstance()->loadMultilingualFile(QString(), Builtin);
        qApp->setQuitOnLastWindowClosed(false);
    }
    ~LauncherFixture() override
    {
        QDir::setCurrent(savedCwd);
        if (hadLibraryPath)
            qputenv("LD_LIBRARY_PATH", savedLibraryPath);
        else
            qunsetenv("LD_LIBRARY_PATH");
        qApp->setQuitOnLastWindowClosed(true);
    }

    QString stick() const { return sysroot.path("/media/usb0"); }
    QString stickFile(const QString &name) const { return stick() + QLatin1Char('/') + name; }

    static QString binDir() { return testsupport::binDir(); }

    void writeDescription(const QByteArray &ini)
    {
        writeScrambledDescription(sysroot, "/media/usb0/hixupdateu/update.ini", ini);
    }

    // Places a program at the updater's place on the stick.
    bool installUpdater(const QString &program)
    {
        const QString target = stickFile("hixupdateu/upgrunner.bin");
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        return QFile::copy(program, target)
            && QFile::setPermissions(
                target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    bool installStandIn()
    {
        return installUpdater(QCoreApplication::applicationDirPath() + "/updater_standin");
    }

    QString startedRecordPath() const { return stickFile("hixupdateu/started.txt"); }
    bool waitForUpdaterStart() { return testsupport::waitForFile(startedRecordPath()); }
    QByteArray startedRecord() const { return testsupport::readAll(startedRecordPath()); }
    bool updaterStarted() const { return QFileInfo::exists(startedRecordPath()); }

    QByteArray runLog() const { return testsupport::readAll(stickFile("upgradeProcess.log")); }

    void setPassword(const std::string &password)
    {
        sysroot.writeFile("/usr/vexo_app/config/vexo_app_conf.ini",
            "[SECURITY]\nlicense="
                + QByteArray::fromStdString(md5_crypt_ctrl::GetInstance()->Encrypt(password))
                + "\n");
    }

    // The progress state file as the updater of the package on the stick leaves it while it works
    // on program curProIndex, at the place the launcher looks; more lines of its groups follow.
    QString writeProgressState(int curProIndex, const QByteArray &execResult = "?",
        const QByteArray &moreUpdatePro = QByteArray(), const QByteArray &moreGroups = QByteArray())
    {
        const QString dir = ParseConfigInfo::getBackupPath() + "_proctrl";
        QDir().mkpath(dir);
        const QString path = dir + "/toolProcessCtrl.ini";
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write("[package]\ndigest=" + packageDigest(stickFile("hixupdateu")).toLatin1()
                + "\n[updatePro]\ncurProIndex=" + QByteArray::number(curProIndex)
                + "\nexecResult=" + execResult + "\n" + moreUpdatePro + moreGroups);
        return path;
    }

    TempSysroot sysroot;

private:
    QString savedCwd;
    QByteArray savedLibraryPath;
    bool hadLibraryPath;
};

// Clicks the named button of a window as the operator would.
inline void clickButton(QWidget *window, const char *objectName)
{
    auto *button = window->findChild<QPushButton *>(QLatin1String(objectName));
    ASSERT_NE(button, nullptr) << objectName;
    QTest::mouseClick(button, Qt::LeftButton);
}

// Types text on the password dialog's own keys (digits and capital letters).
inline void typeOnKeys(QWidget *passwordDialog, const QString &text)
{
    for (const QChar c : text)
        clickButton(passwordDialog, qPrintable(QStringLiteral("keyBtn") + c));
}
