#!/usr/bin/env python3
"""Draws the viewer's 48x48 icon as a PNG, with nothing but the standard library.

The picture is the one in io.github.qelviewer.QelViewer.svg, same geometry:
a dark teal rounded square with a yellow five-pointed star outlined in dark
brown, centred. Each pixel averages 8x8 samples so the edges are smooth.

    draw_icon.py            writes io.github.qelviewer.QelViewer.png here
    draw_icon.py --check    exits 1 when the committed PNG's pixels differ
                            from what this script draws

The Windows icon (resources/win32/make_icon.py) is drawn by the same code.
"""
import math
import os
import struct
import sys
import zlib

SIZE = 48
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

HERE = os.path.dirname(os.path.abspath(__file__))
PNG_PATH = os.path.join(HERE, "io.github.qelviewer.QelViewer.png")


class Shape:
    """The icon's outlines scaled to one image size, in pixel units. The
    outline is a stroke with round joins, outline_half_width pixels either
    side of each edge."""

    def __init__(self, size, outline_half_width):
        scale = size / GRID
        self.square_min = SQUARE_MIN * scale
        self.square_max = SQUARE_MAX * scale
        self.corner = CORNER * scale
        self.outline_limit = outline_half_width ** 2
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


def render(size, outline_half_width):
    """Rows of (r, g, b, a) tuples, top row first."""
    shape = Shape(size, outline_half_width)
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


def png_rows():
    """The 48x48 icon as rows of RGBA bytes; its outline is two pixels wide."""
    return [bytes(v for pixel in row for v in pixel) for row in render(SIZE, 1.0)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(rows):
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def decode_own_png(data):
    """The raw rows of a PNG this script wrote, or None if it is not one."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if header != struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0):
        return None
    try:
        raw = zlib.decompress(idat)
    except zlib.error:
        return None
    stride = 1 + 4 * SIZE
    if len(raw) != stride * SIZE or any(raw[i * stride] != 0 for i in range(SIZE)):
        return None
    return [raw[i * stride + 1:(i + 1) * stride] for i in range(SIZE)]


def main(argv):
    rows = png_rows()
    if len(argv) > 1 and argv[1] == "--check":
        try:
            with open(PNG_PATH, "rb") as f:
                committed = decode_own_png(f.read())
        except OSError as e:
            print(f"cannot read {PNG_PATH}: {e}", file=sys.stderr)
            return 1
        if committed != rows:
            print(f"{PNG_PATH} does not match the drawing; run {argv[0]} to redraw it",
                  file=sys.stderr)
            return 1
        return 0
    with open(PNG_PATH, "wb") as f:
        f.write(encode_png(rows))
    print(f"wrote {PNG_PATH}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
