#include "udisk_up_win.h"

#include "check_result_service.h"
#include "check_up_info.h"
#include "clogger.h"
#include "file_operation.h"
#include "multilingual_manager.h"
#include "package_manifest.h"
#include "parse_config_info.h"
#include "path_deal.h"
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

#include <unistd.h>

using hix::text;

std::atomic<int> UDiskUpWin::updateRes { -1 };

namespace {

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
    configParser.reset(new (std::nothrow) ParseConfigInfo);
    if (!configParser)
        return;
    connect(configParser.get(), &ParseConfigInfo::emitMessage, this, &UDiskUpWin::updateOutMessage);
    upChecker.reset(new (std::nothrow) check_up_info_c(configParser.get()));
    if (!upChecker)
        return;
    fileOperation.reset(new (std::nothrow) file_operation_c);
    if (!fileOperation)
        return;
    connect(
        fileOperation.get(), &file_operation_c::emitMessage, this, &UDiskUpWin::updateOutMessage);
    checkResultService.reset(new (std::nothrow) CheckResultService(updateRes));
    if (!checkResultService)
        return;

    setWindowTitle(title);
    ui->label->setText(text(MsgKeepStickIn));
    ui->label_2->setText(text(MsgTotalProgress));
    ui->btnRestart->setText(text(MsgRestartHix));
    initOk = true;
}

UDiskUpWin::~UDiskUpWin()
{
    qDebug() << "exiting ...";
    // The port closes before anything a report could still reach goes away.
    if (checkResultService)
        checkResultService->stopCheckResultServer();
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
    if (updateStarted || !initOk || startTimer || updateRefused)
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
    if (logger && !logger->write(strMessage + QLatin1Char('\n')))
        logWriteFailed = true;
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
