// libFuzzer target: any bytes as the plain text of a scrambled update description.
#include "parse_config_info.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray scrambled(const uint8_t *data, size_t size)
{
    QByteArray text("\xEF\xBB\xBF#\n");
    text.append(reinterpret_cast<const char *>(data), static_cast<int>(size));
    for (char &c : text) {
        const unsigned x = static_cast<unsigned char>(c) ^ 0xA7u;
        c = static_cast<char>(((x >> 3) | (x << 5)) & 0xFFu);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "description_fuzzer";
    static char *argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QTemporaryDir panel;
    static bool ready = [] {
        qputenv("HIX_SYSROOT", QFile::encodeName(panel.path()));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    (void)ready;
    if (size > 1 << 20)
        return 0;
    const QString path = panel.path() + "/update.ini";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(scrambled(data, size));
    file.close();
    ParseConfigInfo parser;
    parser.readIni(path);
    (void)parser.getProgramConfigInfo();
    return 0;
}
