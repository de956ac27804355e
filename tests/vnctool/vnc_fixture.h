#pragma once

#include "modal_script.h"
#include "multilingual_manager.h"
#include "qsettings_factory.h"
#include "temp_sysroot.h"
#include "vnc.h"
#include "vnc_startup.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryFile>
#include <QTextCodec>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

// Collects what the program writes to standard error while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved = ::dup(2);
        if (file.open())
            ::dup2(file.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text()
    {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        saved = -1;
    }

    QTemporaryFile file;
    int saved = -1;
};

// A fresh panel and stick for each case; the tool runs with the stick as working directory, as
// when the technician starts it from there.
class VncToolTest : public ::testing::Test
{
protected:
    static constexpr const char *Builtin = ":/new/prefix1/resource/lan/0000.lanini";
    static constexpr const char *VncConfig = "/etc/iot_cfg/vncConfig.ini";
    static constexpr const char *OldVncConfig = "/usr/vexo_app/config/vncConfig.ini";

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        stick = root.path("/media/usb0");
        ASSERT_TRUE(QDir().mkpath(stick + "/hixbackup/MultiLanguage"));
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(stick));
        MultilingualManager::GetInstance()->loadMultilingualFile(QString(), Builtin);
    }

    void TearDown() override { QDir::setCurrent(previousDir); }

    // The package description as the package tool stores it (scrambled), unscrambled as at
    // start-up.
    void writePackage(const QByteArray &plainIni)
    {
        QByteArray scrambled = plainIni;
        for (char &c : scrambled)
            c = static_cast<char>(QSettingsFactory::scrambleByte(static_cast<unsigned char>(c)));
        writeStickFile("hixbackup/vnc.ini", scrambled);
        vnc_startup::unscramblePackage(stick);
    }

    QString writeStickFile(const QString &relative, const QByteArray &content)
    {
        return root.writeFile("/media/usb0/" + relative, content);
    }

    // The example language files of the demo package, copied onto the stick.
    void copyExampleLanguages()
    {
        const QDir examples(QStringLiteral(HIX_SOURCE_DIR "/examples/vnc/MultiLanguage"));
        for (const QString &name : examples.entryList({ "*.lanini" }, QDir::Files)) {
            QFile::remove(stick + "/hixbackup/MultiLanguage/" + name);
            ASSERT_TRUE(
                QFile::copy(examples.filePath(name), stick + "/hixbackup/MultiLanguage/" + name));
        }
    }

    void markDeployed(const QByteArray &config = "[VNCCONFIG]\nrunStatus=1\npasswd=\nshareMode=0\n")
    {
        root.writeFile(VncConfig, config);
    }

    QString vncPasswd(const char *panelFile = VncConfig) const
    {
        QSettings settings(root.path(panelFile), QSettings::IniFormat);
        settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
        return settings.value("VNCCONFIG/passwd").toString();
    }

    static QString text(int id)
    {
        return MultilingualManager::GetInstance()->getMultilingualValue(id);
    }

    TempSysroot root;
    QString stick;
    QString previousDir;
};
