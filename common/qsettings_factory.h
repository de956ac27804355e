#pragma once

#include <QSettings>
#include <QString>

enum CRYPT_TYPE {
    CRYPT_TYPE_INI = 0, // an INI file: its fourth plain byte must be "#"
    CRYPT_TYPE_FILE = 1, // any file, no check
};

// Package files are stored byte-scrambled; this turns them back into plain files and opens
// scrambled INI files through a plain copy.
class QSettingsFactory
{
public:
    // Where every unscrambled INI file is put before it is opened (a fixed panel path).
    static const QString tmpIniPath;

    static bool decryptFile(const QString &src, const QString &dst, CRYPT_TYPE type);

    // A reader on the plain copy of the scrambled INI file at path, or null when the file cannot
    // be unscrambled. The caller owns the reader.
    static QSettings *createQSettings(const QString &path, QSettings::Format format);
    // The plain copy of the scrambled INI file at path (at tmpIniPath), or an empty text when
    // the file cannot be unscrambled.
    static QString plainCopyOf(const QString &path);

    // The scrambling rule, one byte at a time (used by the package tool as well).
    static unsigned char scrambleByte(unsigned char plain);
    static unsigned char unscrambleByte(unsigned char scrambled);
};

// Reads the text's 8-bit form as UTF-8.
QString Gbk2Utf8(const QString &text);
