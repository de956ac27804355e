#include "udisk_up_win.h"

#include "clogger.h"
#include "multilingual_manager.h"
#include "path_deal.h"
#include "system_restart.h"
#include "ui_udisk_up_win.h"
#include "updater_messages.h"
#include "win_backgrnd.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

int UDiskUpWin::updateRes = -1;

namespace {

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

const char *const ProgressBarStyle
    = "QProgressBar{border:2px solid white;}QProgressBar::chunk {background-color:rgb(0, 47, "
      "167);width:10px;margin:0px;}";
constexpr int ProgressRefreshMs = 300;
constexpr int StartDelayMs = 500;

} // namespace

UDiskUpWin::UDiskUpWin(QString lanID, const QString &title, bool showUpdatePage, QWidget *parent)
    : QDialog(parent)
    , ui(new (std::nothrow) Ui_UDiskUpWin)
    , lanId(std::move(lanID))
    , showPage(showUpdatePage)
{
    if (!ui)
        return;
    ui->setupUi(this);
    init();
    connect(this, &UDiskUpWin::emitMessage, this, &UDiskUpWin::updateOutMessage);

    backgroundWin.reset(new (std::nothrow) winBackgrnd);
    if (!backgroundWin)
        return;
    connect(this, &UDiskUpWin::setErrorBackgrnd, backgroundWin.get(), &winBackgrnd::setBackgrnd);
    // The description parser, the checker and the file operations join here with the run.

    setWindowTitle(title);
    ui->label->setText(text(MsgKeepStickIn));
    ui->label_2->setText(text(MsgTotalProgress));
    ui->btnRestart->setText(text(MsgRestartHix));
    initOk = true;
}

UDiskUpWin::~UDiskUpWin()
{
    qDebug() << "exiting ...";
}

void UDiskUpWin::init()
{
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    beepCount = 0;
    closeBySignal = false;
    updateStarted = false;

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    }
    setWindowIcon(QIcon(QStringLiteral(" ")));
    setText();

    ui->progressBar->setStyleSheet(QString::fromLatin1(ProgressBarStyle));
    ui->progressBar->setTextVisible(false);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->btnRestart->setEnabled(false);

    progressTimer = new QTimer(this);
    progressValue = 0;
    connect(progressTimer, &QTimer::timeout, this, &UDiskUpWin::updateProcessBar);
    progressTimer->start(ProgressRefreshMs);
    connect(ui->btnRestart, &QPushButton::clicked, this, &UDiskUpWin::restartHix);
}

void UDiskUpWin::setText()
{
    QTextCursor cursor = ui->textEdit->textCursor();
    QTextBlockFormat format = cursor.blockFormat();
    format.setBottomMargin(3);
    cursor.setBlockFormat(format);
    ui->textEdit->setTextCursor(cursor);
    ui->textEdit->setReadOnly(true);
}

void UDiskUpWin::showEvent(QShowEvent *)
{
    updateShow();
}

void UDiskUpWin::updateShow()
{
    if (updateStarted || !initOk || startTimer)
        return;
    if (showPage) {
        backgroundWin->show();
        // The dialog stays above its background also where no window manager keeps it there.
        raise();
    }

    const QString appDir = QCoreApplication::applicationDirPath();
    if (changeWorkingDir(appDir.toUtf8().constData()))
        qDebug() << "进入当前系列目录成功!" << appDir;
    else
        qDebug() << "进入当前系列目录失败" << appDir;

    startTimer = new QTimer(this);
    connect(startTimer, &QTimer::timeout, this, &UDiskUpWin::startUpdate);
    startTimer->start(StartDelayMs);
}

bool UDiskUpWin::changeWorkingDir(const char *path)
{
    if (chdir(path) == 0)
        return true;
    emit emitMessage(
        text(MsgChangeDirFailed).arg(PathDeal::getTargetName(QString::fromUtf8(path))), Qt::red);
    qDebug() << "Couldn`t  change current working diretory!";
    return false;
}

void UDiskUpWin::startUpdate()
{
    startTimer->stop();
    programTookOver = false;
    updateStarted = true;
    qDebug() << "start update...";
    updateFinished = false;
    emit emitMessage(text(MsgUpdateStarts), Qt::black);
    progressValue = 0;
    // The phases of the run (description, lists, programs, finish) follow here once the
    // update engine is part of the program; until then the window shows and waits.
}

void UDiskUpWin::updateOutMessage(QString strMessage, QColor color)
{
    ui->textEdit->setTextColor(color);
    if (color == QColor(Qt::red)) {
        setPalette(QPalette(QColor(Qt::red)));
        emit setErrorBackgrnd(Qt::red);
    }
    ui->textEdit->append(strMessage);
    // Long file operations emit from inside one call: the line must be visible at once.
    QCoreApplication::processEvents();
    if (logger)
        logger->write(strMessage + QLatin1Char('\n'));
    repaint();
}

void UDiskUpWin::updateProcessBar()
{
    ui->progressBar->setValue(progressValue);
}

void UDiskUpWin::setLogger(CLogger *pLogger)
{
    logger = pLogger;
}

void UDiskUpWin::updatefinished()
{
    updateFinished = true;
    const QString report
        = text(updateSuccess ? MsgReportSuccess : MsgReportFailed) + QLatin1Char('\n');
    if (logger) {
        logger->writeReport(report);
        logger->close();
    }
    sync();
}

void UDiskUpWin::Beep()
{
    // The end-of-update beeps come with the panel's buzzer layer; a run that ends now is
    // silent.
    if (beepCount < 1)
        return;
    --beepCount;
}

void UDiskUpWin::restartHix()
{
    qDebug() << "restarting the hix...";
    sync();
    if (hix::restartSystem() != 0) {
        qDebug() << "restart\u3000the hix failed!" << strerror(errno) << "...";
        return;
    }
    close();
}

void UDiskUpWin::CloseBySignal()
{
    closeBySignal = true;
    close();
}

void UDiskUpWin::closeEvent(QCloseEvent *event)
{
    if (closeBySignal) {
        if (backgroundWin)
            backgroundWin->close();
        event->accept();
        emit windowClosed();
        return;
    }
    // While an update runs the window stays; the finished run's close policy (restart of the
    // panel) comes together with the end of the run.
    event->ignore();
}
