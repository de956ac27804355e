#pragma once

#include <QString>
#include <QStringList>

// The few facts of an ELF program or shared library that a stick's layout needs: its machine,
// the libraries it names (DT_NEEDED) and the folders it searches for them (DT_RPATH,
// DT_RUNPATH). Little-endian 32- and 64-bit files, read from the section headers, so the files
// of any target can be read on the build machine.
struct elf_file_s
{
    static constexpr quint16 MachineArm = 40;
    static constexpr quint16 MachineX86_64 = 62;
    static constexpr quint16 MachineAarch64 = 183;
    static constexpr quint16 Machine386 = 3;
    static constexpr quint32 ArmHardFloat = 0x400;

    quint16 machine = 0;
    quint32 flags = 0;
    bool is64 = false;
    QStringList needed;
    QStringList rpath;
    QStringList runpath;

    // False with the reason in error when path is no readable little-endian ELF file.
    static bool read(const QString &path, elf_file_s *elf, QString *error);

    // The Debian multiarch name of the machine ("arm-linux-gnueabihf"), empty when unknown.
    QString multiarch() const;
};
