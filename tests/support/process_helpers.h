#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>
#include <signal.h>
#include <sys/types.h>

namespace testsupport {

// <build>/bin, where the programs under test are (the shared test main sets HIX_BIN_DIR when ctest
// did not).
inline QString binDir()
{
    return qEnvironmentVariable("HIX_BIN_DIR");
}

// What one run of a command-line program gave.
struct ToolRun
{
    int exitCode = -1; // -1 when it crashed or did not end in time
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (bounded), ending it by its id when it takes too long.
inline ToolRun runTool(const QString &program, const QStringList &args, int timeoutMs = 20000)
{
    QProcess process;
    process.start(program, args);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// The probe program built with the tests.
inline QString probeProgram()
{
    return QStringLiteral(HIX_PROBE_PATH);
}

// A copy of the probe under a name that no other test or program uses, inside dir.
inline QString uniqueProbeCopy(const QString &dir, const QString &stem)
{
    static int serial = 0;
    const QString name = QStringLiteral("%1_%2_%3.bin")
                             .arg(stem)
                             .arg(QCoreApplication::applicationPid())
                             .arg(++serial);
    const QString copy = dir + QLatin1Char('/') + name;
    QFile::remove(copy);
    QFile::copy(probeProgram(), copy);
    QFile::setPermissions(
        copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return copy;
}

// Waits until the file exists (bounded), processing events meanwhile.
inline bool waitForFile(const QString &path, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!QFileInfo::exists(path)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a file, creating its folders.
inline bool writeAll(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

// Copies every file below from to the same place below to, each kept writable so that the
// temporary folder can go again.
inline bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(file, target))
            return false;
        QFile::setPermissions(target, QFile::permissions(file) | QFileDevice::WriteOwner);
    }
    return true;
}

// Waits (bounded) until a started program has ended; true also when the event loop has
// already seen it end.
inline bool waitForExit(QProcess &process, int timeoutMs = 5000)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

// Whether the process with this id still exists (and is not a zombie).
inline bool processAlive(qint64 pid)
{
    if (kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

// Ends a process started by a test, by its id, and waits for it to go (bounded).
inline void endProcess(qint64 pid)
{
    if (pid <= 0)
        return;
    kill(static_cast<pid_t>(pid), SIGKILL);
    QDeadlineTimer deadline(5000);
    while (processAlive(pid) && !deadline.hasExpired())
        QThread::msleep(10);
}

} // namespace testsupport
