#include "vnc_startup.h"

#include "language_choice.h"
#include "md5_crypt_ctrl.h"
#include "multilingual_manager.h"
#include "no_menu_decoration.h"
#include "panel_path.h"
#include "pwd_entry_dialog.h"
#include "qsettings_factory.h"
#include "vnc.h"
#include "vnc_dialog_look.h"
#include "vnc_paths.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QTextCodec>

namespace {

const QString BuiltinLanguageFile = QStringLiteral(":/new/prefix1/resource/lan/0000.lanini");

} // namespace

namespace vnc_startup {

int commandLineLanguage(const QStringList &arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        qDebug().noquote() << i << ":" << '"' + arguments[i] + '"';
        if (!arguments[i].contains(QLatin1String("-lanID")))
            continue;
        const QStringList parts = arguments[i].split(QLatin1Char(' '));
        const QString number = parts.size() == 2 ? parts[1] : QStringLiteral("-1");
        bool ok = false;
        const int language = number.toInt(&ok, 10);
        return ok ? language : -1;
    }
    return -1;
}

bool unscramblePackage(const QString &stickDir)
{
    const QString plain = hix::panelPath(vnc::vncCfgFile);
    QDir().mkpath(QFileInfo(plain).path());
    QFile fresh(plain);
    if (fresh.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fresh.close();
    const QString package = stickDir + QStringLiteral("/hixbackup/vnc.ini");
    const bool ok = QSettingsFactory::decryptFile(package, plain, CRYPT_TYPE_INI);
    if (!ok)
        qWarning() << "vncsetup: no usable package description" << package;
    return ok;
}

int packageLanguage()
{
    QSettings description(hix::panelPath(vnc::vncCfgFile), QSettings::IniFormat);
    description.setIniCodec(QTextCodec::codecForName("UTF-8"));
    bool ok = false;
    const int language = description.value(QStringLiteral("language/lanId"), -1).toInt(&ok);
    return ok ? language : -1;
}

QString systemLanguageFile(const QString &stickDir)
{
    int language = 0;
    if (!hix::projectLanguage(&language) || language < 0)
        language = 0;
    const QString file = stickDir + QStringLiteral("/hixbackup/MultiLanguage/")
        + hix::languageNumber(language) + QStringLiteral(".lanini");
    qDebug("type = %d,getCurrentSysLanguage-languageFile = %s\n", language, qPrintable(file));
    return file;
}

QString loadLanguage(int cmdLanguage, int pkgLanguage, const QString &stickDir)
{
    const QString packageDir = stickDir + QStringLiteral("/hixbackup/");
    QString file;
    if (cmdLanguage >= 0) {
        file = packageDir + QStringLiteral("/MultiLanguage/") + hix::languageNumber(cmdLanguage)
            + QStringLiteral(".lanini");
        qDebug() << "cmdlanIdFile:" << file;
    } else if (pkgLanguage < 0) {
        file = systemLanguageFile(stickDir);
        qDebug() << "syslanIdfile:" << file;
    } else {
        file = packageDir + QStringLiteral("/MultiLanguage/") + hix::languageNumber(pkgLanguage)
            + QStringLiteral(".lanini");
        qDebug() << "arclanIdFile:" << file;
    }
    MultilingualManager::GetInstance()->loadMultilingualFile(file, BuiltinLanguageFile);
    return file;
}

bool passAccessGate()
{
    if (!md5_crypt_ctrl::GetInstance()->CryptInit())
        return true;
    // Without a text lookup: the dialog shows its own Chinese texts.
    PwdEntryDialog gate;
    gate.exec();
    return gate.GetPassed();
}

int titleBarHeight(QSize screen)
{
    return screen == QSize(1920, 1080) || screen == QSize(1080, 1920) ? 40 : 0;
}

void installWindowPolicy(QApplication &app, QSize screen)
{
    auto *decoration = new no_menu_decoration(&app);
    decoration->setTitleBarHeight(titleBarHeight(screen));
    app.installEventFilter(decoration);
}

int applicationFontPixelSize(QSize screen)
{
    return isSmallScreen(screen) ? 12 : 24;
}

int run(QApplication &app)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(applicationFontPixelSize(primaryScreenSize()));
    QApplication::setFont(font);
    QApplication::setWindowIcon(QIcon(QStringLiteral(" ")));
    installWindowPolicy(app, primaryScreenSize());

    const QStringList arguments = app.arguments();
    qDebug() << "argc = " << arguments.size();
    const int cmdLanguage = commandLineLanguage(arguments);
    const QString stickDir = vncStickDirectory();
    qDebug() << "stick directory" << stickDir;
    unscramblePackage(stickDir);
    const int pkgLanguage = packageLanguage();
    qDebug().nospace() << "cmdlanId=" << cmdLanguage << ", cfglanId=" << pkgLanguage;
    loadLanguage(cmdLanguage, pkgLanguage, stickDir);

    vnc window;
    window.fillLanguageList();
    window.initGui();

    if (!passAccessGate())
        return 0;
    window.show();
    return app.exec();
}

} // namespace vnc_startup
