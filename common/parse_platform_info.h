#pragma once

#include <QString>

// The processor architecture the panel's system was built for, read from the ARM build
// attributes (Tag_CPU_arch) of its C library.
class ParsePlatformInfo
{
public:
    // The file whose attributes describe the platform: path itself when it is a file, else the
    // C library of the folder path, else the one in "/lib".
    QString getPlatformFilepath(const QString &path) const;

    // The first "*.so*" file of dir (by name, case-insensitive) whose name begins with "libc".
    QString findPlatformFile(const QString &dir) const;

    // Tag_CPU_arch of an ELF32 file. Every offset and size in the file is checked against the
    // file's length, and nothing larger than the file is ever allocated; arch is untouched on
    // failure.
    static bool getPlatform(const QString &file, int &arch);

    // The attribute walk over the contents of an ARM attributes section.
    static bool parseAttributes(const unsigned char *data, size_t size, int &arch);
};
