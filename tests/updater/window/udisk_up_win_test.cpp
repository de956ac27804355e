#include "udisk_up_win.h"

#include "clogger.h"
#include "modal_script.h"
#include "multilingual_manager.h"
#include "temp_sysroot.h"
#include "win_backgrnd.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

namespace {

class UDiskUpWinTest : public ::testing::Test
{
protected:
    UDiskUpWinTest()
    {
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QStringLiteral(":/new/prefix1/resource/lan/0000.lan"));
        logPath = sysroot.writeFile(
            "/media/usb0/upgradeProcess.log", "[失败]\n------------------------\n");
        logger = std::make_unique<CLogger>(logPath, CLogger::READ_WRITE);
    }

    std::unique_ptr<UDiskUpWin> makeWindow(bool showPage)
    {
        auto window = std::make_unique<UDiskUpWin>(
            QStringLiteral("0000"), QStringLiteral("升级工具"), showPage);
        window->setLogger(logger.get());
        return window;
    }

    QTextEdit *lines(UDiskUpWin &window) const
    {
        return window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    }

    // The colour of every shown line, in order.
    QList<QColor> lineColours(UDiskUpWin &window) const
    {
        QList<QColor> colours;
        const QTextDocument *document = lines(window)->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (block.text().isEmpty())
                continue;
            colours << block.begin().fragment().charFormat().foreground().color();
        }
        return colours;
    }

    QByteArray log() const
    {
        QFile file(logPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TempSysroot sysroot;
    QString logPath;
    std::unique_ptr<CLogger> logger;
};

} // namespace

TEST_F(UDiskUpWinTest, Form_HasTheNamedObjectsAndSizes)
{
    auto window = makeWindow(true);
    EXPECT_EQ(window->objectName(), QStringLiteral("UDiskUpWin"));
    EXPECT_EQ(window->size(), QSize(432, 300));
    EXPECT_EQ(window->minimumSize(), QSize(432, 300));
    EXPECT_EQ(window->maximumSize(), QSize(432, 300));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("升级工具"));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);

    auto *grid = window->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->spacing(), 6);
    EXPECT_EQ(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    auto *outer = window->findChild<QVBoxLayout *>(QStringLiteral("verticalLayout_2"));
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(grid->itemAtPosition(0, 0)->layout(), outer);
    auto *top = window->findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout"));
    auto *labels = window->findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    ASSERT_NE(top, nullptr);
    ASSERT_NE(labels, nullptr);
    EXPECT_EQ(outer->itemAt(0)->layout(), top);
    EXPECT_EQ(top->itemAt(0)->layout(), labels);
    for (QLayout *layout : { static_cast<QLayout *>(outer), static_cast<QLayout *>(top),
             static_cast<QLayout *>(labels) })
        EXPECT_EQ(layout->spacing(), 6) << layout->objectName().toStdString();

    auto *label = window->findChild<QLabel *>(QStringLiteral("label"));
    auto *label2 = window->findChild<QLabel *>(QStringLiteral("label_2"));
    auto *restart = window->findChild<QPushButton *>(QStringLiteral("btnRestart"));
    auto *bar = window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    ASSERT_TRUE(label && label2 && restart && bar && lines(*window));
    EXPECT_EQ(labels->itemAt(0)->widget(), label);
    EXPECT_EQ(labels->itemAt(1)->widget(), label2);
    EXPECT_EQ(top->itemAt(1)->widget(), restart);
    EXPECT_EQ(outer->itemAt(1)->widget(), bar);
    EXPECT_EQ(outer->itemAt(2)->widget(), lines(*window));

    EXPECT_EQ(label->minimumSize(), QSize(300, 23));
    EXPECT_EQ(label->text(), QStringLiteral("请注意：升级过程中不能拔出U盘！"));
    EXPECT_EQ(label2->text(), QStringLiteral("总进度："));
    EXPECT_EQ(restart->minimumSize(), QSize(100, 40));
    EXPECT_EQ(restart->text(), QStringLiteral("重启HIX"));
    EXPECT_FALSE(restart->isEnabled());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(bar->styleSheet(),
        QStringLiteral("QProgressBar{border:2px solid white;}QProgressBar::chunk "
                       "{background-color:rgb(0, 47, 167);width:10px;margin:0px;}"));
    EXPECT_TRUE(lines(*window)->isReadOnly());

    winBackgrnd *background = window->background();
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->objectName(), QStringLiteral("winBackgrnd"));
    EXPECT_EQ(background->windowTitle(), QStringLiteral("MainWindow"));
    EXPECT_EQ(background->centralWidget()->objectName(), QStringLiteral("centralwidget"));
    EXPECT_TRUE(background->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(background->isEnabled());
    EXPECT_EQ(background->geometry(), QGuiApplication::primaryScreen()->geometry());
}

TEST_F(UDiskUpWinTest, BlackLine_AddsABlackLineAndChangesNothingElse)
{
    auto window = makeWindow(true);
    const QPalette before = window->palette();
    const QPalette backgroundBefore = window->background()->palette();
    emit window->emitMessage(QStringLiteral("开始升级..."), Qt::black);

    EXPECT_EQ(lineColours(*window), QList<QColor> { QColor(Qt::black) });
    EXPECT_EQ(lines(*window)->toPlainText(), QStringLiteral("开始升级..."));
    EXPECT_EQ(window->palette(), before);
    EXPECT_EQ(window->background()->palette(), backgroundBefore);
}

TEST_F(UDiskUpWinTest, FirstRedLine_TurnsDialogAndBackgroundRedLaterLinesStayBlack)
{
    auto window = makeWindow(true);
    emit window->emitMessage(QStringLiteral("开始升级..."), Qt::black);
    window->updateOutMessage(QStringLiteral("文件拷贝失败！"), Qt::red);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::red));
    EXPECT_EQ(window->background()->palette().color(QPalette::Window), QColor(Qt::red));

    window->updateOutMessage(QStringLiteral("正在拷贝文件:a"), Qt::black);
    EXPECT_EQ(lineColours(*window),
        (QList<QColor> { QColor(Qt::black), QColor(Qt::red), QColor(Qt::black) }));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::red));
    EXPECT_EQ(window->background()->palette().color(QPalette::Window), QColor(Qt::red));
}

TEST_F(UDiskUpWinTest, EveryLine_IsAppendedToTheLogAsASpacedParagraph)
{
    auto window = makeWindow(true);
    emit window->emitMessage(QStringLiteral("第一行"));
    window->updateOutMessage(QStringLiteral("第二行"), Qt::red);
    emit window->emitMessage(QStringLiteral("third"), Qt::black);
    const QTextDocument *document = lines(*window)->document();
    EXPECT_EQ(document->blockCount(), 3);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        EXPECT_EQ(block.blockFormat().bottomMargin(), 3.0) << block.text().toStdString();
    EXPECT_EQ(log(), QByteArray("[失败]\n------------------------\n第一行\n第二行\nthird\n"));
}

TEST_F(UDiskUpWinTest, HiddenPage_ShowsNoWindowButStartsAndLogs)
{
    auto window = makeWindow(false);
    window->updateShow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isUpdateStarted(); }, 5000));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->background()->isVisible());
    EXPECT_TRUE(log().startsWith("[失败]\n------------------------\n开始升级...\n"));
}

TEST_F(UDiskUpWinTest, ShownPage_ShowsBackgroundAndStartsAfterTheWindowAppears)
{
    auto window = makeWindow(true);
    window->show();
    EXPECT_TRUE(window->background()->isVisible());
    EXPECT_FALSE(window->isUpdateStarted());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isUpdateStarted(); }, 5000));
    EXPECT_TRUE(lines(*window)->toPlainText().startsWith(QStringLiteral("开始升级...\n")));
}

TEST_F(UDiskUpWinTest, CloseDuringTheRun_IsRefusedWithTheWarningWhenShown)
{
    auto window = makeWindow(true);
    window->show();
    QSignalSpy closed(window.get(), &UDiskUpWin::windowClosed);
    ModalScript answers;
    answers.answerEveryBox();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->background()->isVisible());
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(answers.texts, QStringList { QStringLiteral("请升级完成后再关闭此窗口！") });
    EXPECT_EQ(answers.titles, QStringList { QStringLiteral("警告") });
    EXPECT_EQ(answers.buttons, QStringList { QStringLiteral("确认") });
}

TEST_F(UDiskUpWinTest, CloseDuringTheRun_HiddenPage_RefusedWithoutAnyBox)
{
    auto window = makeWindow(false);
    window->updateShow();
    QSignalSpy closed(window.get(), &UDiskUpWin::windowClosed);
    ModalScript answers;
    answers.answerEveryBox();
    EXPECT_FALSE(window->close());
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(answers.texts.isEmpty());
}

TEST_F(UDiskUpWinTest, CloseBySignal_ClosesWindowAndBackgroundAtOnce)
{
    for (const bool showPage : { true, false }) {
        auto window = makeWindow(showPage);
        if (showPage)
            window->show();
        else
            window->updateShow();
        QSignalSpy closed(window.get(), &UDiskUpWin::windowClosed);
        window->CloseBySignal();
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->background()->isVisible());
        EXPECT_EQ(closed.count(), 1) << "page shown: " << showPage;
    }
}

TEST_F(UDiskUpWinTest, WindowWithoutLog_StillShowsItsLines)
{
    auto window = std::make_unique<UDiskUpWin>(QString(), QString(), false);
    window->updateOutMessage(QStringLiteral("no log"), Qt::red);
    EXPECT_EQ(lines(*window)->toPlainText(), QStringLiteral("no log"));
    EXPECT_EQ(log(), QByteArray("[失败]\n------------------------\n"));
}
