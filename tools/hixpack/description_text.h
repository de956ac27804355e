#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// An update description as its author wrote it: sections and keys with the line each stands on,
// so that findings can name the line, and beside each value as written the value the updater's
// own INI reader makes of it (quotes, escapes, ";" comments and commas are the reader's business,
// and it does not always agree with what the line seems to say).
class description_text_c
{
public:
    struct Key
    {
        int line = 0;
        QString name;
        // What the updater's records get: the reader's value as text, trimmed. For a key given
        // again further down, the value as written without enclosing quotes.
        QString value;
        // The text after "=" as written on the line, trimmed.
        QString written;
        // The reader's own value; invalid when the reader does not see this key on this line.
        QVariant read;
        // A later line gives the same key again; the reader keeps that one.
        bool shadowed = false;
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
    // Any other INI text of a package (a language file): never taken as scrambled.
    static description_text_c fromPlainBytes(const QByteArray &bytes);
    static bool isScrambled(const QByteArray &bytes);
    static QByteArray unscramble(const QByteArray &bytes);
    static QByteArray scramble(const QByteArray &bytes);

    const QVector<Section> &sections() const { return sectionList; }
    bool wasScrambled() const { return scrambled; }
    // The plain text, lines as read (without line ends), line n at index n - 1.
    const QStringList &lines() const { return textLines; }
    // Numbers of the lines whose bytes are not UTF-8 (text saved in another code page).
    const QVector<int> &notUtf8Lines() const { return foreignLines; }

    // The last section of that name (the INI reader merges repeated sections; the last key wins).
    const Section *section(const QString &name) const;
    const Key *key(const QString &section, const QString &name) const;
    QString value(const QString &section, const QString &name) const;

private:
    static description_text_c parse(const QByteArray &asStored, bool scrambled);
    void readAsTheUpdaterDoes(const QByteArray &plain);

    bool scrambled = false;
    QStringList textLines;
    QVector<int> foreignLines;
    QVector<Section> sectionList;
};
