#pragma once

#include "process_helpers.h"
#include "qsettings_factory.h"
#include "temp_sysroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// An update package on the emulated stick of a sysroot: the scrambled description in
// "<stick>/hixupdateu/update.ini", programs written as shell scripts, and the helpers a test
// needs to read back what the run left.
class UpdatePackage
{
public:
    explicit UpdatePackage(const TempSysroot &sysroot)
        : sysroot(sysroot)
    {
        // A stable panel identifier: the stand-in of the hardware driver answers from here.
        QDir().mkpath(sysroot.path("/run/vexo-hal"));
        QDir().mkpath(folder());
    }

    QString stick() const { return sysroot.path("/media/usb0"); }
    QString folder() const { return stick() + QStringLiteral("/hixupdateu"); }

    static QString binDir() { return testsupport::binDir(); }

    // Stores the description scrambled, as the panel reads it. The text gets the byte-order
    // mark and the comment line the reader expects in front.
    void writeDescription(const QString &ini) const
    {
        writeScrambled(folder() + QStringLiteral("/update.ini"),
            QByteArray("\xEF\xBB\xBF# update\n") + ini.toUtf8());
    }

    static void writeScrambled(const QString &path, const QByteArray &plain)
    {
        QByteArray scrambled = plain;
        for (char &byte : scrambled)
            byte = char(QSettingsFactory::scrambleByte(static_cast<unsigned char>(byte)));
        writeFile(path, scrambled);
    }

    static void writeFile(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A program of the package: a shell script that notes its run (and its arguments) in
    // "<name>.runs" beside itself, then does body. REPORT n in body reports n to the updater.
    QString writeProgram(const QString &name, const QString &body) const
    {
        const QString path = folder() + QLatin1Char('/') + name;
        QString script = QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1.runs'\n").arg(path);
        script += QString(body).replace(
            QStringLiteral("REPORT "), QStringLiteral("'%1/hixresult' ").arg(binDir()));
        script += QLatin1Char('\n');
        writeFile(path, script.toUtf8());
        QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

    // How often the program written by writeProgram ran.
    int runsOf(const QString &name) const
    {
        const QByteArray runs = readFile(folder() + QLatin1Char('/') + name + ".runs");
        return runs.count('\n');
    }

    // The backup root of this panel and the progress state file beside it.
    QString backupRoot() const
    {
        const QStringList ids = QDir(stick() + QStringLiteral("/hixbackup"))
                                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &id : ids)
            if (!id.endsWith(QLatin1String("_proctrl")))
                return stick() + QStringLiteral("/hixbackup/") + id;
        return QString();
    }
    QString stateFile() const
    {
        const QStringList ids = QDir(stick() + QStringLiteral("/hixbackup"))
                                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &id : ids)
            if (id.endsWith(QLatin1String("_proctrl")))
                return stick() + QStringLiteral("/hixbackup/") + id
                    + QStringLiteral("/toolProcessCtrl.ini");
        return QString();
    }
    QString stateText() const { return QString::fromUtf8(readFile(stateFile())); }

    QString log() const
    {
        return QString::fromUtf8(readFile(stick() + QStringLiteral("/upgradeProcess.log")));
    }

    const TempSysroot &sysroot;
};
