#include "main_cfg.h"
#include "no_menu_decoration.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QScreen>
#include <gtest/gtest.h>

TEST(MainCfg, SmallScreenFontNoIconAndNoSystemMenu)
{
    MainCfg().initCfg(*qApp);
    const int width = QGuiApplication::primaryScreen()->geometry().width();
    EXPECT_EQ(QApplication::font().pixelSize(), width <= 1024 ? 12 : 16);
    EXPECT_EQ(QApplication::font().family(), QStringLiteral("宋体"));
    EXPECT_TRUE(QApplication::windowIcon().pixmap(16, 16).isNull());

    QDialog dialog;
    dialog.setWindowFlags(dialog.windowFlags() | Qt::WindowSystemMenuHint
        | Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint);
    dialog.show();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.property(no_menu_decoration::NoSystemMenuProperty).toBool());
}

TEST(NoMenuDecoration, TitleBarHeightIsOfferedToThePlatform)
{
    no_menu_decoration decoration;
    decoration.setTitleBarHeight(36);
    QWidget window;
    decoration.decorate(&window);
    EXPECT_EQ(window.property(no_menu_decoration::TitleBarHeightProperty).toInt(), 36);
    EXPECT_TRUE(window.property(no_menu_decoration::NoSystemMenuProperty).toBool());
}
