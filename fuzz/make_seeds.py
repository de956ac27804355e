#!/usr/bin/env python3
"""Writes the hand-made starting inputs of each fuzz target into <dir>/<target>/."""
import os
import struct
import sys

out = sys.argv[1]


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), 'wb') as f:
        f.write(data)


def elf_with_attributes(cpu_arch):
    # Smallest ELF32 little-endian ARM file with an ".ARM.attributes" section naming cpu_arch.
    sub = b'aeabi\0' + bytes([1]) + struct.pack('<I', 4 + 1 + 4 + 2) + bytes([6, cpu_arch])
    attrs = b'A' + struct.pack('<I', 4 + len(sub)) + sub
    names = b'\0.shstrtab\0.ARM.attributes\0'
    ehsize, shentsize = 52, 40
    attrs_off = ehsize
    names_off = attrs_off + len(attrs)
    sh_off = (names_off + len(names) + 3) & ~3
    header = b'\x7fELF' + bytes([1, 1, 1, 0]) + bytes(8)
    header += struct.pack('<HHIIIIIHHHHHH', 3, 40, 1, 0, 0, sh_off, 0x05000400, ehsize, 0, 0,
                          shentsize, 3, 1)
    sections = bytes(shentsize)
    sections += struct.pack('<IIIIIIIIII', 1, 3, 0, 0, names_off, len(names), 0, 0, 1, 0)
    sections += struct.pack('<IIIIIIIIII', 11, 0x70000003, 0, 0, attrs_off, len(attrs), 0, 0, 1, 0)
    body = header + attrs + names
    return body + bytes(sh_off - len(body)) + sections


def frame(body):
    return struct.pack('<I', len(body)) + body


def text(s):
    b = s.encode()
    return struct.pack('<I', len(b)) + b


put('description_fuzzer', 'seed.ini',
    b'[UPDATE_CONFIG]\nPROGRAM_NUM=2\n[PROGRAM1_CONFIG]\nPATH=a\n'
    b'[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a\nDESTPATH1=/b\n')
put('elf_fuzzer', 'armv7.so', elf_with_attributes(10))
put('language_fuzzer', 'two.lan',
    '[2022]\nstring="复制失败"\n[1000]\nstring=Update\n[x]\nstring=\n'.encode())
put('password_fuzzer', 'set.ini',
    b'[General]\nlang=1\r\n[SECURITY]\r\nlicense="5ebe2294ecd0e0f08eab7690d2a6ee69"\r\n')
put('password_fuzzer', 'none.ini', b'[SECURITY]\nlicense=\n[NET]\nip=1\n')
argument = text('int') + struct.pack('<i', 7)
put('result_fuzzer', 'argument', argument)
put('result_fuzzer', 'two_frames',
    frame(text('CheckUpdateResult') + text('responseResult') + argument) * 2)
put('signature_fuzzer', 'update.sig',
    b'hix-signature 1\nalgorithm ed25519\nkey ' + b'0' * 64 + b'\nsignature ' + b'ab' * 64 + b'\n')
put('signature_fuzzer', 'update.manifest',
    b'hix-manifest 1\n' + b'e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855'
    b' 0 hixupdateu/a b\n' + b'f' * 64 + b' 12 hixlib/plugins/x.so\n')
put('signature_fuzzer', 'key.pub',
    b'-----BEGIN PUBLIC KEY-----\nMCowBQYDK2VwAyEAGb9ECWmEzf6FQbrBZ9w7lshQhqowtrbLDFw4rXAxZuE=\n'
    b'-----END PUBLIC KEY-----\n')
