#!/usr/bin/env python3
"""Makes the data files that lie beside the program and the glyph bitmaps of
its resources. Standard library only; the output is byte-for-byte the same
on every run.

    make_data_files.py --out DIR [--out DIR ...] [--glyphs DIR]

Each DIR receives:
  GIFs/first.gif prev.gif next.gif last.gif index.gif
      navigation buttons, one frame; global table: 0 transparent, 1 the
      arrow (recoloured to the text colour), 2 the button (recoloured to
      the cell colour), 3 unused
  GIFs/first_d.gif prev_d.gif next_d.gif last_d.gif
      the same buttons greyed out, entry 0 transparent
  viewer/viewer.js, viewer/graphics/loader.white.gif
      the picture viewer of the album pages (viewer/viewer.js beside this
      script, copied as it is)
  Languages/Morvane_000.tx_ (template), Morvane_Ger.txt, Morvane_Rus.txt
      UTF-8 with byte-order mark, CR LF line ends (translations.py)
  screen3.gif
      the help picture: a page with a thumbnail and its tooltip (the title)
      above, the enlarged picture with its caption (the description) below;
      the left band x < SCREEN3_LABEL_W is left empty for the two labels
      the help window lays over it, at SCREEN3_TITLE_Y and SCREEN3_DESC_Y
  screen_demo.gif
      the example page of the options dialog, no transparency; after the
      colour-table optimisation (sorted by decreasing use) entry 0 is the
      page background, 1 the thumbnail cells, 2 and 6 text-coloured parts;
      every colour has its own pixel count so the order is fixed
The glyph folder receives the 16 x 16 24-bit button bitmaps (magenta
255,0,255 transparent) named as their resources, e.g. TB_FIRST.bmp and
TB_FIRST_D.bmp, and the splitter's four 32 x 32 monochrome cursors
TMSPLIT_HORZ.cur, TMSPLIT_HORZHOTSPOT.cur, TMSPLIT_VERT.cur and
TMSPLIT_VERTHOTSPOT.cur (hot spot at 15,15), and the image view's cursors
VIEW_<name>.cur (+ and - spelt _plus, _minus) for the resource names of its cursor table (ViewCursors.rc),
and the shell list's 8 x 8 24-bit sort arrows TSHELLLIST_LV_ARROWUP.bmp and
TSHELLLIST_LV_ARROWDOWN.bmp (ShellArrows.rc; magenta ground, its
bottom-left pixel the transparent colour the list leaves out).
"""
import argparse
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import translations  # noqa: E402
from gif_stream import lzw  # noqa: E402

# ---------------------------------------------------------------------------
# Raster drawing on a grid of palette indexes

class Canvas:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.px = [fill] * (w * h)

    def get(self, x, y):
        return self.px[y * self.w + x]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = c

    def rect(self, x0, y0, x1, y1, c):
        """Fills x0 <= x < x1, y0 <= y < y1."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y * self.w + x] = c

    def frame(self, x0, y0, x1, y1, c, t=1):
        self.rect(x0, y0, x1, y0 + t, c)
        self.rect(x0, y1 - t, x1, y1, c)
        self.rect(x0, y0, x0 + t, y1, c)
        self.rect(x1 - t, y0, x1, y1, c)

    def shape(self, inside, c, box=None):
        """Sets every pixel whose centre satisfies inside(x + .5, y + .5)."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                if inside(x + 0.5, y + 0.5):
                    self.px[y * self.w + x] = c

    def polygon(self, pts, c):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        box = (int(min(xs)), int(min(ys)), int(math.ceil(max(xs))) + 1, int(math.ceil(max(ys))) + 1)
        self.shape(lambda x, y: point_in_polygon(x, y, pts), c, box)

    def rounded(self, x0, y0, x1, y1, r, c):
        def inside(x, y):
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.shape(inside, c, (x0, y0, x1, y1))

    def disc(self, cx, cy, r, c):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, c,
                   (int(cx - r) - 1, int(cy - r) - 1, int(cx + r) + 2, int(cy + r) + 2))

    def ring(self, cx, cy, r0, r1, a0, a1, c):
        """An annulus r0 <= d <= r1 between the angles a0..a1 (degrees,
        counted anticlockwise from the right, screen y downwards)."""
        def inside(x, y):
            dx, dy = x - cx, cy - y
            d = math.hypot(dx, dy)
            if not r0 <= d <= r1:
                return False
            a = math.degrees(math.atan2(dy, dx)) % 360
            return (a - a0) % 360 <= (a1 - a0) % 360
        self.shape(inside, c, (int(cx - r1) - 1, int(cy - r1) - 1, int(cx + r1) + 2, int(cy + r1) + 2))

    def line(self, xa, ya, xb, yb, t, c):
        """A straight stroke of width t with square ends."""
        dx, dy = xb - xa, yb - ya
        n = math.hypot(dx, dy) or 1.0
        ox, oy = -dy / n * t / 2, dx / n * t / 2
        self.polygon([(xa + ox, ya + oy), (xb + ox, yb + oy), (xb - ox, yb - oy), (xa - ox, ya - oy)], c)

    def blit(self, other, x, y, skip=None):
        for yy in range(other.h):
            for xx in range(other.w):
                v = other.get(xx, yy)
                if v != skip:
                    self.set(x + xx, y + yy, v)


def point_in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        xa, ya = pts[i]
        xb, yb = pts[(i + 1) % n]
        if (ya > y) != (yb > y):
            if x < xa + (y - ya) * (xb - xa) / (yb - ya):
                inside = not inside
    return inside


def rotated(pts, cx, cy, deg):
    a = math.radians(deg)
    ca, sa = math.cos(a), math.sin(a)
    return [(cx + (x - cx) * ca - (y - cy) * sa, cy + (x - cx) * sa + (y - cy) * ca) for x, y in pts]

# ---------------------------------------------------------------------------
# GIF writing

def gif(w, h, palette, frames, transparent=None, delay=0, loop=False):
    """palette: list of (r, g, b); frames: list of pixel index lists."""
    bits = 1
    while (1 << bits) < max(len(palette), 2):
        bits += 1
    table = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', w, h, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for r, g, b in table:
        out += bytes((r, g, b))
    if loop and len(frames) > 1:
        out += b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'
    min_code = max(2, bits)
    for px in frames:
        if transparent is not None or len(frames) > 1:
            flags = (0x09 if transparent is not None else 0x04) if len(frames) > 1 else 0x01
            out += b'\x21\xF9\x04' + struct.pack('<BHB', flags, delay, transparent or 0) + b'\x00'
        out += b'\x2C' + struct.pack('<HHHHB', 0, 0, w, h, 0)
        out += lzw(px, min_code)
    out += b';'
    return bytes(out)


def save(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def rgb(hexcode):
    return tuple(int(hexcode[i:i + 2], 16) for i in (1, 3, 5))

# ---------------------------------------------------------------------------
# Navigation buttons

NAV_W, NAV_H = 34, 26
TRANSPARENT, ARROW, BUTTON = 0, 1, 2


def arrow_shapes(kind, cx, cy, s):
    """Polygons of a symbol of height about 2*s centred on (cx, cy)."""
    def tri(tip_x, direction):  # direction -1 points left, +1 right
        base = tip_x - direction * s * 1.15
        return [(tip_x, cy), (base, cy - s), (base, cy + s)]
    bar = lambda x: [(x - s * 0.22, cy - s), (x + s * 0.22, cy - s), (x + s * 0.22, cy + s), (x - s * 0.22, cy + s)]
    if kind == 'prev':
        return [tri(cx - s * 0.58, -1)]
    if kind == 'next':
        return [tri(cx + s * 0.58, 1)]
    if kind == 'first':
        return [bar(cx - s * 0.95), tri(cx - s * 0.55, -1), tri(cx + s * 0.6, -1)]
    if kind == 'last':
        return [bar(cx + s * 0.95), tri(cx + s * 0.55, 1), tri(cx - s * 0.6, 1)]
    if kind == 'index':  # a 3 x 3 grid of small squares
        q, g = s * 0.5, s * 0.2
        cells = []
        for i in (-1, 0, 1):
            for j in (-1, 0, 1):
                x, y = cx + i * (q + g) * 1.05, cy + j * (q + g) * 1.05
                cells.append([(x - q / 2, y - q / 2), (x + q / 2, y - q / 2), (x + q / 2, y + q / 2), (x - q / 2, y + q / 2)])
        return cells
    raise ValueError(kind)


def nav_button(kind):
    c = Canvas(NAV_W, NAV_H, TRANSPARENT)
    c.rounded(0, 0, NAV_W, NAV_H, 7, BUTTON)
    for poly in arrow_shapes(kind, NAV_W / 2, NAV_H / 2, 7.5):
        c.polygon(poly, ARROW)
    return c


def make_nav(out):
    # Template colours: the program's default text and cell colours; the
    # build replaces entries 1 and 2 anyway.
    active = [(0xC0, 0x80, 0x00), (0xFF, 0xFF, 0xFF), (0x00, 0xAB, 0xFD), (0, 0, 0)]
    disabled = [(0xC0, 0xC0, 0xC0), (0xF4, 0xF4, 0xF4), (0xB4, 0xB4, 0xB4), (0, 0, 0)]
    for kind in ('first', 'prev', 'next', 'last', 'index'):
        px = nav_button(kind).px
        save(os.path.join(out, 'GIFs', kind + '.gif'), gif(NAV_W, NAV_H, active, [px], transparent=TRANSPARENT))
        if kind != 'index':
            save(os.path.join(out, 'GIFs', kind + '_d.gif'), gif(NAV_W, NAV_H, disabled, [px], transparent=TRANSPARENT))

# ---------------------------------------------------------------------------
# Viewer folder

def make_loader():
    """16 x 16, eight frames: a ring of dots whose bright spot turns."""
    shades = [(0xFF, 0xFF, 0xFF), (0x33, 0x33, 0x33), (0x66, 0x66, 0x66), (0x99, 0x99, 0x99),
              (0xBB, 0xBB, 0xBB), (0xDD, 0xDD, 0xDD), (0xEE, 0xEE, 0xEE), (0xF4, 0xF4, 0xF4)]
    frames = []
    for f in range(8):
        c = Canvas(16, 16, 0)
        for d in range(8):
            a = math.radians(90 - d * 45)
            age = (f - d) % 8  # 0: the newest dot
            c.disc(8 + 5.2 * math.cos(a), 8 - 5.2 * math.sin(a), 1.9, 1 + min(age, 6))
        frames.append(c.px)
    return gif(16, 16, shades, frames, delay=10, loop=True)


def make_viewer(out):
    with open(os.path.join(HERE, 'viewer', 'viewer.js'), 'rb') as f:
        save(os.path.join(out, 'viewer', 'viewer.js'), f.read())
    save(os.path.join(out, 'viewer', 'graphics', 'loader.white.gif'), make_loader())

# ---------------------------------------------------------------------------
# Languages

def make_languages(out):
    for name, lines in translations.files().items():
        text = '\r\n'.join(lines) + '\r\n'
        save(os.path.join(out, 'Languages', name), b'\xEF\xBB\xBF' + text.encode('utf-8'))

# ---------------------------------------------------------------------------
# Small photographs for the help and example pictures: a landscape drawn
# into a w x h canvas with the given palette indexes.

def landscape(w, h, sky, hill, ground, sun, far=None):
    c = Canvas(w, h, sky)
    c.disc(w * 0.72, h * 0.3, max(2.0, h * 0.12), sun)
    if far is not None:
        c.polygon([(-1, h * 0.62), (w * 0.3, h * 0.3), (w * 0.55, h * 0.6), (w * 0.8, h * 0.42), (w + 1, h * 0.62),
                   (w + 1, h + 1), (-1, h + 1)], far)
    c.shape(lambda x, y: y > h * 0.7 - math.sin(x / w * math.pi) * h * 0.12, hill)
    c.rect(0, int(h * 0.86), w, h, ground)
    return c

# ---------------------------------------------------------------------------
# screen_demo.gif: the options dialog's example page

DEMO_W, DEMO_H = 300, 330
# Bands the dialog's own labels take (y ranges): the album name and the two
# page labels.
DEMO_TITLE_BAND = (6, 34)
DEMO_LABEL1_BAND = (38, 54)
DEMO_LABEL2_BAND = (242, 258)


def make_screen_demo(out):
    BG, CELL, TEXT, TEXT2 = 0, 1, 2, 3
    palette = [(0x00, 0x80, 0xC0), (0x00, 0xAB, 0xFD), (0xFF, 0xFF, 0xFF), (0xF0, 0xF0, 0xF0),
               # the small photographs
               (0x7F, 0xB9, 0xE8), (0x5E, 0x9E, 0x3A), (0x3F, 0x76, 0x2A), (0xFF, 0xD5, 0x4A),
               (0x9A, 0x8F, 0xA8), (0xF2, 0x9E, 0x5C), (0x2E, 0x5C, 0x8A), (0xC9, 0x4F, 0x3A)]
    SKY, HILL, GROUND, SUN, FAR, DUSK, NIGHT, ROOF = range(4, 12)
    c = Canvas(DEMO_W, DEMO_H, BG)

    def nav_row(y):
        # Four small buttons like the album's, arrows in the text colour.
        for i, kind in enumerate(('first', 'prev', 'next', 'last')):
            x = DEMO_W // 2 - 2 * 24 + i * 24 + 1
            c.rounded(x, y, x + 22, y + 16, 4, CELL)
            for poly in arrow_shapes(kind, x + 11, y + 8, 4.4):
                c.polygon(poly, TEXT)

    nav_row(58)
    # 3 x 2 thumbnail cells with a small photograph each.
    photos = [
        (SKY, HILL, GROUND, SUN, FAR), (DUSK, FAR, GROUND, SUN, None), (SKY, GROUND, HILL, SUN, None),
        (NIGHT, FAR, HILL, SUN, None), (SKY, HILL, GROUND, ROOF, FAR), (DUSK, HILL, FAR, SUN, None)]
    cw, ch, gx, gy = 74, 64, 37, 90
    sizes = [(52, 38), (36, 44), (52, 35), (48, 36), (34, 45), (52, 39)]
    for i, (p, (pw, ph)) in enumerate(zip(photos, sizes)):
        col, row = i % 3, i // 3
        x, y = gx + col * (cw + 3), gy + row * (ch + 3)
        c.rect(x, y, x + cw, y + ch, CELL)
        c.blit(landscape(pw, ph, *p), x + (cw - pw) // 2, y + (ch - ph) // 2)
    nav_row(262)

    # Text-coloured parts sized from the photographs' colour counts, so that
    # the optimised table puts the footer text third and the two rules
    # seventh: footer text above every photograph colour, rules between the
    # third and fourth most used photograph colour.
    photo = sorted((c.px.count(i) for i in range(4, len(palette))), reverse=True)
    rules = (photo[2] + photo[3]) // 2
    rw = rules // 6
    for y in (82, 288):
        c.rect((DEMO_W - rw) // 2, y, (DEMO_W - rw) // 2 + rw, y + 3, TEXT2)
    text = photo[0] + 40 - c.px.count(TEXT)
    tw = text // 6
    for y, w in ((297, tw * 2 // 3), (307, tw - tw * 2 // 3)):
        c.rect((DEMO_W - w) // 2, y, (DEMO_W - w) // 2 + w, y + 6, TEXT)

    counts = [c.px.count(i) for i in range(len(palette))]
    order = sorted(range(len(palette)), key=lambda i: -counts[i])
    if len(set(counts)) != len(counts) or order[0] != BG or order[1] != CELL or order[2] != TEXT \
            or order[6] != TEXT2 or 0 in counts:
        raise SystemExit('screen_demo.gif: colour counts out of order: %r' % counts)
    save(os.path.join(out, 'screen_demo.gif'), gif(DEMO_W, DEMO_H, palette, [c.px]))

# ---------------------------------------------------------------------------
# screen3.gif: the help picture

SCREEN3_W, SCREEN3_H = 560, 360
SCREEN3_LABEL_W = 150          # left band kept free for the two labels
SCREEN3_TITLE_Y = 104          # middle of the title label's line
SCREEN3_DESC_Y = 312           # middle of the description label's line


def make_screen3(out):
    palette = [(0xF0, 0xF0, 0xF0), (0x00, 0x80, 0xC0), (0x00, 0xAB, 0xFD), (0xFF, 0xFF, 0xE1), (0x40, 0x40, 0x40),
               (0x20, 0x20, 0x20), (0xFF, 0xFF, 0xFF), (0x90, 0x90, 0x90), (0xD0, 0x20, 0x20),
               (0x7F, 0xB9, 0xE8), (0x5E, 0x9E, 0x3A), (0x3F, 0x76, 0x2A), (0xFF, 0xD5, 0x4A), (0x9A, 0x8F, 0xA8),
               (0x55, 0x55, 0x55), (0xB0, 0xB0, 0xB0)]
    PAPER, PAGE, CELL, TIP, TIPTEXT, BLACK, WHITE, GREY, RED, SKY, HILL, GROUND, SUN, FAR, DIM, LIGHT = range(16)
    c = Canvas(SCREEN3_W, SCREEN3_H, PAPER)
    L = SCREEN3_LABEL_W

    # Upper part: a piece of an album page with a thumbnail, the mouse over
    # it and the tooltip that shows the title.
    c.rect(L + 10, 10, SCREEN3_W - 10, 150, PAGE)
    c.rect(L + 30, 40, L + 150, 140, CELL)
    c.blit(landscape(100, 76, SKY, HILL, GROUND, SUN, FAR), L + 40, 52)
    c.rect(L + 160, 40, L + 280, 140, CELL)
    c.blit(landscape(100, 76, SKY, FAR, HILL, SUN), L + 170, 52)
    # Mouse pointer on the first thumbnail.
    tip = (L + 104, 70)
    pointer = [(0, 0), (0, 17), (4, 13), (7, 20), (10, 19), (7, 12), (12, 12)]
    c.polygon([(tip[0] + x - 1, tip[1] + y - 1) for x, y in pointer], BLACK)
    c.polygon([(tip[0] + x, tip[1] + y) for x, y in [(1, 3), (1, 14), (4, 11), (7, 17), (8, 16), (5, 10.5), (9, 10.5)]], WHITE)
    # Tooltip with one line of text, at the label's height.
    ty = SCREEN3_TITLE_Y - 11  # below the pointer
    c.rect(L + 118, ty, L + 268, ty + 22, TIP)
    c.frame(L + 118, ty, L + 268, ty + 22, BLACK)
    for x0, x1 in ((L + 126, L + 168), (L + 173, L + 203), (L + 208, L + 258)):
        c.rect(x0, ty + 9, x1, ty + 14, TIPTEXT)
    # Pointer from the label band to the tooltip.
    c.rect(L - 6, SCREEN3_TITLE_Y - 1, L + 104, SCREEN3_TITLE_Y + 2, RED)
    c.polygon([(L + 116, SCREEN3_TITLE_Y + 0.5), (L + 104, SCREEN3_TITLE_Y - 6), (L + 104, SCREEN3_TITLE_Y + 7)], RED)

    # Lower part: the enlarged picture over the dimmed page, its caption
    # below it.
    c.rect(L + 10, 160, SCREEN3_W - 10, SCREEN3_H - 10, DIM)
    bx0, by0, bx1 = L + 60, 172, SCREEN3_W - 60
    c.rounded(bx0, by0, bx1, SCREEN3_H - 22, 8, WHITE)
    c.blit(landscape(bx1 - bx0 - 16, 112, SKY, HILL, GROUND, SUN, FAR), bx0 + 8, by0 + 8)
    # Caption: two lines of text.
    for i, (x0, x1) in enumerate(((bx0 + 14, bx0 + 70), (bx0 + 76, bx0 + 120), (bx0 + 126, bx0 + 200))):
        c.rect(x0, SCREEN3_DESC_Y - 12, x1, SCREEN3_DESC_Y - 6, GREY)
    for x0, x1 in ((bx0 + 14, bx0 + 52), (bx0 + 58, bx0 + 150)):
        c.rect(x0, SCREEN3_DESC_Y + 2, x1, SCREEN3_DESC_Y + 8, GREY)
    c.rect(L - 6, SCREEN3_DESC_Y - 1, bx0 + 2, SCREEN3_DESC_Y + 2, RED)
    c.polygon([(bx0 + 12, SCREEN3_DESC_Y + 0.5), (bx0, SCREEN3_DESC_Y - 6), (bx0, SCREEN3_DESC_Y + 7)], RED)
    save(os.path.join(out, 'screen3.gif'), gif(SCREEN3_W, SCREEN3_H, palette, [c.px]))

# ---------------------------------------------------------------------------
# Glyph bitmaps: 16 x 16, 24-bit, magenta transparent

MAGENTA = (255, 0, 255)


def bmp24(pixels):
    """pixels: 16 rows top-down of 16 (r, g, b)."""
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + b'\0' * (stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def glyph_canvas():
    return Canvas(16, 16, 0)


def rotation_arrow(c, start, sweep, col, head_col=None):
    """A round arrow around the centre from angle start over sweep degrees
    (positive anticlockwise), with its head at the end."""
    head_col = col if head_col is None else head_col
    a0, a1 = (start, start + sweep) if sweep > 0 else (start + sweep, start)
    c.ring(8, 8, 3.6, 5.9, a0 % 360, a1 % 360, col)
    end = math.radians(start + sweep)
    ex, ey = 8 + 4.75 * math.cos(end), 8 - 4.75 * math.sin(end)
    # Tangent direction of travel at the end.
    d = 1 if sweep > 0 else -1
    tx, ty = -math.sin(end) * d, -math.cos(end) * d
    nx, ny = math.cos(end), -math.sin(end)
    c.polygon([(ex + tx * 4.2, ey + ty * 4.2), (ex + nx * 3.6, ey + ny * 3.6), (ex - nx * 3.6, ey - ny * 3.6)], head_col)


def magnifier(c, sign, frame, lens):
    c.disc(7, 7, 4.2, lens)
    c.ring(7, 7, 4.2, 5.8, 0, 359.99, frame)
    c.line(11.2, 11.2, 15, 15, 2.8, frame)
    c.rect(4, 6, 10, 8, frame)
    if sign == '+':
        c.rect(6, 4, 8, 10, frame)


def glyphs():
    """name -> (Canvas, palette list; index 0 is magenta)."""
    ink = (0x1F, 0x4E, 0x8C)     # dark blue
    green = (0x2E, 0x8B, 0x2E)
    red = (0xC0, 0x30, 0x30)
    out = {}

    def one(name, draw, palette):
        c = glyph_canvas()
        draw(c)
        out[name] = (c, [MAGENTA] + palette)

    def tri(c, pts):
        c.polygon(pts, 1)

    # Navigation of the preview toolbar.
    one('TB_FIRST', lambda c: [c.rect(2, 3, 4, 13, 1), tri(c, [(4, 8), (9, 3), (9, 13)]), tri(c, [(8, 8), (13, 3), (13, 13)])], [ink])
    one('TB_PREV', lambda c: tri(c, [(4, 8), (11, 2), (11, 14)]), [ink])
    one('TB_NEXT', lambda c: tri(c, [(12, 8), (5, 2), (5, 14)]), [ink])
    one('TB_LAST', lambda c: [c.rect(12, 3, 14, 13, 1), tri(c, [(12, 8), (7, 3), (7, 13)]), tri(c, [(8, 8), (3, 3), (3, 13)])], [ink])
    lens = (0xD8, 0xEC, 0xFF)
    one('TB_ZOOMOUT', lambda c: magnifier(c, '-', 1, 2), [ink, lens])
    one('TB_ZOOMIN', lambda c: magnifier(c, '+', 1, 2), [ink, lens])

    def one_to_one(c):  # "1:1"
        c.rect(2, 4, 4, 13, 1); c.rect(1, 5, 2, 6, 1)
        c.rect(7, 6, 9, 8, 1); c.rect(7, 10, 9, 12, 1)
        c.rect(12, 4, 14, 13, 1); c.rect(11, 5, 12, 6, 1)
    one('TB_ZOOM100', one_to_one, [ink])

    def fit(c):  # a window with four corner marks pointing outwards
        c.frame(0, 0, 16, 16, 2)
        for sx, sy in ((0, 0), (1, 0), (0, 1), (1, 1)):
            x, y = 2 + sx * 12, 2 + sy * 12
            dx, dy = (1 - 2 * sx), (1 - 2 * sy)
            tri(c, [(x, y), (x + dx * 4.5, y), (x, y + dy * 4.5)])
        c.rect(6, 6, 10, 10, 2)
    one('TB_FIT', fit, [ink, (0x80, 0x80, 0x80)])

    # Rotations: "90" turns anticlockwise, "270" clockwise, "180" half a turn.
    one('TB_ROT90', lambda c: rotation_arrow(c, -60, 250, 1), [ink])
    one('TB_ROT270', lambda c: rotation_arrow(c, 240, -250, 1), [ink])
    one('TB_ROT180', lambda c: rotation_arrow(c, 0, 180, 1), [ink])
    one('TB_ADD', lambda c: [c.rect(6, 2, 10, 14, 1), c.rect(2, 6, 14, 10, 1)], [green])
    one('TB_REMOVE', lambda c: [c.line(3, 3, 13, 13, 3.2, 1), c.line(13, 3, 3, 13, 3.2, 1)], [red])

    # Main window.
    for deg, src in ((90, 'TB_ROT90'), (180, 'TB_ROT180'), (270, 'TB_ROT270')):
        out['GLYPH_ROT%d' % deg] = out[src]

    def original(c):  # an upright picture: frame, sky, hill, sun
        c.rect(1, 3, 15, 13, 1)
        c.rect(2, 4, 14, 12, 2)
        c.shape(lambda x, y: y > 10 - math.sin((x - 2) / 12 * math.pi) * 3, 3, (2, 4, 14, 12))
        c.disc(11, 6.5, 1.5, 4)
    one('GLYPH_ROT0', original, [ink, (0x9C, 0xCB, 0xF0), (0x4E, 0x9A, 0x3A), (0xF5, 0xC5, 0x2A)])
    one('GLYPH_UP', lambda c: [tri(c, [(8, 2), (14, 9), (2, 9)]), c.rect(6, 9, 10, 14, 1)], [ink])
    one('GLYPH_DOWN', lambda c: [tri(c, [(8, 14), (14, 7), (2, 7)]), c.rect(6, 2, 10, 7, 1)], [ink])

    def folder(c):
        c.polygon([(1, 3), (6, 3), (8, 5), (15, 5), (15, 14), (1, 14)], 1)
        c.polygon([(2, 7), (14, 7), (14, 13), (2, 13)], 2)
    one('GLYPH_FOLDER', folder, [(0xB0, 0x80, 0x20), (0xF5, 0xD0, 0x6A)])
    return out


def greyed(palette):
    """The disabled twin: every colour a light grey by its lightness."""
    out = [MAGENTA]
    for r, g, b in palette[1:]:
        y = (r * 299 + g * 587 + b * 114) // 1000
        v = 128 + y * 3 // 8
        out.append((v, v, v))
    return out


def make_glyphs(folder):
    for name, (c, palette) in glyphs().items():
        for suffix, pal in (('', palette), ('_D', greyed(palette))):
            if suffix and name.startswith('GLYPH_'):
                continue
            rows = [[pal[c.get(x, y)] for x in range(16)] for y in range(16)]
            save(os.path.join(folder, name + suffix + '.bmp'), bmp24(rows))

def sort_arrows():
    """name -> 8 rows of 8 (r, g, b): a dark grey point of rows 7, 5, 3 and
    1 pixels wide, up or down, on magenta."""
    ink = (0x55, 0x55, 0x55)
    out = {}
    for name, up in (('TSHELLLIST_LV_ARROWUP', True), ('TSHELLLIST_LV_ARROWDOWN', False)):
        rows = [[MAGENTA] * 8 for _ in range(8)]
        for row in range(4):
            y = 5 - row if up else 2 + row
            for x in range(row, 7 - row):
                rows[y][x] = ink
        out[name] = rows
    return out


def make_sort_arrows(folder):
    for name, rows in sort_arrows().items():
        save(os.path.join(folder, name + '.bmp'), bmp24(rows))

# ---------------------------------------------------------------------------
# Splitter cursors: black shapes with a white rim on a transparent ground.
# HORZ is for a bar between side-by-side panes (two bars, arrows left and
# right); VERT is the same turned for stacked panes. The hot-spot variants
# fill the gap between the two bars, the look of the button that folds a pane.

CURSOR_SIZE = 32
CURSOR_HOT = 15


def splitter_cursor_shape(hot_spot):
    """The set of black (x, y) pixels of the side-by-side cursor."""
    black = set()
    for y in range(9, 23):
        black.add((13, y))
        black.add((18, y))
        if hot_spot and 11 <= y <= 20:
            black.update({(14, y), (15, y), (16, y), (17, y)})
    for x in range(8, 13):          # shafts
        black.add((x, 15))
    for x in range(19, 24):
        black.add((x, 15))
    for d in range(0, 5):           # arrow heads, tips at x 4 and 27
        for y in range(15 - d, 16 + d):
            black.add((4 + d, y))
            black.add((27 - d, y))
    return black


def cur_file(black, hot_x, hot_y):
    """A one-image .cur file: 1 bit per pixel, XOR mask then AND mask."""
    n = CURSOR_SIZE
    rim = set()
    for (x, y) in black:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                q = (x + dx, y + dy)
                if q not in black and 0 <= q[0] < n and 0 <= q[1] < n:
                    rim.add(q)
    xor_rows, and_rows = [], []
    for y in reversed(range(n)):
        xr = ar = 0
        for x in range(n):
            bit = 1 << (n - 1 - x)
            if (x, y) in rim:
                xr |= bit
            elif (x, y) not in black:
                ar |= bit
        xor_rows.append(struct.pack('>I', xr))
        and_rows.append(struct.pack('>I', ar))
    info = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = info + palette + b''.join(xor_rows) + b''.join(and_rows)
    head = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', n, n, 2, 0, hot_x, hot_y, len(image), 6 + 16)
    return head + entry + image


def make_cursors(folder):
    for hot_spot in (False, True):
        black = splitter_cursor_shape(hot_spot)
        turned = {(y, x) for (x, y) in black}
        suffix = 'HOTSPOT' if hot_spot else ''
        save(os.path.join(folder, 'TMSPLIT_HORZ' + suffix + '.cur'),
             cur_file(black, CURSOR_HOT, CURSOR_HOT))
        save(os.path.join(folder, 'TMSPLIT_VERT' + suffix + '.cur'),
             cur_file(turned, CURSOR_HOT, CURSOR_HOT))

# ---------------------------------------------------------------------------
# The image view's cursors, one file per resource name of its cursor table.
# Each is a set of black pixels (the white rim is added by cur_file) and a
# hot spot.

def _segment(black, xa, ya, xb, yb, t=1):
    steps = max(abs(xb - xa), abs(yb - ya), 1)
    for i in range(steps + 1):
        x = xa + (xb - xa) * i / steps
        y = ya + (yb - ya) * i / steps
        for dx in range(t):
            for dy in range(t):
                black.add((int(round(x)) + dx, int(round(y)) + dy))


def _arrow_head(black, tip, direction, size=4):
    """A filled head with its tip at tip, pointing along direction (dx, dy),
    one of the eight compass directions."""
    tx, ty = tip
    dx, dy = direction
    for d in range(size + 1):
        cx, cy = tx - dx * d, ty - dy * d
        for k in range(-d, d + 1):
            if dx and dy:       # diagonal: spread along the other diagonal
                black.add((cx + k, cy - k * dx * dy))
                black.add((cx + k, cy - k * dx * dy + dy))
            elif dx:
                black.add((cx, cy + k))
            else:
                black.add((cx + k, cy))


def _double_arrow(black, a, b):
    (xa, ya), (xb, yb) = a, b
    _segment(black, xa, ya, xb, yb)
    sx = (xb > xa) - (xb < xa)
    sy = (yb > ya) - (yb < ya)
    _arrow_head(black, a, (-sx, -sy))
    _arrow_head(black, b, (sx, sy))


def _cross(gap, box=False, badge=None):
    black = set()
    for d in range(gap, 11):
        black.update({(15 + d, 15), (15 - d, 15), (15, 15 + d), (15, 15 - d)})
    if gap == 0:
        black.add((15, 15))
    if box:
        for d in range(-3, 4):
            black.update({(12, 15 + d), (18, 15 + d), (15 + d, 12), (15 + d, 18)})
    if badge:
        _segment(black, 21, 25, 27, 25, 2)
        if badge == '+':
            _segment(black, 24, 22, 24, 28, 2)
    return black


def _magnifier(sign):
    black = set()
    for y in range(32):
        for x in range(32):
            r = math.hypot(x - 11, y - 11)
            if 6.0 <= r <= 7.6:
                black.add((x, y))
    _segment(black, 16, 16, 24, 24, 3)
    _segment(black, 8, 11, 14, 11)
    if sign == '+':
        _segment(black, 11, 8, 11, 14)
    return black, (11, 11)


def _hand():
    black = set()
    for i, (x, top) in enumerate(((9, 7), (12, 4), (15, 4), (18, 6))):
        for y in range(top, 16):
            black.update({(x, y), (x + 1, y)})
    for y in range(14, 25):
        for x in range(8, 21 - (y > 21)):
            black.add((x, y))
    _segment(black, 7, 17, 4, 13, 2)   # the thumb
    return black, (12, 4)


def _pen():
    black = set()
    _segment(black, 6, 25, 24, 7, 3)
    _segment(black, 3, 28, 6, 25)
    return black, (3, 28)


def _eraser():
    black = set()
    for y in range(32):
        for x in range(32):
            u = (x - y) / math.sqrt(2)          # across the block
            v = (x + y) / math.sqrt(2)          # along it
            if -4.5 <= u <= 4.5 and 14 <= v <= 34 and (v > 30 or abs(u) > 3.3 or v < 15.5):
                black.add((x, y))
    return black, (8, 23)


def _rotation(quadrant):
    """A quarter ring with heads at both ends; quadrant 0 bulges to the upper
    left, the others are its mirrors."""
    black = set()
    for y in range(32):
        for x in range(32):
            if x <= 24 and y <= 24 and 12.5 <= math.hypot(x - 24, y - 24) <= 14.5:
                black.add((x, y))
    for d in range(5):                       # heads at the ring's two ends
        for k in range(-d, d + 1):
            black.add((10 + k + 3, 28 - d))
            black.add((28 - d, 10 + k + 3))
    black = {(x, y) for (x, y) in black if 0 <= x < 31 and 0 <= y < 31}
    fx, fy = quadrant in (1, 2), quadrant in (2, 3)
    black = {(30 - x if fx else x, 30 - y if fy else y) for (x, y) in black}
    return black, (15, 15)


def view_cursor_shapes():
    """Resource name -> (black pixels, hot spot)."""
    centre = (15, 15)
    shapes = {
        'ZOOMMENO': _magnifier('-'),
        'ZOOMPIU': _magnifier('+'),
        'CROCE': (_cross(0), centre),
        'GOMMA': _eraser(),
        'MANO': _hand(),
        'PENNA': _pen(),
        'CROCE1': (_cross(3), centre),
        'CROCE3': (_cross(2), centre),
        'CROCE3+': (_cross(2, badge='+'), centre),
        'CROCE3-': (_cross(2, badge='-'), centre),
        'CROCE2': (_cross(5, box=True), centre),
        'CROCE2+': (_cross(5, box=True, badge='+'), centre),
        'CROCE2-': (_cross(5, box=True, badge='-'), centre),
    }
    moves = {'MOVEX': [((4, 15), (26, 15))], 'MOVEY': [((15, 4), (15, 26))],
             'MOVE1': [((7, 23), (23, 7))], 'MOVE2': [((7, 7), (23, 23))],
             'MOVE': [((4, 15), (26, 15)), ((15, 4), (15, 26))]}
    for name, pairs in moves.items():
        black = set()
        for a, b in pairs:
            _double_arrow(black, a, b)
        shapes[name] = (black, centre)
    for i in range(4):
        shapes['ROT%d' % (i + 1)] = _rotation((2, 1, 3, 0)[i])
    # The numbered entries serve drawing tools of the vector view: a fine
    # cross like CROCE1.
    for n in (1795, 1796, 1797, 1798, 1799, 1800, 1801, 1802, 1803, 1805, 1806, 1807, 1808):
        shapes[str(n)] = (_cross(3), centre)
    return shapes


def view_cursor_file(name):
    """The file of a cursor name: + and - spelt out, so the resource script
    can name the file without quotes."""
    return 'VIEW_' + name.replace('+', '_plus').replace('-', '_minus') + '.cur'


def make_view_cursors(folder):
    for name, (black, (hx, hy)) in view_cursor_shapes().items():
        save(os.path.join(folder, view_cursor_file(name)), cur_file(black, hx, hy))

# ---------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--out', required=True, action='append')
    ap.add_argument('--glyphs')
    args = ap.parse_args()
    for out in args.out:
        make_nav(out)
        make_viewer(out)
        make_languages(out)
        make_screen_demo(out)
        make_screen3(out)
    if args.glyphs:
        make_glyphs(args.glyphs)
        make_sort_arrows(args.glyphs)
        make_cursors(args.glyphs)
        make_view_cursors(args.glyphs)


if __name__ == '__main__':
    main()
