// Renders the launcher's pre-check page and confirmation dialogs as the panel shows them, for
// the documentation. Usage: launcher_screenshot <output folder>
#include "check_up_info.h"
#include "description_writer.h"
#include "dlg_up_note.h"
#include "main_cfg.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "tip_main_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>

namespace {

bool save(QWidget &window, const QString &file)
{
    window.show();
    QApplication::processEvents();
    return window.grab().save(file);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    hixInitResources();
    MainCfg().initCfg(app);

    // An emulated panel and stick of its own, with the package's language list.
    TempSysroot sysroot;
    const QString stick = sysroot.path("/media/usb0");
    QDir::setCurrent(sysroot.root());
    writeScrambledDescription(sysroot, "/media/usb0/hixupdateu/update.ini",
        "[UPDATE_CONFIG]\nTOOL_TITLE=2159\nTOOL_TIP=2160\n");
    sysroot.writeFile("/media/usb0/config/baseUpdate.ini",
        scrambledBytes("\xEF\xBB\xBF#\n[language_conf]\nlist=中文, English\nid=0000, 0001\n"));
    MultilingualManager::GetInstance()->loadMultilingualFile(
        QString(), QLatin1String(TipMainDlg::BuiltinLanguageTable));

    ParseConfigInfo parser;
    if (!parser.readIni(stick + "/hixupdateu/update.ini"))
        return 1;
    check_up_info_c checker(&parser);
    TipMainDlg page(&parser, &checker, "0000", nullptr, stick);
    bool ok = save(page, out + "/launcher_precheck_page.png");
    page.hide();

    dlgUpNote confirmation("0000", MultilingualManager::GetInstance()->getMultilingualValue(2159));
    confirmation.setTips(MultilingualManager::GetInstance()->getMultilingualValue(2160));
    ok = save(confirmation, out + "/launcher_confirmation.png") && ok;
    confirmation.hide();

    dlgUpNote unreadable("0000", MultilingualManager::GetInstance()->getMultilingualValue(1000));
    unreadable.setTips(MultilingualManager::GetInstance()->getMultilingualValue(2002));
    unreadable.setOkButtonDisabled(true);
    ok = save(unreadable, out + "/launcher_package_unreadable.png") && ok;
    unreadable.hide();

    // A panel with a key, and a stick whose program changed after it was signed.
    dlgUpNote refused("0000", MultilingualManager::GetInstance()->getMultilingualValue(1000));
    refused.setTips(MultilingualManager::GetInstance()->getMultilingualValue(2243).arg(
        "hixupdateu/install_config.sh"));
    refused.setTipsColor(Qt::red);
    refused.setOkButtonDisabled(true);
    ok = save(refused, out + "/launcher_package_refused.png") && ok;
    return ok ? 0 : 1;
}
