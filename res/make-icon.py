#!/usr/bin/env python3
"""Draws res/vorn3manager.png: a storage card with audio level bars on a blue tile.

Plain Python (no imaging library): shapes are tested per sub-pixel, 4x4
super-sampled, and written as an RGBA PNG.
"""
import struct
import sys
import zlib

SIZE = 64
SS = 4


def rounded_rect(x, y, x0, y0, x1, y1, r):
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def card(x, y):
    # A memory card: rounded body with the top-right corner cut off.
    if not rounded_rect(x, y, 15, 8, 49, 56, 3):
        return False
    return (x - 39) <= (y - 8)


BARS = [(20, 36), (26, 26), (32, 18), (38, 28), (44, 38)]  # x, top


def colour(x, y):
    if card(x, y):
        for bx, top in BARS:
            if bx <= x < bx + 4 and top <= y <= 50:
                return (238, 128, 30, 255)
        if 12 <= y <= 15 and 19 <= x <= 35 and int(x - 19) % 4 < 2:
            return (120, 130, 150, 255)  # contacts
        return (250, 250, 252, 255)
    if rounded_rect(x, y, 2, 2, 61, 61, 10):
        t = y / SIZE
        return (int(30 + 20 * t), int(80 + 40 * t), int(160 + 40 * t), 255)
    return (0, 0, 0, 0)


def main(path):
    rows = []
    for py in range(SIZE):
        row = bytearray([0])
        for px in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = colour(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            a = acc[3]
            if a:
                row += bytes([acc[0] // a, acc[1] // a, acc[2] // a, a // (SS * SS)])
            else:
                row += bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "vorn3manager.png")
