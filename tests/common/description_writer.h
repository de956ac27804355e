#pragma once

#include "temp_sysroot.h"

#include <QByteArray>
#include <QString>

// Writes package files the way a package author's tool stores them, by the rule itself
// (s = rotate-right-by-3(p XOR 0xA7)), independently of the code under test.
inline QByteArray scrambledBytes(const QByteArray &plain)
{
    QByteArray out = plain;
    for (char &c : out) {
        const unsigned x = static_cast<unsigned char>(c) ^ 0xA7u;
        c = static_cast<char>(((x >> 3) | (x << 5)) & 0xFFu);
    }
    return out;
}

// A description as it lies on the stick: byte-order mark, a comment line, then the INI text,
// all scrambled. Returns the host path of the file.
inline QString writeScrambledDescription(
    const TempSysroot &sysroot, const QString &panelPath, const QByteArray &iniText)
{
    return sysroot.writeFile(
        panelPath, scrambledBytes(QByteArray("\xEF\xBB\xBF# update description\n") + iniText));
}
