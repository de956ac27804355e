// Renders the VNC tool's windows as the panel shows them, for the documentation.
// Usage: vnc_screenshot <output directory>
#include "ckeyboard.h"
#include "multilingual_manager.h"
#include "passwd_dlg.h"
#include "passwd_sign_in.h"
#include "vnc.h"
#include "vnc_startup.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>

namespace {

void useFontFor(QSize screen)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(vnc_startup::applicationFontPixelSize(screen));
    QApplication::setFont(font);
}

bool save(QWidget &widget, const QString &file)
{
    widget.show();
    QApplication::processEvents();
    return widget.grab().save(file);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    hixInitResources();
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));

    // An empty panel of its own: nothing deployed, no password set.
    QTemporaryDir sysroot;
    qputenv("HIX_SYSROOT", QFile::encodeName(sysroot.path()));
    QDir::setCurrent(sysroot.path());
    MultilingualManager::GetInstance()->loadMultilingualFile(
        QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lanini"));

    bool ok = true;
    const QSize small(800, 480);
    const QSize large(1280, 1024);
    for (const QSize screen : { small, large }) {
        useFontFor(screen);
        vnc window(nullptr, screen);
        window.fillLanguageList();
        window.initGui();
        ok = save(window,
                 out.filePath(screen == small ? QStringLiteral("vnc_main_small.png")
                                              : QStringLiteral("vnc_main_large.png")))
            && ok;
    }

    useFontFor(small);
    passwdDlg setPassword(nullptr, small);
    setPassword.passwd_Edt->setText(QStringLiteral("1234"));
    setPassword.log_Lb->setText(MultilingualManager::GetInstance()->getMultilingualValue(2987));
    ok = save(setPassword, out.filePath(QStringLiteral("vnc_set_password.png"))) && ok;

    passwdSignIN signIn(nullptr, small);
    signIn.log_Lb->setText(MultilingualManager::GetInstance()->getMultilingualValue(2989));
    ok = save(signIn, out.filePath(QStringLiteral("vnc_sign_in.png"))) && ok;

    useFontFor(large);
    passwdDlg setPasswordLarge(nullptr, large);
    setPasswordLarge.log_Lb->setText(
        MultilingualManager::GetInstance()->getMultilingualValue(2987));
    ok = save(setPasswordLarge, out.filePath(QStringLiteral("vnc_set_password_large.png"))) && ok;
    passwdSignIN signInLarge(nullptr, large);
    ok = save(signInLarge, out.filePath(QStringLiteral("vnc_sign_in_large.png"))) && ok;

    useFontFor(small);
    CKeyBoard keyboard(nullptr, small);
    keyboard.setEchoMode(QLineEdit::Password);
    keyboard.lineEdit()->setText(QStringLiteral("1234"));
    ok = save(keyboard, out.filePath(QStringLiteral("vnc_keyboard.png"))) && ok;
    return ok ? 0 : 1;
}
