#include "no_menu_decoration.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

no_menu_decoration::no_menu_decoration(QObject *parent)
    : QObject(parent)
{
}

void no_menu_decoration::buildSysMenu(QWidget *, QMenu *) { }

void no_menu_decoration::regionDoubleClicked(QWidget *, int) { }

void no_menu_decoration::decorate(QWidget *window) const
{
    // Without a maximise action a double click on the title bar has nothing to do. Qt keeps
    // the system-menu hint on every window with a close button, so the mark below is what a
    // panel plug-in reads to leave the menu out. Without the customise hint Qt would add the
    // default hints back.
    if (window->windowFlags() & Qt::WindowMaximizeButtonHint)
        window->setWindowFlags(
            (window->windowFlags() | Qt::CustomizeWindowHint) & ~Qt::WindowMaximizeButtonHint);
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
