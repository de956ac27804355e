#include "main_cfg.h"

#include "no_menu_decoration.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QScreen>

void MainCfg::initCfg(QApplication &app)
{
    QFont font(QStringLiteral("宋体"));
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int width = screen ? screen->geometry().width() : 0;
    font.setPixelSize(width <= SmallScreenWidth ? 12 : 16);
    QApplication::setFont(font);

    // An icon from a path that names no file: windows show no icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(" ")));

    app.installEventFilter(new no_menu_decoration(&app));
}
