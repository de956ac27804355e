#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// An update description as its author wrote it: sections and keys with the line each stands on,
// so that findings can name the line. Read the way the updater's INI reader reads it: "#" and ";"
// start comments, values are trimmed and may be enclosed in double quotes.
class description_text_c
{
public:
    struct Key
    {
        int line = 0;
        QString name;
        QString value;
    };
    struct Section
    {
        int line = 0; // 0 for the keys before the first section header
        QString name;
        QVector<Key> keys;
    };

    // Plain text (a UTF-8 byte-order mark is dropped) or, when its unscrambled fourth byte is
    // "#", a scrambled description.
    static description_text_c fromBytes(const QByteArray &bytes);
    static bool isScrambled(const QByteArray &bytes);
    static QByteArray unscramble(const QByteArray &bytes);
    static QByteArray scramble(const QByteArray &bytes);

    const QVector<Section> &sections() const { return sectionList; }
    bool wasScrambled() const { return scrambled; }
    // The plain text, lines as read (without line ends), line n at index n - 1.
    const QStringList &lines() const { return textLines; }

    // The last section of that name (the INI reader merges repeated sections; the last key wins).
    const Section *section(const QString &name) const;
    const Key *key(const QString &section, const QString &name) const;
    QString value(const QString &section, const QString &name) const;

private:
    bool scrambled = false;
    QStringList textLines;
    QVector<Section> sectionList;
};
