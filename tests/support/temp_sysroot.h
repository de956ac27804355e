#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

// A fresh emulated panel for one test: a temporary folder that HIX_SYSROOT points at while the
// object lives. Every fixed panel path of the programs lands inside it.
class TempSysroot
{
public:
    TempSysroot()
        : previous(qgetenv("HIX_SYSROOT"))
        , hadPrevious(qEnvironmentVariableIsSet("HIX_SYSROOT"))
    {
        qputenv("HIX_SYSROOT", QFile::encodeName(dir.path()));
    }
    ~TempSysroot()
    {
        if (hadPrevious)
            qputenv("HIX_SYSROOT", previous);
        else
            qunsetenv("HIX_SYSROOT");
    }
    TempSysroot(const TempSysroot &) = delete;
    TempSysroot &operator=(const TempSysroot &) = delete;

    bool isValid() const { return dir.isValid(); }
    QString root() const { return dir.path(); }

    // The host path of a panel path ("/usr/vexo_app/x" -> "<root>/usr/vexo_app/x").
    QString path(const QString &panelPath) const { return dir.path() + panelPath; }

    // Writes a file below the sysroot, creating its folders; returns the host path.
    QString writeFile(const QString &panelPath, const QByteArray &content) const
    {
        const QString hostPath = path(panelPath);
        QDir().mkpath(QFileInfo(hostPath).path());
        QFile file(hostPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
        return hostPath;
    }

    QByteArray readFile(const QString &panelPath) const
    {
        QFile file(path(panelPath));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir;
    QByteArray previous;
    bool hadPrevious;
};
