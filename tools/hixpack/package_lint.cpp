#include "package_lint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTextCodec>

#include <algorithm>
#include <tuple>

struct package_lint_c::Group
{
    QString countKey;
    QStringList bases;
    QString gate; // entries without it are skipped; empty: every entry up to the count
    QStringList required; // keys an entry needs beside the gate
    bool hasMode = false;
};

namespace {

const QString BuiltinTable = QStringLiteral(":/new/prefix1/resource/lan/0000.lan");

const QStringList CheckListKeys = { QStringLiteral("HMI_RESOLUTION"), QStringLiteral("NK_VERSION"),
    QStringLiteral("NK_EXTRA"), QStringLiteral("APP_VERSION"), QStringLiteral("FILE_CHECK"),
    QStringLiteral("HMI_PLATFORM"), QStringLiteral("HMI_TPYE"), QStringLiteral("CPU_TPYE"),
    QStringLiteral("FILESYSTEM_TYPE"), QStringLiteral("LAN_COUNT"), QStringLiteral("COM_COUNT"),
    QStringLiteral("USB_COUNT"), QStringLiteral("SLAVE_COUNT"), QStringLiteral("MEMORY_LIMIT"),
    QStringLiteral("DISKSPACES_CHECK_NUM"), QStringLiteral("EX_CHECK_NUM"),
    QStringLiteral("CHECK_SUCCESS_ISSHOWDLG"), QStringLiteral("CHECK_SUCCESS_MESSAGE"),
    QStringLiteral("CHECK_FAILED_ISSHOWDLG"), QStringLiteral("CHECK_FAILED_MESSAGE") };

const QStringList ProgramKeys
    = { QStringLiteral("PATH"), QStringLiteral("PARAM"), QStringLiteral("IS_ENCRYPT"),
          QStringLiteral("IS_EXIT_WAIT"), QStringLiteral("IS_EXIT_QWSSERVER"),
          QStringLiteral("IS_CHECK_RESULT"), QStringLiteral("SUCCESS_RESULT"),
          QStringLiteral("START_FAILED_MESS"), QStringLiteral("EXEC_FAILED_MESS"),
          QStringLiteral("EXEC_SUCCESS_LATER_ACTION"), QStringLiteral("EXEC_FAILED_LATER_ACTION") };

const QStringList FixedSections = { QStringLiteral("UPDATE_CONFIG"), QStringLiteral("UPDATE_CHECK"),
    QStringLiteral("COPYFILE"), QStringLiteral("COPYFILE_BEFORE_CHECK"),
    QStringLiteral("COPYFILE_AFTER_CHECK"), QStringLiteral("DELFILE"), QStringLiteral("EXEFILE"),
    QStringLiteral("COMMOND"), QStringLiteral("UPDATE_FINISH_CONFIG") };

const QStringList ProgramSectionSuffixes
    = { QStringLiteral("CONFIG"), QStringLiteral("BEFORE_CHECK"), QStringLiteral("AFTER_CHECK"),
          QStringLiteral("BEFORE_BACKUPFILE"), QStringLiteral("BEFORE_COPYFILE"),
          QStringLiteral("AFTER_COPYFILE"), QStringLiteral("BEFORE_DELFILE"),
          QStringLiteral("AFTER_DELFILE"), QStringLiteral("BEFORE_EXEFILE"),
          QStringLiteral("AFTER_EXEFILE"), QStringLiteral("BEFORE_COMMOND"),
          QStringLiteral("AFTER_COMMOND") };

int distance(const QString &a, const QString &b)
{
    const QString x = a.toUpper();
    const QString y = b.toUpper();
    QVector<int> row(y.size() + 1);
    for (int j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min(
                { row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row[y.size()];
}

// Splits "SRCPATH12" into "SRCPATH" and "12".
void splitNumber(const QString &key, QString *base, QString *digits)
{
    int i = key.size();
    while (i > 0 && key.at(i - 1).isDigit())
        --i;
    *base = key.left(i);
    *digits = key.mid(i);
}

void addIds(QSet<int> &ids, const QString &file)
{
    QSettings table(file, QSettings::IniFormat);
    table.setIniCodec(QTextCodec::codecForName("UTF-8"));
    for (const QString &group : table.childGroups()) {
        bool ok = false;
        const int id = group.toInt(&ok);
        if (ok)
            ids.insert(id);
    }
}

} // namespace

package_lint_c::package_lint_c(
    const description_text_c &text, const QString &packageDir, const QStringList &languageFiles)
    : text(text)
    , packageDir(packageDir)
    , languageFiles(languageFiles)
{
    addIds(builtinIds, BuiltinTable);
    definedIds = builtinIds;
    for (const QString &file : languageFiles)
        addIds(definedIds, file);
}

QStringList package_lint_c::languageFilesNear(const QString &packageDir)
{
    QStringList files;
    const QStringList folders
        = { packageDir + QStringLiteral("/language"), packageDir + QStringLiteral("/../language") };
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({ QStringLiteral("*.lan") }, QDir::Files))
            files << dir.filePath(name);
    }
    return files;
}

bool package_lint_c::isForeignLeftover(const QString &fileName)
{
    return fileName.startsWith(QLatin1String("._")) || fileName == QLatin1String(".DS_Store")
        || fileName == QLatin1String("Thumbs.db");
}

package_lint_c::Kind package_lint_c::kindOf(const QString &section, int *programNumber)
{
    *programNumber = 0;
    if (section == QLatin1String("UPDATE_CONFIG"))
        return Kind::UpdateConfig;
    if (section == QLatin1String("UPDATE_CHECK")
        || section == QLatin1String("COPYFILE_BEFORE_CHECK")
        || section == QLatin1String("COPYFILE_AFTER_CHECK"))
        return Kind::Check;
    if (section == QLatin1String("COPYFILE"))
        return Kind::Copy;
    if (section == QLatin1String("DELFILE"))
        return Kind::Del;
    if (section == QLatin1String("EXEFILE"))
        return Kind::Exe;
    if (section == QLatin1String("COMMOND"))
        return Kind::Cmd;
    if (section == QLatin1String("UPDATE_FINISH_CONFIG"))
        return Kind::Finish;
    static const QRegularExpression program(QStringLiteral("^PROGRAM([1-9][0-9]*)_([A-Z_]+)$"));
    const QRegularExpressionMatch match = program.match(section);
    if (!match.hasMatch())
        return Kind::Unknown;
    const QString suffix = match.captured(2);
    Kind kind = Kind::Unknown;
    if (suffix == QLatin1String("CONFIG"))
        kind = Kind::Program;
    else if (suffix.endsWith(QLatin1String("_CHECK")))
        kind = Kind::Check;
    else if (suffix == QLatin1String("BEFORE_BACKUPFILE"))
        kind = Kind::Backup;
    else if (suffix.endsWith(QLatin1String("_COPYFILE")))
        kind = Kind::Copy;
    else if (suffix.endsWith(QLatin1String("_DELFILE")))
        kind = Kind::Del;
    else if (suffix.endsWith(QLatin1String("_EXEFILE")))
        kind = Kind::Exe;
    else if (suffix.endsWith(QLatin1String("_COMMOND")))
        kind = Kind::Cmd;
    if (kind != Kind::Unknown && !ProgramSectionSuffixes.contains(suffix))
        kind = Kind::Unknown;
    if (kind != Kind::Unknown)
        *programNumber = match.captured(1).toInt();
    return kind;
}

bool package_lint_c::isCopySection(const QString &section)
{
    int number = 0;
    return kindOf(section, &number) == Kind::Copy;
}

QVector<package_lint_c::Finding> package_lint_c::run()
{
    findings.clear();
    for (const description_text_c::Section &section : text.sections()) {
        if (section.line == 0) {
            for (const description_text_c::Key &key : section.keys)
                add(key.line,
                    QStringLiteral("\"%1\" stands before any section: the updater ignores it")
                        .arg(key.name));
            continue;
        }
        int number = 0;
        const Kind kind = kindOf(section.name, &number);
        if (kind == Kind::Unknown) {
            QStringList known = FixedSections;
            static const QRegularExpression programPrefix(QStringLiteral("^PROGRAM([0-9]+)_"));
            const QRegularExpressionMatch match = programPrefix.match(section.name);
            const QString n = match.hasMatch() ? match.captured(1) : QStringLiteral("1");
            for (const QString &suffix : ProgramSectionSuffixes)
                known << QStringLiteral("PROGRAM%1_%2").arg(n, suffix);
            add(section.line,
                QStringLiteral("unknown section [%1]: the updater ignores it%2")
                    .arg(section.name, suggestion(section.name, known)));
            continue;
        }
        checkSection(section, kind);
    }
    checkPrograms();
    checkDescriptionEncoding();
    checkLanguageFiles();
    checkPackageFiles();
    // The description's own lines first, then each other file's.
    std::stable_sort(findings.begin(), findings.end(), [](const Finding &a, const Finding &b) {
        return std::make_tuple(!a.file.isEmpty(), a.file, a.line)
            < std::make_tuple(!b.file.isEmpty(), b.file, b.line);
    });
    return findings;
}

void package_lint_c::checkSection(const description_text_c::Section &section, Kind kind)
{
    const auto group = [](const char *count, QStringList bases, const char *gate,
                           QStringList required, bool hasMode) {
        return Group { QLatin1String(count), bases, QLatin1String(gate), required, hasMode };
    };
    switch (kind) {
    case Kind::UpdateConfig:
        checkKeys(section,
            { QStringLiteral("PROGRAM_NUM"), QStringLiteral("EXEC_CONDITION"),
                QStringLiteral("SHOW_UPDATE_PAGE"), QStringLiteral("TOOL_TITLE"),
                QStringLiteral("TOOL_TIP"), QStringLiteral("FINISH_TIP") },
            {});
        for (const char *key : { "TOOL_TITLE", "TOOL_TIP", "FINISH_TIP" })
            checkTextId(section, QLatin1String(key));
        break;
    case Kind::Check: {
        const QVector<Group> groups = {
            group("DISKSPACES_CHECK_NUM",
                { QStringLiteral("PARTITION_PATH"), QStringLiteral("FREEDISK_LIMIT") }, "",
                { QStringLiteral("PARTITION_PATH"), QStringLiteral("FREEDISK_LIMIT") }, false),
            group("EX_CHECK_NUM", { QStringLiteral("EX_CHECK"), QStringLiteral("EX_CHECK_RES") },
                "", { QStringLiteral("EX_CHECK") }, false),
        };
        checkKeys(section, CheckListKeys, groups);
        checkTextId(section, QStringLiteral("CHECK_SUCCESS_MESSAGE"));
        checkTextId(section, QStringLiteral("CHECK_FAILED_MESSAGE"));
        break;
    }
    case Kind::Copy: {
        const Group copy = group("COPYFILENUM",
            { QStringLiteral("SRCPATH"), QStringLiteral("DESTPATH"), QStringLiteral("CRCVALUE"),
                QStringLiteral("MODE") },
            "SRCPATH", { QStringLiteral("DESTPATH") }, true);
        checkKeys(
            section, { QStringLiteral("COPYFILENUM"), QStringLiteral("DELBEFORECOPY") }, { copy });
        const int count = text.value(section.name, copy.countKey).toInt();
        for (int n = 1; n <= count; ++n)
            checkCopyEntry(section.name, n);
        break;
    }
    case Kind::Del:
        checkKeys(section, { QStringLiteral("DELFILENUM") },
            { group("DELFILENUM", { QStringLiteral("SRCPATH"), QStringLiteral("MODE") }, "SRCPATH",
                {}, true) });
        break;
    case Kind::Exe:
        checkKeys(section, { QStringLiteral("EXEFILENUM") },
            { group("EXEFILENUM", { QStringLiteral("SRCPATH") }, "SRCPATH", {}, false) });
        break;
    case Kind::Cmd:
        checkKeys(section, { QStringLiteral("COMMONDNUM") },
            { group("COMMONDNUM", { QStringLiteral("COMMONDINFO"), QStringLiteral("EXECRESULT") },
                "COMMONDINFO", {}, false) });
        break;
    case Kind::Backup:
        checkKeys(section, { QStringLiteral("BACKUPFILENUM") },
            { group("BACKUPFILENUM",
                { QStringLiteral("SRCPATH"), QStringLiteral("DSTPATH"), QStringLiteral("MODE"),
                    QStringLiteral("EXIST_CHECK") },
                "SRCPATH", { QStringLiteral("DSTPATH") }, true) });
        break;
    case Kind::Program:
        checkKeys(section, ProgramKeys, {});
        checkTextId(section, QStringLiteral("START_FAILED_MESS"));
        checkTextId(section, QStringLiteral("EXEC_FAILED_MESS"));
        break;
    case Kind::Finish:
        checkKeys(section, { QStringLiteral("BEEPNUM"), QStringLiteral("REBOOT") }, {});
        break;
    case Kind::Unknown:
        break;
    }
}

void package_lint_c::checkKeys(const description_text_c::Section &section, const QStringList &plain,
    const QVector<Group> &groups)
{
    QStringList bases;
    for (const Group &g : groups)
        bases << g.bases;
    QHash<QString, int> seen;
    for (const description_text_c::Key &key : section.keys) {
        if (seen.contains(key.name))
            add(key.line,
                QStringLiteral("\"%1\" is given again (first on line %2): the updater uses only "
                               "the last value")
                    .arg(key.name)
                    .arg(seen.value(key.name)));
        else
            seen.insert(key.name, key.line);
        if (plain.contains(key.name)) {
            checkValue(section, key, key.name);
            continue;
        }
        QString base;
        QString digits;
        splitNumber(key.name, &base, &digits);
        if (!digits.isEmpty() && bases.contains(base)) {
            if (digits.startsWith(QLatin1Char('0')))
                add(key.line,
                    QStringLiteral("\"%1\": entries are numbered from 1 in plain decimal, the "
                                   "updater never reads this key")
                        .arg(key.name));
            else
                checkValue(section, key, base);
            continue;
        }
        QStringList known = plain;
        for (const QString &b : bases)
            known << b + (digits.isEmpty() ? QStringLiteral("1") : digits);
        add(key.line,
            QStringLiteral("unknown key \"%1\" in [%2]: the updater ignores it%3")
                .arg(key.name, section.name, suggestion(key.name, known)));
    }
    for (const Group &g : groups)
        checkGroup(section, g);
    for (const Group &g : groups) {
        if (!g.hasMode)
            continue;
        for (const description_text_c::Key &key : section.keys) {
            QString base;
            QString digits;
            splitNumber(key.name, &base, &digits);
            if (base == QLatin1String("MODE") && !digits.isEmpty())
                checkMode(section, key.name);
        }
    }
}

void package_lint_c::checkGroup(const description_text_c::Section &section, const Group &group)
{
    const description_text_c::Key *countKey = text.key(section.name, group.countKey);
    int count = 0;
    if (countKey) {
        bool ok = false;
        count = countKey->value.toInt(&ok);
        if (!ok) {
            add(countKey->line,
                QStringLiteral("%1 = \"%2\" is not a number: the updater reads 0 entries")
                    .arg(group.countKey, countKey->value));
            count = 0;
        }
    }
    for (const description_text_c::Key &key : section.keys) {
        QString base;
        QString digits;
        splitNumber(key.name, &base, &digits);
        if (digits.isEmpty() || digits.startsWith(QLatin1Char('0')) || !group.bases.contains(base))
            continue;
        const int n = digits.toInt();
        if (n > count)
            add(key.line,
                QStringLiteral("\"%1\" is beyond %2 = %3: the updater ignores it")
                    .arg(key.name, group.countKey)
                    .arg(count));
    }
    const int countLine = countKey ? countKey->line : section.line;
    QMap<QString, QVector<int>> missing;
    for (int n = 1; n <= count; ++n) {
        const QString number = QString::number(n);
        if (!group.gate.isEmpty()) {
            const description_text_c::Key *gate = text.key(section.name, group.gate + number);
            if (!gate) {
                missing[group.gate].append(n);
                continue;
            }
            if (gate->value.isEmpty()) {
                add(gate->line,
                    QStringLiteral("\"%1\" is empty: the updater skips entry %2")
                        .arg(gate->name)
                        .arg(n));
                continue;
            }
        }
        for (const QString &required : group.required) {
            const description_text_c::Key *key = text.key(section.name, required + number);
            if (key && !key->value.isEmpty())
                continue;
            if (!group.gate.isEmpty()) {
                const int line = text.key(section.name, group.gate + number)->line;
                add(key ? key->line : line,
                    QStringLiteral("entry %1 has no %2%1: the updater skips it")
                        .arg(number, required));
            } else {
                missing[required].append(n);
            }
        }
    }
    for (auto it = missing.cbegin(); it != missing.cend(); ++it) {
        const bool one = it.value().size() == 1;
        const QString what = one ? QStringLiteral("entry") : QStringLiteral("entries");
        const QString verb = one ? QStringLiteral("has") : QStringLiteral("have");
        if (!group.gate.isEmpty() && it.key() == group.gate)
            add(countLine,
                QStringLiteral("%1 = %2, but %3 %4 %5 no %6 key (gate): the updater skips %7")
                    .arg(group.countKey)
                    .arg(count)
                    .arg(what, ranges(it.value()), verb, it.key(),
                        one ? QStringLiteral("it") : QStringLiteral("them")));
        else
            add(countLine,
                QStringLiteral("%1 = %2, but %3 %4 %5 no %6 key: the check gets an empty "
                               "value")
                    .arg(group.countKey)
                    .arg(count)
                    .arg(what, ranges(it.value()), verb, it.key()));
    }
}

void package_lint_c::checkMode(const description_text_c::Section &section, const QString &name)
{
    const description_text_c::Key *key = text.key(section.name, name);
    bool ok = false;
    const int mode = key->value.toInt(&ok);
    if (ok && mode >= 0 && mode <= 2)
        return;
    add(key->line,
        QStringLiteral("%1 = \"%2\" is out of range: 0 a file, 1 a folder's top level, 2 a "
                       "folder with its sub-folders")
            .arg(name, key->value));
}

void package_lint_c::checkTextId(const description_text_c::Section &section, const QString &name)
{
    const description_text_c::Key *key = text.key(section.name, name);
    if (!key || key->value.isEmpty())
        return;
    bool ok = false;
    const int id = key->value.toInt(&ok);
    if (!ok) {
        add(key->line,
            QStringLiteral("%1 = \"%2\" is not a text id: the panel shows an empty text")
                .arg(name, key->value));
        return;
    }
    if (!definedIds.contains(id))
        add(key->line,
            QStringLiteral("%1 = %2: no language table defines text %2, the panel shows an "
                           "empty text")
                .arg(name)
                .arg(id));
}

void package_lint_c::add(int line, const QString &message)
{
    findings.append({ line, message, Severity::Error, QString() });
}

void package_lint_c::warn(int line, const QString &message)
{
    findings.append({ line, message, Severity::Warning, QString() });
}

QString package_lint_c::format(const QString &descriptionPath, const Finding &finding)
{
    return QStringLiteral("%1:%2: %3: %4")
        .arg(finding.file.isEmpty() ? descriptionPath : finding.file)
        .arg(finding.line)
        .arg(finding.severity == Severity::Error ? QStringLiteral("error")
                                                 : QStringLiteral("warning"),
            finding.message);
}

int package_lint_c::errorCount(const QVector<Finding> &findings)
{
    return int(std::count_if(findings.begin(), findings.end(),
        [](const Finding &f) { return f.severity == Severity::Error; }));
}

QString package_lint_c::suggestion(const QString &name, const QStringList &known) const
{
    QString best;
    int bestDistance = 3;
    for (const QString &candidate : known) {
        const int d = distance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    if (best.isEmpty())
        return QString();
    return QStringLiteral(" (did you mean \"%1\"?)").arg(best);
}

QString package_lint_c::packagePath(const QString &path) const
{
    return QDir(packageDir).filePath(path);
}

// "1, 3 to 5": numbers in rising order, runs joined.
QString package_lint_c::ranges(const QVector<int> &numbers)
{
    QStringList parts;
    for (int i = 0; i < numbers.size();) {
        int j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts << (i == j ? QString::number(numbers[i])
                         : QStringLiteral("%1 to %2").arg(numbers[i]).arg(numbers[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}
