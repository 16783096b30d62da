#!/usr/bin/env python3
"""Writes the seed inputs of the differential harnesses (fuzz/corpus/compat_*).

Pictures: small PNGs of every colour type and depth (with tRNS, interlaced)
and BMPs of 1 to 32 bits, RLE-compressed and with the OS/2 header. Text:
the game's labels on each face, size and style. Drawing: a few operations.
"""
import hashlib
import os
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def save(harness, data):
    folder = os.path.join(ROOT, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(data).hexdigest()), "wb") as out:
        out.write(data)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, depth, colour, interlace=0, extra=b""):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    row_bytes = (width * channels * depth + 7) // 8
    raw = b""
    for y in range(height):
        raw += bytes([y % 5]) + bytes((x * 37 + y * 11) & 0xFF for x in range(row_bytes))
    body = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))
    if colour == 3:
        body += chunk(b"PLTE", bytes(i * 7 % 256 for i in range(3 * (1 << depth))))
    body += extra + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
    return b"\x89PNG\r\n\x1a\n" + body


def bmp(width, height, depth, compression=0, pixels=None, os2=False):
    colours = 1 << depth if depth <= 8 else 0
    if os2:
        header = struct.pack("<IHHHH", 12, width, height, 1, depth)
        palette = b"".join(bytes([i, 255 - i, i * 3 & 255]) for i in range(colours))
    else:
        header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, depth, compression, 0, 2835,
                             2835, colours, 0)
        palette = b"".join(bytes([i, 255 - i, i * 3 & 255, 0]) for i in range(colours))
    if pixels is None:
        row = (width * depth + 31) // 32 * 4
        pixels = bytes((i * 29) & 0xFF for i in range(row * abs(height)))
    offset = 14 + len(header) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + palette + pixels


def image_seeds():
    for colour, depths in ((0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)),
                           (6, (8, 16))):
        for depth in depths:
            save("compat_image", png(7, 5, depth, colour))
            save("compat_image", png(9, 6, depth, colour, interlace=1))
    save("compat_image", png(6, 4, 8, 3, extra=chunk(b"tRNS", bytes([255, 0, 255]))))
    save("compat_image", png(6, 4, 8, 3, extra=chunk(b"tRNS", bytes([0, 128]))))
    save("compat_image", png(6, 4, 8, 0, extra=chunk(b"tRNS", struct.pack(">H", 37))))
    save("compat_image", png(6, 4, 8, 2, extra=chunk(b"tRNS", struct.pack(">HHH", 1, 2, 3))))
    for depth in (1, 4, 8, 16, 24, 32):
        save("compat_image", bmp(5, 3, depth))
        save("compat_image", bmp(5, -3, depth))
    save("compat_image", bmp(4, 2, 8, os2=True))
    save("compat_image", bmp(4, 2, 8, 1, bytes([2, 7, 0, 2, 0, 0, 4, 9, 0, 0, 0, 1])))
    save("compat_image", bmp(4, 2, 4, 2, bytes([4, 0x12, 0, 0, 0, 4, 0x34, 0x56, 0, 1])))


def text_seeds():
    labels = ["rule select", "PRESS START BUTTON", " 6.00FPS", "2/6", "Room 12 ~!@#$%^&*()",
              "\u30eb\u30fc\u30eb\u9078\u629e", "\u90e8\u5c4b\u3092\u4f5c\u308b",
              "\u30b2\u30fc\u30e0", "\uff8a\uff9d\uff76\uff78", "a\u0301\ufeffb"]
    for face in range(4):
        for size, style in ((16, 1), (18, 0), (24, 1), (11, 0), (13, 1), (21, 1)):
            for label in labels[face::2]:
                save("compat_ttf", bytes([face, size - 6, style, 255, 255, 255])
                     + label.encode("utf-8"))


def gfx_seeds():
    for fmt in range(11):
        save("compat_gfx", bytes([fmt, 40, 30, fmt * 7, 0, 1, 0, 10, 10, 30, 20, 200, 100, 50, 255,
                                  2, 20, 15, 12, 0, 90, 90, 90, 128]))
        save("compat_gfx", bytes([fmt, 20, 20, 3, 1, 5, 5, 12, 9, 0, 1, 40, 30, 40, 0, 1]))
        save("compat_gfx", bytes([fmt, 16, 12, 9, 0, 0, 0x20, 0, 0x30, 0, 1]))


if __name__ == "__main__":
    image_seeds()
    text_seeds()
    gfx_seeds()
