#pragma once

#include <QString>
#include <QStringList>

// A stick is a FAT32 file system, whatever folder a package is made in: it holds no file of
// 4 GiB or more, no name with the characters < > : " \ | ? * or control characters, no name
// ending in a dot or a blank, and it knows no difference between upper and lower case, so
// "Setup.ini" and "setup.ini" in one folder are one file there. A package that breaks these
// rules would arrive on the panel incomplete or overwritten by itself.
namespace fat_names {

constexpr qint64 LargestFile = Q_INT64_C(4294967295);

// Every file or folder under dir that a FAT32 stick cannot hold as it is, one sentence each
// (paths relative to dir).
QStringList problems(const QString &dir);

} // namespace fat_names
