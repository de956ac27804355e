#include "clogger.h"

#include "file_io.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

CLogger::CLogger(const QString &path, MODE mode)
    : logPath(path)
{
    flushTimer.setSingleShot(true);
    QObject::connect(&flushTimer, &QTimer::timeout, [this] {
        if (!hix::io::flush::runLogPending())
            qWarning() << "the run log's lines did not reach the medium" << logPath;
    });
    if (logPath.isEmpty())
        return;
    if (QFileInfo(logPath).isDir()) {
        qDebug() << "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!";
        logPath.clear();
        return;
    }
    const int slash = logPath.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const QString folder = logPath.left(slash);
        if (!QFileInfo::exists(folder))
            QDir().mkpath(folder);
    }

    QIODevice::OpenMode openMode;
    switch (mode) {
    case WRITE_ONLY:
        openMode = QIODevice::WriteOnly | QIODevice::Truncate;
        break;
    case READ_WRITE:
        openMode = QIODevice::ReadWrite;
        break;
    default:
        return;
    }
    auto file = std::make_unique<QFile>(logPath);
    if (!file->open(openMode)) {
        // Without a log the update still runs; the operator sees every line in the window.
        qWarning() << "cannot open the run log" << logPath << file->errorString();
        return;
    }
    logFile = std::move(file);
}

CLogger::~CLogger()
{
    close();
}

void CLogger::toggleLogger(bool on)
{
    enabled = on;
}

bool CLogger::isOpen() const
{
    return logFile && logFile->isOpen();
}

bool CLogger::isEmpty() const
{
    return isOpen() && logFile->size() == 0;
}

bool CLogger::writable() const
{
    return enabled && isOpen();
}

bool CLogger::write(const QString &text)
{
    if (!enabled)
        return true;
    if (!isOpen())
        return false;
    qDebug() << "Clog write message:" << text;
    const QByteArray bytes = text.toUtf8();
    const bool written = logFile->seek(logFile->size()) && logFile->write(bytes) == bytes.size()
        && logFile->flush();
    // The stick may be pulled or the panel may lose power right after this line.
    if (written && !hix::io::flush::runLogLine(logFile->handle()))
        qWarning() << "the run log line did not reach the medium" << logPath;
    flushLater();
    if (!written)
        qWarning() << "cannot write the run log" << logPath << logFile->errorString();
    return written;
}

void CLogger::flushLater()
{
    const int left = hix::io::flush::runLogDelayLeft();
    if (left >= 0 && !flushTimer.isActive())
        flushTimer.start(left);
}

void CLogger::writeReport(const QString &text)
{
    if (!writable())
        return;
    const QByteArray report = text.toUtf8();
    qDebug() << "Clog write report:" << text;
    hix::io::flush::beforeRecord();

    // The head line is normally rewritten in place, so a power cut never leaves a log without
    // one. A report of another length (a language file with other texts) would overwrite the
    // start of the next line or leave the tail of the old head line behind, so then the whole
    // log is written again behind the new head line.
    if (!(logFile->openMode() & QIODevice::ReadOnly)) {
        // A write-only log (the launcher's) cannot be read back: it is opened again for reading
        // too, so that a head line of another length never overwrites the separator.
        logFile->flush();
        hix::io::flush::runLogClosed(logFile->handle());
        logFile->close();
        if (!logFile->open(QIODevice::ReadWrite)) {
            qWarning() << "cannot reopen the run log" << logPath << logFile->errorString();
            logFile.reset();
            return;
        }
    }
    logFile->seek(0);
    const bool sameLength = logFile->readLine().size() == report.size();
    const QByteArray rest = sameLength ? QByteArray() : logFile->readAll();

    logFile->seek(0);
    if (sameLength) {
        logFile->write(report);
    } else {
        logFile->write(report + rest);
        logFile->resize(report.size() + rest.size());
    }
    logFile->flush();
    logFile->seek(logFile->size());
    hix::io::flush::runLogHead(logFile->handle());
}

void CLogger::close()
{
    flushTimer.stop();
    if (logFile) {
        logFile->flush();
        hix::io::flush::runLogClosed(logFile->handle());
        logFile->close();
        logFile.reset();
    }
    enabled = false;
}
