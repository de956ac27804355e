#include "stick_libraries.h"

#include "elf_file.h"
#include "file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

namespace {

const QString LibraryFolder = QStringLiteral("hixlib");
const QString PlatformPlugin = QStringLiteral("platforms/libqlinuxfb.so");

// Where each program lies on the stick and the run path that finds the library folder from
// there.
struct StickProgram
{
    const char *path;
    const char *runPath;
};
const StickProgram Programs[] = {
    { "upgentry.bin", "$ORIGIN/hixlib" },
    { "vncsetup.bin", "$ORIGIN/hixlib" },
    { "hixupdateu/upgrunner.bin", "$ORIGIN/../hixlib" },
    { "hixupdateu/hixresult", "$ORIGIN/../hixlib" },
};

// The fontconfig set-up of the stick: the font beside it, no cache (a stick is read-only in
// spirit and a FAT file system keeps no cache safely).
const char *const FontConfig = "<?xml version=\"1.0\"?>\n"
                               "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                               "<fontconfig>\n"
                               "  <dir prefix=\"relative\">.</dir>\n"
                               "</fontconfig>\n";

bool fail(const QString &message)
{
    std::fprintf(stderr, "hixpack: %s\n", qPrintable(message));
    return false;
}

} // namespace

stick_libraries_c::stick_libraries_c(const QString &stickDir)
    : stickDir(stickDir)
    , libraryDir(QDir(stickDir).filePath(LibraryFolder))
{
}

QStringList stick_libraries_c::defaultFonts()
{
    return { QStringLiteral("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"),
        QStringLiteral("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"),
        QStringLiteral("/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf") };
}

bool stick_libraries_c::isCLibrary(const QString &soname)
{
    static const QStringList names = { QStringLiteral("libc.so.6"), QStringLiteral("libm.so.6"),
        QStringLiteral("libpthread.so.0"), QStringLiteral("libdl.so.2"),
        QStringLiteral("librt.so.1"), QStringLiteral("libresolv.so.2"),
        QStringLiteral("libutil.so.1"), QStringLiteral("libanl.so.1"),
        QStringLiteral("libmvec.so.1"), QStringLiteral("libBrokenLocale.so.1") };
    return names.contains(soname) || soname.startsWith(QLatin1String("ld-linux"))
        || soname.startsWith(QLatin1String("libnss_"));
}

bool stick_libraries_c::checkRunPath(
    const QString &program, const QStringList &rpath, const QString &wanted)
{
    if (rpath.contains(wanted))
        return true;
    return fail(QStringLiteral("\"%1\" was built without the run path \"%2\" (DT_RPATH), so on a "
                               "panel it would not find its libraries on the stick: rebuild it "
                               "with this project's CMake files")
                    .arg(program, wanted));
}

QString stick_libraries_c::findLibrary(const QString &soname) const
{
    for (const QString &dir :
        { QStringLiteral("/usr/lib/%1").arg(multiarch), QStringLiteral("/lib/%1").arg(multiarch),
            QStringLiteral("/usr/%1/lib").arg(multiarch) }) {
        const QString candidate = dir + QLatin1Char('/') + soname;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

bool stick_libraries_c::copyInto(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    // The file itself, not a link: a FAT stick has no symbolic links.
    if (!hix::io::copyWholeFile(QFileInfo(from).canonicalFilePath(), to))
        return fail(QStringLiteral("cannot copy \"%1\" to \"%2\"").arg(from, to));
    QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::WriteOwner);
    ++files;
    bytes += QFileInfo(to).size();
    return true;
}

bool stick_libraries_c::copyClosure(QStringList todo)
{
    QStringList missing;
    while (!todo.isEmpty()) {
        const QString path = todo.takeFirst();
        elf_file_s elf;
        QString error;
        if (!elf_file_s::read(path, &elf, &error))
            return fail(error);
        if (elf.multiarch() != multiarch)
            return fail(QStringLiteral("\"%1\" is built for %2, the programs for %3")
                            .arg(path, elf.multiarch(), multiarch));
        for (const QString &soname : qAsConst(elf.needed)) {
            if (isCLibrary(soname) || copied.contains(soname))
                continue;
            copied.insert(soname);
            const QString library = findLibrary(soname);
            if (library.isEmpty()) {
                missing << soname;
                continue;
            }
            if (!copyInto(library, QDir(libraryDir).filePath(soname)))
                return false;
            todo << library;
        }
    }
    if (!missing.isEmpty())
        return fail(QStringLiteral("libraries for %1 not installed on this machine: %2")
                        .arg(multiarch, missing.join(QStringLiteral(", "))));
    return true;
}

bool stick_libraries_c::writeFont()
{
    if (fontFile.isEmpty()) {
        for (const QString &candidate : defaultFonts()) {
            if (QFileInfo(candidate).isFile()) {
                fontFile = candidate;
                break;
            }
        }
    }
    if (fontFile.isEmpty() || !QFileInfo(fontFile).isFile())
        return fail(QStringLiteral("no font for the Chinese texts (install Debian's "
                                   "fonts-wqy-microhei, or name one with --font)"));
    const QString fonts = QDir(libraryDir).filePath(QStringLiteral("fonts"));
    if (!copyInto(fontFile, QDir(fonts).filePath(QFileInfo(fontFile).fileName())))
        return false;
    QSaveFile config(QDir(fonts).filePath(QStringLiteral("fonts.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write(FontConfig) < 0 || !config.commit())
        return fail(QStringLiteral("cannot write \"%1\"").arg(config.fileName()));
    ++files;
    bytes += qstrlen(FontConfig);
    return true;
}

void stick_libraries_c::stripDebugInformation(const QStringList &programs)
{
    const QString strip = QStandardPaths::findExecutable(multiarch + QStringLiteral("-strip"));
    if (strip.isEmpty()) {
        std::printf("note: no %s-strip: the programs keep their debug information\n",
            qPrintable(multiarch));
        return;
    }
    for (const QString &program : programs) {
        if (QProcess::execute(strip, { QStringLiteral("--strip-debug"), program }) != 0)
            std::printf("note: \"%s\" keeps its debug information\n", qPrintable(program));
    }
}

bool stick_libraries_c::layOut()
{
    if (QFileInfo::exists(libraryDir) && !QDir(libraryDir).removeRecursively())
        return fail(QStringLiteral("cannot empty \"%1\"").arg(libraryDir));
    QStringList todo;
    bool hasWindows = false;
    for (const StickProgram &program : Programs) {
        const QString path = QDir(stickDir).filePath(QString::fromLatin1(program.path));
        if (!QFileInfo(path).isFile())
            continue;
        elf_file_s elf;
        QString error;
        if (!elf_file_s::read(path, &elf, &error))
            return fail(error);
        if (multiarch.isEmpty())
            multiarch = elf.multiarch();
        if (multiarch.isEmpty())
            return fail(QStringLiteral("\"%1\": unknown machine %2").arg(path).arg(elf.machine));
        // A DT_RUNPATH would hide the DT_RPATH and serve none of the libraries' own needs.
        if (!elf.runpath.isEmpty())
            return fail(
                QStringLiteral("\"%1\" has a DT_RUNPATH; the stick needs a DT_RPATH").arg(path));
        if (!checkRunPath(path, elf.rpath, QString::fromLatin1(program.runPath)))
            return false;
        hasWindows = hasWindows || elf.needed.contains(QStringLiteral("libQt5Gui.so.5"));
        todo << path;
    }
    if (todo.isEmpty())
        return true;
    // A panel never reads the debug information; it would be a third of the stick.
    stripDebugInformation(todo);
    if (hasWindows) {
        const QString plugin
            = QStringLiteral("/usr/lib/%1/qt5/plugins/%2").arg(multiarch, PlatformPlugin);
        if (!QFileInfo(plugin).isFile())
            return fail(QStringLiteral("no framebuffer platform plug-in \"%1\"").arg(plugin));
        const QString to = QDir(libraryDir).filePath(QStringLiteral("plugins/") + PlatformPlugin);
        if (!copyInto(plugin, to))
            return false;
        todo << plugin;
        if (!writeFont())
            return false;
    }
    return copyClosure(todo);
}
