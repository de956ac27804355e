// The checks of single values: what the updater's INI reader makes of a line, paths that must
// name the panel, and conditions that are read but never compared.
#include "package_lint.h"

#include "parse_config_info.h"

namespace {

// Condition keys whose values the update check compares as lists.
const QStringList ListKeys = { QStringLiteral("HMI_RESOLUTION"), QStringLiteral("NK_VERSION"),
    QStringLiteral("NK_EXTRA"), QStringLiteral("APP_VERSION"), QStringLiteral("FILE_CHECK"),
    QStringLiteral("HMI_PLATFORM"), QStringLiteral("HMI_TPYE"), QStringLiteral("CPU_TPYE"),
    QStringLiteral("FILESYSTEM_TYPE"), QStringLiteral("LAN_COUNT"), QStringLiteral("COM_COUNT"),
    QStringLiteral("USB_COUNT"), QStringLiteral("SLAVE_COUNT") };

// Read into the records, compared with nothing.
const QStringList UncheckedKeys = { QStringLiteral("HMI_TPYE"), QStringLiteral("CPU_TPYE"),
    QStringLiteral("FILESYSTEM_TYPE"), QStringLiteral("LAN_COUNT"), QStringLiteral("COM_COUNT"),
    QStringLiteral("USB_COUNT"), QStringLiteral("SLAVE_COUNT") };

// Only the launcher's package-wide check shows these.
const QStringList PackageCheckOnlyKeys
    = { QStringLiteral("CHECK_SUCCESS_ISSHOWDLG"), QStringLiteral("CHECK_SUCCESS_MESSAGE"),
          QStringLiteral("CHECK_FAILED_ISSHOWDLG"), QStringLiteral("CHECK_FAILED_MESSAGE") };

bool wholeQuoted(const QString &text)
{
    if (text.size() < 2 || !text.startsWith(QLatin1Char('"')) || !text.endsWith(QLatin1Char('"')))
        return false;
    int i = 1;
    while (i < text.size() - 1) {
        if (text.at(i) == QLatin1Char('\\')) {
            i += 2;
            continue;
        }
        if (text.at(i) == QLatin1Char('"'))
            return false;
        ++i;
    }
    // A backslash before the last quote makes it part of the text.
    return i == text.size() - 1;
}

// Inside quotes around a whole value \" and \\ are how an author writes a quote and a backslash;
// every other backslash is taken as written.
QString meant(const QString &text)
{
    if (!wholeQuoted(text))
        return text;
    QString out;
    for (int i = 1; i < text.size() - 1; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 2 < text.size()
            && (text.at(i + 1) == QLatin1Char('"') || text.at(i + 1) == QLatin1Char('\\'))) {
            out += text.at(++i);
            continue;
        }
        out += c;
    }
    return out;
}

// The value split at the commas that stand outside quotes.
QStringList elements(const QString &text)
{
    QStringList parts(QString {});
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            parts.last() += c;
            parts.last() += text.at(++i);
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char(',') && !quoted)
            parts << QString();
        else
            parts.last() += c;
    }
    return parts;
}

// Whether the character occurs outside quotes; open tells whether a quote stays open.
bool outsideQuotes(const QString &text, QChar wanted, bool *open = nullptr)
{
    bool quoted = false;
    bool found = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == wanted && !quoted)
            found = true;
    }
    if (open)
        *open = quoted;
    return found;
}

// How the author gets exactly this text from the reader.
QString quotedForReader(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A value shown in a message: the control characters the reader made are named, and a value
// that ran on over many lines is cut.
QString shown(QString text)
{
    constexpr int MaxShown = 100;
    if (text.size() > MaxShown)
        text = text.left(MaxShown) + QStringLiteral("...");
    text.replace(QLatin1Char('\n'), QLatin1String("<LF>"));
    text.replace(QLatin1Char('\r'), QLatin1String("<CR>"));
    text.replace(QLatin1Char('\t'), QLatin1String("<TAB>"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString shownList(const QStringList &list)
{
    QStringList parts;
    for (const QString &element : list)
        parts << shown(element);
    return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
}

const QString CommentReason
    = QStringLiteral("the INI reader takes everything from an unquoted \";\" on as a comment");

// What, in the line as written, the reader does not take literally.
QStringList reasons(const description_text_c::Key &key, bool isList)
{
    QStringList why;
    if (!key.read.isValid()) {
        why << QStringLiteral("the INI reader does not see this key on its line (it has no "
                              "\"=\", or a quote left open above runs on over it)");
        return why;
    }
    const QString &written = key.written;
    const bool whole = wholeQuoted(written);
    bool open = false;
    const bool semicolon = outsideQuotes(written, QLatin1Char(';'), &open);
    if (open)
        why << QStringLiteral("a quote is left open, so the INI reader runs the value on over "
                              "the next lines");
    if (!whole && written.contains(QLatin1Char('"')) && !open)
        why << QStringLiteral("the INI reader removes quotes that do not enclose the whole value");
    if (semicolon)
        why << CommentReason;
    if (meant(written).contains(QLatin1Char('\\')))
        why << QStringLiteral("the INI reader turns backslash sequences into other characters");
    if (!isList && outsideQuotes(written, QLatin1Char(',')))
        why << QStringLiteral("an unquoted comma makes a list of it, which the updater joins "
                              "again with bare commas");
    if (why.isEmpty())
        why << QStringLiteral("the INI reader reads it differently");
    return why;
}

} // namespace

void package_lint_c::checkValue(const description_text_c::Section &section,
    const description_text_c::Key &key, const QString &base)
{
    if (key.shadowed)
        return;
    int number = 0;
    const Kind kind = kindOf(section.name, &number);
    checkReading(key, base, kind);
    checkUnusedCondition(section, key, base);
    checkPanelPath(key, base, kind);
}

void package_lint_c::checkReading(
    const description_text_c::Key &key, const QString &base, Kind kind)
{
    const bool isList = kind == Kind::Check && ListKeys.contains(base);
    const bool isParam = kind == Kind::Program && base == QLatin1String("PARAM");
    QString got;
    QString want;
    if (isList || isParam) {
        QStringList wanted;
        for (const QString &element : elements(key.written)) {
            const QString one = meant(element.trimmed());
            if (isParam)
                wanted << one;
            else if (!one.trimmed().isEmpty())
                wanted << one.trimmed();
        }
        QStringList read;
        if (isParam) {
            read = key.read.toStringList();
            // An empty PARAM is no argument at all, as the updater reads it.
            if (read.size() == 1 && read.first().isEmpty())
                read.clear();
            if (wanted.size() == 1 && wanted.first().isEmpty())
                wanted.clear();
        } else {
            ParseConfigInfo::setVecInfo(read, key.read);
        }
        if (read == wanted)
            return;
        got = QStringLiteral("the list %1").arg(shownList(read));
    } else {
        want = meant(key.written).trimmed();
        if (key.read.isValid() && key.value == want)
            return;
        got = key.value.isEmpty() ? QStringLiteral("an empty value") : shown(key.value);
    }
    const QStringList why = reasons(key, isList || isParam);
    QString advice;
    if (!want.isEmpty() && key.read.isValid()) {
        advice = why == QStringList { CommentReason }
            ? QStringLiteral(" (a comment goes on a line of its own, starting with \"#\"; to "
                             "keep the \";\", quote the whole value: %1=%2)")
            : QStringLiteral(" (to keep it as written, quote the whole value: %1=%2)");
        advice = advice.arg(key.name, quotedForReader(want));
    }
    add(key.line,
        QStringLiteral("%1 = %2: %3; the updater gets %4%5")
            .arg(key.name, key.written, why.join(QLatin1String("; ")), got, advice));
}

void package_lint_c::checkUnusedCondition(const description_text_c::Section &section,
    const description_text_c::Key &key, const QString &base)
{
    int number = 0;
    if (kindOf(section.name, &number) != Kind::Check || key.value.isEmpty())
        return;
    if (UncheckedKeys.contains(base))
        warn(key.line,
            QStringLiteral("%1 is read but never checked: the update runs on a panel whatever its "
                           "value; do not rely on it as a guard")
                .arg(key.name));
    else if (PackageCheckOnlyKeys.contains(base) && section.name != QLatin1String("UPDATE_CHECK"))
        warn(key.line,
            QStringLiteral("%1 is used only in [UPDATE_CHECK]: in [%2] nothing shows it")
                .arg(key.name, section.name));
}

void package_lint_c::checkPanelPath(
    const description_text_c::Key &key, const QString &base, Kind kind)
{
    QString effect;
    if (kind == Kind::Exe && base == QLatin1String("SRCPATH"))
        effect = QStringLiteral("makes the file in the package folder executable, not the "
                                "panel's");
    else if (kind == Kind::Del && base == QLatin1String("SRCPATH"))
        effect = QStringLiteral("deletes in the package folder, not on the panel");
    else if (kind == Kind::Copy && base == QLatin1String("DESTPATH"))
        effect = QStringLiteral("copies into the package folder, not onto the panel");
    else if (kind == Kind::Backup && base == QLatin1String("SRCPATH"))
        effect = QStringLiteral("backs up from the package folder, not from the panel");
    if (effect.isEmpty() || key.value.isEmpty() || key.value.startsWith(QLatin1Char('/')))
        return;
    add(key.line,
        QStringLiteral("%1 = %2 is a relative path: the updater works in the package folder "
                       "\"hixupdateu\" on the stick, so it %3; write the panel path (\"/usr/"
                       "vexo_app/...\")")
            .arg(key.name, key.value, effect));
}
