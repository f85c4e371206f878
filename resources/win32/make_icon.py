#!/usr/bin/env python3
"""Draws the Windows program's icon, QelViewer.ico, with nothing but the
standard library.

The picture is the Linux icon, drawn by resources/icons/draw_icon.py: a dark
teal rounded square with a yellow five-pointed star outlined in dark brown,
centred, scaled to each size; only the outline keeps a minimum width so that
it still shows at 16x16.

The file holds a 16x16 and a 32x32 image, each a 32-bit BGRA bitmap with its
1-bit AND mask (set where the pixel is fully transparent, for systems that
ignore alpha).

    make_icon.py            writes QelViewer.ico next to this script
    make_icon.py --check    exits 1 when the committed QelViewer.ico differs
                            from what this script draws
    make_icon.py --out F    writes the icon to F instead
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing to leave behind in the source tree
sys.path.insert(0, os.path.join(HERE, os.pardir, "icons"))
from draw_icon import render  # noqa: E402  (the one drawing of the icon)

SIZES = (16, 32)

# Half the outline's width in pixels of the image drawn: a one-pixel line at
# 16x16, a pixel and a half at 32x32.
OUTLINE_HALF_WIDTH_PX = {16: 0.5, 32: 0.75}

ICO_PATH = os.path.join(HERE, "QelViewer.ico")


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
    images = [encode_image(size, render(size, OUTLINE_HALF_WIDTH_PX[size])) for size in SIZES]
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
