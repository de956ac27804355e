#pragma once

#include <QString>

// CRC-32 (zlib) of a whole file, as the updater computes it for CRCVALUE.
bool fileCrc32(const QString &path, quint32 *crc, QString *error = nullptr);

// The eight upper-case hexadecimal digits a description stores.
QString crcText(quint32 crc);
