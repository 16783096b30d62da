#!/usr/bin/python3
"""Draws every picture of the game's Graphic/ folder.

    /usr/bin/python3 tools/make_graphics.py [output folder]   (default: Graphic/)

Needs only Pillow. The output is deterministic: no randomness, no clock, no
fonts; running it twice writes byte-identical files.

Figures are drawn at SS times their final size and reduced with a Lanczos
filter, which is what anti-aliases them. The window frame sheets are instead
computed pixel by pixel from exact coverage, because the game stretches their
edge cells and needs those rows and columns identical.
"""
import math
import pathlib
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

SS = 4  # supersampling factor of the figure drawings


# ---------------------------------------------------------------------------
# Geometry helpers. Points are (x, y) tuples in a drawing's own units.


def lerp(a, b, t):
    return a + (b - a) * t


def smoothstep(e0, e1, x):
    t = min(max((x - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


def bezier(p0, p1, p2, p3, steps=20):
    """Points of a cubic Bezier from p0 to p3, p0 excluded."""
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] +
                    t * t * t * p3[0], u * u * u * p0[1] + 3 * u * u * t * p1[1] +
                    3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return out


def path(start, *segments):
    """A polyline from start through segments: a 1-tuple is a straight line to
    its point, a 2-tuple a quadratic curve (control, end), a 3-tuple a cubic
    curve (control, control, end)."""
    pts = [start]
    for seg in segments:
        cur = pts[-1]
        if len(seg) == 1:
            pts.append(seg[0])
        elif len(seg) == 2:
            c, e = seg
            c1 = (cur[0] + (c[0] - cur[0]) * 2 / 3, cur[1] + (c[1] - cur[1]) * 2 / 3)
            c2 = (e[0] + (c[0] - e[0]) * 2 / 3, e[1] + (c[1] - e[1]) * 2 / 3)
            pts.extend(bezier(cur, c1, c2, e))
        else:
            pts.extend(bezier(cur, seg[0], seg[1], seg[2]))
    return pts


def mirror(points, cx):
    """Mirror image about the vertical line x = cx, in reverse order, so that
    half + mirror(half) closes a symmetric outline."""
    return [(2 * cx - x, y) for x, y in reversed(points)]


def flip(points, cx):
    """Mirror image about x = cx, same order."""
    return [(2 * cx - x, y) for x, y in points]


def ellipse_pts(cx, cy, rx, ry, angle=0.0, steps=72):
    ca, sa = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    out = []
    for i in range(steps):
        t = 2 * math.pi * i / steps
        x, y = rx * math.cos(t), ry * math.sin(t)
        out.append((cx + x * ca - y * sa, cy + x * sa + y * ca))
    return out


def star_pts(cx, cy, r_out, r_in, points=5, angle=-90.0):
    out = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        t = math.radians(angle + 180.0 * i / points)
        out.append((cx + r * math.cos(t), cy + r * math.sin(t)))
    return out


def hex_rgba(code, alpha=255):
    code = code.lstrip("#")
    return (int(code[0:2], 16), int(code[2:4], 16), int(code[4:6], 16), alpha)


# ---------------------------------------------------------------------------
# A supersampled drawing surface. Shapes become masks ("L" images at the
# supersampled size); paint() lays a colour or a gradient through a mask.


class Canvas:

    def __init__(self, width, height, scale=1.0, origin=(0.0, 0.0), line=1.5):
        """width, height: output size in pixels. A drawing unit maps to
        `scale` output pixels; `origin` is the drawing point at the output's
        top-left corner. `line` is the outline width in output pixels."""
        self.width, self.height = width, height
        self.k = scale * SS
        self.ox, self.oy = origin
        self.scale = scale
        self.line = line
        self.size = (width * SS, height * SS)
        self.img = Image.new("RGBA", self.size, (0, 0, 0, 0))

    def pt(self, p):
        return ((p[0] - self.ox) * self.k, (p[1] - self.oy) * self.k)

    def mask(self):
        return Image.new("L", self.size, 0)

    def poly(self, points):
        m = self.mask()
        ImageDraw.Draw(m).polygon([self.pt(p) for p in points], fill=255)
        return m

    def ellipse(self, cx, cy, rx, ry, angle=0.0):
        return self.poly(ellipse_pts(cx, cy, rx, ry, angle))

    def stroke_mask(self, points, width, closed=False):
        """A round-capped line `width` output pixels wide."""
        m = self.mask()
        d = ImageDraw.Draw(m)
        w = max(1, round(width * SS))
        pts = [self.pt(p) for p in points] + ([self.pt(points[0])] if closed else [])
        d.line(pts, fill=255, width=w, joint="curve")
        if not closed:
            r = w / 2
            for x, y in (pts[0], pts[-1]):
                d.ellipse((x - r, y - r, x + r, y + r), fill=255)
        return m

    def taper_mask(self, points, width):
        """A stroke that swells to `width` output pixels in its middle and
        thins to a point at both ends (brush-like line art)."""
        m = self.mask()
        d = ImageDraw.Draw(m)
        pts = [self.pt(p) for p in points]
        n = len(pts)
        for i, (x, y) in enumerate(pts):
            r = max(0.5, width * SS / 2 * math.sin(math.pi * (i + 0.5) / n) ** 0.6)
            d.ellipse((x - r, y - r, x + r, y + r), fill=255)
            if i:
                d.line((pts[i - 1], (x, y)), fill=255, width=max(1, round(2 * r)))
        return m

    def dilate(self, m, width):
        """Grows a mask by `width` output pixels with round corners."""
        sigma = width * SS / 2.0
        blurred = m.filter(ImageFilter.GaussianBlur(sigma))
        return blurred.point(lambda v: 255 if v > 6 else 0)

    def paint(self, m, colour):
        if len(colour) == 3:
            colour = tuple(colour) + (255,)
        layer = Image.new("RGBA", self.size, tuple(colour[:3]) + (0,))
        alpha = m if colour[3] == 255 else m.point(lambda v: v * colour[3] // 255)
        layer.putalpha(alpha)
        self.img.alpha_composite(layer)

    def paint_gradient(self, m, stops, y0, y1, horizontal=False):
        """Fills through mask m with a linear gradient along y (or x) from
        drawing coordinate y0 to y1; stops are (t, colour) pairs, t in 0..1."""
        n = self.size[0] if horizontal else self.size[1]
        a = (y0 - (self.ox if horizontal else self.oy)) * self.k
        b = (y1 - (self.ox if horizontal else self.oy)) * self.k
        strip = Image.new("RGBA", (n, 1) if horizontal else (1, n))
        px = strip.load()
        for i in range(n):
            t = min(max((i + 0.5 - a) / (b - a), 0.0), 1.0)
            for j in range(len(stops) - 1):
                if t <= stops[j + 1][0] or j == len(stops) - 2:
                    t0, c0 = stops[j]
                    t1, c1 = stops[j + 1]
                    u = min(max((t - t0) / (t1 - t0), 0.0), 1.0)
                    c = tuple(round(lerp(c0[k], c1[k], u)) for k in range(len(c0)))
                    break
            if len(c) == 3:
                c = c + (255,)
            px[(i, 0) if horizontal else (0, i)] = c
        layer = strip.resize(self.size, Image.NEAREST)
        alpha = ImageChops.multiply(layer.getchannel("A"), m)
        layer.putalpha(alpha)
        self.img.alpha_composite(layer)

    def part(self, m, fill, line_colour, line=None):
        """A filled shape with an outline on its outside (cel style): the
        outline is the mask grown by the line width, laid down first."""
        w = self.line if line is None else line
        if w > 0:
            self.paint(self.dilate(m, w), line_colour)
        if isinstance(fill, tuple):
            self.paint(m, fill)
        else:
            fill(m)

    def shift(self, m, dx, dy):
        """The mask moved by (dx, dy) drawing units."""
        return ImageChops.offset(m, round(dx * self.k), round(dy * self.k))

    def result(self, fade_from=None, fade_to=None):
        """The output-size picture; optionally the alpha fades linearly to 0
        between output rows fade_from and fade_to (a soft lower edge)."""
        out = self.img.resize((self.width, self.height), Image.LANCZOS)
        if fade_from is not None:
            a = out.getchannel("A")
            ramp = Image.new("L", (1, self.height))
            for y in range(self.height):
                ramp.putpixel((0, y), round(255 * (1 - smoothstep(fade_from, fade_to, y + 0.5))))
            a = ImageChops.multiply(a, ramp.resize((self.width, self.height)))
            out.putalpha(a)
        return out


def intersect(a, b):
    return ImageChops.multiply(a, b)


def union(*ms):
    out = ms[0]
    for m in ms[1:]:
        out = ImageChops.lighter(out, m)
    return out


def subtract(a, b):
    return ImageChops.subtract(a, b)


# ---------------------------------------------------------------------------
# Window frame sheets: 30 x 30, 3 x 3 cells of 10 x 10. The game draws the
# corners as they are and stretches the edge cells, and fills the centre
# itself, so the rounding must stay inside the corner cells: outer radius 9
# (arc centres at 9 and 21), and the body inset 2 with the concentric radius 7.

FRAME_SIZE = 30
FRAME_OUTER_RADIUS = 9.0
FRAME_INSET = 2.0
FRAME_BODY_RADIUS = 7.0
FRAME_SAMPLES = 16  # per pixel axis, for the coverage integral


def rounded_rect_coverage(px, py, inset, radius):
    """Fraction of pixel (px, py) inside the rounded square of the sheet
    inset by `inset` with corner radius `radius`."""
    lo, hi = inset + radius, FRAME_SIZE - inset - radius
    inside = 0
    for sy in range(FRAME_SAMPLES):
        y = py + (sy + 0.5) / FRAME_SAMPLES
        if y < inset or y > FRAME_SIZE - inset:
            continue
        for sx in range(FRAME_SAMPLES):
            x = px + (sx + 0.5) / FRAME_SAMPLES
            if x < inset or x > FRAME_SIZE - inset:
                continue
            cx, cy = min(max(x, lo), hi), min(max(y, lo), hi)
            if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                inside += 1
    return inside / (FRAME_SAMPLES * FRAME_SAMPLES)


def make_frames():
    """BackFrame0: the rim, a ring from the sheet's edge to the body's edge
    (no alpha under the body, so a translucent body shows no darker band).
    BackFrame1: the body, opaque from its edge inwards."""
    rim = Image.new("RGBA", (FRAME_SIZE, FRAME_SIZE))
    body = Image.new("RGBA", (FRAME_SIZE, FRAME_SIZE))
    for y in range(FRAME_SIZE):
        for x in range(FRAME_SIZE):
            outer = rounded_rect_coverage(x, y, 0.0, FRAME_OUTER_RADIUS)
            inner = rounded_rect_coverage(x, y, FRAME_INSET, FRAME_BODY_RADIUS)
            rim.putpixel((x, y), (255, 255, 255, round(255 * (outer - inner))))
            body.putpixel((x, y), (255, 255, 255, round(255 * inner)))
    return rim, body


# ---------------------------------------------------------------------------
# Circle: a soap-bubble sprite. Thin centre, a brighter band near the rim,
# alpha falling smoothly to 0 at the rim, and a soft highlight at upper left.

CIRCLE_SIZE = 64


def make_circle():
    img = Image.new("RGBA", (CIRCLE_SIZE, CIRCLE_SIZE))
    c = CIRCLE_SIZE / 2
    for y in range(CIRCLE_SIZE):
        for x in range(CIRCLE_SIZE):
            acc = 0.0
            for sy in range(4):
                for sx in range(4):
                    dx = (x + (sx + 0.5) / 4 - c) / c
                    dy = (y + (sy + 0.5) / 4 - c) / c
                    r = math.hypot(dx, dy)
                    if r >= 1.0:
                        continue
                    a = 0.30 + 0.55 * smoothstep(0.45, 0.88, r)
                    a *= 1.0 - smoothstep(0.86, 1.0, r)
                    h = math.hypot(dx + 0.36, dy + 0.40) / 0.22
                    a = max(a, 0.95 * (1.0 - smoothstep(0.35, 1.0, h)))
                    acc += a
            img.putpixel((x, y), (255, 255, 255, round(255 * acc / 16)))
    return img


# ---------------------------------------------------------------------------
# BGFrame: the title screen's border strip, 400 x 48, white on transparent.
# Lace edges, a twisted ribbon, and stars and notes in the ribbon's loops.
# Everything is periodic in 400 and mirror-symmetric about x = 0, so copies
# join without a seam and the first and last columns are identical.

STRIP_W, STRIP_H = 400, 48
STRIP_MID = 24.0


def draw_note(cv, x, y, double):
    """An eighth note (or two beamed ones) with its head at (x, y)."""
    m = cv.poly(ellipse_pts(x, y, 5.0, 3.6, -25))
    m = union(m, cv.stroke_mask([(x + 4.1, y - 1), (x + 4.1, y - 17)], 1.6))
    if double:
        m = union(m, cv.poly(ellipse_pts(x + 12, y - 2, 5.0, 3.6, -25)))
        m = union(m, cv.stroke_mask([(x + 16.1, y - 3), (x + 16.1, y - 19)], 1.6))
        m = union(m, cv.poly([(x + 3.3, y - 17.8), (x + 16.9, y - 19.8), (x + 16.9, y - 16.0),
                              (x + 3.3, y - 14.0)]))
    else:
        m = union(m, cv.poly(path((x + 3.3, y - 17), ((x + 6, y - 11), (x + 12, y - 12),
                                                      (x + 9.5, y - 4)),
                                  ((x + 10, y - 9.5), (x + 6, y - 12), (x + 3.3, y - 12)))))
    return m


def ribbon_band(cv, base, sign):
    """One strand of the twisted ribbon: centre line mid + sign * 9 cos, broad
    where the strands cross (facing the viewer) and narrow in the loops."""
    top, bottom = [], []
    for i in range(-4, 2 * STRIP_W + 5):
        x = i / 2
        phase = 2 * math.pi * x / 200
        y = STRIP_MID + sign * 9.0 * math.cos(phase)
        half = 0.8 + 1.3 * abs(math.sin(phase))
        top.append((base + x, y - half))
        bottom.append((base + x, y + half))
    return cv.poly(top + list(reversed(bottom)))


def lace_edge(cv, base, y_line, dirn):
    """A rule at y_line with scalloped lace hanging towards the middle
    (dirn +1 downwards, -1 upwards), 20 scallops a tile, pierced, with a
    bead between scallops."""
    m = cv.stroke_mask([(base - 2, y_line), (base + STRIP_W + 2, y_line)], 1.4)
    for i in range(20):
        cx = base + i * 20 + 10
        clip = cv.poly([(cx - 12, y_line), (cx + 12, y_line), (cx + 12, y_line + dirn * 9),
                        (cx - 12, y_line + dirn * 9)])
        ring = subtract(cv.ellipse(cx, y_line, 9.0, 6.8), cv.ellipse(cx, y_line, 7.4, 5.2))
        hole = cv.ellipse(cx, y_line + dirn * 2.4, 2.1, 2.1)
        m = union(m, intersect(union(ring, hole), clip))
        m = union(m, cv.ellipse(cx - 10, y_line + dirn * 6.2, 1.3, 1.3))
    return m


def make_bgframe():
    cv = Canvas(STRIP_W * 3, STRIP_H)
    full = cv.mask()
    for k in range(-1, 5):
        base = k * STRIP_W
        full = union(full, ribbon_band(cv, base, 1), ribbon_band(cv, base, -1))
        full = union(full, lace_edge(cv, base, 2.5, 1), lace_edge(cv, base, STRIP_H - 2.5, -1))
        # In the ribbon's loops: stars at x = 0 and 200, notes at 100 and
        # 300; four-point sparkles beside each crossing.
        for sx in (0, 200):
            full = union(full, cv.poly(star_pts(base + sx, STRIP_MID + 0.8, 8.0, 3.4)))
        full = union(full, draw_note(cv, base + 96, STRIP_MID + 6, False))
        full = union(full, draw_note(cv, base + 291, STRIP_MID + 7, True))
        for sx in (50, 150, 250, 350):
            for dx in (-16, 16):
                full = union(full, cv.poly(star_pts(base + sx + dx, STRIP_MID, 3.4, 1.0, 4)))
    # The rasteriser is not exactly mirror-symmetric, so make the seams so:
    # the right side of each tile boundary becomes the left side's mirror.
    reach = 16 * SS
    for seam in (STRIP_W * SS, 2 * STRIP_W * SS):
        left = full.crop((seam - reach, 0, seam, full.height))
        full.paste(left.transpose(Image.FLIP_LEFT_RIGHT), (seam, 0))
    cv.paint(full, (255, 255, 255, 255))
    wide = cv.result()
    return wide.crop((STRIP_W, 0, 2 * STRIP_W, STRIP_H))


# ---------------------------------------------------------------------------


def main():
    out_dir = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "Graphic")
    out_dir.mkdir(parents=True, exist_ok=True)
    rim, body = make_frames()
    pictures = {
        "BackFrame0.png": rim,
        "BackFrame1.png": body,
        "Circle.png": make_circle(),
        "BGFrame.png": make_bgframe(),
    }
    for name, img in pictures.items():
        img.save(out_dir / name, optimize=False)
        print(f"{out_dir / name}: {img.width} x {img.height}")


if __name__ == "__main__":
    main()
