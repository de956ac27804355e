#include "copy_list_reader.h"

#include <QDebug>
#include <QFile>

#include <utility>

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A section name the settings reader takes as it stands: no escapes, no subgroups.
bool isPlainSectionName(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    for (char c : name) {
        if (!isLetter(c) && !isDigit(c))
            return false;
    }
    return true;
}

// A value the settings reader gives back as its text: no quotes, escapes, list separators,
// comments or typed values.
bool isPlainValue(const QByteArray &value)
{
    if (value.startsWith('@'))
        return false;
    for (char c : value) {
        if (c == '"' || c == '\\' || c == ';' || c == ',' || c == '\0')
            return false;
    }
    return true;
}

} // namespace

bool CopyListReader::read(const QString &path, const QString &rest)
{
    sections.clear();
    names.clear();
    current = nullptr;
    taken = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QFile others(rest);
    if (!rest.isEmpty() && !others.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool first = true;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (first && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        first = false;
        if (!readLine(line)) {
            qDebug() << "the copy lists are read by the settings reader:" << line.left(80);
            sections.clear();
            names.clear();
            current = nullptr;
            return false;
        }
        if (!current && others.isOpen())
            others.write(line + '\n');
    }
    current = nullptr;
    taken = file.error() == QFileDevice::NoError
        && (!others.isOpen() || (others.flush() && others.error() == QFileDevice::NoError));
    if (!taken) {
        sections.clear();
        names.clear();
    }
    return taken;
}

bool CopyListReader::readLine(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return true;
    // A backslash at the end continues the line: the next one may then be no section header.
    if (trimmed.endsWith('\\'))
        return false;
    if (trimmed.startsWith('[')) {
        if (!line.startsWith('[') || !trimmed.endsWith(']'))
            return false;
        const QByteArray name = trimmed.mid(1, trimmed.size() - 2);
        if (!isPlainSectionName(name))
            return false;
        const QString section = QString::fromLatin1(name);
        names << section; // a name written twice is listed twice
        current = name.endsWith("COPYFILE") ? &sections[section] : nullptr;
        return true;
    }
    if (!current) {
        // Another section, read by the settings reader: only a quote that might run on, and a
        // key that names a group of its own ("A/B"), matter.
        const int quotes = trimmed.count('"');
        if (quotes % 2 != 0 || (quotes > 0 && trimmed.contains('\\')))
            return false;
        const QByteArray key = line.left(qMax(line.indexOf('='), 0));
        return line.startsWith(';') || !(key.contains('/') || key.contains('\\'));
    }
    if (line.startsWith(';'))
        return true;
    const int equals = line.indexOf('=');
    if (equals < 0)
        return false;
    const QByteArray key = line.left(equals).trimmed();
    const QByteArray value = line.mid(equals + 1).trimmed();
    int letters = 0;
    while (letters < key.size() && isLetter(key[letters]))
        ++letters;
    if (letters == 0 || !isPlainValue(value))
        return false;
    const QByteArray digits = key.mid(letters);
    for (char c : digits) {
        if (!isDigit(c))
            return false;
    }
    const QString text = QString::fromUtf8(value).trimmed();
    if (text.contains(QChar::ReplacementCharacter))
        return false;
    const QByteArray name = key.left(letters);
    if (digits.isEmpty()) {
        if (name == "COPYFILENUM")
            current->count = text;
        else if (name == "DELBEFORECOPY")
            current->delBeforeCopy = text;
        return true;
    }
    // Only the keys name + n, n in plain decimal, are ever asked for.
    bool ok = false;
    const int n = digits.toInt(&ok);
    if (!ok || n < 1 || digits.startsWith('0'))
        return true;
    if (name == "SRCPATH") {
        Entry &entry = current->entries[n];
        entry.listed = true;
        entry.srcPath = text;
    } else if (name == "DESTPATH") {
        current->entries[n].destPath = text;
    } else if (name == "CRCVALUE") {
        current->entries[n].crcValue = text;
    } else if (name == "MODE") {
        current->entries[n].mode = text.toInt();
    }
    return true;
}

void CopyListReader::take(const QString &section, copyFileInfo_s &info)
{
    info.copyFileData.clear();
    info.delBeforeCopy = false;
    const auto found = sections.find(section);
    if (found == sections.end())
        return;
    Section list = std::move(found->second);
    sections.erase(found);
    info.delBeforeCopy = list.delBeforeCopy.toInt() != 0;
    int count = list.count.toInt();
    if (count <= 0)
        return;
    // No entry past the last "SRCPATHn" key, whatever the count says.
    const auto last = list.entries.find(count);
    if (last == list.entries.end() || !last->second.listed) {
        int highest = 0;
        for (const auto &entry : list.entries) {
            if (entry.second.listed)
                highest = entry.first;
        }
        count = qMin(count, highest);
    }
    info.copyFileData.reserve(size_t(count));
    // Each entry's text moves into its record and the entry goes: the list is held once.
    for (auto it = list.entries.begin(); it != list.entries.end() && it->first <= count;
         it = list.entries.erase(it)) {
        Entry &entry = it->second;
        if (!entry.listed || entry.srcPath.isEmpty() || entry.destPath.isEmpty())
            continue;
        copyFileData_s data;
        data.srcPath = std::move(entry.srcPath);
        data.destPath = std::move(entry.destPath);
        data.crcValue = entry.crcValue.toUpper();
        data.mode = entry.mode;
        info.copyFileData.push_back(std::move(data));
    }
}
