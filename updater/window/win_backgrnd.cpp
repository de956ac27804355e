#include "win_backgrnd.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

winBackgrnd::winBackgrnd(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("winBackgrnd"));
    setWindowTitle(QStringLiteral("MainWindow"));
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    setCentralWidget(central);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    setEnabled(false);
    setAutoFillBackground(false);
}

void winBackgrnd::setBackgrnd(Qt::GlobalColor gcolor)
{
    setPalette(QPalette(QColor(gcolor)));
}
