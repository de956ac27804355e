#include "package_build.h"

#include "description_text.h"
#include "fat_names.h"
#include "file_crc.h"
#include "file_io.h"
#include "package_files.h"
#include "package_lint.h"
#include "package_manifest.h"
#include "package_signature.h"
#include "stick_libraries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <unistd.h>

namespace {

const QString DescriptionName = QStringLiteral("update.ini");
const QString EnglishName = QStringLiteral("0001.lan");
const QString EnglishId = QStringLiteral("0001");
const QString LanguageSection = QStringLiteral("language_conf");
const QString PackageFolder = QStringLiteral("hixupdateu");
const QByteArray ByteOrderMark("\xEF\xBB\xBF");

bool inside(const QString &path, const QString &folder)
{
    const QString p = QFileInfo(path).absoluteFilePath();
    const QString f = QFileInfo(folder).absoluteFilePath();
    return p == f || p.startsWith(f + QLatin1Char('/'));
}

} // namespace

const QString package_build_c::EnglishTable = QStringLiteral(":/hixpack/english.lan");

package_build_c::package_build_c(
    const QString &srcDir, const QString &stickDir, const QString &binDir)
    : srcDir(QDir(srcDir).absolutePath())
    , stickDir(QDir(stickDir).absolutePath())
    , binDir(QDir(binDir).absolutePath())
{
}

int package_build_c::fail(const QString &message)
{
    std::fprintf(stderr, "hixpack: %s\n", qPrintable(message));
    return 1;
}

int package_build_c::run()
{
    const QString source = QDir(srcDir).filePath(DescriptionName);
    QFile file(source);
    if (!QFileInfo(source).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read \"%1\": no such file").arg(source));
    const QByteArray bytes = file.readAll();
    file.close();
    const QString packageOut = QDir(stickDir).filePath(PackageFolder);
    if (inside(srcDir, packageOut) || inside(stickDir, srcDir))
        return fail(QStringLiteral("the stick folder \"%1\" and the package source \"%2\" "
                                   "overlap")
                        .arg(stickDir, srcDir));

    // Errors first, with the author's line numbers; the CRC values are the build's business.
    const description_text_c text = description_text_c::fromBytes(bytes);
    QStringList languageFiles = package_lint_c::languageFilesNear(srcDir);
    const QDir binLanguage(QDir(binDir).filePath(QStringLiteral("language")));
    for (const QString &name : binLanguage.entryList({ QStringLiteral("*.lan") }, QDir::Files))
        languageFiles << binLanguage.filePath(name);
    // A CRC value the author wrote is a promise about the file: one that does not hold stops the
    // build as it stops lint; only missing values are the build's to fill in.
    package_lint_c lint(text, srcDir, languageFiles);
    lint.setDescriptionFile(DescriptionName);
    if (english)
        lint.setEnglishTable(EnglishTable);
    const QVector<package_lint_c::Finding> findings = lint.run();
    for (const package_lint_c::Finding &f : findings)
        std::fprintf(stderr, "%s\n", qPrintable(package_lint_c::format(source, f)));
    if (const int errors = package_lint_c::errorCount(findings))
        return fail(QStringLiteral("%1 error(s) in \"%2\": nothing built").arg(errors).arg(source));

    if (!checkFatNames())
        return 1;

    if (!signingKeyFile.isEmpty()) {
        QFile keyFile(signingKeyFile);
        QString error = QStringLiteral("cannot be read");
        if (keyFile.open(QIODevice::ReadOnly))
            signingKey = PackageKey::fromPrivatePem(keyFile.readAll(), &error);
        if (signingKey.isNull())
            return fail(QStringLiteral("the signing key \"%1\": %2 (hixpack keygen makes one)")
                            .arg(signingKeyFile, error));
    }

    QByteArray plain = text.wasScrambled() ? description_text_c::unscramble(bytes) : bytes;
    int filled = 0;
    if (!fillCrcValues(&plain, &filled))
        return 1;

    const QString updater = QDir(binDir).filePath(QStringLiteral("upgrunner.bin"));
    if (!QFileInfo(updater).isFile())
        return fail(QStringLiteral("no updater \"%1\" (build it, or name the folder with --bin)")
                        .arg(updater));

    if (QFileInfo::exists(packageOut) && !QDir(packageOut).removeRecursively())
        return fail(QStringLiteral("cannot empty \"%1\"").arg(packageOut));
    if (!QDir().mkpath(packageOut))
        return fail(QStringLiteral("cannot create \"%1\"").arg(packageOut));

    if (!copyTree(srcDir, packageOut,
            { DescriptionName, QStringLiteral("language"), QStringLiteral("config") }))
        return 1;

    if (!saveFile(QDir(packageOut).filePath(DescriptionName), description_text_c::scramble(plain)))
        return 1;

    if (!copyFile(updater, QDir(packageOut).filePath(QStringLiteral("upgrunner.bin"))))
        return 1;
    const QString reporter = QDir(binDir).filePath(QStringLiteral("hixresult"));
    const QString reporterOut = QDir(packageOut).filePath(QStringLiteral("hixresult"));
    if (QFileInfo(reporter).isFile() && !QFileInfo::exists(reporterOut)
        && !copyFile(reporter, reporterOut))
        return 1;
    const QString launcher = QDir(binDir).filePath(QStringLiteral("upgentry.bin"));
    if (QFileInfo(launcher).isFile()) {
        if (!copyFile(launcher, QDir(stickDir).filePath(QStringLiteral("upgentry.bin"))))
            return 1;
    } else {
        std::printf(
            "note: no launcher \"%s\"; the stick has only the updater\n", qPrintable(launcher));
    }
    if (!layOutRuntime())
        return 1;
    for (const QString &folder : { QStringLiteral("language"), QStringLiteral("config") }) {
        const QString to = QDir(stickDir).filePath(folder);
        if (!copyFolderFiles(QDir(binDir).filePath(folder), to, QStringLiteral("*"))
            || !copyFolderFiles(QDir(srcDir).filePath(folder), to, QStringLiteral("*")))
            return 1;
    }
    if (english
        && (!writeEnglishTable(QDir(stickDir).filePath(QStringLiteral("language")))
            || !offerEnglish(QDir(stickDir).filePath(QStringLiteral("config/baseUpdate.ini")))))
        return 1;
    if (!writeManifest(text, packageOut))
        return 1;
    if (!signingKey.isNull() && !writeSignature(packageOut))
        return 1;
    hix::io::flush::builtPackage();
    std::printf("built \"%s\": %d files, %d CRC value(s) filled in, %s\n", qPrintable(stickDir),
        filesCopied + 1, filled,
        signingKey.isNull()
            ? "not signed"
            : qPrintable(QStringLiteral("signed by key ") + QString::fromLatin1(signingKey.id())));
    return 0;
}

bool package_build_c::checkFatNames()
{
    const QStringList problems = fat_names::problems(srcDir);
    for (const QString &problem : problems)
        std::fprintf(stderr, "hixpack: %s\n", qPrintable(problem));
    if (problems.isEmpty())
        return true;
    fail(QStringLiteral("%1 file name(s) or size(s) in \"%2\" that a FAT stick cannot hold: "
                        "nothing built")
             .arg(problems.size())
             .arg(srcDir));
    return false;
}

bool package_build_c::layOutRuntime()
{
    const QString tool = QDir(binDir).filePath(QStringLiteral("vncsetup.bin"));
    if (QFileInfo(tool).isFile()
        && !copyFile(tool, QDir(stickDir).filePath(QStringLiteral("vncsetup.bin"))))
        return false;
    stick_libraries_c libraries(stickDir);
    libraries.setFont(fontFile);
    if (!libraries.layOut())
        return false;
    filesCopied += libraries.fileCount();
    qint64 total = 0;
    QDirIterator it(stickDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    constexpr double MiB = 1024.0 * 1024.0;
    std::printf("programs for %s; libraries, plug-in and font: %d files, %.1f MiB; "
                "the stick so far: %.1f MiB\n",
        qPrintable(libraries.machineName()), libraries.fileCount(), libraries.byteCount() / MiB,
        total / MiB);
    return true;
}

bool package_build_c::fillCrcValues(QByteArray *plain, int *filled)
{
    if (plain->startsWith(ByteOrderMark))
        plain->remove(0, ByteOrderMark.size());
    const description_text_c text = description_text_c::fromBytes(*plain);
    QStringList lines = text.lines();
    QMap<int, QStringList> insertAfter; // line number -> lines to add after it

    for (const description_text_c::Section &section : text.sections()) {
        if (!package_lint_c::isCopySection(section.name))
            continue;
        const int count = text.value(section.name, QStringLiteral("COPYFILENUM")).toInt();
        for (int n = 1; n <= count; ++n) {
            const QString number = QString::number(n);
            const description_text_c::Key *src
                = text.key(section.name, QStringLiteral("SRCPATH") + number);
            if (!src || src->value.isEmpty() || QDir::isAbsolutePath(src->value)
                || text.value(section.name, QStringLiteral("MODE") + number).toInt() != 0)
                continue;
            const QString path = QDir(srcDir).filePath(src->value);
            quint32 value = 0;
            if (!fileCrc32(path, &value)) {
                fail(QStringLiteral("cannot read \"%1\"").arg(path));
                return false;
            }
            const QString line = QStringLiteral("CRCVALUE%1=%2").arg(number, crcText(value));
            const description_text_c::Key *old
                = text.key(section.name, QStringLiteral("CRCVALUE") + number);
            if (old)
                lines[old->line - 1] = line;
            else
                insertAfter[src->line].append(line);
            ++*filled;
        }
    }
    if (!panelRoot.isEmpty()) {
        static const QRegularExpression panelPath(
            QStringLiteral("(^|[\\s\"'=,])(/usr/vexo_app|/media/usb0)(?=[/\\s\"',]|$)"));
        const QString root = QDir::cleanPath(QDir(panelRoot).absolutePath());
        for (const description_text_c::Section &section : text.sections()) {
            for (const description_text_c::Key &key : section.keys) {
                QString &line = lines[key.line - 1];
                const int eq = line.indexOf(QLatin1Char('='));
                if (eq < 0)
                    continue;
                QString value = line.mid(eq + 1);
                value.replace(panelPath, QStringLiteral("\\1") + root + QStringLiteral("\\2"));
                line = line.left(eq + 1) + value;
            }
        }
    }
    QStringList out;
    // The updater's reader wants three bytes and "#" at the start: a byte-order mark and a
    // comment line.
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1Char('#')))
        out << QStringLiteral("# update description, CRC values filled in by hixpack");
    for (int i = 0; i < lines.size(); ++i) {
        out << lines[i];
        out << insertAfter.value(i + 1);
    }
    *plain = ByteOrderMark + out.join(QLatin1Char('\n')).toUtf8() + '\n';
    return true;
}

bool package_build_c::copyFile(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (QFileInfo::exists(to))
        QFile::remove(to);
    if (!hix::io::copyWholeFile(from, to)) {
        fail(QStringLiteral("cannot copy \"%1\" to \"%2\"").arg(from, to));
        return false;
    }
    // Packages are read-only media in spirit, but a copy of a read-only file must stay
    // replaceable by the next build.
    QFile::setPermissions(to, QFile::permissions(from) | QFileDevice::WriteOwner);
    ++filesCopied;
    return true;
}

bool package_build_c::copyTree(
    const QString &from, const QString &to, const QStringList &skipTopLevel)
{
    // Links are followed only inside the package and never in a loop; anything else was found
    // by the description's check already, which stops the build before this.
    const package_files_c::Tree tree = package_files_c::scanTree(from, skipTopLevel);
    for (const package_files_c::Problem &problem : tree.problems)
        fail(QStringLiteral("\"%1\" is %2").arg(problem.relative, problem.reason));
    if (!tree.problems.isEmpty())
        return false;
    for (const package_files_c::File &file : tree.files) {
        if (package_lint_c::isForeignLeftover(QFileInfo(file.relative).fileName())) {
            std::printf("note: \"%s\" left out (a leftover of another system)\n",
                qPrintable(file.relative));
            continue;
        }
        if (!copyFile(file.source, QDir(to).filePath(file.relative)))
            return false;
    }
    return true;
}

bool package_build_c::writeManifest(const description_text_c &text, const QString &packageOut)
{
    PackageManifest manifest;
    QMap<QString, QString> files = package_files_c::filesTheRunReads(text, stickDir);
    files.insert(filesOnTheStick());
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        PackageManifest::Entry entry;
        if (!fileDigest(it.value(), &entry)) {
            fail(QStringLiteral("cannot read \"%1\"").arg(it.value()));
            return false;
        }
        if (!manifest.insert(it.key(), entry)) {
            fail(QStringLiteral("\"%1\" cannot stand in the manifest (a control character in "
                                "its name)")
                     .arg(it.key()));
            return false;
        }
    }
    if (!saveFile(QDir(packageOut).filePath(QLatin1String(PackageManifest::FileName)),
            manifest.toBytes()))
        return false;
    std::printf("manifest: %d file(s) on the stick\n", manifest.size());
    return true;
}

QMap<QString, QString> package_build_c::filesOnTheStick() const
{
    // The folder of the package was emptied first; the others may hold files of an earlier
    // build, which the panel would read all the same. The launcher's own copy of its language
    // list is rewritten on every start.
    const QStringList skipped = { PackageFolder + QLatin1Char('/') + DescriptionName,
        PackageFolder + QLatin1Char('/') + QLatin1String(PackageManifest::FileName),
        PackageFolder + QLatin1Char('/') + QLatin1String(PackageSignature::FileName),
        QStringLiteral("config/baseUpdateTmp.ini") };
    QMap<QString, QString> files;
    const QDir stick(stickDir);
    for (const QString &folder : { PackageFolder, QStringLiteral("hixlib"),
             QStringLiteral("language"), QStringLiteral("config") }) {
        QDirIterator it(stick.filePath(folder), QDir::Files | QDir::Hidden | QDir::System,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = stick.relativeFilePath(path);
            if (!skipped.contains(relative))
                files.insert(relative, path);
        }
    }
    for (const QString &program :
        { QStringLiteral("upgentry.bin"), QStringLiteral("vncsetup.bin") }) {
        if (QFileInfo(stick.filePath(program)).isFile())
            files.insert(program, stick.filePath(program));
    }
    return files;
}

bool package_build_c::writeSignature(const QString &packageOut)
{
    // The exact bytes on the stick are signed, read back as the panel will read them.
    QFile description(QDir(packageOut).filePath(DescriptionName));
    QFile manifest(QDir(packageOut).filePath(QLatin1String(PackageManifest::FileName)));
    if (!description.open(QIODevice::ReadOnly) || !manifest.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read the description and the manifest back"));
        return false;
    }
    PackageSignature signature;
    signature.keyId = signingKey.id();
    signature.signature
        = signingKey.sign(PackageSignature::statement(description.readAll(), manifest.readAll()));
    if (signature.signature.isEmpty()) {
        fail(QStringLiteral("signing failed"));
        return false;
    }
    return saveFile(
        QDir(packageOut).filePath(QLatin1String(PackageSignature::FileName)), signature.toBytes());
}

bool package_build_c::copyFolderFiles(
    const QString &from, const QString &to, const QString &pattern)
{
    const QDir dir(from);
    if (!dir.exists())
        return true;
    for (const QString &name : dir.entryList({ pattern }, QDir::Files)) {
        if (package_lint_c::isForeignLeftover(name))
            continue;
        if (name == QLatin1String("baseUpdate.ini")) {
            if (!writeScrambledSettings(dir.filePath(name), QDir(to).filePath(name)))
                return false;
            continue;
        }
        if (!copyFile(dir.filePath(name), QDir(to).filePath(name)))
            return false;
    }
    return true;
}

bool package_build_c::writeScrambledSettings(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read \"%1\"").arg(from));
        return false;
    }
    QByteArray bytes = source.readAll();
    // The launcher reads its language list only in the scrambled form, whose plain text starts
    // with three bytes and "#".
    if (!description_text_c::isScrambled(bytes)) {
        if (bytes.startsWith(ByteOrderMark))
            bytes.remove(0, ByteOrderMark.size());
        if (!bytes.startsWith('#'))
            bytes.prepend("# languages offered on the launcher's first page\n");
        bytes = description_text_c::scramble(ByteOrderMark + bytes);
    }
    if (!saveFile(to, bytes))
        return false;
    ++filesCopied;
    return true;
}

bool package_build_c::saveFile(const QString &to, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QSaveFile target(to);
    if (target.open(QIODevice::WriteOnly) && target.write(bytes) == bytes.size() && target.commit())
        return true;
    fail(QStringLiteral("cannot write \"%1\"").arg(to));
    return false;
}

bool package_build_c::writeEnglishTable(const QString &languageDir)
{
    QFile table(EnglishTable);
    if (!table.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("the English table is missing from hixpack"));
        return false;
    }
    QByteArray bytes = table.readAll();
    // A 0001.lan of the package's own comes after the table: the reader keeps the last text of
    // an id, so the package's texts win and the built-in ones are still all there.
    const QString to = QDir(languageDir).filePath(EnglishName);
    QFile own(to);
    if (own.exists()) {
        if (!own.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read \"%1\"").arg(to));
            return false;
        }
        QByteArray ownBytes = own.readAll();
        if (ownBytes.startsWith(ByteOrderMark))
            ownBytes.remove(0, ByteOrderMark.size());
        bytes += "\n" + ownBytes;
    } else {
        ++filesCopied;
    }
    return saveFile(to, bytes);
}

bool package_build_c::offerEnglish(const QString &languageList)
{
    QByteArray plain = "# languages offered on the launcher's first page\n";
    QFile existing(languageList);
    const bool created = !existing.exists();
    if (existing.open(QIODevice::ReadOnly))
        plain = description_text_c::unscramble(existing.readAll()).mid(ByteOrderMark.size());
    const QByteArray offering = withEnglish(plain, languageList);
    if (offering.isEmpty())
        return true;
    if (!saveFile(languageList, description_text_c::scramble(ByteOrderMark + offering)))
        return false;
    if (created)
        ++filesCopied;
    return true;
}

QByteArray package_build_c::withEnglish(const QByteArray &plain, const QString &languageList)
{
    const description_text_c text = description_text_c::fromPlainBytes(plain);
    const description_text_c::Key *idKey = text.key(LanguageSection, QStringLiteral("id"));
    const description_text_c::Key *listKey = text.key(LanguageSection, QStringLiteral("list"));
    QStringList ids = idKey ? idKey->read.toStringList() : QStringList();
    QStringList names = listKey ? listKey->read.toStringList() : QStringList();
    if (ids.contains(EnglishId))
        return QByteArray();
    if (ids.size() != names.size()) {
        std::printf("note: \"%s\" names %d languages for %d ids: English is not added to it\n",
            qPrintable(languageList), int(names.size()), int(ids.size()));
        return QByteArray();
    }
    if (ids.isEmpty()) {
        // Without a list the first page offers no choice at all.
        ids << QStringLiteral("0000");
        names << QStringLiteral("中文");
    }
    ids << EnglishId;
    // The name the VNC tool gives English too; the box of the first page is narrow.
    names << QStringLiteral("ENG");

    // The two keys are written anew right below the section's header; every other line stays.
    QStringList lines;
    int header = -1;
    const QString headerLine = QLatin1Char('[') + LanguageSection + QLatin1Char(']');
    for (int i = 0; i < text.lines().size(); ++i) {
        if ((idKey && i == idKey->line - 1) || (listKey && i == listKey->line - 1))
            continue;
        lines << text.lines().at(i);
        if (lines.last().trimmed() == headerLine)
            header = lines.size() - 1;
    }
    const QStringList entries = { QStringLiteral("list=") + names.join(QLatin1Char(',')),
        QStringLiteral("id=") + ids.join(QLatin1Char(',')) };
    if (header < 0) {
        lines << headerLine << entries;
    } else {
        lines.insert(header + 1, entries.at(1));
        lines.insert(header + 1, entries.at(0));
    }
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}
