#!/usr/bin/python3
"""Draws Vantrell's artwork (bitmaps and icons) from simple shapes.

Run from anywhere with Debian's python3 (needs python3-pil):

    /usr/bin/python3 scripts/draw_images.py

Every picture is drawn at 4x its final size and reduced with LANCZOS, which
gives clean anti-aliased edges.  Nothing random or time dependent goes into
the files, so running the script again reproduces them byte for byte.
"""

import math
import os
import struct
from io import BytesIO

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SUPER = 4  # supersampling factor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES_DIR = os.path.join(ROOT, "resources")
IMG_DIR = os.path.join(RES_DIR, "images")

# Palette
NAVY_TOP = (38, 84, 158)
NAVY_BOTTOM = (16, 42, 92)
PERSON_FRONT = (255, 255, 255)
PERSON_BACK = (128, 184, 255)
HEADER_GLYPH = (206, 228, 255)   # light blue-white, reads on a black header
BUTTON_GLYPH = (36, 58, 92)      # dark slate blue, reads on a white button
ORANGE_TOP = (247, 148, 44)
ORANGE_BOTTOM = (206, 92, 12)
WRENCH_DARK = (44, 52, 64)
BUTTON_FONT = "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf"   # fonts-liberation


# ---------------------------------------------------------------------------
# Drawing helpers.  A Canvas takes coordinates in final pixels (floats are
# fine) and draws them scaled up on the oversized working image.
# ---------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h=None):
        h = w if h is None else h
        self.w, self.h = w, h
        self.img = Image.new("RGBA", (w * SUPER, h * SUPER), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.img)

    @staticmethod
    def s(v):
        return v * SUPER

    def box(self, x0, y0, x1, y1):
        return [self.s(x0), self.s(y0), self.s(x1), self.s(y1)]

    def pts(self, points):
        return [(self.s(x), self.s(y)) for x, y in points]

    def finish(self):
        return self.img.resize((self.w, self.h), Image.Resampling.LANCZOS)


class Mask:
    """Greyscale coverage mask, used for shapes with holes cut into them."""

    def __init__(self, w, h=None):
        h = w if h is None else h
        self.w, self.h = w, h
        self.img = Image.new("L", (w * SUPER, h * SUPER), 0)
        self.draw = ImageDraw.Draw(self.img)

    s = staticmethod(Canvas.s)
    box = Canvas.box
    pts = Canvas.pts

    def circle(self, cx, cy, r, on=True):
        self.draw.ellipse(self.box(cx - r, cy - r, cx + r, cy + r),
                          fill=255 if on else 0)

    def polygon(self, points, on=True):
        self.draw.polygon(self.pts(points), fill=255 if on else 0)

    def line(self, x0, y0, x1, y1, width, on=True):
        """Straight stroke with round caps."""
        fill = 255 if on else 0
        self.draw.line(self.pts([(x0, y0), (x1, y1)]), fill=fill,
                       width=round(self.s(width)))
        self.circle(x0, y0, width / 2, on)
        self.circle(x1, y1, width / 2, on)

    def arc(self, cx, cy, r, start, end, width, on=True):
        """Arc of a circle (degrees, clockwise from 3 o'clock), round caps."""
        fill = 255 if on else 0
        ro = r + width / 2
        self.draw.arc(self.box(cx - ro, cy - ro, cx + ro, cy + ro),
                      start, end, fill=fill, width=round(self.s(width)))
        for a in (start, end):
            x, y = polar(cx, cy, r, a)
            self.circle(x, y, width / 2, on)

    def rounded(self, x0, y0, x1, y1, radius, on=True):
        self.draw.rounded_rectangle(self.box(x0, y0, x1, y1),
                                    radius=self.s(radius),
                                    fill=255 if on else 0)

    def grow(self, amount):
        """Return a copy dilated by `amount` final pixels (for halos)."""
        k = int(round(self.s(amount))) * 2 + 1
        out = Mask(self.w, self.h)
        out.img = self.img.filter(ImageFilter.MaxFilter(k))
        out.draw = ImageDraw.Draw(out.img)
        return out


def polar(cx, cy, r, deg):
    a = math.radians(deg)
    return cx + r * math.cos(a), cy + r * math.sin(a)


def paint(canvas, mask, colour):
    """Composite a solid colour through a mask onto the canvas."""
    layer = Image.new("RGBA", canvas.img.size, colour + (255,))
    layer.putalpha(mask.img)
    canvas.img.alpha_composite(layer)


def erase(canvas, mask):
    """Make the canvas transparent wherever the mask is set."""
    alpha = canvas.img.getchannel("A")
    inv = mask.img.point(lambda v: 255 - v)
    canvas.img.putalpha(ImageChops.multiply(alpha, inv))


def gradient(canvas, mask, top, bottom, y0=0.0, y1=None):
    """Vertical two-colour gradient painted through a mask."""
    w, h = canvas.img.size
    y1 = canvas.h if y1 is None else y1
    a, b = canvas.s(y0), canvas.s(y1)
    column = Image.new("RGBA", (1, h))
    for y in range(h):
        t = min(1.0, max(0.0, (y - a) / max(1.0, b - a)))
        column.putpixel((0, y), tuple(
            int(round(top[i] + (bottom[i] - top[i]) * t)) for i in range(3))
            + (255,))
    layer = column.resize((w, h), Image.Resampling.NEAREST)
    layer.putalpha(mask.img)
    canvas.img.alpha_composite(layer)


def rotate_points(points, cx, cy, deg):
    a = math.radians(deg)
    c, s = math.cos(a), math.sin(a)
    return [(cx + (x - cx) * c - (y - cy) * s,
             cy + (x - cx) * s + (y - cy) * c) for x, y in points]


# ---------------------------------------------------------------------------
# Reusable motifs
# ---------------------------------------------------------------------------

def person_mask(size, cx, top, scale):
    """Head and shoulders silhouette, `scale` = head radius in pixels."""
    m = Mask(size)
    r = scale
    m.circle(cx, top + r, r)
    # shoulders: upper half of a wide ellipse, starting a little below the head
    sy = top + 2 * r + r * 0.35
    bw, bh = r * 1.85, r * 1.9
    m.draw.pieslice(m.box(cx - bw, sy, cx + bw, sy + 2 * bh), 180, 360,
                    fill=255)
    # carry the body straight down past the bottom edge; the tile clips it
    m.draw.rectangle(m.box(cx - bw, sy + bh, cx + bw, size + 1), fill=255)
    return m


def tile_mask(size):
    pad = max(0.5, size / 32)
    m = Mask(size)
    m.rounded(pad, pad, size - pad, size - pad, size * 0.2)
    return m


def full(size):
    m = Mask(size)
    m.img.paste(255, (0, 0) + m.img.size)
    return m


def clip_to(c, mask):
    """Cut the finished drawing to a shape, so figures that run off the
    tile's edge get the same clean rounded outline as the tile itself."""
    c.img.putalpha(ImageChops.multiply(c.img.getchannel("A"), mask.img))


def emblem(size):
    """Two people on a rounded dark-blue tile."""
    c = Canvas(size)
    gradient(c, full(size), NAVY_TOP, NAVY_BOTTOM)
    u = size / 64.0

    back = person_mask(size, 40 * u, 13 * u, 8.5 * u)
    front = person_mask(size, 26 * u, 19 * u, 10 * u)
    paint(c, back, PERSON_BACK)
    # a gap in the tile colour keeps the two figures apart
    gradient(c, front.grow(max(1.0, 2.2 * u)), NAVY_TOP, NAVY_BOTTOM)
    paint(c, front, PERSON_FRONT)
    clip_to(c, tile_mask(size))
    return c.finish()


def wrench_mask(size, x0, y0, x1, y1, width):
    """Open-ended wrench lying from (x0, y0) (handle) to (x1, y1) (head)."""
    m = Mask(size)
    m.line(x0, y0, x1, y1, width)
    head_r = width * 1.25
    m.circle(x1, y1, head_r)
    # jaw: a slot cut in from the head's far end along the wrench axis
    ang = math.degrees(math.atan2(y1 - y0, x1 - x0))
    jw = width * 0.95
    slot = [(x1 - head_r * 0.05, y1 - jw / 2), (x1 + head_r * 2, y1 - jw / 2),
            (x1 + head_r * 2, y1 + jw / 2), (x1 - head_r * 0.05, y1 + jw / 2)]
    m.polygon(rotate_points(slot, x1, y1, ang), on=False)
    m.circle(x1 - head_r * 0.05, y1, jw / 2, on=False)
    return m


def refresh_mask(size, cx, cy, r, width, head):
    """Circular arrow going clockwise with the head near 12 o'clock."""
    m = Mask(size)
    start, end = -50, 250          # gap at the upper right
    m.arc(cx, cy, r, start, end, width)
    # arrow head at the end of the arc, pointing along the clockwise tangent
    ex, ey = polar(cx, cy, r, end)
    t = math.radians(end + 90)     # tangent direction
    tx, ty = math.cos(t), math.sin(t)
    nx, ny = -ty, tx
    tip = (ex + tx * head * 1.05, ey + ty * head * 1.05)
    b1 = (ex - tx * head * 0.25 + nx * head, ey - ty * head * 0.25 + ny * head)
    b2 = (ex - tx * head * 0.25 - nx * head, ey - ty * head * 0.25 - ny * head)
    m.polygon([tip, b1, b2])
    return m


# ---------------------------------------------------------------------------
# One function per picture
# ---------------------------------------------------------------------------

def draw_app(size):
    return emblem(size)


def draw_help(size):
    c = Canvas(size)
    m = Mask(size)
    m.circle(10, 10, 9.4)
    # question mark, cut out of the disc
    m.arc(10, 7.6, 3.0, 190, 400, 2.3, on=False)
    m.line(10.3, 10.6, 10.0, 11.6, 2.3, on=False)
    qx, qy = polar(10, 7.6, 3.0, 400)
    m.line(qx, qy, 10.3, 10.6, 2.3, on=False)
    m.circle(10, 15.1, 1.35, on=False)
    paint(c, m, HEADER_GLYPH)
    return c.finish()


def draw_info(size):
    c = Canvas(size)
    m = Mask(size)
    m.circle(10, 10, 9.4)
    m.circle(10, 5.6, 1.45, on=False)
    m.line(10, 9.2, 10, 14.6, 2.5, on=False)
    paint(c, m, HEADER_GLYPH)
    return c.finish()


def draw_refresh(size):
    c = Canvas(size)
    paint(c, refresh_mask(size, 10, 10.6, 6.0, 2.3, 4.0), HEADER_GLYPH)
    return c.finish()


def draw_button(w, h):
    c = Canvas(w, h)
    m = Mask(w, h)
    m.rounded(0, 0, w, h, 6)
    border = Canvas(w, h)
    gradient(border, m, (120, 120, 120), (70, 70, 70))
    inner = Mask(w, h)
    inner.rounded(1, 1, w - 1, h - 1, 5)
    c.img.alpha_composite(border.img)
    gradient(c, inner, (62, 62, 62), (6, 6, 6), 1, h - 1)
    # faint sheen along the top edge
    sheen = Mask(w, h)
    sheen.draw.rectangle(sheen.box(6, 1, w - 6, 2), fill=40)
    paint(c, sheen, (255, 255, 255))
    # The about box shows this button to ask for donations.
    label = Mask(w, h)
    font = ImageFont.truetype(BUTTON_FONT, label.s(17))
    left, top, right, bottom = label.draw.textbbox((0, 0), "Donate", font=font)
    x = (label.s(w) - (right - left)) / 2 - left
    y = (label.s(h) - (bottom - top)) / 2 - top
    label.draw.text((x, y), "Donate", font=font, fill=255)
    paint(c, label, (255, 255, 255))
    return c.finish()


def draw_repair(size):
    c = Canvas(size)
    paint(c, wrench_mask(size, 4.0, 16.0, 12.8, 7.2, 3.3), HEADER_GLYPH)
    return c.finish()


def draw_refresh_button(size):
    c = Canvas(size)
    paint(c, refresh_mask(size, 12, 12.6, 7.3, 2.6, 4.6), BUTTON_GLYPH)
    return c.finish()


def draw_back(size):
    c = Canvas(size)
    m = Mask(size)
    m.line(5.5, 12, 19, 12, 2.8)
    m.line(5.5, 12, 11.5, 6, 2.8)
    m.line(5.5, 12, 11.5, 18, 2.8)
    paint(c, m, BUTTON_GLYPH)
    return c.finish()


def draw_repair_icon(size):
    """A person with a wrench across it on a rounded orange tile."""
    c = Canvas(size)
    gradient(c, full(size), ORANGE_TOP, ORANGE_BOTTOM)
    u = size / 64.0
    # small sizes get a chunkier wrench so its head stays readable
    thick = 7 * u if size >= 32 else 8.5 * u

    paint(c, person_mask(size, 27 * u, 11 * u, 10.5 * u), PERSON_FRONT)
    wrench = wrench_mask(size, 25 * u, 52 * u, 47 * u, 30 * u, thick)
    gradient(c, wrench.grow(max(1.0, 2.5 * u)), ORANGE_TOP, ORANGE_BOTTOM)
    paint(c, wrench, WRENCH_DARK)
    clip_to(c, tile_mask(size))
    return c.finish()


# ---------------------------------------------------------------------------
# Output
# ---------------------------------------------------------------------------

ICON_SIZES = (16, 24, 32, 48, 64, 256)

PICTURES = {
    "images/200_app.png": ((64, 64), draw_app),
    "images/201_help.png": ((20, 20), draw_help),
    "images/202_info.png": ((20, 20), draw_info),
    "images/203_refresh.png": ((20, 20), draw_refresh),
    "images/204_button.png": ((147, 47), draw_button),
    "images/205_repair.png": ((20, 20), draw_repair),
    "images/206_refresh_button.png": ((24, 24), draw_refresh_button),
    "images/207_back.png": ((24, 24), draw_back),
}

ICONS = {
    "vantrell.ico": (ICON_SIZES, draw_app),
    "repair.ico": (ICON_SIZES, draw_repair_icon),
}


def render(size, func):
    w, h = size
    return func(w) if w == h else func(w, h)


def dib_entry(im):
    """32-bit BGRA DIB with AND mask, as stored inside an .ico file."""
    w, h = im.size
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0,
                         0, 0, 0, 0, 0)
    px = im.tobytes("raw", "BGRA")
    rows = [px[y * w * 4:(y + 1) * w * 4] for y in range(h)]
    xor = b"".join(reversed(rows))
    alpha = im.getchannel("A")
    stride = ((w + 31) // 32) * 4
    and_rows = []
    for y in range(h - 1, -1, -1):
        bits = bytearray(stride)
        for x in range(w):
            if alpha.getpixel((x, y)) == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    return header + xor + b"".join(and_rows)


def png_bytes(im):
    buf = BytesIO()
    im.save(buf, "PNG", optimize=True)
    return buf.getvalue()


def write_ico(path, images):
    """Classic layout: DIB frames for the small sizes, PNG for 256."""
    blobs = [png_bytes(im) if im.size[0] >= 256 else dib_entry(im)
             for im in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for im, blob in zip(images, blobs):
        w, h = im.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32,
                           len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    os.makedirs(IMG_DIR, exist_ok=True)
    for name, (size, func) in PICTURES.items():
        im = render(size, func)
        assert im.size == size, name
        with open(os.path.join(RES_DIR, name), "wb") as f:
            f.write(png_bytes(im))
        print("wrote", os.path.join("resources", name))
    for name, (sizes, func) in ICONS.items():
        write_ico(os.path.join(RES_DIR, name), [func(s) for s in sizes])
        print("wrote", os.path.join("resources", name))


if __name__ == "__main__":
    main()
