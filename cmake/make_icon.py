#!/usr/bin/env python3
"""Writes the program icon (32 x 32, 16 colours) from its text pixel map.

Usage: make_icon.py PIXELMAP OUTPUT.ico

The pixel map has 32 lines of 32 characters, top row first. A hexadecimal digit is an index
into the standard 16-colour Windows palette below; '.' is transparent.
"""
import struct
import sys

PALETTE = [  # (red, green, blue)
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
SIZE = 32


def read_pixels(path):
    rows = [line.rstrip('\n') for line in open(path, encoding='ascii')]
    rows = [r for r in rows if r]
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        sys.exit(f'{path}: need {SIZE} lines of {SIZE} characters')
    return rows


def icon_bytes(rows):
    colour = bytearray()  # 4 bits per pixel, bottom row first, rows of 16 bytes
    mask = bytearray()    # 1 bit per pixel (1 = transparent), rows padded to 4 bytes
    for row in reversed(rows):
        indices = [0 if c == '.' else int(c, 16) for c in row]
        for x in range(0, SIZE, 2):
            colour.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for c in row:
            bits = bits << 1 | (c == '.')
        mask += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(colour) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    data = icon_bytes(read_pixels(sys.argv[1]))
    with open(sys.argv[2], 'wb') as out:
        out.write(data)


if __name__ == '__main__':
    main()
