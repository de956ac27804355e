// libFuzzer target: any bytes as the HMI runtime's configuration file that holds the password.
// Beyond not crashing, setting a password and clearing it again must work on whatever file was
// there when none was set.
#include "md5_crypt_ctrl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "password_fuzzer";
    static char *argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QTemporaryDir panel;
    static bool ready = [] {
        qputenv("HIX_SYSROOT", QFile::encodeName(panel.path()));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return QDir().mkpath(panel.path() + "/usr/vexo_app/config");
    }();
    if (!ready || size > 1 << 20)
        return 0;
    const QString path = panel.path() + "/usr/vexo_app/config/vexo_app_conf.ini";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    const QByteArray original(reinterpret_cast<const char *>(data), static_cast<int>(size));
    file.write(original);
    file.close();

    md5_crypt_ctrl *store = md5_crypt_ctrl::GetInstance();
    if (store->isSetPasswd()) {
        if (store->isPwdPassed("fuzz"))
            (void)store->SetNewPwd("fuzz", "");
        return 0;
    }
    if (!store->SetNewPwd("", "secret") || !store->isSetPasswd() || !store->isPwdPassed("secret")
        || store->isPwdPassed("other"))
        abort(); // the password just set does not read back
    if (!store->SetNewPwd("secret", "") || store->isSetPasswd())
        abort(); // the password could not be cleared again
    return 0;
}
