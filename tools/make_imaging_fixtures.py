#!/usr/bin/env python3
"""Writes the small BMP and JPEG fixtures of the imaging tests into tests/data/imaging/.

BMP files are assembled here byte by byte with the standard library, independently of
the reader under test; JPEG files are encoded by cjpeg from Debian's
libjpeg-turbo-progs (apt-get install libjpeg-turbo-progs). Run from the repository
root: python3 tools/make_imaging_fixtures.py

Pixel values follow formulas the tests repeat:
  palette entry i of the 8-bit files: red (i * 7) % 256, green (255 - i), blue (i * 3) % 256
  8-bit index at (x, y):              (x * 37 + y * 91 + 5) % 256
  24-bit pixel at (x, y):             red (x * 50 + 10) % 256, green (y * 70 + 20) % 256,
                                      blue (x * 20 + y * 30) % 256
  JPEG test image at (x, y), 48 x 32: red 4 x + 40, green 5 y + 30, blue 200 - 2 x - y
  (grey variant: 3 x + 2 y + 20)
"""
import os
import struct
import subprocess
import sys
import tempfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "imaging")


def palette_entry(i):
    return bytes(((i * 3) % 256, 255 - i, (i * 7) % 256, 0))  # B, G, R, 0


def index_at(x, y):
    return (x * 37 + y * 91 + 5) % 256


def rgb_at(x, y):
    return ((x * 50 + 10) % 256, (y * 70 + 20) % 256, (x * 20 + y * 30) % 256)


def row_bytes(width, bits):
    return (width * bits + 31) // 32 * 4


def bmp(width, height, bits, rows, palette=b"", colours_used=0, colours_important=0,
        top_down=False, off_bits=None, size_image=None):
    """rows: list of unpadded rows, top row first."""
    stride = row_bytes(width, bits)
    ordered = rows if top_down else list(reversed(rows))
    pixels = b"".join(r + b"\0" * (stride - len(r)) for r in ordered)
    headers = 14 + 40 + len(palette)
    if off_bits is None:
        off_bits = headers
    if size_image is None:
        size_image = len(pixels)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                       size_image, 2835, 2835, colours_used, colours_important)
    head = struct.pack("<2sIHHI", b"BM", headers + len(pixels), 0, 0, off_bits)
    return head + info + palette + pixels


def pal8_rows(width, height):
    return [bytes(index_at(x, y) for x in range(width)) for y in range(height)]


def rgb24_rows(width, height):
    rows = []
    for y in range(height):
        r = b""
        for x in range(width):
            red, green, blue = rgb_at(x, y)
            r += bytes((blue, green, red))
        rows.append(r)
    return rows


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    full_palette = b"".join(palette_entry(i) for i in range(256))

    write("pal8_bottomup_w5.bmp", bmp(5, 3, 8, pal8_rows(5, 3), full_palette))
    write("pal8_topdown_w7.bmp", bmp(7, 4, 8, pal8_rows(7, 4), full_palette, top_down=True))
    write("rgb24_bottomup_w3.bmp", bmp(3, 2, 24, rgb24_rows(3, 2)))
    write("rgb24_topdown_w5.bmp", bmp(5, 3, 24, rgb24_rows(5, 3), top_down=True))

    # A 4-bit file: indices (x + y) % 16 packed two to a byte, 16-entry palette.
    rows4 = []
    for y in range(3):
        nibbles = [(x + y) % 16 for x in range(9)] + [0]
        rows4.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, 10, 2)))
    write("pal4_w9.bmp", bmp(9, 3, 4, rows4, b"".join(palette_entry(i) for i in range(16))))

    # A writer's fault: 224 colours declared (used and important), a full 256-entry
    # palette carried, and the pixel offset computed from the declared count.
    write("pal8_224_colours.bmp",
          bmp(6, 4, 8, pal8_rows(6, 4), full_palette, colours_used=224,
              colours_important=224, off_bits=14 + 40 + 4 * 224))
    # Another: 2080 pixels wide with a wrong image-size field.
    write("pal8_2080_wrong_size.bmp",
          bmp(2080, 2, 8, pal8_rows(2080, 2), full_palette, size_image=12345))

    # Cut short inside the pixel data.
    whole = bmp(5, 3, 24, rgb24_rows(5, 3))
    write("rgb24_truncated.bmp", whole[:len(whole) - 20])

    # JPEGs from cjpeg, a smooth image so that the tolerance can be small.
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        pgm = os.path.join(tmp, "in.pgm")
        w, h = 48, 32
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (w, h))
            for y in range(h):
                for x in range(w):
                    f.write(bytes((4 * x + 40, 5 * y + 30, 200 - 2 * x - y)))
        with open(pgm, "wb") as f:
            f.write(b"P5\n%d %d\n255\n" % (w, h))
            for y in range(h):
                f.write(bytes(3 * x + 2 * y + 20 for x in range(w)))
        for src, name in ((ppm, "cjpeg_colour_48x32.jpg"), (pgm, "cjpeg_grey_48x32.jpg")):
            subprocess.run(["cjpeg", "-quality", "95", "-outfile",
                            os.path.join(OUT, name), src], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
