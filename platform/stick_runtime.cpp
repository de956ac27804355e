#include "stick_runtime.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace hix {

namespace {

constexpr const char *PlatformVariable = "QT_QPA_PLATFORM";
constexpr const char *FontConfigVariable = "FONTCONFIG_FILE";
constexpr const char *TouchVariable = "QT_QPA_EVDEV_TOUCHSCREEN_PARAMETERS";
constexpr const char *MouseVariable = "QT_QPA_EVDEV_MOUSE_PARAMETERS";
constexpr const char *HideCursorVariable = "QT_QPA_FB_HIDECURSOR";
constexpr const char *NoLibinputVariable = "QT_QPA_FB_NO_LIBINPUT";
constexpr const char *FullScreenVariable = "QT_QPA_FB_FORCE_FULLSCREEN";
constexpr const char *PanelPlatform = "linuxfb";

// Closes the descriptor when the scope ends.
class InputDevice
{
public:
    explicit InputDevice(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~InputDevice()
    {
        if (fd >= 0)
            ::close(fd);
    }
    InputDevice(const InputDevice &) = delete;
    InputDevice &operator=(const InputDevice &) = delete;

    bool hasBit(int type, int code) const
    {
        unsigned char bits[KEY_MAX / 8 + 1] = {};
        if (fd < 0 || ::ioctl(fd, EVIOCGBIT(type, sizeof bits), bits) < 0)
            return false;
        return (bits[code / 8] >> (code % 8)) & 1;
    }

private:
    int fd;
};

void setUnlessSet(const char *name, const QByteArray &value)
{
    if (qEnvironmentVariableIsSet(name))
        return;
    qputenv(name, value);
    qDebug() << "stick runtime:" << name << "=" << value;
}

QString ownFolder()
{
    char path[1024] = {};
    if (::readlink("/proc/self/exe", path, sizeof path - 1) < 0)
        return QString();
    return QFileInfo(QFile::decodeName(path)).absolutePath();
}

} // namespace

QString stickLibraryFolder(const QString &exeDir)
{
    if (exeDir.isEmpty())
        return QString();
    const QString name = QString::fromLatin1(StickLibraryFolderName);
    const QStringList candidates
        = { exeDir + QLatin1Char('/') + name, exeDir + QStringLiteral("/../") + name };
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate + QStringLiteral("/plugins")).isDir())
            return QDir::cleanPath(candidate);
    }
    return QString();
}

void findAbsoluteInput(const QString &inputDir, QString *touchScreen, QString *pointer)
{
    touchScreen->clear();
    pointer->clear();
    const QDir dir(inputDir);
    for (const QString &name :
        dir.entryList({ QStringLiteral("event*") }, QDir::System, QDir::Name)) {
        const QString node = dir.filePath(name);
        const InputDevice device(node);
        const bool absolute = (device.hasBit(EV_ABS, ABS_X) && device.hasBit(EV_ABS, ABS_Y))
            || device.hasBit(EV_ABS, ABS_MT_POSITION_X);
        if (!absolute)
            continue;
        if (touchScreen->isEmpty() && device.hasBit(EV_KEY, BTN_TOUCH))
            *touchScreen = node;
        else if (pointer->isEmpty() && device.hasBit(EV_KEY, BTN_LEFT))
            *pointer = node;
    }
}

QString useStickRuntime()
{
    const QString folder = stickLibraryFolder(ownFolder());
    if (folder.isEmpty())
        return QString();
    QCoreApplication::addLibraryPath(folder + QStringLiteral("/plugins"));
    const QString fontConfig = folder + QStringLiteral("/fonts/fonts.conf");
    if (QFileInfo::exists(fontConfig))
        setUnlessSet(FontConfigVariable, QFile::encodeName(fontConfig));
    setUnlessSet(PlatformVariable, PanelPlatform);
    // The framebuffer platform would stretch the first window over the screen: the windows keep
    // the sizes they are laid out for, as under a display server.
    setUnlessSet(FullScreenVariable, "0");

    // A panel runs no udev, through which Qt (and libinput) would find its input devices: name
    // the touch screen (or an absolute pointer standing in for it) to Qt's own evdev input so
    // that taps reach the windows.
    const bool framebuffer = qgetenv(PlatformVariable).startsWith(PanelPlatform);
    if (framebuffer && !qEnvironmentVariableIsSet(TouchVariable)
        && !qEnvironmentVariableIsSet(MouseVariable)) {
        QString touchScreen;
        QString pointer;
        findAbsoluteInput(QStringLiteral("/dev/input"), &touchScreen, &pointer);
        if (!touchScreen.isEmpty() || !pointer.isEmpty())
            setUnlessSet(NoLibinputVariable, "1");
        if (!touchScreen.isEmpty()) {
            setUnlessSet(TouchVariable, QFile::encodeName(touchScreen));
        } else if (!pointer.isEmpty()) {
            setUnlessSet(MouseVariable, QFile::encodeName(pointer) + ":abs");
            // A touch panel shows no mouse pointer.
            setUnlessSet(HideCursorVariable, "1");
        }
    }
    return folder;
}

qint64 lockStickRuntime()
{
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString folder = stickLibraryFolder(QFileInfo(exe).absolutePath());
    if (folder.isEmpty())
        return 0;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return 0;
    qint64 locked = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        // "start-end perms offset device inode path"; only the path holds a "/".
        const int slash = line.indexOf('/');
        const QList<QByteArray> fields = line.left(slash).simplified().split(' ');
        if (slash < 0 || fields.size() < 5 || fields.at(1).startsWith("---"))
            continue;
        const QString path = QFile::decodeName(line.mid(slash));
        if ((path != exe && !path.startsWith(folder + QLatin1Char('/')))
            || QFileInfo(path).fileName().startsWith(QLatin1String("libicudata")))
            continue;
        const QList<QByteArray> range = fields.at(0).split('-');
        const quintptr start = range.value(0).toULongLong(nullptr, 16);
        const quintptr end = range.value(1).toULongLong(nullptr, 16);
        if (end <= start)
            continue;
        if (::mlock(reinterpret_cast<void *>(start), end - start) != 0) {
            qWarning() << "stick runtime: cannot lock" << path
                       << "in memory:" << std::strerror(errno);
            continue;
        }
        locked += qint64(end - start);
    }
    qDebug() << "stick runtime:" << locked / 1024 << "KiB locked in memory";
    return locked;
}

} // namespace hix
