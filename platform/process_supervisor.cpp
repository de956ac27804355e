#include "process_supervisor.h"

#include "panel_path.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace hix::supervisor {

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(256);
}

// Field 3 (state) and field 22 (start time) of /proc/<pid>/stat; the command name in field 2
// may hold blanks and brackets, so the fields are counted from its closing bracket.
bool readProcStat(long pid, char *state, QByteArray *startTime)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // fields[0] is field 3 of the line, so field 22 is fields[19].
    if (fields.size() < 20 || fields[0].isEmpty())
        return false;
    *state = fields[0].at(0);
    *startTime = fields[19];
    return true;
}

int sendRequest(const char *verb)
{
    if (liveRuntimePid() == 0) {
        qDebug() << "supervisor: no runtime to receive" << verb;
        return -1;
    }
    const QByteArray token = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    QFile::remove(filePath(QStringLiteral("reply")));
    if (!writeFileAtomically(QStringLiteral("request"), token + ' ' + verb + '\n'))
        return -1;

    QElapsedTimer waited;
    waited.start();
    const QString replyPath = filePath(QStringLiteral("reply"));
    while (waited.elapsed() < RequestReplyMs) {
        const QList<QByteArray> reply = readSmallFile(replyPath).trimmed().split(' ');
        if (reply.size() == 2 && reply[0] == token) {
            QFile::remove(replyPath);
            return reply[1] == "accepted" ? 0 : -1;
        }
        if (liveRuntimePid() == 0)
            break;
        usleep(5000);
    }
    // An unanswered request must not be acted on later by surprise.
    QFile::remove(filePath(QStringLiteral("request")));
    qDebug() << "supervisor: no answer to" << verb;
    return -1;
}

} // namespace

QString filePath(const QString &name)
{
    return panelPath(QString::fromLatin1(RunFolder) + name);
}

bool writeFileAtomically(const QString &name, const QByteArray &content)
{
    const QString target = filePath(name);
    QDir().mkpath(QFileInfo(target).path());
    const QString temporary = target + QStringLiteral(".new.") + QString::number(getpid());
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning() << "supervisor: cannot write" << temporary;
        return false;
    }
    const bool written = file.write(content) == content.size() && file.flush();
    file.close();
    if (!written
        || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData())
            != 0) {
        QFile::remove(temporary);
        qWarning() << "supervisor: cannot replace" << target;
        return false;
    }
    return true;
}

long liveRuntimePid()
{
    const QList<QByteArray> fields
        = readSmallFile(filePath(QStringLiteral("pid"))).trimmed().split(' ');
    if (fields.size() != 2)
        return 0;
    bool ok = false;
    const long pid = fields[0].toLong(&ok);
    if (!ok || pid <= 0)
        return 0;
    char state = 0;
    QByteArray startTime;
    if (!readProcStat(pid, &state, &startTime))
        return 0;
    if (state == 'Z' || state == 'X' || startTime != fields[1])
        return 0;
    return pid;
}

QString runtimeState()
{
    return QString::fromLatin1(readSmallFile(filePath(QStringLiteral("state"))).trimmed());
}

} // namespace hix::supervisor

using namespace hix::supervisor;

int __check_application_state(int which)
{
    const bool alive = liveRuntimePid() != 0;
    const QString state = runtimeState();
    switch (which) {
    case 0:
        return (!alive || state == QLatin1String("exited")) ? 1 : 0;
    case 1:
        return (alive && state == QLatin1String("setup")) ? 1 : 0;
    default:
        return 0;
    }
}

int __notify_exit_application()
{
    return sendRequest("exit");
}

int __notify_stop_application()
{
    return sendRequest("stop");
}

int __notify_kill_application(int)
{
    const long pid = liveRuntimePid();
    if (pid == 0) {
        qDebug() << "supervisor: no runtime to kill";
        return -1;
    }
    if (QFileInfo::exists(filePath(QStringLiteral("protect")))) {
        qDebug() << "supervisor: runtime" << pid << "is protected, kill refused";
        return -1;
    }
    if (::kill(pid_t(pid), SIGKILL) != 0) {
        qWarning() << "supervisor: kill" << pid << "failed:" << strerror(errno);
        return -1;
    }
    return 0;
}

int __notify_logger_flush()
{
    const QString path = filePath(QStringLiteral("logger_flush"));
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return -1;
    file.write(
        "flush " + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1() + '\n');
    file.flush();
    // The request itself is what must last; the runtime's log service flushes its own files.
    fdatasync(file.handle());
    file.close();
    return 0;
}
