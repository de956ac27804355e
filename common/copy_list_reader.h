#pragma once

#include "update_records.h"

#include <QString>
#include <QStringList>

#include <map>

// The copy lists of a plain update description, read one line at a time. A package of many
// files lists each of them in its copy list: the settings reader would hold every key and value
// of such a section as objects of their own (about seven times the text) while the records are
// built, so the lists are read here instead, into the records and nothing more.
//
// Only descriptions whose every line the settings reader is known to read the same way are read
// here (plain section names, plain keys, values without quotes, escapes, lists or comments, no
// continued line); read() is false for any other, and the caller reads it with the settings
// reader.
class CopyListReader
{
public:
    // Reads every section whose name ends in "COPYFILE" from the plain description at path, and
    // writes every other section to the file rest (when named) for the settings reader: it then
    // never holds the copy lists' text either.
    bool read(const QString &path, const QString &rest = QString());

    // Whether read() took the file.
    bool isRead() const { return taken; }

    // The names of the file's sections, as the settings reader's top-level groups would give
    // them (and maybe a few more that hold no key, some twice), without making it parse every
    // section.
    QStringList sectionNames() const { return names; }

    // Fills the entries and the delete flag of the copy list of section (without a leading "/")
    // as the settings reader's keys would fill them, and forgets the section: each list is
    // taken once, so that its text is held once.
    void take(const QString &section, copyFileInfo_s &info);

private:
    struct Entry
    {
        bool listed = false; // a "SRCPATHn" key is there, be its value empty
        QString srcPath;
        QString destPath;
        QString crcValue;
        int mode = 0;
    };
    struct Section
    {
        QString count;
        QString delBeforeCopy;
        std::map<int, Entry> entries;
    };

    bool readLine(const QByteArray &line);

    std::map<QString, Section> sections;
    QStringList names;
    Section *current = nullptr; // the copy section being read, null for any other
    bool taken = false;
};
