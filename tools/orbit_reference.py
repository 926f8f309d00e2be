#!/usr/bin/python3
"""Reference tables for the orbit tests, from implementations we did not write.

Needs Debian's python3-sgp4 (Vallado's revision of SGP4/SDP4, WGS-72 constants) and
python3-pyproj (PROJ's geocentric conversion):  apt-get install python3-sgp4 python3-pyproj

Writes, under tests/data/orbit/:
  reference_sets.tle    the element sets (name line, line 1, line 2)
  sgp4_reference.csv    name,minutes,x,y,z (km),vx,vy,vz (km/s) in the TEME frame
  geodetic_reference.csv  x,y,z (km, earth-fixed),latitude,longitude (deg),height (km)
                          on the WGS-72 ellipsoid (PROJ's forward conversion)
  sidereal_reference.csv  julian date,Greenwich mean sidereal angle (rad, IAU 1982)
  verification_sets.tle, verification_reference.csv
                        sets the model cannot serve at some or all times, from the
                        published verification (SGP4-VER 23333, 33333, 33334) and two
                        made here (an eccentricity of 0.9999999, a set that decays):
                        name,minutes,error code of python3-sgp4 (0: none),x,y,z (km)

Run from anywhere:  /usr/bin/python3 tools/orbit_reference.py
"""
import math
import os
import random

from sgp4.earth_gravity import wgs72
from sgp4.io import twoline2rv
from sgp4.propagation import gstime, sgp4
from pyproj import Transformer

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, '..', 'tests', 'data', 'orbit')
KEPS = os.path.join(HERE, '..', 'tests', 'data', 'keps')


def keps_sets(path, names):
    """(name, line1, line2) for the given names from a three-line file."""
    lines = [l.rstrip('\r\n') for l in open(path)]
    found = []
    for i in range(len(lines) - 2):
        if lines[i].strip() in names and lines[i + 1].startswith('1 '):
            found.append((lines[i].strip(), lines[i + 1][:69], lines[i + 2][:69]))
    return found


def history_sets(path, indices):
    lines = [l.rstrip('\r\n') for l in open(path) if l.strip()]
    return [('METEOR-M 2 #%d' % k, lines[2 * k][:69], lines[2 * k + 1][:69]) for k in indices]


SETS = [
    # Spacetrack Report No. 3 test sets.
    ('REPORT SGP4 88888',
     '1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87',
     '2 88888  72.8435 115.9689 0086731  52.6988 110.5714 16.05824518  1058'),
    ('REPORT SDP4 11801',
     '1 11801U          80230.29629788  .01431103  00000-0  14311-1      13',
     '2 11801  46.7916 230.4354 7318036  47.4722  10.4117  2.28537848    13'),
    # A Molniya 12-hour orbit and two 24-hour orbits (public sets).
    ('MOLNIYA 2-14',
     '1 08195U 75081A   06176.33215444  .00000099  00000-0  11873-3 0   813',
     '2 08195  64.1586 279.0717 6877146 264.7651  20.2257  2.00491383225656'),
    ('GEO 28626',
     '1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190',
     '2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891'),
    ('GEO 14128',
     '1 14128U 83058A   06176.02844893 -.00000158  00000-0  10000-3 0  9627',
     '2 14128  11.4384  35.2134 0011562  26.4582 333.5652  0.98870114 46093'),
    # A Meteor set with its eccentricity field zeroed (the model's 1e-10).
    ('METEOR-M 2 CIRCULAR',
     '1 40069U 14037A   24243.82361218  .00000049  00000-0  41263-4 0  9990',
     '2 40069  98.6089 242.5773 0000000  50.3893 309.7771 14.24142453527070'),
]
SETS += keps_sets(os.path.join(KEPS, 'weather-2024-08-31.txt'),
                  {'NOAA 18', 'NOAA 19', 'NOAA 15', 'METEOR-M 2', 'METEOR-M2 3'})
SETS += history_sets(os.path.join(KEPS, 'METEOR-M2-history.txt'), [0, 20, 60, 109])

TIMES = [-1440.0 + 240.0 * k for k in range(25)] + [1.0, 10.5, 97.3]

# (name, line 1, line 2, minutes)
VERIFICATION = [
    # Kepler's equation of the report fails past about 200 minutes.
    ('VER 23333',
     '1 23333U 94071A   94305.49999999 -.00172956  26967-3  10000-3 0    15',
     '2 23333  28.7490   2.3720 9728298  30.4360   1.3500  0.07309491    70',
     [120.0 * k for k in range(14)] + [1600.0]),
    # Perigee inside the earth; the revision fails from 25 minutes on.
    ('VER 33333',
     '1 33333U 05037B   05333.02012661  .25992681  00000-0  24476-3 0  1534',
     '2 33333  96.4736 157.9986 9950000 244.0492 110.6523  4.00004038 10708',
     [5.0 * k for k in range(7)]),
    ('VER 33334',
     '1 33334U 78066F   06174.85818871  .00000620  00000-0  10000-3 0  6809',
     '2 33334  68.4714 236.1303 5602877 123.7484 302.5767  0.00001000 67521',
     [0.0, 1.0]),
    ('ECCENTRICITY 0.9999999',
     '1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87',
     '2 88888  72.8435 115.9689 9999999  52.6988 110.5714 16.05824518  1058',
     [0.0, 10.0]),
    # Drag brings it down between 6500 and 7000 minutes.
    ('DECAYING',
     '1 88888U          80275.98708465  .00073094  13844-3  50000-2 0    87',
     '2 88888  98.0000 115.9689 0010000  52.6988 110.5714 16.20000000  1058',
     [0.0, 6500.0, 7000.0]),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, 'reference_sets.tle'), 'w') as f:
        for name, l1, l2 in SETS:
            f.write('%s\n%s\n%s\n' % (name, l1, l2))
    with open(os.path.join(OUT, 'sgp4_reference.csv'), 'w') as f:
        f.write('# python3-sgp4 (WGS-72, improved mode); minutes since epoch; km and km/s\n')
        for name, l1, l2 in SETS:
            for t in sorted(TIMES):
                sat = twoline2rv(l1, l2, wgs72)
                r, v = sgp4(sat, t)
                if sat.error != 0:
                    continue
                f.write('%s,%.4f,%.9f,%.9f,%.9f,%.12f,%.12f,%.12f\n' % ((name, t) + tuple(r) + tuple(v)))

    with open(os.path.join(OUT, 'verification_sets.tle'), 'w') as f:
        for name, l1, l2, _ in VERIFICATION:
            f.write('%s\n%s\n%s\n' % (name, l1, l2))
    with open(os.path.join(OUT, 'verification_reference.csv'), 'w') as f:
        f.write('# python3-sgp4 (WGS-72, improved mode); minutes since epoch; error code '
                '(0 none); km (0 on error)\n')
        for name, l1, l2, times in VERIFICATION:
            for t in times:
                sat = twoline2rv(l1, l2, wgs72)
                r, v = sgp4(sat, t)
                if sat.error != 0:
                    r = (0.0, 0.0, 0.0)
                f.write('%s,%.4f,%d,%.9f,%.9f,%.9f\n' % ((name, t, sat.error) + tuple(r)))

    rnd = random.Random(1980)
    with open(os.path.join(OUT, 'geodetic_reference.csv'), 'w') as f:
        # PROJ's forward conversion (closed form) makes the earth-fixed point of each chosen
        # latitude, longitude and height; its inverse is iterated only to about 1e-8 degrees
        # and is not used.
        f.write('# x,y,z from PROJ longlat -> geocent on WGS72 (km); latitude, longitude '
                '(degrees), height (km) as given\n')
        points = []
        for lat in (-89.9, -75.0, -45.0, -10.0, 0.0, 0.001, 30.0, 60.0, 85.0, 89.99):
            for h in (-3.0, 0.0, 820.0, 35786.0):
                lon = rnd.uniform(-180.0, 180.0)
                points.append((lat, lon, h))
        for _ in range(40):
            points.append((math.degrees(math.asin(rnd.uniform(-1, 1))), rnd.uniform(-180, 180),
                           rnd.uniform(200.0, 2000.0)))
        to_cart = Transformer.from_crs('+proj=longlat +ellps=WGS72',
                                       '+proj=geocent +ellps=WGS72 +units=km', always_xy=True)
        for lat, lon, h in points:
            x, y, z = to_cart.transform(lon, lat, h * 1000.0)
            f.write('%.12f,%.12f,%.12f,%.14f,%.14f,%.12f\n' % (x, y, z, lat, lon, h))

    with open(os.path.join(OUT, 'sidereal_reference.csv'), 'w') as f:
        f.write('# python3-sgp4 gstime (IAU 1982 GMST); julian date (UT), rad\n')
        for jd in (2444238.5, 2451545.0, 2451544.5, 2458849.5, 2460553.82361218, 2460553.25,
                   2461000.125, 2444500.75):
            f.write('%.8f,%.15f\n' % (jd, gstime(jd)))


if __name__ == '__main__':
    main()
