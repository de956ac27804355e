// A stand-in for the panel's HMI runtime on a development machine. It registers with the process
// supervisor (see process_supervisor.h) and answers its requests the way the options say, so the
// updater's waits, the kill and the shutdown dialog can be exercised for real.
//
//   fake_vexo_app [--state running|setup] [--exit-delay MS] [--stop-delay MS]
//                 [--refuse-exit] [--refuse-stop] [--refuse-kill] [--no-answer] [--lifetime MS]
//
// --exit-delay / --stop-delay: time between accepting the request and exiting / reaching the
// setup state; -1 accepts the request but never acts on it. --refuse-*: answer "refused"
// (--refuse-kill marks the runtime protected, so the supervisor refuses to kill it).
// --no-answer: requests are taken away but never answered. --lifetime: the runtime exits by itself
// after this long (default 60000 ms), so a forgotten instance never outlives its test.
// Every event goes to events.log in the supervisor's folder as "<epoch ms> <event>".
#include "process_supervisor.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace hix::supervisor;

namespace {

volatile std::sig_atomic_t terminateRequested = 0;

void onTerminate(int)
{
    terminateRequested = 1;
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void logEvent(const QByteArray &event)
{
    QFile log(filePath(QStringLiteral("events.log")));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(QByteArray::number(nowMs()) + ' ' + event + '\n');
}

void setState(const QByteArray &state)
{
    writeFileAtomically(QStringLiteral("state"), state + '\n');
    logEvent("state " + state);
}

QByteArray ownStartTime()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() >= 20 ? fields[19] : QByteArray();
}

struct Options
{
    QByteArray state = "running";
    int exitDelayMs = 0;
    int stopDelayMs = 0;
    bool refuseExit = false;
    bool refuseStop = false;
    bool refuseKill = false;
    bool noAnswer = false;
    int lifetimeMs = 60000;
};

bool parse(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        const bool hasValue = i + 1 < argc;
        bool ok = true;
        if (arg == "--state" && hasValue)
            options->state = argv[++i];
        else if (arg == "--exit-delay" && hasValue)
            options->exitDelayMs = QByteArray(argv[++i]).toInt(&ok);
        else if (arg == "--stop-delay" && hasValue)
            options->stopDelayMs = QByteArray(argv[++i]).toInt(&ok);
        else if (arg == "--lifetime" && hasValue)
            options->lifetimeMs = QByteArray(argv[++i]).toInt(&ok);
        else if (arg == "--refuse-exit")
            options->refuseExit = true;
        else if (arg == "--refuse-stop")
            options->refuseStop = true;
        else if (arg == "--refuse-kill")
            options->refuseKill = true;
        else if (arg == "--no-answer")
            options->noAnswer = true;
        else
            ok = false;
        if (!ok) {
            fprintf(stderr, "fake_vexo_app: bad argument '%s'\n", arg.constData());
            return false;
        }
    }
    return options->state == "running" || options->state == "setup";
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, &options))
        return 2;
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);

    // A request or answer left from an earlier runtime is not meant for this one.
    QFile::remove(filePath(QStringLiteral("request")));
    QFile::remove(filePath(QStringLiteral("reply")));
    if (options.refuseKill)
        writeFileAtomically(QStringLiteral("protect"), "1\n");
    else
        QFile::remove(filePath(QStringLiteral("protect")));
    setState(options.state);
    // The pid goes last: once it is there the runtime is complete and answers requests.
    writeFileAtomically(
        QStringLiteral("pid"), QByteArray::number(qint64(getpid())) + ' ' + ownStartTime() + '\n');
    logEvent("started");

    const qint64 deadline = nowMs() + options.lifetimeMs;
    qint64 exitAt = -1;
    qint64 setupAt = -1;
    while (!terminateRequested && nowMs() < deadline) {
        QFile request(filePath(QStringLiteral("request")));
        if (request.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = request.readAll().trimmed().split(' ');
            request.close();
            request.remove();
            if (fields.size() == 2) {
                const QByteArray &verb = fields[1];
                const bool refuse = (verb == "exit" && options.refuseExit)
                    || (verb == "stop" && options.refuseStop) || (verb != "exit" && verb != "stop");
                logEvent("request " + verb
                    + (options.noAnswer ? " unanswered"
                            : refuse    ? " refused"
                                        : " accepted"));
                if (!options.noAnswer)
                    writeFileAtomically(QStringLiteral("reply"),
                        fields[0] + (refuse ? " refused\n" : " accepted\n"));
                if (!refuse && !options.noAnswer) {
                    if (verb == "exit" && options.exitDelayMs >= 0 && exitAt < 0)
                        exitAt = nowMs() + options.exitDelayMs;
                    if (verb == "stop" && options.stopDelayMs >= 0 && setupAt < 0)
                        setupAt = nowMs() + options.stopDelayMs;
                }
            }
        }
        if (setupAt >= 0 && nowMs() >= setupAt) {
            setupAt = -1;
            setState("setup");
        }
        if (exitAt >= 0 && nowMs() >= exitAt)
            break;
        usleep(5000);
    }

    setState("exited");
    QFile::remove(filePath(QStringLiteral("pid")));
    QFile::remove(filePath(QStringLiteral("protect")));
    return 0;
}
