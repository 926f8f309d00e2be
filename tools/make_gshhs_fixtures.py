#!/usr/bin/env python3
"""Writes small GSHHS shoreline files for the cartography tests, in both byte orders.

GSHHS 2.x layout: each polygon is a 44-byte header of eleven 32-bit integers
(id, n, flag, west, east, south, north, area, area_full, container, ancestor) followed by
n points of two 32-bit integers (x, y) in micro-degrees, x from 0 to 360. flag holds the
level in its low byte and the format version (15) in its second byte; area is in tenths
of a square kilometre. Standard library only.

Usage: tools/make_gshhs_fixtures.py [OUTPUT_FOLDER]   (default tests/data/cartography)
"""
import os
import struct
import sys

VERSION = 15

# (level, area in 0.1 km^2, points as (lon, lat) degrees)
POLYGONS = [
    (1, 5000, [(10.0, 50.0), (11.0, 50.0), (11.0, 51.0), (10.0, 51.0)]),  # land
    (2, 99, [(10.2, 50.2), (10.3, 50.2), (10.3, 50.3)]),                  # small lake: skipped
    (2, 100, [(10.5, 50.5), (10.6, 50.5), (10.6, 50.6)]),                 # lake: loaded
    (3, 10, [(10.55, 50.55), (10.56, 50.55), (10.56, 50.56)]),            # island in lake
    (4, 10, [(10.555, 50.555), (10.556, 50.555), (10.556, 50.556)]),      # skipped
    (5, 10, [(20.0, -70.0), (21.0, -70.0), (21.0, -71.0)]),               # skipped
    (6, 10, [(30.0, -75.0), (31.0, -75.0), (31.0, -76.0)]),               # grounding line
    (1, 7000, [(190.0, 10.0), (200.0, 10.0), (195.0, 15.0)]),             # east of 180
]


def write(path, order):
    with open(path, "wb") as f:
        for i, (level, area, points) in enumerate(POLYGONS):
            lons = [p[0] for p in points]
            lats = [p[1] for p in points]
            header = [
                i, len(points), level | (VERSION << 8),
                int(min(lons) * 1e6), int(max(lons) * 1e6),
                int(min(lats) * 1e6), int(max(lats) * 1e6),
                area, area, -1, -1,
            ]
            f.write(struct.pack(order + "11i", *header))
            for lon, lat in points:
                f.write(struct.pack(order + "2i", round(lon * 1e6), round(lat * 1e6)))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join("tests", "data", "cartography")
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "shore_le.b"), "<")
    write(os.path.join(out, "shore_be.b"), ">")


if __name__ == "__main__":
    main()
