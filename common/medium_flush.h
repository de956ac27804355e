#pragma once

#include <QString>

// A stick's FAT and a panel disk with a write cache keep written data in the device's cache
// until the kernel flushes it. sync() hands a FAT stick everything but never flushes it: only
// fsync of a file or folder on the stick does. So whatever must survive a power cut or a pulled
// stick is written back first (sync()) and then flushed through one of its folders.
namespace hix {

// Flushes the folder's entries and, with them, everything already written back to its medium:
// fsync of the folder. False (and a warning) when the folder cannot be opened or flushed.
bool flushFolder(const QString &path);

} // namespace hix
