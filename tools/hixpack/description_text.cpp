#include "description_text.h"

#include "parse_config_info.h"
#include "qsettings_factory.h"

#include <QHash>
#include <QSettings>
#include <QTemporaryFile>
#include <QTextCodec>

namespace {

const QByteArray ByteOrderMark("\xEF\xBB\xBF");

QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value;
}

QVector<int> linesNotUtf8(const QByteArray &plain)
{
    QVector<int> numbers;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const QList<QByteArray> lines = plain.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QTextCodec::ConverterState state;
        utf8->toUnicode(lines[i].constData(), lines[i].size(), &state);
        if (state.invalidChars > 0)
            numbers << i + 1;
    }
    return numbers;
}

} // namespace

bool description_text_c::isScrambled(const QByteArray &bytes)
{
    return bytes.size() >= 4
        && QSettingsFactory::unscrambleByte(static_cast<unsigned char>(bytes.at(3))) == '#';
}

QByteArray description_text_c::unscramble(const QByteArray &bytes)
{
    QByteArray plain = bytes;
    for (char &c : plain)
        c = static_cast<char>(QSettingsFactory::unscrambleByte(static_cast<unsigned char>(c)));
    return plain;
}

QByteArray description_text_c::scramble(const QByteArray &bytes)
{
    QByteArray out = bytes;
    for (char &c : out)
        c = static_cast<char>(QSettingsFactory::scrambleByte(static_cast<unsigned char>(c)));
    return out;
}

description_text_c description_text_c::fromBytes(const QByteArray &bytes)
{
    if (isScrambled(bytes))
        return parse(unscramble(bytes), true);
    return parse(bytes, false);
}

description_text_c description_text_c::fromPlainBytes(const QByteArray &bytes)
{
    return parse(bytes, false);
}

description_text_c description_text_c::parse(const QByteArray &asStored, bool scrambled)
{
    description_text_c text;
    text.scrambled = scrambled;
    QByteArray plain = asStored;
    // The three bytes before "#" of a scrambled description are a byte-order mark in every
    // description the tools write; any other three bytes are dropped the same way.
    if (plain.startsWith(ByteOrderMark))
        plain = plain.mid(ByteOrderMark.size());
    else if (text.scrambled)
        plain = plain.mid(3);
    text.foreignLines = linesNotUtf8(plain);
    text.textLines = QString::fromUtf8(plain).split(QLatin1Char('\n'));
    if (!text.textLines.isEmpty() && text.textLines.last().isEmpty())
        text.textLines.removeLast();

    Section current;
    for (int i = 0; i < text.textLines.size(); ++i) {
        QString line = text.textLines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        text.textLines[i] = line;
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))
            || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (current.line > 0 || !current.keys.isEmpty())
                text.sectionList.append(current);
            current = Section();
            current.line = i + 1;
            const int end = trimmed.indexOf(QLatin1Char(']'));
            current.name = trimmed.mid(1, end < 0 ? -1 : end - 1).trimmed();
            continue;
        }
        const int eq = trimmed.indexOf(QLatin1Char('='));
        Key key;
        key.line = i + 1;
        key.name = (eq < 0 ? trimmed : trimmed.left(eq)).trimmed();
        key.written = eq < 0 ? QString() : trimmed.mid(eq + 1).trimmed();
        key.value = unquoted(key.written);
        current.keys.append(key);
    }
    if (current.line > 0 || !current.keys.isEmpty())
        text.sectionList.append(current);
    text.readAsTheUpdaterDoes(asStored);
    return text;
}

void description_text_c::readAsTheUpdaterDoes(const QByteArray &plain)
{
    // The reader merges repeated sections and keeps the last line of a key.
    QHash<QString, Key *> last;
    for (Section &section : sectionList) {
        if (section.line == 0)
            continue;
        for (Key &key : section.keys) {
            const QString path = section.name + QLatin1Char('/') + key.name;
            if (Key *earlier = last.value(path))
                earlier->shadowed = true;
            last.insert(path, &key);
        }
    }
    // The reader only reads files; the copy lives as long as this call.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(plain) != plain.size() || !copy.flush())
        return;
    QSettings reader(copy.fileName(), QSettings::IniFormat);
    reader.setIniCodec(QTextCodec::codecForName("utf-8"));
    for (auto it = last.begin(); it != last.end(); ++it) {
        Key &key = *it.value();
        key.read = reader.contains(it.key()) ? reader.value(it.key()) : QVariant();
        key.value = ParseConfigInfo::textValue(key.read).trimmed();
    }
}

const description_text_c::Section *description_text_c::section(const QString &name) const
{
    for (int i = sectionList.size() - 1; i >= 0; --i)
        if (sectionList[i].name == name)
            return &sectionList[i];
    return nullptr;
}

const description_text_c::Key *description_text_c::key(
    const QString &sectionName, const QString &name) const
{
    for (int i = sectionList.size() - 1; i >= 0; --i) {
        if (sectionList[i].name != sectionName)
            continue;
        const QVector<Key> &keys = sectionList[i].keys;
        for (int k = keys.size() - 1; k >= 0; --k)
            if (keys[k].name == name)
                return &keys[k];
    }
    return nullptr;
}

QString description_text_c::value(const QString &sectionName, const QString &name) const
{
    const Key *k = key(sectionName, name);
    return k ? k->value : QString();
}
