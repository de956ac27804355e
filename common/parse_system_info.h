#pragma once

#include <QRect>
#include <QString>

// Facts about the running panel that the update checks compare with a description. Every call
// reads the system afresh.
class ParseSystemInfo
{
public:
    // Kilobytes from "/proc/meminfo": free = MemFree + Buffers + Cached. 0 on success, -1 (and
    // -1 in an output not found) otherwise.
    static int get_memory_info(int &freeKb, int &totalKb);
    static int get_memory_info(int &freeKb, int &totalKb, const QString &meminfoPath);

    // "width*height" of the primary screen.
    static QString getScreenInfo();
    static QString screenText(const QRect &geometry);

    // "PREPARE/version" of the installed runtime's own "/usr/vexo_app/update.ini".
    static bool getVexoappVersion(QString &version);

    // Appends the driver's four platform texts to four zeroed buffers of 256 bytes. 1 when the
    // driver answered (a refusal leaves the buffers empty), 0 when it could not be asked.
    static int read_system_info(char *texts[4]);

    static bool getNkInfo(QString &version, QString &second, QString &third, QString &fourth);
    static bool getNkVersion(QString &version);
};
