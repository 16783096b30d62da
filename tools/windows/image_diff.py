#!/usr/bin/env python3
"""image_diff.py A.png B.png [AREA] : compares two pictures of the same size
pixel by pixel (RGB, read through ImageMagick; only AREA, an ImageMagick
geometry WxH+X+Y, when given) and prints
"mean=M max=X differing=F": the mean and the largest absolute difference of
one channel (0-255) and the fraction of pixels where any channel differs by
more than 16. Exit status 2 when a picture cannot be read or the sizes
differ."""
import subprocess
import sys


def rgb(path, area):
    crop = ["-crop", area, "+repage"] if area else []
    size = subprocess.run(["convert", path, *crop, "-format", "%w %h", "info:"], check=True,
                          capture_output=True, text=True).stdout.split()
    data = subprocess.run(["convert", path, *crop, "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout
    return (int(size[0]), int(size[1])), data


def main():
    try:
        area = sys.argv[3] if len(sys.argv) > 3 else None
        (size_a, a), (size_b, b) = rgb(sys.argv[1], area), rgb(sys.argv[2], area)
    except (subprocess.CalledProcessError, IndexError, ValueError) as error:
        print(f"cannot read the pictures: {error}")
        return 2
    if size_a != size_b or len(a) != len(b):
        print(f"sizes differ: {size_a} and {size_b}")
        return 2
    diffs = [abs(x - y) for x, y in zip(a, b)]
    pixels = len(diffs) // 3
    differing = sum(1 for i in range(0, len(diffs), 3) if max(diffs[i:i + 3]) > 16)
    print(f"mean={sum(diffs) / len(diffs):.3f} max={max(diffs)} "
          f"differing={differing / pixels:.5f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
