#pragma once

#include <QByteArray>
#include <QDir>
#include <QFileInfoList>
#include <QString>

// What the backup's copy (backup_file.cpp) and the repair of a restored runtime
// (runtime_repair.cpp) both use.
namespace backup_detail {

// The runtime's installation folder, as the panel's directory library names it.
QString runtimeFolder();

// Paths reach the system as UTF-8, so names outside Latin-1 survive a backup and its restore.
QByteArray nativePath(const QString &path);

QString errorText(int error);

// Entries of a folder with the listing rules of the backup: hidden ones included, only what the
// process may both read and write, in plain character order.
QFileInfoList listFolder(const QString &folder, QDir::Filters kinds);

} // namespace backup_detail
