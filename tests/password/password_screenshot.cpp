// Renders the password dialog as the panel shows it, for the documentation.
// Usage: password_screenshot <output.png>
#include "md5_crypt_ctrl.h"
#include "pwd_entry_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;

    // A panel of its own with a password set, so the typed text stays in the field.
    QTemporaryDir sysroot;
    qputenv("HIX_SYSROOT", QFile::encodeName(sysroot.path()));
    QDir().mkpath(sysroot.path() + "/usr/vexo_app/config");
    QFile conf(sysroot.path() + "/usr/vexo_app/config/vexo_app_conf.ini");
    if (!conf.open(QIODevice::WriteOnly))
        return 1;
    conf.write("[SECURITY]\nlicense="
        + QByteArray::fromStdString(md5_crypt_ctrl::GetInstance()->Encrypt("8888")) + "\n");
    conf.close();

    PwdEntryDialog dialog;
    dialog.show();
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEditPwd"))->setText(QStringLiteral("12AB"));
    app.processEvents();
    return dialog.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
