#include "no_menu_decoration.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

no_menu_decoration::no_menu_decoration(QObject *parent)
    : QObject(parent)
{
}

void no_menu_decoration::buildSysMenu(QWidget *, QMenu *)
{
}

void no_menu_decoration::regionDoubleClicked(QWidget *, int)
{
}

void no_menu_decoration::decorate(QWidget *window) const
{
    // Without a system menu or a maximise action a double click on the title bar has nothing
    // to do; the marks tell a panel plug-in the same.
    const Qt::WindowFlags unwanted = Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint;
    if (window->windowFlags() & unwanted)
        window->setWindowFlags(window->windowFlags() & ~unwanted);
    window->setProperty(NoSystemMenuProperty, true);
    if (titleBarHeight > 0)
        window->setProperty(TitleBarHeightProperty, titleBarHeight);
}

bool no_menu_decoration::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Polish && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow() && !widget->property(NoSystemMenuProperty).toBool())
            decorate(widget);
    }
    return QObject::eventFilter(watched, event);
}
