#!/usr/bin/env python3
"""Times a dialog that a key opens in a program's window, from screenshots,
for the end-to-end tests: as often as xwd can take one (a few tens of
milliseconds), far more often than a screenshot through ImageMagick.

  dialog_watch.py WINDOW X Y W H KEY LIMIT_MS

The window must have the keyboard (the caller focuses it). Takes a first
screenshot, presses KEY (xdotool: down, then up 0.25 s later, long enough
for a busy program's frame to see it), then waits until the area (X, Y, W, H in the window's own pixels)
holds more than 100 near-white pixels (every channel above 80 %: the
dialog's text), then until it holds no more than that. Prints the
milliseconds from the key down to the first screenshot without the dialog.
Exit status 1, saying why, when the dialog did not show within 2 s of the
key or still shows LIMIT_MS after it.
Reads X's window dump format (XWDFileHeader, its header always most
significant byte first) at 24 or 32 bits a pixel.
"""
import struct
import subprocess
import sys
import time

SHOW_LIMIT_MS = 2000
BRIGHT = 0.8
MIN_PIXELS = 100


def shifts(mask):
    shift = (mask & -mask).bit_length() - 1
    return shift, mask >> shift


def bright_pixels(dump, x, y, w, h):
    fields = struct.unpack(">25I", dump[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits, line = fields[7], fields[11], fields[12]
    masks = fields[14:17]
    colours = fields[19]
    if bits not in (24, 32):
        sys.exit("dialog_watch: %d bits a pixel is not read here" % bits)
    step = bits // 8
    order = "little" if byte_order == 0 else "big"
    channels = [shifts(mask) for mask in masks]
    start = header_size + 12 * colours
    count = 0
    for row in range(max(y, 0), min(y + h, height)):
        base = start + row * line
        for col in range(max(x, 0), min(x + w, width)):
            offset = base + col * step
            value = int.from_bytes(dump[offset:offset + step], order)
            if all(((value >> shift) & top) > BRIGHT * top for shift, top in channels):
                count += 1
    return count


def screenshot(window):
    return subprocess.run(["xwd", "-silent", "-id", window], capture_output=True,
                          check=True).stdout


def main():
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    window = sys.argv[1]
    x, y, w, h = (int(v) for v in sys.argv[2:6])
    key, limit_ms = sys.argv[6], int(sys.argv[7])
    if bright_pixels(screenshot(window), x, y, w, h) > MIN_PIXELS:
        sys.exit("the dialog shows before the key")
    pressed = time.monotonic()
    subprocess.run(["xdotool", "keydown", key], check=True)
    release = subprocess.Popen(["sh", "-c", "sleep 0.25; xdotool keyup " + key])
    shown = False
    try:
        while True:
            dump = screenshot(window)
            taken_ms = int((time.monotonic() - pressed) * 1000)
            up = bright_pixels(dump, x, y, w, h) > MIN_PIXELS
            if up:
                shown = True
            elif shown:
                print(taken_ms)
                return
            if not shown and taken_ms > SHOW_LIMIT_MS:
                sys.exit("the dialog did not show within %d ms" % SHOW_LIMIT_MS)
            if taken_ms > limit_ms:
                sys.exit("the dialog still shows %d ms after the key" % taken_ms)
    finally:
        release.wait()


if __name__ == "__main__":
    main()
