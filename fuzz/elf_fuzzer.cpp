// libFuzzer target: any bytes as the C library whose ARM attributes name the platform.
#include "parse_platform_info.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    int arch = -1;
    ParsePlatformInfo::parseAttributes(data, size, arch);
    const QString path = dir.path() + "/libc.so.6";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    file.close();
    ParsePlatformInfo::getPlatform(path, arch);
    return 0;
}
