// hix_widget_map: where the buttons of the service programs' windows are, for the demo that
// answers the dialogs with mouse clicks as a technician would. It builds the same window class
// the program shows, lays it out without showing it and prints the window's size and one line
// per button:
//
//   @window <object name> <width> <height>
//   <object name> <centre x> <centre y> <text>
//
// with coordinates inside the window (language boxes too). Run it on the same display (and
// fonts) as the program, with the language file the program shows, if any, as LANGUAGE_FILE.
//
//   hix_widget_map password [LANGUAGE_FILE]    the access-password dialog with its keyboard
//   hix_widget_map updater [LANGUAGE_FILE]     the updater window (restart button)
//   hix_widget_map launcher [LANGUAGE_FILE]    the launcher's first page and confirmation
//   hix_widget_map message LANGUAGE_FILE TEXT_ID
//                              the updater's information box with that text (the finish text)
#include "check_up_info.h"
#include "dlg_up_note.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "pwd_entry_dialog.h"
#include "tip_main_dlg.h"
#include "udisk_up_win.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLayout>
#include <QMessageBox>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

void printButtons(QWidget *window)
{
    window->ensurePolished();
    if (window->layout())
        window->layout()->activate();
    std::printf(
        "@window %s %d %d\n", qPrintable(window->objectName()), window->width(), window->height());
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        const QPoint centre = button->mapTo(window, button->rect().center());
        std::printf("%s %d %d %s\n", qPrintable(button->objectName()), centre.x(), centre.y(),
            qPrintable(button->text()));
    }
    for (QComboBox *box : window->findChildren<QComboBox *>()) {
        const QPoint centre = box->mapTo(window, box->rect().center());
        std::printf("%s %d %d\n", qPrintable(box->objectName()), centre.x(), centre.y());
    }
}

} // namespace

int main(int argc, char **argv)
{
    // Building the updater window must not touch a panel: give it an empty one.
    QTemporaryDir panel;
    if (qEnvironmentVariableIsEmpty("HIX_SYSROOT"))
        qputenv("HIX_SYSROOT", QFile::encodeName(panel.path()));
    QApplication app(argc, argv);
    hixInitResources();
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString languageFile = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    MultilingualManager::GetInstance()->loadMultilingualFile(
        languageFile, QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
    if (what == QLatin1String("password")) {
        PwdEntryDialog dialog(nullptr, MultilingualManager::lookup());
        printButtons(&dialog);
        return 0;
    }
    if (what == QLatin1String("updater")) {
        UDiskUpWin window(QStringLiteral("0000"), QString(), true);
        printButtons(&window);
        return 0;
    }
    if (what == QLatin1String("message") && argc > 3) {
        // Built as the updater's information box is; a box takes its final size when shown.
        MultilingualManager *const table = MultilingualManager::GetInstance();
        QMessageBox box(QMessageBox::Information, table->getMultilingualValue(1001),
            table->getMultilingualValue(QByteArray(argv[3]).toInt()), QMessageBox::Ok);
        box.setObjectName(QStringLiteral("messageBox"));
        box.button(QMessageBox::Ok)->setText(table->getMultilingualValue(1003));
        box.button(QMessageBox::Ok)->setObjectName(QStringLiteral("okButton"));
        box.setAttribute(Qt::WA_DontShowOnScreen);
        box.show();
        QCoreApplication::processEvents();
        printButtons(&box);
        return 0;
    }
    if (what == QLatin1String("launcher")) {
        ParseConfigInfo parser;
        check_up_info_c checker(&parser);
        TipMainDlg page(&parser, &checker, QStringLiteral("0000"));
        printButtons(&page);
        dlgUpNote confirmation(QStringLiteral("0000"), QString());
        printButtons(&confirmation);
        return 0;
    }
    std::fprintf(stderr,
        "usage: hix_widget_map password|updater|launcher [LANGUAGE_FILE]\n"
        "       hix_widget_map message LANGUAGE_FILE TEXT_ID\n");
    return 2;
}
