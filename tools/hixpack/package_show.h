#pragma once

#include <QByteArray>
#include <QString>

// The records of an update description as the updater sees them, read by the updater's own
// parser, as indented JSON. Empty and an error text when the file cannot be read.
class package_show_c
{
public:
    static QByteArray recordsJson(const QString &descriptionFile, QString *error);
};
