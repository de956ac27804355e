#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// Makes a stick's programs independent of the panel's own libraries: a panel has the kernel and
// the C library, and nothing else the programs may rely on (no Qt 5, libnl, OpenSSL, zlib, or a
// C++ library of the build's age). Into STICK/hixlib go
//
//   every shared library the stick's programs and plug-ins name, directly or through each
//   other, found in the build machine's folders for the programs' machine
//   (/usr/lib/<multiarch>, /lib/<multiarch>, /usr/<multiarch>/lib), except the C library;
//   plugins/platforms/libqlinuxfb.so, Qt's framebuffer platform, for the programs with windows;
//   fonts/<font> and fonts/fonts.conf, a font that renders the Chinese texts.
//
// The programs find the libraries through their own run path ("$ORIGIN/hixlib" at the stick
// root, "$ORIGIN/../hixlib" in "hixupdateu/"), and the plug-ins and the font through
// platform/stick_runtime.h. Programs built without that run path are refused: on a panel they
// could not start. The programs' copies on the stick lose their debug information
// (<multiarch>-strip --strip-debug, when installed).
class stick_libraries_c
{
public:
    explicit stick_libraries_c(const QString &stickDir);

    // The font to ship; default: the first of defaultFonts() that exists.
    void setFont(const QString &file) { fontFile = file; }
    static QStringList defaultFonts();

    // Lays out STICK/hixlib for the programs found on the stick; false after an error message.
    bool layOut();

    // What was laid out, for the build's report.
    int fileCount() const { return files; }
    qint64 byteCount() const { return bytes; }
    QString machineName() const { return multiarch; }

    // The C library's own files, which every panel has and which must match its kernel.
    static bool isCLibrary(const QString &soname);

private:
    bool checkRunPath(const QString &program, const QStringList &rpath, const QString &wanted);
    QString findLibrary(const QString &soname) const;
    bool copyInto(const QString &from, const QString &to);
    bool copyClosure(QStringList todo);
    bool writeFont();
    void stripDebugInformation(const QStringList &programs);

    QString stickDir;
    QString libraryDir;
    QString fontFile;
    QString multiarch;
    QSet<QString> copied;
    int files = 0;
    qint64 bytes = 0;
};
