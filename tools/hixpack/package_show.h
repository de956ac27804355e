#pragma once

#include <QByteArray>
#include <QString>

class ParseConfigInfo;
class QTemporaryDir;

// The records of an update description as the updater sees them, read by the updater's own
// parser, as indented JSON. Empty and an error text when the file cannot be read.
class package_show_c
{
public:
    static QByteArray recordsJson(const QString &descriptionFile, QString *error);

    // Reads a plain or scrambled description with the updater's own parser, which leaves its
    // plain copy in the panel's /tmp: without an emulated panel, work stands in for the panel
    // while it reads. True when the parser read it; else false and the reason.
    static bool readDescription(const QString &descriptionFile, ParseConfigInfo &parser,
        const QTemporaryDir &work, QString *error);
};
