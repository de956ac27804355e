#include "buzzer.h"

#include "panel_path.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <thread>

#ifdef HIX_PANEL_BUILD
#include <QDirIterator>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>
#endif

namespace {

constexpr const char *BuzzerLog = "/run/buzzer.log";

#ifdef HIX_PANEL_BUILD
constexpr int ToneHz = 2700;

bool hasToneBit(int fd)
{
    unsigned long bits[(SND_MAX + 8 * sizeof(long)) / (8 * sizeof(long))] = {};
    if (ioctl(fd, EVIOCGBIT(EV_SND, sizeof(bits)), bits) < 0)
        return false;
    return bits[SND_TONE / (8 * sizeof(long))] & (1UL << (SND_TONE % (8 * sizeof(long))));
}

bool writeTone(int fd, int hz)
{
    input_event event = {};
    event.type = EV_SND;
    event.code = SND_TONE;
    event.value = hz;
    return write(fd, &event, sizeof(event)) == ssize_t(sizeof(event));
}

// Sounds the first beeper found; the tone is switched off from a detached thread so the caller's
// timer-driven GUI never waits for the buzzer.
bool soundInputBeeper(int ms)
{
    QDirIterator devices(
        QStringLiteral("/dev/input"), { QStringLiteral("event*") }, QDir::System | QDir::Files);
    while (devices.hasNext()) {
        const QByteArray path = QFile::encodeName(devices.next());
        const int fd = open(path.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (!hasToneBit(fd) || !writeTone(fd, ToneHz)) {
            close(fd);
            continue;
        }
        std::thread([fd, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            writeTone(fd, 0);
            close(fd);
        }).detach();
        return true;
    }
    return false;
}
#endif

bool recordBeep(int ms)
{
    const QString path = hix::panelPath(QString::fromLatin1(BuzzerLog));
    QDir().mkpath(QFileInfo(path).path());
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning() << "buzzer: cannot write" << path;
        return false;
    }
    const QByteArray line = "beep " + QByteArray::number(ms) + '\n';
    return log.write(line) == line.size();
}

} // namespace

int hal_set_bee_time(int ms)
{
    if (ms <= 0)
        return -1;
#ifdef HIX_PANEL_BUILD
    if (hix::sysroot().isEmpty() && soundInputBeeper(ms))
        return 0;
#endif
    return recordBeep(ms) ? 0 : -1;
}
