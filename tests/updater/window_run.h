#pragma once

#include "clogger.h"
#include "multilingual_manager.h"
#include "temp_sysroot.h"
#include "udisk_up_win.h"
#include "update_package.h"

#include <QColor>
#include <QDir>
#include <QTextBlock>
#include <QTextEdit>

#include <memory>

// An update run inside the test process, on a UDiskUpWin in a fresh emulated panel of its own:
// the log the launcher began, the window created and started from the package's folder as the
// updater does it, and what the window shows.
class WindowRun
{
public:
    static inline const QByteArray LauncherHead = "[失败]\n------------------------\n";

    WindowRun()
        : package(sysroot)
        , previousDir(QDir::currentPath())
    {
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
        logPath = sysroot.writeFile("/media/usb0/upgradeProcess.log", LauncherHead);
        logger = std::make_unique<CLogger>(logPath, CLogger::READ_WRITE);
        logger->toggleLogger(true);
    }
    ~WindowRun()
    {
        window.reset();
        QDir::setCurrent(previousDir);
    }
    WindowRun(const WindowRun &) = delete;
    WindowRun &operator=(const WindowRun &) = delete;

    // Creates the window and runs the package from its folder, as the updater does.
    void run(const QString &ini, bool showPage)
    {
        package.writeDescription(ini);
        window
            = std::make_unique<UDiskUpWin>(QStringLiteral("0000"), QStringLiteral("t"), showPage);
        window->setLogger(logger.get());
        QDir::setCurrent(package.folder());
        window->startUpdate();
    }

    QStringList lines() const
    {
        return window->findChild<QTextEdit *>(QStringLiteral("textEdit"))
            ->toPlainText()
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The shown lines in red.
    QStringList redLines() const
    {
        QStringList red;
        const QTextDocument *document
            = window->findChild<QTextEdit *>(QStringLiteral("textEdit"))->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (!block.text().isEmpty()
                && block.begin().fragment().charFormat().foreground().color() == QColor(Qt::red))
                red << block.text();
        }
        return red;
    }

    QByteArray log() const { return UpdatePackage::readFile(logPath); }
    QStringList buzzer() const
    {
        return QString::fromUtf8(sysroot.readFile("/run/buzzer.log"))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    TempSysroot sysroot;
    UpdatePackage package;
    QString previousDir;
    QString logPath;
    std::unique_ptr<CLogger> logger;
    std::unique_ptr<UDiskUpWin> window;
};
