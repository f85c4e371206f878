#!/usr/bin/env python3
"""Draws the Windows program's icon, QelViewer.ico, with nothing but the
standard library.

The picture matches the Linux icon (resources/icons): a dark teal rounded
square with a yellow five-pointed star outlined in dark brown, centred. The
geometry is laid out on a 48-unit grid and scaled to each size; only the
outline keeps a minimum width so that it still shows at 16x16. Each pixel
averages 8x8 samples so the edges are smooth.

The file holds a 16x16 and a 32x32 image, each a 32-bit BGRA bitmap with its
1-bit AND mask (set where the pixel is fully transparent, for systems that
ignore alpha).

    make_icon.py            writes QelViewer.ico next to this script
    make_icon.py --check    exits 1 when the committed QelViewer.ico differs
                            from what this script draws
    make_icon.py --out F    writes the icon to F instead
"""
import math
import os
import struct
import sys

SIZES = (16, 32)
SAMPLES = 8
GRID = 48.0

TEAL = (0x1F, 0x5F, 0x6B)
YELLOW = (0xFF, 0xC4, 0x00)
BROWN = (0x7A, 0x4A, 0x00)

# On the 48-unit grid: the square spans 2..46 with corner radius 9; the star
# has outer radius 17, the regular star's inner radius, its first point
# straight up, and sits lower by half the gap its lower points leave so that
# its bounding box is centred in the square.
SQUARE_MIN, SQUARE_MAX, CORNER = 2.0, 46.0, 9.0
OUTER = 17.0
INNER = OUTER * math.sin(math.radians(18)) / math.sin(math.radians(126))
CENTRE_X = 24.0
CENTRE_Y = 24.0 + OUTER * (1.0 - math.cos(math.radians(36))) / 2.0

# Half the outline's width in pixels of the image drawn: a one-pixel line at
# 16x16, a pixel and a half at 32x32.
OUTLINE_HALF_WIDTH_PX = {16: 0.5, 32: 0.75}

HERE = os.path.dirname(os.path.abspath(__file__))
ICO_PATH = os.path.join(HERE, "QelViewer.ico")


class Shape:
    """The icon's outlines scaled to one image size, in pixel units."""

    def __init__(self, size):
        scale = size / GRID
        self.square_min = SQUARE_MIN * scale
        self.square_max = SQUARE_MAX * scale
        self.corner = CORNER * scale
        self.outline_limit = OUTLINE_HALF_WIDTH_PX[size] ** 2
        points = []
        for i in range(10):
            angle = math.radians(-90 + 36 * i)
            radius = OUTER if i % 2 == 0 else INNER
            points.append(((CENTRE_X + radius * math.cos(angle)) * scale,
                           (CENTRE_Y + radius * math.sin(angle)) * scale))
        self.edges = [(points[i], points[(i + 1) % 10]) for i in range(10)]

    def in_square(self, x, y):
        lo, hi, r = self.square_min, self.square_max, self.corner
        if not (lo <= x <= hi and lo <= y <= hi):
            return False
        cx = min(max(x, lo + r), hi - r)
        cy = min(max(y, lo + r), hi - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    def in_star(self, x, y):
        inside = False
        for (x0, y0), (x1, y1) in self.edges:
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside

    def near_outline(self, x, y):
        for (x0, y0), (x1, y1) in self.edges:
            dx, dy = x1 - x0, y1 - y0
            t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)
            t = min(max(t, 0.0), 1.0)
            if (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= self.outline_limit:
                return True
        return False

    def colour_at(self, x, y):
        """RGB at a point, or None where the icon is transparent."""
        if self.near_outline(x, y):
            return BROWN
        if self.in_star(x, y):
            return YELLOW
        if self.in_square(x, y):
            return TEAL
        return None


def render(size):
    """Rows of (r, g, b, a) tuples, top row first."""
    shape = Shape(size)
    n = SAMPLES * SAMPLES
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shape.colour_at(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                # Colour averaged over the covered samples, coverage as alpha.
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
        rows.append(row)
    return rows


def encode_image(size, rows):
    """One icon image: info header (height doubled for the mask), BGRA rows
    bottom-up, then the AND mask bottom-up with rows padded to 4 bytes."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def encode_ico():
    images = [encode_image(size, render(size)) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        # Width, height, colour count, reserved, planes, bits, bytes, offset.
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main(argv):
    data = encode_ico()
    if argv[1:2] == ["--check"]:
        try:
            with open(ICO_PATH, "rb") as f:
                committed = f.read()
        except OSError as e:
            print("cannot read %s: %s" % (ICO_PATH, e), file=sys.stderr)
            return 1
        if committed != data:
            print("%s is out of date: run %s" % (ICO_PATH, argv[0]), file=sys.stderr)
            return 1
        return 0
    path = ICO_PATH
    if argv[1:2] == ["--out"] and len(argv) == 3:
        path = argv[2]
    elif len(argv) > 1:
        print(__doc__, file=sys.stderr)
        return 2
    with open(path, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
