#!/usr/bin/env python3
"""Turns an X window dump (as Xvfb -fbdir or xwd write it) into a PNG file.

Usage: xwd2png.py <in.xwd> <out.png>
Handles the true-colour ZPixmap dumps of 24- and 32-bit screens; standard library only.
"""
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size = fields[0]
    width, height = fields[4], fields[5]
    byte_order = fields[7]
    bits_per_pixel = fields[11]
    bytes_per_line = fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if bits_per_pixel not in (24, 32):
        raise SystemExit("unsupported dump: %d bits per pixel" % bits_per_pixel)
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    endian = "little" if byte_order == 0 else "big"
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray(b"\x00")  # PNG filter type: none
        for x in range(0, width * step, step):
            pixel = int.from_bytes(line[x:x + step], endian)
            row += bytes(((pixel & m) >> s) & 0xFF for m, s in zip(masks, shifts))
        rows.append(bytes(row))
    return width, height, b"".join(rows)


def png(width, height, raw):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], "rb") as source:
        width, height, raw = read_xwd(source.read())
    with open(sys.argv[2], "wb") as target:
        target.write(png(width, height, raw))


if __name__ == "__main__":
    main()
