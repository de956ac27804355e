#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

// Starts the stand-in HMI runtime (<HIX_BIN_DIR>/fake_vexo_app) in the current sysroot and ends
// it by its process id when the test is over. started() is true once the runtime has
// registered with the supervisor.
class FakeRuntime
{
public:
    explicit FakeRuntime(const QStringList &arguments, const QString &sysrootPath)
        : runFolder(sysrootPath + QStringLiteral("/run/vexo_app/"))
    {
        const QByteArray program = qgetenv("HIX_BIN_DIR") + "/fake_vexo_app";
        std::vector<QByteArray> storage { program };
        for (const QString &argument : arguments)
            storage.push_back(argument.toUtf8());
        storage.push_back("--lifetime");
        storage.push_back("30000");
        std::vector<char *> argv;
        for (QByteArray &item : storage)
            argv.push_back(item.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid = 0;
            return;
        }
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000 && !QFile::exists(runFolder + QStringLiteral("pid")))
            usleep(5000);
    }
    ~FakeRuntime()
    {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    FakeRuntime(const FakeRuntime &) = delete;
    FakeRuntime &operator=(const FakeRuntime &) = delete;

    bool started() const { return pid > 0 && QFile::exists(runFolder + QStringLiteral("pid")); }
    pid_t processId() const { return pid; }

    // Whether the process still exists (a zombie counts as gone).
    bool isAlive() const
    {
        if (pid <= 0 || reaped)
            return false;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
    }

    // Reaps the process (waiting at most timeoutMs); the raw wait status, or -1.
    int reap(int timeoutMs = 5000)
    {
        QElapsedTimer waited;
        waited.start();
        int status = 0;
        while (waited.elapsed() < timeoutMs) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                reaped = true;
                return status;
            }
            usleep(5000);
        }
        return -1;
    }

    // The events the runtime logged, as (epoch ms, event text).
    QList<QPair<qint64, QByteArray>> events() const
    {
        QList<QPair<qint64, QByteArray>> result;
        QFile log(runFolder + QStringLiteral("events.log"));
        if (!log.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray &line : log.readAll().split('\n')) {
            const int blank = line.indexOf(' ');
            if (blank > 0)
                result.append({ line.left(blank).toLongLong(), line.mid(blank + 1) });
        }
        return result;
    }

    int countEvents(const QByteArray &prefix) const
    {
        int count = 0;
        for (const auto &event : events())
            count += event.second.startsWith(prefix) ? 1 : 0;
        return count;
    }

    qint64 timeOf(const QByteArray &event) const
    {
        for (const auto &entry : events())
            if (entry.second == event)
                return entry.first;
        return -1;
    }

private:
    QString runFolder;
    pid_t pid = 0;
    bool reaped = false;
};
