#!/usr/bin/python3
"""Reference ground points of the cross-track scanner, computed independently of our code.

Needs Debian's python3-sgp4, python3-numpy and python3-pyproj:
    apt-get install python3-sgp4 python3-numpy python3-pyproj

The satellite's state comes from python3-sgp4 (WGS-72), the Greenwich angle from its
gstime, each look direction is intersected with the ellipsoid x^2/a^2 + y^2/a^2 +
z^2/b^2 = 1 by solving the quadratic directly (b = a (1 - 1/298.26)), and the ground
point is converted to latitude and longitude by PROJ (geocent -> longlat on WGS72).

Scanner model: sample m = 0 .. 50, j = m - 25, sits at (step j + 0.5) / half-width of the
largest scan angle (step 30, half-width 769.5 for Meteor-M N2; 40 and 1023.5 otherwise),
looking along -cos A up + sin A across, where "across" is the orbit normal r x v,
optionally turned towards the flight by -vz/115 rad (yaw steering) and then by a fixed
yaw angle.

Writes tests/data/orbit/scan_reference.csv, one row per case and sample:
    set name,year,month,day,hour,minute,second,hundredths,meteor layout (0/1),
    yaw steering (0/1),yaw offset (deg),sample,longitude (deg, (-180,180]),latitude (deg),
    satellite height (km)
The set names are those of tests/data/orbit/reference_sets.tle.

Run from anywhere:  /usr/bin/python3 tools/scan_reference.py
"""
import datetime
import os

import numpy as np
from pyproj import Transformer
from sgp4.earth_gravity import wgs72
from sgp4.io import twoline2rv
from sgp4.propagation import gstime, sgp4

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', 'tests', 'data', 'orbit')

A_KM = 6378.135
B_KM = A_KM * (1.0 - 1.0 / 298.26)
HALF_ANGLE_DEG = float(np.float32(55.37))  # the program keeps it in single precision

# (set name, UTC date-time with hundredths, meteor layout, yaw steering, yaw offset deg)
CASES = [
    ('METEOR-M 2', (2024, 8, 31, 9, 12, 0, 0), 1, 0, 0.0),
    ('METEOR-M 2', (2024, 8, 31, 19, 47, 33, 25), 1, 0, 0.0),
    ('METEOR-M 2', (2024, 9, 1, 6, 3, 10, 50), 1, 0, 0.0),
    ('METEOR-M 2 #109', (2026, 8, 22, 5, 55, 1, 75), 1, 0, 0.0),
    ('METEOR-M 2 #60', None, 1, 0, 0.0),  # epoch + 3 hours, filled in below
    ('METEOR-M 2 #20', None, 1, 0, 0.0),
    ('METEOR-M 2', (2024, 8, 31, 10, 0, 0, 0), 1, 0, -1.1),
    ('METEOR-M 2', (2024, 8, 31, 10, 30, 0, 0), 1, 1, 0.0),
    ('NOAA 19', (2024, 8, 31, 14, 20, 0, 0), 0, 0, 0.0),
    ('NOAA 19', (2024, 8, 31, 15, 2, 40, 0), 0, 1, 2.0),
]


def read_sets():
    lines = [l.rstrip('\r\n') for l in open(os.path.join(DATA, 'reference_sets.tle'))]
    return {lines[i]: (lines[i + 1], lines[i + 2]) for i in range(0, len(lines) - 2, 3)}


def unit(v):
    return v / np.linalg.norm(v)


def ray_ellipsoid(p, l):
    """Nearer intersection distance of p + d l with the ellipsoid, l of unit length."""
    w = np.array([1.0 / A_KM ** 2, 1.0 / A_KM ** 2, 1.0 / B_KM ** 2])
    qa = np.sum(w * l * l)
    qb = 2.0 * np.sum(w * p * l)
    qc = np.sum(w * p * p) - 1.0
    return (-qb - np.sqrt(qb * qb - 4.0 * qa * qc)) / (2.0 * qa)


def main():
    sets = read_sets()
    to_geo = Transformer.from_crs('+proj=geocent +ellps=WGS72 +units=km',
                                  '+proj=longlat +ellps=WGS72', always_xy=True)
    zero = datetime.datetime(1899, 12, 30)
    out = open(os.path.join(DATA, 'scan_reference.csv'), 'w')
    out.write('# tools/scan_reference.py: python3-sgp4 state, direct ray-ellipsoid '
              'intersection, PROJ geodetic conversion (WGS-72)\n')
    for name, when, meteor, steer, yaw in CASES:
        l1, l2 = sets[name]
        sat = twoline2rv(l1, l2, wgs72)
        if when is None:
            # Three hours after the epoch, cut to whole hundredths of a second.
            t = zero + datetime.timedelta(days=sat.jdsatepoch - 2415018.5, hours=3)
            when = (t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsecond // 10000)
        y, mo, d, h, mi, s, cs = when
        t = datetime.datetime(y, mo, d, h, mi, s, cs * 10000)
        days = (t - zero) / datetime.timedelta(days=1)
        jd = 2415018.5 + days
        r, v = sgp4(sat, (jd - sat.jdsatepoch) * 1440.0)
        p = np.array(r)
        vel = np.array(v)
        up = unit(p)
        across = unit(np.cross(p, vel))
        if steer:
            across = unit(across + (-vel[2] / 115.0) * unit(vel))
        if yaw != 0.0:
            across = unit(across + np.radians(yaw) * unit(vel))
        theta = gstime(jd)
        rot = np.array([[np.cos(theta), np.sin(theta), 0.0],
                        [-np.sin(theta), np.cos(theta), 0.0],
                        [0.0, 0.0, 1.0]])
        pf = rot @ p
        _, _, height = to_geo.transform(pf[0], pf[1], pf[2])
        step, half = (30.0, 769.5) if meteor else (40.0, 1023.5)
        for m in range(51):
            angle = np.radians((step * (m - 25) + 0.5) / half * HALF_ANGLE_DEG)
            look = unit(-np.cos(angle) * up + np.sin(angle) * across)
            g = rot @ (p + ray_ellipsoid(p, look) * look)
            lon, lat, _ = to_geo.transform(g[0], g[1], g[2])
            if lon <= -180.0:
                lon += 360.0
            out.write('%s,%d,%d,%d,%d,%d,%d,%d,%d,%d,%.3f,%d,%.9f,%.9f,%.6f\n' %
                      (name, y, mo, d, h, mi, s, cs, meteor, steer, yaw, m, lon, lat,
                       height / 1000.0))
    out.close()


if __name__ == '__main__':
    main()
