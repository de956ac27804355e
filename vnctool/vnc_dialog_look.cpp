#include "vnc_dialog_look.h"

#include "ckeyboard.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QWidget>

namespace {
constexpr int VncPasswdMaxLength = 8;
} // namespace

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
