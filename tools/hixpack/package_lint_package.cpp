// The files the description names in the package: copy sources (their kind, CRC and line ends,
// and what other systems left in copied folders) and the programs it runs.
#include "package_lint.h"

#include "file_crc.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

void package_lint_c::checkCopyEntry(const QString &section, int n)
{
    const QString number = QString::number(n);
    const description_text_c::Key *src = text.key(section, QStringLiteral("SRCPATH") + number);
    const description_text_c::Key *dest = text.key(section, QStringLiteral("DESTPATH") + number);
    // The folder copy appends sub-folder names to the destination as written, without a
    // separator of its own.
    if (src && !src->value.isEmpty() && dest && !dest->value.isEmpty()
        && text.value(section, QStringLiteral("MODE") + number).toInt() == 2
        && !dest->value.endsWith(QLatin1Char('/')))
        add(dest->line,
            QStringLiteral("%1 = %2 of a MODE 2 copy needs a trailing \"/\": sub-folder x would "
                           "land in \"%2x/\"")
                .arg(dest->name, dest->value));
    if (!src || src->value.isEmpty() || QDir::isAbsolutePath(src->value))
        return;
    const QString path = packagePath(src->value);
    const int mode = text.value(section, QStringLiteral("MODE") + number).toInt();
    const description_text_c::Key *crc = text.key(section, QStringLiteral("CRCVALUE") + number);
    if (mode == 0) {
        if (!QFileInfo(path).isFile()) {
            add(src->line, QStringLiteral("\"%1\" is not a file in the package").arg(src->value));
            return;
        }
        checkLineEnds(src->line, path);
        if (!crc || crc->value.isEmpty())
            return;
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
        if (!hex.match(crc->value).hasMatch()) {
            add(crc->line,
                QStringLiteral("%1 = \"%2\" is not a CRC-32 (up to eight hexadecimal digits)")
                    .arg(crc->name, crc->value));
            return;
        }
        quint32 actual = 0;
        if (!fileCrc32(path, &actual)) {
            add(src->line, QStringLiteral("cannot read \"%1\"").arg(src->value));
            return;
        }
        if (crc->value.toUInt(nullptr, 16) != actual) {
            const QString hexActual = crcText(actual);
            add(crc->line,
                QStringLiteral("%1 = %2 does not match \"%3\" (CRC %4): the copy would fail")
                    .arg(crc->name, crc->value.toUpper(), src->value, hexActual));
        }
        return;
    }
    if (mode != 1 && mode != 2)
        return;
    if (!QFileInfo(path).isDir()) {
        add(src->line, QStringLiteral("\"%1\" is not a folder in the package").arg(src->value));
        return;
    }
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System,
        mode == 2 ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    QStringList leftovers;
    while (it.hasNext()) {
        it.next();
        if (isForeignLeftover(it.fileName()))
            leftovers << QDir(packageDir).relativeFilePath(it.filePath());
        else
            checkLineEnds(src->line, it.filePath());
    }
    leftovers.sort();
    for (const QString &leftover : leftovers)
        add(src->line,
            QStringLiteral("\"%1\" in a copied folder is left by another system: it would be "
                           "copied to the panel")
                .arg(leftover));
}

void package_lint_c::checkPrograms()
{
    const description_text_c::Key *numKey
        = text.key(QStringLiteral("UPDATE_CONFIG"), QStringLiteral("PROGRAM_NUM"));
    int programNum = 0;
    if (numKey) {
        bool ok = false;
        programNum = numKey->value.toInt(&ok);
        if (!ok) {
            add(numKey->line,
                QStringLiteral("PROGRAM_NUM = \"%1\" is not a number: the updater runs no "
                               "program")
                    .arg(numKey->value));
            programNum = 0;
        }
    }
    QSet<QString> reported;
    for (const description_text_c::Section &section : text.sections()) {
        int number = 0;
        if (kindOf(section.name, &number) == Kind::Unknown || number <= programNum)
            continue;
        if (reported.contains(section.name))
            continue;
        reported.insert(section.name);
        add(section.line,
            QStringLiteral("[%1] is beyond PROGRAM_NUM = %2: the updater ignores it")
                .arg(section.name)
                .arg(programNum));
    }
    QVector<int> missing;
    for (int n = 1; n <= programNum; ++n) {
        const QString name = QStringLiteral("PROGRAM%1_CONFIG").arg(n);
        const description_text_c::Section *section = text.section(name);
        if (!section) {
            missing << n;
            continue;
        }
        const description_text_c::Key *path = text.key(name, QStringLiteral("PATH"));
        if (!path || path->value.isEmpty()) {
            add(path ? path->line : section->line,
                QStringLiteral("[%1] has no PATH (gate): the updater skips program %2")
                    .arg(name)
                    .arg(n));
            continue;
        }
        if (QDir::isAbsolutePath(path->value))
            continue;
        if (!QFileInfo(packagePath(path->value)).isFile())
            add(path->line,
                QStringLiteral("program \"%1\" is not in the package").arg(path->value));
        else
            checkLineEnds(path->line, packagePath(path->value));
    }
    if (!missing.isEmpty())
        add(numKey ? numKey->line : 0,
            QStringLiteral("PROGRAM_NUM = %1, but %2 %3 no [PROGRAM%4_CONFIG] section: the "
                           "updater skips %5")
                .arg(programNum)
                .arg(missing.size() == 1 ? QStringLiteral("program ") + ranges(missing)
                                         : QStringLiteral("programs ") + ranges(missing),
                    missing.size() == 1 ? QStringLiteral("has") : QStringLiteral("have"),
                    missing.size() == 1 ? QString::number(missing.first()) : QStringLiteral("n"),
                    missing.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
}
