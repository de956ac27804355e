// libFuzzer target: any bytes as a language file on the stick, loaded over the built-in table.
#include "multilingual_manager.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "language_fuzzer";
    static char *argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    static bool ready = [] {
        hixInitResources();
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    static unsigned serial = 0;
    (void)ready;
    if (size > 1 << 20)
        return 0;
    // A new name for every input: the settings cache would otherwise answer from an earlier file
    // of the same size written within the same second.
    const QString path = dir.path() + QStringLiteral("/%1.lan").arg(serial++);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    file.close();
    MultilingualManager *table = MultilingualManager::GetInstance();
    const bool builtin = size > 0 && (data[0] & 1);
    table->loadMultilingualFile(
        path, builtin ? QStringLiteral(":/new/prefix1/resource/lan/0000.lan") : QString());
    for (int id : { 0, -1, 2022, 1000, 2147483647 })
        (void)table->getMultilingualValue(id);
    QFile::remove(path);
    return 0;
}
