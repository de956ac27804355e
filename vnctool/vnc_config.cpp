#include "vnc_config.h"

#include "ckeyboard.h"
#include "vnc_paths.h"

#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QTextCodec>
#include <QWidget>

namespace {
const char *const VncGroup = "VNCCONFIG";
constexpr int VncPasswdMaxLength = 8;
} // namespace

QString readVncPasswd()
{
    QSettings settings(getVncConFile(), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    return settings.value(QStringLiteral("/VNCCONFIG/passwd"), QString()).toString();
}

bool writeVncPasswd(const QString &passwd)
{
    const QString file = getVncConFile();
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    settings.beginGroup(QLatin1String(VncGroup));
    settings.setValue(QStringLiteral("runStatus"), 1);
    settings.setValue(QStringLiteral("passwd"), passwd);
    settings.setValue(QStringLiteral("shareMode"), 0);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qWarning() << "vncsetup: cannot write" << file;
        return false;
    }
    return true;
}

bool isSmallScreen(QSize screen)
{
    return screen.width() <= 1024 && screen.height() <= 1024;
}

QSize primaryScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(800, 480);
}

void applyVncDialogLook(QWidget *dialog)
{
    dialog->setWindowIcon(QIcon(QStringLiteral(" ")));
    dialog->setWindowFlags((dialog->windowFlags() & ~Qt::WindowContextHelpButtonHint
                               & ~Qt::WindowMinimizeButtonHint & ~Qt::WindowMaximizeButtonHint)
        | Qt::WindowStaysOnTopHint);
}

void centreOnDesktop(QWidget *widget)
{
    const QSize screen = primaryScreenSize();
    widget->move((screen.width() - widget->width()) / 2, (screen.height() - widget->height()) / 2);
}

void typeWithKeyboard(QWidget *parent, QLineEdit *field, QLabel *log)
{
    log->clear();
    CKeyBoard keyboard(parent);
    QObject::connect(&keyboard, &CKeyBoard::signalText, field, &QLineEdit::setText);
    keyboard.setLengthLimit(true);
    keyboard.setMaxLength(VncPasswdMaxLength);
    keyboard.setEchoMode(QLineEdit::Password);
    keyboard.exec();
}
