#!/usr/bin/env python3
"""PNG fixtures of the imaging tests, and an independent decoder to check our files.

    python3 tools/make_png_fixtures.py            writes tests/data/imaging/png/*.png
    python3 tools/make_png_fixtures.py check F... decodes PNG files (ours) and checks
                                                  their pixels against the formulas

Everything here uses the Python standard library only (zlib, struct): the files are
assembled chunk by chunk, rows filtered with all five filter types in turn, Adam7 passes
split here, so that nothing of libpng takes part in making or checking them.

Sample formula the tests repeat (sample c of pixel (x, y), bit depth d, max = 2^d - 1):
  d < 8:  (x * 3 + y * 5 + c * 7) % (max + 1)
  d = 8:  (x * 37 + y * 91 + c * 53 + 5) % 256
  d = 16: (x * 4099 + y * 7919 + c * 12345 + 17) % 65536
Palette entry i: red (i * 7) % 256, green 255 - i, blue (i * 3) % 256.
"""
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data",
                   "imaging", "png")

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def sample(depth, x, y, c):
    if depth < 8:
        return (x * 3 + y * 5 + c * 7) % (1 << depth)
    if depth == 8:
        return (x * 37 + y * 91 + c * 53 + 5) % 256
    return (x * 4099 + y * 7919 + c * 12345 + 17) % 65536


def palette_entry(i):
    return ((i * 7) % 256, 255 - i, (i * 3) % 256)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(values, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in values)
    if depth == 8:
        return bytes(values)
    out, acc, bits = bytearray(), 0, 0
    for v in values:
        acc = (acc << depth) | v
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_rows(rows, bpp):
    out, prev = bytearray(), None
    for n, row in enumerate(rows):
        kind = n % 5
        prev_row = prev if prev is not None else bytes(len(row))
        f = bytearray()
        for i, v in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = prev_row[i]
            c = prev_row[i - bpp] if i >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
            f.append((v - pred) & 0xFF)
        out += bytes([kind]) + f
        prev = row
    return bytes(out)


def image_data(width, height, color_type, depth, interlace, pixel):
    channels = CHANNELS[color_type]
    bpp = max(1, channels * depth // 8)

    def rows_of(xs, ys):
        return [pack_row([v for x in xs for v in pixel(x, y)], depth) for y in ys]

    if not interlace:
        return filter_rows(rows_of(range(width), range(height)), bpp)
    data = b""
    for x0, y0, dx, dy in ADAM7:
        xs, ys = range(x0, width, dx), range(y0, height, dy)
        if len(xs) and len(ys):
            data += filter_rows(rows_of(xs, ys), bpp)
    return data


def png(width, height, color_type, depth, interlace=0, extra_before=b"", extra_after=b"",
        pixel=None, level=9):
    channels = CHANNELS[color_type]
    if pixel is None:
        pixel = lambda x, y: [sample(depth, x, y, c) for c in range(channels)]
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, interlace)
    idat = zlib.compress(image_data(width, height, color_type, depth, interlace, pixel), level)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra_before +
            chunk(b"IDAT", idat) + extra_after + chunk(b"IEND", b""))


def plte(count):
    return chunk(b"PLTE", b"".join(bytes(palette_entry(i)) for i in range(count)))


def text(key, value):
    return chunk(b"tEXt", key.encode("latin-1") + b"\0" + value.encode("latin-1"))


def icc_profile(size):
    """An RGB display profile libpng accepts, padded with incompressible tag data."""
    tag = bytearray()
    seed = 12345
    while len(tag) < size:
        seed = (seed * 1103515245 + 12345) % (1 << 31)
        tag.append(seed >> 16 & 0xFF)
    tag_offset = 128 + 4 + 12
    length = tag_offset + len(tag)
    header = struct.pack(">I4sI4s4s4s12s4s4sI4s4sQI12s4s16s28x", length, b"none", 0x02100000,
                         b"mntr", b"RGB ", b"XYZ ", bytes(12), b"acsp", b"APPL", 0, b"none",
                         b"none", 0, 0, struct.pack(">iii", 63190, 65536, 54061),
                         b"none", bytes(16))
    assert len(header) == 128, len(header)
    table = struct.pack(">I4sII", 1, b"zzzz", tag_offset, len(tag))
    return header + table + bytes(tag)


def write_fixtures():
    os.makedirs(OUT, exist_ok=True)
    files = {}
    for depth in (1, 2, 4, 8, 16):
        files[f"grey{depth}.png"] = png(13, 7, 0, depth)
    for depth in (1, 2, 4, 8):
        files[f"palette{depth}.png"] = png(11, 6, 3, depth, extra_before=plte(1 << depth))
    for depth in (8, 16):
        files[f"rgb{depth}.png"] = png(9, 5, 2, depth)
        files[f"rgba{depth}.png"] = png(9, 5, 6, depth)
        files[f"greyalpha{depth}.png"] = png(9, 5, 4, depth)
    # Transparency chunks: grey level 5 + 91 = 96 at (0, 1) is clear; palette entries
    # 0..3 have alpha 0, 80, 160, 240 and the rest are opaque.
    files["grey8_trns.png"] = png(9, 5, 0, 8, extra_before=chunk(b"tRNS", struct.pack(">H", 96)))
    files["palette8_trns.png"] = png(11, 6, 3, 8, extra_before=plte(256) +
                                     chunk(b"tRNS", bytes([0, 80, 160, 240])))
    files["rgb8_adam7.png"] = png(13, 11, 2, 8, interlace=1)
    files["grey2_adam7.png"] = png(13, 11, 0, 2, interlace=1)
    # File gamma 1.0: levels brighten by the power 1 / 2.2 on a 2.2 screen.
    files["grey8_gamma10.png"] = png(9, 5, 0, 8, extra_before=chunk(b"gAMA", struct.pack(">I", 100000)))
    files["chunks.png"] = png(
        5, 3, 2, 8,
        extra_before=text("title", "Lower-case key") + text("Author", "Caf\u00e9 owner") +
        chunk(b"zTXt", b"Description\0\0" + zlib.compress(b"Compressed words")) +
        chunk(b"iTXt", b"Comment\0\0\0\0\0" + "\u00fcber \u2713".encode("utf-8")) +
        chunk(b"bKGD", struct.pack(">HHH", 1, 2, 3)),
        extra_after=chunk(b"tIME", struct.pack(">HBBBBB", 2026, 12, 8, 1, 2, 3)) +
        text("Software", "after the image"))
    long_text = "".join(chr(65 + (i * 7) % 26) for i in range(20000))
    files["long_text.png"] = png(4, 4, 0, 8, extra_before=text("Description", long_text))
    profile = icc_profile(12000)
    files["icc_profile.png"] = png(4, 4, 2, 8, extra_before=chunk(
        b"iCCP", b"Noise profile\0\0" + zlib.compress(profile, 9)))
    good = png(16, 16, 2, 8, level=0)
    files["truncated.png"] = good[:len(good) // 2]
    broken = bytearray(good)
    idat = broken.index(b"IDAT")
    broken[idat + 40] ^= 0x55  # inside the stored image data: its checksums fail
    files["bad_data.png"] = bytes(broken)
    broken = bytearray(good)
    broken[8 + 8 + 13 + 3] ^= 0x01  # the last byte of the header chunk's CRC
    files["bad_crc.png"] = bytes(broken)
    files["not_png.png"] = b"BM\x00\x00 this is a bitmap, not a PNG"
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(files)} files to {os.path.normpath(OUT)}")


# ---- an independent decoder for files written by our code ---------------------------

def decode(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, f"CRC of {kind}"
        chunks.append((kind, body))
        pos += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1][0] == b"IEND", "chunk order"
    width, height, depth, color_type, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    raw = zlib.decompress(b"".join(b for k, b in chunks if k == b"IDAT"))
    channels = CHANNELS[color_type]
    bits = channels * depth
    bpp = max(1, bits // 8)
    pixels = {}

    def unfilter(xs, ys, pos):
        stride = (len(xs) * bits + 7) // 8
        prev = bytes(stride)
        for y in ys:
            kind, row = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
            pos += 1 + stride
            for i in range(stride):
                a = row[i - bpp] if i >= bpp else 0
                b, c = prev[i], prev[i - bpp] if i >= bpp else 0
                row[i] = (row[i] + [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]) & 0xFF
            prev = bytes(row)
            values = []
            if depth == 16:
                values = [struct.unpack(">H", row[i:i + 2])[0] for i in range(0, len(row), 2)]
            elif depth == 8:
                values = list(row)
            else:
                for byte in row:
                    for shift in range(8 - depth, -1, -depth):
                        values.append(byte >> shift & ((1 << depth) - 1))
            for n, x in enumerate(xs):
                pixels[(x, y)] = values[n * channels:(n + 1) * channels]
        return pos

    if interlace:
        pos = 0
        for x0, y0, dx, dy in ADAM7:
            xs, ys = range(x0, width, dx), range(y0, height, dy)
            if len(xs) and len(ys):
                pos = unfilter(xs, ys, pos)
    else:
        unfilter(range(width), range(height), 0)
    texts = {k: v for k, v in (b.split(b"\0", 1) for kind, b in chunks if kind == b"tEXt")}
    times = [struct.unpack(">HBBBBB", b) for kind, b in chunks if kind == b"tIME"]
    return width, height, depth, color_type, interlace, pixels, texts, times


def check(paths):
    failures = 0
    for path in paths:
        width, height, depth, color_type, interlace, pixels, texts, times = decode(path)
        channels = CHANNELS[color_type]
        wrong = sum(1 for (x, y), v in pixels.items()
                    if v != [sample(depth, x, y, c) for c in range(channels)])
        failures += wrong
        print(f"{os.path.basename(path)}: {width} x {height}, depth {depth}, colour type "
              f"{color_type}, interlace {interlace}, {len(pixels)} pixels, {wrong} wrong, "
              f"texts {texts}, time {times}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2:]))
    write_fixtures()
