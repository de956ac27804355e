#include "parse_system_info.h"

#include "netlink_wrapper2.h"
#include "panel_path.h"

#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTextCodec>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char *const MeminfoPath = "/proc/meminfo";
const QString RuntimeDescription = QStringLiteral("/usr/vexo_app/update.ini");
constexpr int LineLength = 1024;
constexpr int TextBufferLength = 256;

struct FileClose
{
    void operator()(FILE *f) const { fclose(f); }
};

} // namespace

int ParseSystemInfo::get_memory_info(int &freeKb, int &totalKb)
{
    return get_memory_info(freeKb, totalKb, QString::fromLatin1(MeminfoPath));
}

int ParseSystemInfo::get_memory_info(int &freeKb, int &totalKb, const QString &meminfoPath)
{
    freeKb = -1;
    totalKb = -1;
    std::unique_ptr<FILE, FileClose> file(fopen(QFile::encodeName(meminfoPath).constData(), "r"));
    if (!file)
        return -1;
    bool seenTotal = false, seenFree = false, seenBuffers = false, seenCached = false;
    long long freeSum = 0;
    char line[LineLength];
    while (fgets(line, sizeof line, file.get())) {
        const QList<QByteArray> tokens = QByteArray(line).simplified().split(' ');
        const QByteArray name = tokens.value(0);
        const bool hasValue = tokens.size() > 1;
        const long long value = tokens.value(1).toLongLong();
        if (name.contains("MemTotal")) {
            if (!hasValue)
                return -1;
            totalKb = static_cast<int>(value);
            seenTotal = true;
        } else if (name.contains("MemFree") || name.contains("Buffers")
            || name.contains("Cached")) {
            if (!hasValue)
                return -1;
            freeSum += value;
            if (name.contains("MemFree"))
                seenFree = true;
            else if (name.contains("Buffers"))
                seenBuffers = true;
            else
                seenCached = true;
        }
        if (seenTotal && seenFree && seenBuffers && seenCached) {
            freeKb = static_cast<int>(freeSum);
            return 0;
        }
    }
    return -1;
}

QString ParseSystemInfo::screenText(const QRect &geometry)
{
    // right - left + 1 and bottom - top + 1
    return QStringLiteral("%1*%2").arg(geometry.width()).arg(geometry.height());
}

QString ParseSystemInfo::getScreenInfo()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screenText(screen ? screen->geometry() : QRect());
}

bool ParseSystemInfo::getVexoappVersion(QString &version)
{
    QSettings settings(hix::panelPath(RuntimeDescription), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    version = settings.value(QStringLiteral("PREPARE/version")).toString();
    return !version.isEmpty();
}

int ParseSystemInfo::read_system_info(char *texts[4])
{
    hal_netlink_cmd_get_platform_info_resp resp {};
    if (netlink_wrapper2::hal_netlink_get_platform_info(&resp) != 0) {
        // The trace names the failure only; the caller treats the texts as unavailable.
        qDebug() << "get platform information failed: %d!";
        return 0;
    }
    if (resp.status != 0)
        return 1;
    for (int i = 0; i < 4; ++i) {
        if (!texts[i])
            continue;
        char field[sizeof resp.info[i] + 1] = {};
        std::memcpy(field, resp.info[i], sizeof resp.info[i]);
        const size_t used = strnlen(texts[i], TextBufferLength - 1);
        std::strncat(texts[i], field, TextBufferLength - 1 - used);
    }
    return 1;
}

bool ParseSystemInfo::getNkInfo(QString &version, QString &second, QString &third, QString &fourth)
{
    version.clear();
    second.clear();
    third.clear();
    fourth.clear();
    if (netlink_wrapper2::hal_netlink_init() != 0) {
        qDebug() << "system hal netlink init failed: %d!";
        return false;
    }
    char buffers[4][TextBufferLength] = {};
    char *texts[4] = { buffers[0], buffers[1], buffers[2], buffers[3] };
    const int result = read_system_info(texts);
    if (result) {
        version = QString::fromUtf8(buffers[0]);
        second = QString::fromUtf8(buffers[1]);
        third = QString::fromUtf8(buffers[2]);
        fourth = QString::fromUtf8(buffers[3]);
    }
    netlink_wrapper2::hal_netlink_exit();
    return result != 0;
}

bool ParseSystemInfo::getNkVersion(QString &version)
{
    QString second, third, fourth;
    return getNkInfo(version, second, third, fourth);
}
