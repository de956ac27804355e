// The checks of whole files: the description's encoding, scripts the panel cannot start, and the
// language files that go onto the stick with the package.
#include "package_lint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

namespace {

const QString EnglishNumber = QStringLiteral("0001");
const QString BuiltinNumber = QStringLiteral("0000");
constexpr qint64 ScriptHeadBytes = 64 * 1024;

// A language file: the line of each text id it defines.
struct LanguageTable
{
    QString file;
    QString number;
    QMap<int, int> lines;
};

LanguageTable tableOf(const QString &file, const description_text_c &text)
{
    LanguageTable table;
    table.file = QDir::cleanPath(file);
    table.number = QFileInfo(file).completeBaseName();
    for (const description_text_c::Section &section : text.sections()) {
        bool ok = false;
        const int id = section.name.toInt(&ok);
        if (ok && section.line > 0)
            table.lines.insert(id, section.line);
    }
    return table;
}

QByteArray readAll(const QString &path, qint64 limit = -1)
{
    // Only regular files: opening a FIFO of the package would wait for a writer for ever.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return limit < 0 ? file.readAll() : file.read(limit);
}

} // namespace

void package_lint_c::checkDescriptionEncoding()
{
    for (int line : text.notUtf8Lines()) {
        const QString trimmed = text.lines().value(line - 1).trimmed();
        if (trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char(';')))
            warn(line,
                QStringLiteral("this comment is not UTF-8 (the file was saved in another code "
                               "page, GBK perhaps): harmless here, but a value saved the same way "
                               "reaches the panel as garbage; save the description as UTF-8"));
        else
            add(line,
                QStringLiteral("this line is not UTF-8 (the file was saved in another code page, "
                               "GBK perhaps): the updater reads garbage; save the description as "
                               "UTF-8"));
    }
}

void package_lint_c::checkLineEnds(int line, const QString &packageFile)
{
    const QByteArray head = readAll(packageFile, ScriptHeadBytes);
    const int crlf = head.indexOf("\r\n");
    if (!head.startsWith("#!") || crlf < 0)
        return;
    const QString first = QString::fromUtf8(head.left(head.indexOf('\n')));
    add(line,
        QStringLiteral("\"%1\" is a script with Windows line ends (CR LF, first on its line %2): "
                       "the panel cannot start it (\"%3\\r\" names no program) or its shell "
                       "stumbles over every line; save it with LF line ends")
            .arg(QDir(packageDir).relativeFilePath(packageFile))
            .arg(head.left(crlf).count('\n') + 1)
            .arg(first.trimmed()));
}

void package_lint_c::checkLanguageFiles()
{
    QVector<LanguageTable> tables;
    for (const QString &file : languageFiles) {
        const description_text_c language = description_text_c::fromPlainBytes(readAll(file));
        for (int line : language.notUtf8Lines())
            findings.append({ line,
                QStringLiteral("this line of the language file is not UTF-8 (saved in another "
                               "code page, GBK perhaps): the panel shows garbage; save it as "
                               "UTF-8"),
                Severity::Error, QDir::cleanPath(file) });
        tables << tableOf(file, language);
    }

    // The ids each language on the stick defines; the build's English table lies below the
    // package's own 0001.lan.
    QMap<QString, QSet<int>> defined;
    QMap<QString, QString> names;
    for (const LanguageTable &table : tables) {
        for (auto it = table.lines.cbegin(); it != table.lines.cend(); ++it)
            defined[table.number].insert(it.key());
        names.insert(table.number, QStringLiteral("language/%1.lan").arg(table.number));
    }
    if (!englishTable.isEmpty()) {
        const LanguageTable english
            = tableOf(englishTable, description_text_c::fromPlainBytes(readAll(englishTable)));
        for (auto it = english.lines.cbegin(); it != english.lines.cend(); ++it)
            defined[EnglishNumber].insert(it.key());
        if (!names.contains(EnglishNumber))
            names.insert(EnglishNumber,
                QStringLiteral("language/0001.lan (the English table hixpack build adds)"));
    }

    for (const LanguageTable &table : tables) {
        for (auto it = table.lines.cbegin(); it != table.lines.cend(); ++it) {
            for (auto other = defined.cbegin(); other != defined.cend(); ++other) {
                if (other.key() == table.number || other.value().contains(it.key()))
                    continue;
                const bool builtin = builtinIds.contains(it.key());
                // Without the text the built-in Chinese one shows, which is right for 0000.
                if (builtin && other.key() == BuiltinNumber)
                    continue;
                findings.append({ it.value(),
                    builtin ? QStringLiteral("text %1 is defined here but not in %2: a panel in "
                                             "that language shows the built-in Chinese text")
                                  .arg(it.key())
                                  .arg(names.value(other.key()))
                            : QStringLiteral("text %1 is defined here but not in %2: a panel in "
                                             "that language shows an empty text")
                                  .arg(it.key())
                                  .arg(names.value(other.key())),
                    builtin ? Severity::Warning : Severity::Error, table.file });
            }
        }
    }
}
