#!/usr/bin/python3
"""Draws every picture of the game's Graphic/ folder.

    /usr/bin/python3 tools/make_graphics.py [output folder]
    /usr/bin/python3 tools/make_graphics.py --icon SIZE FILE.png

The default output folder is Graphic/ at the repository root. --icon draws
the program's icon for the desktop menu instead (SIZE x SIZE pixels), the
Debian package's (tools/package/deb.sh). Needs only
Pillow (Debian's python3-pil). The output is deterministic: no randomness, no
clock, no fonts; with the same Pillow, every run writes byte-identical files.

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
# Characters. Each figure is drawn in portrait units (the 260 x 340 portrait,
# centre line x = 130); the icon is the same drawing mapped onto 60 x 60
# around the face with detail=False, which leaves out lines too fine to read.

PORTRAIT_W, PORTRAIT_H = 260, 340
ICON_SIZE = 60
ICON_KEEP_LEFT, ICON_KEEP_RIGHT = 7, 59  # icon columns inside the window's rim
CX = 130.0


def sym(half):
    """A closed outline symmetric about x = CX from its left half, which runs
    from a point on the centre line to another one."""
    return half + mirror(half, CX)[1:]


def zigzag(points, bulge=0.0):
    """A curve through points, each pair joined by a quadratic bulging
    sideways by `bulge` (positive: to the right of the direction of travel)."""
    out = [points[0]]
    for a, b in zip(points, points[1:]):
        mx, my = (a[0] + b[0]) / 2, (a[1] + b[1]) / 2
        dx, dy = b[0] - a[0], b[1] - a[1]
        ln = math.hypot(dx, dy) or 1.0
        c = (mx - dy / ln * bulge, my + dx / ln * bulge)
        out.extend(path(a, (c, b))[1:])
    return out


class Palette:

    def __init__(self, **colours):
        for k, v in colours.items():
            setattr(self, k, hex_rgba(v) if isinstance(v, str) else v)


SORANE = Palette(
    line="#27406b",
    skin="#fde6d8", skin_shade="#f3bfa8", blush=(255, 128, 150, 90),
    hair="#7cc6f4", hair_light="#c8ecff", hair_shade="#4d95dc", hair_dark="#2f6cb8",
    iris_top="#1d4f9e", iris_bottom="#78d0ff", pupil="#112a55",
    white="#ffffff", cloth_shade="#dbe7f4", blue="#6cbcf2", blue_shade="#3f8cd6",
    ribbon="#3d86db", ribbon_shade="#2a63b0", gold="#ffd54a", gold_shade="#e3a21c",
    mouth="#a3364a", tongue="#f27f8f")


def sparkle(cv, x, y, r, colour, line):
    """A four-pointed twinkle with a thin outline."""
    m = cv.poly(star_pts(x, y, r, r * 0.28, 4))
    cv.part(m, colour, line, 0.9)


def draw_eye(cv, pal, cx, cy, side, detail):
    """An anime eye centred on (cx, cy); side -1 puts the outer corner on
    the left (the figure's right eye)."""
    white = intersect(cv.ellipse(cx, cy + 1, 12.5, 14.5),
                      cv.poly([(cx - 16, cy - 9 + 3 * side), (cx, cy - 14),
                               (cx + 16, cy - 9 - 3 * side), (cx + 16, cy + 20),
                               (cx - 16, cy + 20)]))
    cv.paint(white, pal.white)
    iris = intersect(cv.ellipse(cx + 1 * -side, cy + 3, 9.6, 12.2), white)
    cv.paint_gradient(iris, [(0, pal.iris_top), (0.55, pal.iris_top), (1, pal.iris_bottom)],
                      cy - 9, cy + 15)
    cv.paint(intersect(cv.ellipse(cx + 1 * -side, cy + 4, 4.6, 6.4), white), pal.pupil)
    cv.paint(intersect(cv.ellipse(cx + 1 * -side, cy - 3, 9.6, 5.0), iris),
             pal.pupil[:3] + (90,))
    # Upper lid: a heavy line thickening toward the outer corner, with a flick.
    o = cx + 13 * side
    i = cx - 12 * side
    lid = path((i, cy - 8), ((cx - 4 * side, cy - 17), (o + 1 * side, cy - 11 + 3)))
    cv.paint(cv.taper_mask(lid, 4.2 if detail else 3.6), pal.line)
    cv.paint(cv.stroke_mask(path((o - 3 * side, cy - 9), ((o + 2 * side, cy - 9),
                                                          (o + 5 * side, cy - 13))), 1.6),
             pal.line)
    if detail:
        cv.paint(cv.taper_mask(path((cx - 5 * side, cy + 15.5), ((cx, cy + 16.5),
                                                                (cx + 6 * side, cy + 15))),
                               1.4), pal.line)
    cv.paint(cv.ellipse(cx - 3.5 * side - 1, cy - 3, 3.6, 4.0), pal.white)
    cv.paint(cv.ellipse(cx + 4 * side, cy + 8, 1.9, 1.9), pal.white)


def draw_sorane(cv, detail):
    pal = SORANE
    L = pal.line
    # Long hair behind the body, falling past the shoulders.
    back = sym(path((CX, 36), ((88, 34), (60, 66), (58, 118)), ((56, 170), (44, 230), (34, 296)),
                    ((40, 300), (46, 304), (50, 312)), ((56, 300), (62, 306), (70, 318)),
                    ((72, 300), (80, 290), (84, 296)), ((CX, 290),)))
    back_m = cv.poly(back)
    cv.part(back_m, lambda m: cv.paint_gradient(
        m, [(0, pal.hair), (0.6, pal.hair_shade), (1, pal.hair_dark)], 60, 320), L)

    # Arms, then the bodice and the bolero over it.
    arm_pts = {}
    for s in (-1, 1):
        arm = path((CX + s * 64, 214), ((CX + s * 80, 240), (CX + s * 80, 290), (CX + s * 82, 345)),
                   ((CX + s * 58, 345),), ((CX + s * 58, 300), (CX + s * 56, 262),
                                           (CX + s * 50, 232)))
        cv.part(cv.poly(arm), pal.skin, L)
        arm_pts[s] = arm
    body = sym(path((CX, 186), ((112, 186),), ((98, 194), (80, 200), (70, 214)),
                    ((72, 250), (78, 270), (80, 300)), ((80, 320), (80, 345)), ((CX, 345),)))
    body_m = cv.poly(body)
    cv.part(body_m, lambda m: cv.paint_gradient(m, [(0, pal.white), (1, pal.cloth_shade)], 190,
                                                340), L)
    for s in (-1, 1):
        bolero = path((CX + s * 20, 194), ((CX + s * 32, 190), (CX + s * 54, 196),
                                           (CX + s * 62, 212)),
                      ((CX + s * 54, 250), (CX + s * 50, 282), (CX + s * 50, 300)),
                      ((CX + s * 38, 296), (CX + s * 30, 276), (CX + s * 24, 250)),
                      ((CX + s * 20, 230), (CX + s * 18, 210), (CX + s * 20, 194)))
        bm = intersect(cv.poly(bolero), body_m)
        cv.paint_gradient(bm, [(0, pal.blue), (1, pal.blue_shade)], 190, 300)
        cv.paint(cv.stroke_mask(bolero[len(bolero) // 3:], 3.0), pal.white)
        cv.paint(cv.stroke_mask(bolero[len(bolero) // 3:], 0.9 if detail else 0.7),
                 pal.line)
        # Puffed sleeve with a white cuff.
        puff = cv.ellipse(CX + s * 66, 226, 22, 22, 0)
        cv.part(puff, lambda m: cv.paint_gradient(m, [(0, pal.blue), (1, pal.blue_shade)], 206,
                                                  248), L)
        cuff = path((CX + s * 50, 240), ((CX + s * 66, 252), (CX + s * 86, 242)),
                    ((CX + s * 88, 250),), ((CX + s * 66, 262), (CX + s * 48, 248)))
        cv.part(cv.poly(cuff), pal.white, L, 1.0)
        cv.paint(intersect(cv.poly(arm_pts[s]), subtract(cv.shift(cv.poly(cuff), 0, 7),
                                                         cv.poly(cuff))), pal.skin_shade)
        if detail:
            for k in (-9, 0, 9):
                cv.paint(cv.taper_mask(path((CX + s * (66 + k), 210), ((CX + s * (66 + k * 1.3),
                                                                         226),
                                                                        (CX + s * (66 + k), 243))),
                                       1.0), pal.blue_shade[:3] + (200,))
    cv.paint(intersect(body_m, cv.shift(cv.poly([(88, 186), (172, 186), (150, 230), (110, 230)]),
                                        0, 6)), pal.cloth_shade)
    # Belt, just above the waistline.
    belt = intersect(cv.poly([(0, 316), (260, 312), (260, 328), (0, 332)]), body_m)
    cv.paint(belt, pal.ribbon)
    edges = union(cv.stroke_mask([(70, 316.5), (190, 312.5)], 1.0),
                  cv.stroke_mask([(70, 331.5), (190, 327.5)], 1.0))
    cv.paint(intersect(edges, body_m), L)
    if detail:
        for y in (236, 262, 288):
            cv.part(cv.ellipse(CX, y, 3.2, 3.2), pal.ribbon, L, 0.8)

    # Neck and collar.
    neck = path((118, 150), ((118, 176), (116, 186)), ((CX, 196), (144, 186)),
                ((142, 176), (142, 150)))
    neck_m = cv.poly(neck)
    cv.part(neck_m, pal.skin, L)
    cv.paint(intersect(neck_m, cv.ellipse(CX, 168, 30, 14)), pal.skin_shade)
    for s in (-1, 1):
        collar = path((CX, 192), ((CX + s * 10, 184), (CX + s * 18, 182)),
                      ((CX + s * 34, 190), (CX + s * 40, 196)),
                      ((CX + s * 34, 212), (CX + s * 22, 214)), ((CX + s * 8, 206), (CX, 196)))
        cv.part(cv.poly(collar), lambda m: cv.paint_gradient(m, [(0, pal.white),
                                                                  (1, pal.cloth_shade)],
                                                             184, 214), L)
    # Ribbon bow with a star brooch.
    for s in (-1, 1):
        loop = path((CX, 200), ((CX + s * 12, 186), (CX + s * 30, 188)),
                    ((CX + s * 30, 212), (CX, 206)))
        cv.part(cv.poly(loop), lambda m: cv.paint_gradient(m, [(0, pal.ribbon),
                                                                (1, pal.ribbon_shade)], 188,
                                                           212), L)
        tail = path((CX + s * 3, 204), ((CX + s * 10, 222), (CX + s * 16, 236)),
                    ((CX + s * 10, 232),), ((CX + s * 6, 238),), ((CX + s * 2, 220), (CX, 206)))
        cv.part(cv.poly(tail), pal.ribbon_shade, L)
    cv.part(cv.poly(star_pts(CX, 203, 9, 4)), lambda m: cv.paint_gradient(
        m, [(0, pal.gold), (1, pal.gold_shade)], 195, 212), L, 1.0)

    # Face.
    face = sym(path((CX, 54), ((98, 54), (80, 74), (80, 106)), ((81, 140), (106, 166), (CX, 171))))
    face_m = cv.poly(face)
    cv.part(face_m, pal.skin, L)
    # Bangs, built first as a mask so they can shade the face.
    tips = [(72, 130), (79, 106), (86, 128), (95, 104), (104, 120), (114, 104), (124, 118),
            (133, 102), (143, 120), (153, 104), (162, 118), (172, 104), (182, 128), (188, 130)]
    crown = path((188, 124), ((198, 70), (172, 34), (CX, 34)), ((88, 34), (62, 70), (72, 124)))
    bangs = crown + zigzag(tips, -3.0)[1:]
    bangs_m = cv.poly(bangs)
    cv.paint(intersect(face_m, cv.shift(bangs_m, 1, 6)), pal.skin_shade)
    cv.paint(intersect(face_m, cv.ellipse(98, 148, 10, 5)), pal.blush)
    cv.paint(intersect(face_m, cv.ellipse(162, 148, 10, 5)), pal.blush)
    if detail:
        for bx in (92, 156):
            for k in range(3):
                cv.paint(cv.stroke_mask([(bx + k * 4, 150), (bx + 2 + k * 4, 146)], 0.8),
                         (230, 90, 110, 200))
    draw_eye(cv, pal, 106, 129, -1, detail)
    draw_eye(cv, pal, 154, 129, 1, detail)
    cv.paint(cv.stroke_mask([(CX + 0.5, 147), (CX - 1, 150)], 1.0), pal.skin_shade[:3] + (255,))
    mouth = path((119, 156), ((CX, 159), (141, 156)), ((140, 170), (CX, 170)),
                 ((120, 170), (119, 156)))
    mouth_m = cv.poly(mouth)
    cv.part(mouth_m, pal.mouth, L, 1.0)
    cv.paint(intersect(mouth_m, cv.ellipse(CX, 170, 8, 5)), pal.tongue)

    # Side locks in front of the shoulders, then the bangs over everything.
    for s in (-1, 1):
        lock = path((CX + s * 46, 84), ((CX + s * 70, 120), (CX + s * 62, 196), (CX + s * 74, 270)),
                    ((CX + s * 58, 232), (CX + s * 50, 170), (CX + s * 44, 108)))
        cv.part(cv.poly(lock), lambda m: cv.paint_gradient(
            m, [(0, pal.hair), (0.7, pal.hair), (1, pal.hair_shade)], 90, 266), L)
        if detail:
            cv.paint(cv.taper_mask(path((CX + s * 54, 120), ((CX + s * 60, 180),
                                                            (CX + s * 66, 244))), 1.4),
                     pal.hair_dark)
    cv.part(bangs_m, lambda m: cv.paint_gradient(m, [(0, pal.hair_light), (0.25, pal.hair),
                                                      (1, pal.hair_shade)], 30, 124), L)
    # Angel ring highlight on the crown, and strand lines.
    shine = cv.mask()
    for deg, ln in ((-150, 9), (-132, 6), (-116, 10), (-98, 7), (-80, 10), (-62, 6), (-46, 9),
                    (-30, 5)):
        t = math.radians(deg)
        shine = union(shine, cv.ellipse(CX + 50 * math.cos(t), 94 + 44 * math.sin(t), ln, 2.0,
                                        deg + 90))
    cv.paint(intersect(shine, bangs_m), pal.hair_light)
    if detail:
        for x0, x1 in ((96, 90), (114, 110), (134, 136), (154, 160), (170, 178)):
            cv.paint(cv.taper_mask(path((x0 + (CX - x0) * 0.3, 50), ((x0, 76), (x1, 104))),
                                   1.3), pal.hair_dark)
    # Cowlick.
    ahoge = path((CX - 4, 38), ((CX - 2, 18), (CX + 18, 10)), ((CX + 8, 18), (CX + 4, 38)))
    if detail:
        cv.part(cv.poly(ahoge), pal.hair, L, 1.2)
    # Star hair clip over the left bangs, with a small companion star.
    cv.part(cv.poly(star_pts(82, 82, 13, 5.6, 5, -100)), lambda m: cv.paint_gradient(
        m, [(0, pal.gold), (1, pal.gold_shade)], 70, 94), L, 1.3)
    cv.paint(cv.poly(star_pts(80, 79, 4.5, 2, 5, -100)), (255, 255, 255, 200))
    cv.part(cv.poly(star_pts(98, 66, 6, 2.6, 5, -80)), pal.gold, L, 1.0)
    if detail:
        # Stage twinkles around her.
        sparkle(cv, 212, 62, 11, pal.white, pal.blue_shade)
        sparkle(cv, 228, 94, 6, pal.gold, pal.gold_shade)
        sparkle(cv, 38, 150, 7, pal.white, pal.blue_shade)


KUMODA = Palette(
    line="#1c1a22",
    skin="#f0c6a0", skin_shade="#d49c76", ear_shade="#c98c66",
    hair="#a3a6ad", hair_light="#dfe1e6", hair_shade="#70737c",
    suit="#444854", suit_light="#5e6371", suit_dark="#2a2c34", stripe=(150, 156, 172, 70),
    shirt="#f6f6f8", shirt_shade="#c8ccd8",
    tie="#7d40b4", tie_light="#a870dc", tie_dark="#532a80",
    gold="#e9c35a", gold_light="#fff0b0", gold_dark="#a77c22",
    lens_top="#221b2c", lens_bottom="#5a4877",
    mouth="#6a2630", teeth="#ffffff")


def draw_kumoda(cv, detail):
    pal = KUMODA
    L = pal.line
    # Broad suit; arms hang at the sides, so only creases separate them.
    body = sym(path((CX, 190), ((108, 190),), ((80, 198), (46, 204), (36, 230)),
                    ((28, 262), (26, 300), (24, 345)), ((CX, 345),)))
    body_m = cv.poly(body)
    cv.part(body_m, lambda m: cv.paint_gradient(m, [(0, pal.suit_light), (0.35, pal.suit),
                                                     (1, pal.suit_dark)], 196, 340), L)
    if detail:
        stripes = union(*[cv.stroke_mask([(x, 190), (x + (x - CX) * 0.06, 345)], 0.6)
                          for x in range(34, 230, 9)])
        cv.paint(intersect(stripes, body_m), pal.stripe)
    for s in (-1, 1):
        cv.paint(cv.taper_mask(path((CX + s * 72, 252), ((CX + s * 74, 300),
                                                        (CX + s * 76, 345))), 2.2), pal.suit_dark)
        cv.paint(intersect(body_m, cv.stroke_mask(path((CX + s * 26, 198), (
            (CX + s * 62, 200), (CX + s * 90, 214))), 2.4)), pal.suit_light[:3] + (200,))
    # Shirt front and neck.
    shirt = [(108, 190), (152, 190), (CX, 300)]
    shirt_m = cv.poly(shirt)
    cv.paint_gradient(shirt_m, [(0, pal.shirt), (1, pal.shirt_shade)], 190, 300)
    neck = path((110, 160), ((110, 186), (108, 198)), ((CX, 212), (152, 198)),
                ((150, 186), (150, 160)))
    neck_m = cv.poly(neck)
    cv.part(neck_m, pal.skin, L)
    cv.paint(intersect(neck_m, cv.ellipse(CX, 178, 40, 16)), pal.skin_shade)
    # Tie: knot, blade, diagonal stripes, gold tie bar.
    blade = [(125, 216), (135, 216), (141, 276), (CX, 290), (119, 276)]
    blade_m = cv.poly(blade)
    cv.part(blade_m, lambda m: cv.paint_gradient(m, [(0, pal.tie), (1, pal.tie_dark)], 216, 300),
            L, 1.2)
    if detail:
        bands = union(*[cv.poly([(100, y), (160, y - 30), (160, y - 26), (100, y + 4)])
                        for y in range(230, 340, 12)])
        cv.paint(intersect(bands, blade_m), pal.tie_light[:3] + (150,))
    knot = [(120, 202), (140, 202), (137, 218), (123, 218)]
    cv.part(cv.poly(knot), lambda m: cv.paint_gradient(m, [(0, pal.tie_light), (1, pal.tie)],
                                                        202, 218), L, 1.2)
    # Shirt collar points.
    for s in (-1, 1):
        collar = [(CX + s * 2, 204), (CX + s * 20, 186), (CX + s * 24, 196), (CX + s * 12, 222)]
        cv.part(cv.poly(collar), lambda m: cv.paint_gradient(m, [(0, pal.shirt),
                                                                  (1, pal.shirt_shade)], 186,
                                                             222), L, 1.2)
    # Lapels, with notches.
    for s in (-1, 1):
        lapel = [(CX + s * 20, 190), (CX + s * 3, 298), (CX + s * 24, 258), (CX + s * 38, 224),
                 (CX + s * 32, 220), (CX + s * 36, 206), (CX + s * 26, 194)]
        cv.part(cv.poly(lapel), lambda m: cv.paint_gradient(
            m, [(0, pal.suit_light), (1, pal.suit)], 190, 300), L, 1.2)
    # Tie bar over the blade and lapels' edges.
    cv.part(cv.poly([(117, 252), (143, 252), (143, 256), (117, 256)]),
            lambda m: cv.paint_gradient(m, [(0, pal.gold_light), (1, pal.gold_dark)], 252, 256),
            L, 0.8)
    # Gold pocket square and lapel badge on his left breast (picture right).
    cv.part(cv.poly([(164, 270), (168, 258), (174, 264), (180, 254), (186, 262), (192, 256),
                     (194, 268)]), lambda m: cv.paint_gradient(
                         m, [(0, pal.gold_light), (1, pal.gold)], 254, 270), L, 1.0)
    cv.paint(cv.stroke_mask([(160, 270), (198, 268)], 1.2), L)
    cv.part(cv.ellipse(162, 232, 5.5, 5.5), lambda m: cv.paint_gradient(
        m, [(0, pal.gold_light), (1, pal.gold_dark)], 227, 238), L, 1.0)
    cv.paint(cv.poly(star_pts(162, 232.5, 3.4, 1.5)), pal.gold_dark)
    # Jacket button below the V.
    cv.part(cv.ellipse(CX, 316, 4, 4), pal.suit_dark, L, 1.0)
    cv.paint(cv.stroke_mask([(CX, 300), (CX + 1, 345)], 1.2), L)

    # Ears, face.
    for s in (-1, 1):
        ear = cv.ellipse(CX + s * 54, 124, 8, 13, s * 10)
        cv.part(ear, pal.skin, L)
        cv.paint(cv.ellipse(CX + s * 54, 125, 3.5, 7, s * 10), pal.ear_shade)
    face = sym(path((CX, 50), ((94, 50), (76, 70), (76, 102)), ((76, 134), (80, 156), (94, 170)),
                    ((106, 182), (118, 186), (CX, 186))))
    face_m = cv.poly(face)
    cv.part(face_m, pal.skin, L)
    cv.paint(intersect(face_m, subtract(cv.ellipse(CX + 4, 120, 60, 70),
                                        cv.ellipse(CX - 8, 112, 56, 66))), pal.skin_shade)
    # Nose with its shaded side, and smile lines.
    nose = [(CX, 118), (CX + 7, 140), (CX + 9, 148), (CX, 150), (CX - 8, 148)]
    cv.paint(cv.poly(nose[:4]), pal.skin_shade)
    cv.paint(cv.stroke_mask(path((CX - 8, 147), ((CX, 151), (CX + 9, 147))), 1.2), L)
    for s in (-1, 1):
        cv.paint(cv.taper_mask(path((CX + s * 18, 144), ((CX + s * 26, 156),
                                                        (CX + s * 26, 172))), 1.6), pal.skin_shade)
    # Grin: a wide mouth, upper teeth showing.
    mouth = path((108, 162), ((CX, 166), (152, 162)), ((148, 182), (CX, 182)),
                 ((112, 182), (108, 162)))
    mouth_m = cv.poly(mouth)
    cv.part(mouth_m, pal.mouth, L, 1.2)
    cv.paint(intersect(mouth_m, cv.poly([(100, 150), (160, 150), (160, 173), (100, 173)])),
             pal.teeth)
    if detail:
        teeth_lines = union(*[cv.stroke_mask([(x, 166), (x, 173)], 0.6) for x in (118, 124, CX,
                                                                                136, 142)])
        cv.paint(intersect(teeth_lines, mouth_m), pal.shirt_shade)
    # Moustache with upturned ends.
    stache = sym(path((CX, 152), ((120, 146), (104, 148), (96, 158)), ((92, 160), (88, 156),
                                                                      (86, 150)),
                      ((90, 166), (104, 170), (114, 166)), ((122, 163), (CX, 164))))
    cv.part(cv.poly(stache), lambda m: cv.paint_gradient(m, [(0, pal.hair_light),
                                                              (1, pal.hair_shade)], 146, 170), L,
            1.2)
    if detail:
        for s in (-1, 1):
            for k in range(3):
                cv.paint(cv.taper_mask(path((CX + s * (6 + k * 9), 154), (
                    (CX + s * (10 + k * 10), 160), (CX + s * (12 + k * 10), 164))), 0.8),
                         pal.hair_shade)

    # Slicked-back hair with sideburns.
    hair = sym(path((CX, 28), ((86, 26), (68, 46), (72, 90)), ((73, 104), (74, 118)),
                    ((81, 126),), ((82, 104), (84, 86)), ((92, 66), (112, 58), (CX, 68))))
    hair_m = cv.poly(hair)
    cv.part(hair_m, lambda m: cv.paint_gradient(m, [(0, pal.hair_light), (0.5, pal.hair),
                                                     (1, pal.hair_shade)], 28, 120), L)
    for x in (90, 102, 116, 144, 158, 170):
        comb = path((x + (CX - x) * 0.25, 66 - abs(x - CX) * 0.1), ((x - (CX - x) * 0.05, 50),
                                                                    (x - (CX - x) * 0.3, 32)))
        cv.paint(intersect(cv.taper_mask(comb, 1.4 if detail else 1.0), hair_m), pal.hair_shade)
    shine = cv.ellipse(112, 40, 18, 4.5, -18)
    cv.paint(intersect(shine, hair_m), pal.hair_light)
    # Heavy eyebrows, angled confidently.
    for s in (-1, 1):
        brow = [(CX + s * 8, 104), (CX + s * 20, 96), (CX + s * 38, 94), (CX + s * 44, 100),
                (CX + s * 36, 100), (CX + s * 20, 103), (CX + s * 10, 108)]
        cv.part(cv.poly(brow), pal.hair_shade, L, 1.0)
    # Sunglasses: dark lenses in a gold frame, a bridge, temples to the ears,
    # and a glint across each lens.
    frame = cv.mask()
    for s in (-1, 1):
        lens = path((CX + s * 5, 112), ((CX + s * 20, 108), (CX + s * 40, 108)),
                    ((CX + s * 43, 112), (CX + s * 41, 122)),
                    ((CX + s * 36, 136), (CX + s * 22, 136)),
                    ((CX + s * 8, 134), (CX + s * 6, 122)), ((CX + s * 4, 116), (CX + s * 5, 112)))
        lens_m = cv.poly(lens)
        frame = union(frame, cv.stroke_mask(lens, 2.4, closed=True))
        frame = union(frame, cv.stroke_mask([(CX + s * 42, 114), (CX + s * 50, 117)], 2.0))
        cv.paint_gradient(lens_m, [(0, pal.lens_top), (1, pal.lens_bottom)], 108, 136)
        glint = union(cv.poly([(CX + s * 16, 134), (CX + s * 30, 110), (CX + s * 35, 110),
                               (CX + s * 21, 134)]),
                      cv.poly([(CX + s * 25, 134), (CX + s * 38, 112), (CX + s * 40, 112),
                               (CX + s * 27, 134)]))
        cv.paint(intersect(glint, lens_m), (255, 255, 255, 110))
    frame = union(frame, cv.stroke_mask(path((CX - 6, 114), ((CX, 110), (CX + 6, 114))), 2.2))
    cv.paint(cv.dilate(frame, 0.9), L)
    cv.paint_gradient(frame, [(0, pal.gold_light), (0.5, pal.gold), (1, pal.gold_dark)], 106, 138)
    if detail:
        # The glint of a man who knows he is the best pick.
        sparkle(cv, 176, 106, 10, pal.gold_light, pal.gold_dark)


def make_character(draw, icon_box):
    """The portrait and the icon of one figure. icon_box: (x0, y0, size) of
    the square of portrait units shown in the icon."""
    cv = Canvas(PORTRAIT_W, PORTRAIT_H, line=1.6)
    draw(cv, True)
    portrait = cv.result(fade_from=PORTRAIT_H - 60, fade_to=PORTRAIT_H)
    x0, y0, size = icon_box
    iv = Canvas(ICON_SIZE, ICON_SIZE, scale=ICON_SIZE / size, origin=(x0, y0), line=1.1)
    draw(iv, False)
    icon = iv.result(fade_from=ICON_SIZE - 4, fade_to=ICON_SIZE)
    # The game draws the icon 5 pixels left of and 10 below the top-left of
    # its 56 x 76 window; keep it off the window's 2-pixel rim at the sides.
    keep = Image.new("L", (ICON_SIZE, ICON_SIZE), 0)
    ImageDraw.Draw(keep).rectangle((ICON_KEEP_LEFT, 0, ICON_KEEP_RIGHT - 1, ICON_SIZE), fill=255)
    icon.putalpha(ImageChops.multiply(icon.getchannel("A"), keep))
    return portrait, icon


# ---------------------------------------------------------------------------
# The program's icon for a desktop menu: Sorane's face as in her character
# select icon, on a rounded square of sky that it does not leave, with a white
# rim. Drawn in icon units of 60 x 60 whatever the output size.

APP_ICON_BOX = (CX - 33 * 150 / 60, 30, 150)  # as Icon_Sorane.png


def make_app_icon(size):
    x0, y0, box = APP_ICON_BOX
    unit = box / ICON_SIZE
    cv = Canvas(size, size, scale=size / box, origin=(x0, y0), line=1.1 * size / ICON_SIZE)

    def square(inset, radius):
        """A rounded square inset by `inset` icon units, as a mask."""
        m = cv.mask()
        a, b = inset * cv.k * unit, (ICON_SIZE - inset) * cv.k * unit
        ImageDraw.Draw(m).rounded_rectangle((a, a, b, b), radius=radius * cv.k * unit, fill=255)
        return m

    outer, inner = square(1.0, 12.0), square(3.5, 9.5)
    cv.paint(outer, SORANE.white)
    cv.paint_gradient(inner, [(0, hex_rgba("#8fd3ff")), (1, hex_rgba("#ffe1f0"))], y0, y0 + box)
    # The figure is drawn on a canvas of its own and laid on the sky through
    # the inner square, so no hair reaches over the rim.
    figure = Canvas(size, size, scale=size / box, origin=(x0, y0), line=cv.line)
    draw_sorane(figure, False)
    figure.img.putalpha(ImageChops.multiply(figure.img.getchannel("A"), inner))
    cv.img.alpha_composite(figure.img)
    return cv.result()


# ---------------------------------------------------------------------------


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--icon":
        make_app_icon(int(sys.argv[2])).save(sys.argv[3], optimize=False)
        return
    default_dir = pathlib.Path(__file__).resolve().parent.parent / "Graphic"
    out_dir = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else default_dir
    out_dir.mkdir(parents=True, exist_ok=True)
    rim, body = make_frames()
    pictures = {
        "BackFrame0.png": rim,
        "BackFrame1.png": body,
        "Circle.png": make_circle(),
        "BGFrame.png": make_bgframe(),
    }
    pictures["Top_Sorane.png"], pictures["Icon_Sorane.png"] = make_character(
        draw_sorane, (CX - 33 * 150 / 60, 30, 150))
    pictures["Top_Kumoda.png"], pictures["Icon_Kumoda.png"] = make_character(
        draw_kumoda, (CX - 33 * 160 / 60, 26, 160))
    for name, img in pictures.items():
        img.save(out_dir / name, optimize=False)
        print(f"{name}: {img.width} x {img.height}")


if __name__ == "__main__":
    main()
