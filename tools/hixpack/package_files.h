#pragma once

#include "description_text.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// The files of a package as the build puts them on the stick, and the files an update run reads
// from the stick: what the manifest lists.
class package_files_c
{
public:
    struct File
    {
        QString relative; // below the scanned folder, as the stick gets it
        QString source; // where the content is read
    };
    struct Problem
    {
        QString relative;
        QString reason;
    };
    struct Tree
    {
        QVector<File> files;
        QVector<Problem> problems;
    };

    // One numbered entry of a list: SRCPATHn (present, not empty), DESTPATHn or DSTPATHn (null
    // when missing) and MODEn.
    struct Entry
    {
        const description_text_c::Key *src = nullptr;
        const description_text_c::Key *dest = nullptr;
        int mode = 0;
    };
    // Entries 1 to the section's count key that have a source.
    static QVector<Entry> entries(
        const description_text_c &text, const QString &section, const QString &countKey);
    // The entries of every copy list of the description.
    static QVector<Entry> copyEntries(const description_text_c &text);

    // Every regular file below root, sorted by path, top-level names in skipTopLevel left out.
    // A link is followed when it leads to a file or folder inside root and not back into a
    // folder it lies in; any other link, and anything that is neither file nor folder (a FIFO,
    // a socket, a device), is a problem: the build refuses the package.
    static Tree scanTree(const QString &root, const QStringList &skipTopLevel);

    // The files an update run reads from the stick built in stickRoot: the sources of every copy
    // list (all modes), the programs and the backup sources that lie on the stick. Paths below
    // the stick root -> paths on this machine. Only files that exist are listed.
    static QMap<QString, QString> filesTheRunReads(
        const description_text_c &text, const QString &stickRoot);
};
