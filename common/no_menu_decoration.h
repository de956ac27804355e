#pragma once

#include <QObject>

class QMenu;
class QWidget;

// The panel's window policy: no system menu and no title-bar double-click action on any window
// of the program. Installed once on the application; it marks every window before it is first
// shown so the panel's platform plug-in can honour the policy.
class no_menu_decoration : public QObject
{
    Q_OBJECT
public:
    explicit no_menu_decoration(QObject *parent = nullptr);

    // Title-bar height that a platform plug-in may give the program's windows (0: its own).
    void setTitleBarHeight(int height) { titleBarHeight = height; }

    // Windows get no system menu.
    virtual void buildSysMenu(QWidget *widget, QMenu *menu);
    // A double click on a title bar does nothing.
    virtual void regionDoubleClicked(QWidget *widget, int region);

    // Applies the policy to one window (done automatically before a window is first shown).
    void decorate(QWidget *window) const;

    static constexpr const char *TitleBarHeightProperty = "hixTitleBarHeight";
    static constexpr const char *NoSystemMenuProperty = "hixNoSystemMenu";

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int titleBarHeight = 0;
};
