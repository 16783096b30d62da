#!/usr/bin/env python3
"""Writes a small TrueType font with embedded bitmap strikes of every bit depth.

    make_strike_font.py OUT.ttf

Outlines for every glyph (so the face is scalable, as the system fonts are)
strikes of each bit depth (1, 2, 4, 8) and data layout (rows padded to
whole bytes, or bits packed across rows) at 10 to 23 pixels per em; FreeType hands their glyphs back as FT_PIXEL_MODE_MONO, GRAY2, GRAY4 and
GRAY. The strikes leave a few glyphs out, so those come from the outline.
Glyph sizes, bearings (negative ones too) and pixel values are varied and
fixed: the file is the same on every run.
"""
import struct
import sys

UNITS_PER_EM = 1000
ASCENDER = 800
DESCENDER = -200
# Glyph 0 is .notdef; glyphs 1..95 are the characters U+0020..U+007E.
FIRST_CHAR = 0x20
LAST_CHAR = 0x7E
GLYPHS = LAST_CHAR - FIRST_CHAR + 2
# (pixels per em, bits per pixel, EBDT image format: 1 byte-aligned, 2 bit-aligned)
# The strikes from 20 pixels on have a bold overhang of 2.
STRIKES = [(10, 1, 2), (11, 2, 1), (12, 4, 2), (13, 8, 1),
           (14, 1, 1), (15, 2, 2), (16, 4, 1), (17, 8, 2),
           (20, 1, 1), (21, 2, 2), (22, 4, 1), (23, 8, 2)]


def in_strike(glyph, ppem):
    """A few glyphs of each strike are left to the outline."""
    return glyph % 23 != ppem % 23


def bitmap_of(glyph, ppem, depth):
    """Small metrics and pixel values (0 .. 2**depth - 1) of one glyph."""
    seed = glyph * 131 + ppem * 17 + depth
    width = 1 + seed % 17 if glyph % 29 != 5 else 0
    height = 1 + (seed // 3) % (ppem + 2) if width else 0
    bearing_x = seed % 5 - 2
    bearing_y = height - seed % 5 + 1
    advance = max(0, width + seed % 3 - 1)
    top = (1 << depth) - 1
    pixels = []
    state = seed * 2654435761 & 0xFFFFFFFF
    for _ in range(height):
        row = []
        for _ in range(width):
            state = (state * 1103515245 + 12345) & 0xFFFFFFFF
            value = (state >> 16) % (top + 3)
            row.append(top if value > top else value)  # more full pixels
        pixels.append(row)
    return (height, width, bearing_x, bearing_y, advance), pixels


def pack_rows(pixels, width, depth, byte_aligned):
    bits = []
    for row in pixels:
        for value in row:
            bits.extend((value >> (depth - 1 - b)) & 1 for b in range(depth))
        if byte_aligned:
            bits.extend([0] * (-(width * depth) % 8))
    bits.extend([0] * (-len(bits) % 8))
    return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def glyph_outline(glyph):
    """A box whose size depends on the glyph (.notdef and space have none)."""
    if glyph in (0, 1):
        return b""
    left = 40 + glyph % 7 * 10
    right = left + 200 + glyph * 37 % 400
    bottom = -100 + glyph % 5 * 40
    top = 300 + glyph * 53 % 450
    points = [(left, bottom), (left, top), (right, top), (right, bottom)]
    data = struct.pack(">hhhhh", 1, left, bottom, right, top)
    data += struct.pack(">HH", 3, 0)  # last point of the contour, no instructions
    data += bytes([1] * 4)  # on-curve, coordinates as shorts
    x = y = 0
    xs = ys = b""
    for px, py in points:
        xs += struct.pack(">h", px - x)
        ys += struct.pack(">h", py - y)
        x, y = px, py
    data += xs + ys
    return data + b"\0" * (-len(data) % 4)


def advance_of(glyph):
    return 300 + glyph * 37 % 500


def table_head():
    return struct.pack(">IIIIHHqqhhhhHHhhh", 0x00010000, 0x00010000, 0, 0x5F0F3CF5, 0x000B,
                       UNITS_PER_EM, 0, 0, 0, DESCENDER, 1000, ASCENDER, 0, 8, 2, 1, 0)


def table_hhea():
    return struct.pack(">IhhhHhhhhhhhhhhhH", 0x00010000, ASCENDER, DESCENDER, 0, 1000, 0, 0, 1000,
                       1, 0, 0, 0, 0, 0, 0, 0, GLYPHS)


def table_maxp():
    return struct.pack(">IHHHHHHHHHHHHHH", 0x00010000, GLYPHS, 4, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0,
                       0, 0)


def table_os2():
    return struct.pack(">HhHHHhhhhhhhhhhh", 4, 500, 400, 5, 0, 500, 500, 0, 0, 500, 500, 0, 300,
                       50, 300, 0) + bytes(10) + struct.pack(
        ">IIII4sHHHhhhHHII", 1, 0, 0, 0, b"VLRA", 0x40, FIRST_CHAR, LAST_CHAR, ASCENDER,
        DESCENDER, 0, ASCENDER, -DESCENDER, 1, 0) + struct.pack(">hhHHH", 500, 700, 0, 0x20, 0)


def table_name():
    names = [(1, "Vellora Strikes"), (2, "Regular"), (4, "Vellora Strikes"),
             (6, "VelloraStrikes-Regular")]
    records = b""
    strings = b""
    for name_id, text in names:
        encoded = text.encode("utf-16-be")
        records += struct.pack(">HHHHHH", 3, 1, 0x409, name_id, len(encoded), len(strings))
        strings += encoded
    return struct.pack(">HHH", 0, len(names), 6 + len(records)) + records + strings


def table_cmap():
    # Format 4: one segment for the characters, and the closing one.
    segments = [(FIRST_CHAR, LAST_CHAR, 1 - FIRST_CHAR), (0xFFFF, 0xFFFF, 1)]
    count = len(segments)
    sub = struct.pack(">HHHHHHH", 4, 16 + 8 * count, 0, 2 * count, 4, 1, 0)
    sub += b"".join(struct.pack(">H", end) for _, end, _ in segments) + b"\0\0"
    sub += b"".join(struct.pack(">H", start) for start, _, _ in segments)
    sub += b"".join(struct.pack(">h", (delta + 0x8000) % 0x10000 - 0x8000)
                    for _, _, delta in segments)
    sub += b"\0\0" * count
    return struct.pack(">HHHHI", 0, 1, 3, 1, 12) + sub


def table_post():
    return struct.pack(">IIhhIIIII", 0x00030000, 0, -100, 50, 0, 0, 0, 0, 0)


def tables_glyf_loca_hmtx():
    glyf = b""
    offsets = []
    hmtx = b""
    for glyph in range(GLYPHS):
        offsets.append(len(glyf))
        glyf += glyph_outline(glyph)
        hmtx += struct.pack(">Hh", advance_of(glyph), 40 + glyph % 7 * 10 if glyph > 1 else 0)
    offsets.append(len(glyf))
    loca = b"".join(struct.pack(">I", offset) for offset in offsets)
    return glyf, loca, hmtx


def line_metrics(ppem):
    ascender = ppem * ASCENDER // UNITS_PER_EM
    return struct.pack(">bbBbbbbbbbbb", ascender, ascender - ppem, 20, 1, 0, 0, -2, 0, ppem + 2,
                       -4, 0, 0)


def tables_eblc_ebdt():
    ebdt = bytearray(struct.pack(">I", 0x00020000))
    size_records = b""
    subtables = []
    for ppem, depth, image_format in STRIKES:
        # Runs of consecutive glyphs in the strike, one index subtable each
        # (format 1: an offset per glyph).
        runs = []
        for glyph in range(GLYPHS):
            if not in_strike(glyph, ppem):
                continue
            if runs and runs[-1][1] == glyph - 1:
                runs[-1][1] = glyph
            else:
                runs.append([glyph, glyph])
        array = b""
        bodies = b""
        array_size = 8 * len(runs)
        for first, last in runs:
            start = len(ebdt)
            glyph_offsets = []
            for glyph in range(first, last + 1):
                glyph_offsets.append(len(ebdt) - start)
                metrics, pixels = bitmap_of(glyph, ppem, depth)
                ebdt += struct.pack(">BBbbB", *metrics)
                ebdt += pack_rows(pixels, metrics[1], depth, image_format == 1)
            glyph_offsets.append(len(ebdt) - start)
            array += struct.pack(">HHI", first, last, array_size + len(bodies))
            body = struct.pack(">HHI", 1, image_format, start)
            body += b"".join(struct.pack(">I", offset) for offset in glyph_offsets)
            bodies += body + b"\0" * (-len(body) % 4)
        subtables.append((array + bodies, len(runs)))
    array_start = 8 + 48 * len(STRIKES)
    at = array_start
    for (ppem, depth, _), (data, count) in zip(STRIKES, subtables):
        size_records += struct.pack(">IIII", at, len(data), count, 0)
        size_records += line_metrics(ppem) + line_metrics(ppem)
        size_records += struct.pack(">HHBBBb", 0, GLYPHS - 1, ppem, ppem, depth, 1)
        at += len(data)
    eblc = struct.pack(">II", 0x00020000, len(STRIKES)) + size_records
    eblc += b"".join(data for data, _ in subtables)
    return eblc, bytes(ebdt)


def checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def font_bytes():
    glyf, loca, hmtx = tables_glyf_loca_hmtx()
    eblc, ebdt = tables_eblc_ebdt()
    tables = {b"EBDT": ebdt, b"EBLC": eblc, b"OS/2": table_os2(), b"cmap": table_cmap(),
              b"glyf": glyf, b"head": table_head(), b"hhea": table_hhea(), b"hmtx": hmtx,
              b"loca": loca, b"maxp": table_maxp(), b"name": table_name(), b"post": table_post()}
    tags = sorted(tables)
    count = len(tags)
    entry = 1 << (count.bit_length() - 1)
    header = struct.pack(">IHHHH", 0x00010000, count, entry * 16, entry.bit_length() - 1,
                         count * 16 - entry * 16)
    offset = len(header) + 16 * count
    directory = b""
    body = b""
    for tag in tags:
        data = tables[tag]
        directory += struct.pack(">4sIII", tag, checksum(data), offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    font = bytearray(header + directory + body)
    # head.checkSumAdjustment makes the whole file sum to 0xB1B0AFBA.
    head_at = offset + sum(len(tables[t]) + (-len(tables[t]) % 4) for t in tags[:tags.index(b"head")])
    struct.pack_into(">I", font, head_at + 8, (0xB1B0AFBA - checksum(bytes(font))) & 0xFFFFFFFF)
    return bytes(font)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(font_bytes())
