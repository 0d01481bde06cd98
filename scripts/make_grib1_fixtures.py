#!/usr/bin/python3
"""Writes the GRIB edition 1 test fixtures under tests/data/grib1/ from ecCodes' own sample
templates, and beside each file a ".expect" text with ecCodes' decode of every message, laid
out the way the library places values (row 0 at the northern edge, columns west to east).

ecCodes serves as an independent oracle only; the library never uses it.
Run: /usr/bin/python3 scripts/make_grib1_fixtures.py [output_dir]

Expect file: one block per message:
  nx ny proj clat clon dx dy plat plon param0 param1 tol ltype level var time
  nx*ny values (missing = -9999)
proj codes: 1 polar stereographic, 2 lat/lon, 3 Mercator, 4 Lambert conformal.
"""
import math
import os
import sys

import eccodes as ec
import numpy as np

SAMPLES = "/usr/share/eccodes/samples"
MISSING = -9999.0


def new(sample):
    with open(os.path.join(SAMPLES, sample + ".tmpl"), "rb") as f:
        return ec.codes_grib_new_from_file(f)


def field(nj, ni, seed):
    j, i = np.mgrid[0:nj, 0:ni]
    return 250.0 + 0.7 * i - 1.3 * j + 4.0 * np.sin(0.9 * i + seed) * np.cos(0.5 * j)


def set_product(h, param=11, ltype=100, level=500):
    ec.codes_set(h, "centre", 7)
    ec.codes_set(h, "table2Version", 2)
    ec.codes_set(h, "indicatorOfParameter", param)
    ec.codes_set(h, "indicatorOfTypeOfLevel", ltype)
    ec.codes_set(h, "level", level)
    ec.codes_set(h, "dataDate", 20260115)
    ec.codes_set(h, "dataTime", 1200)
    ec.codes_set(h, "unitOfTimeRange", 1)
    ec.codes_set(h, "P1", 6)
    ec.codes_set(h, "timeRangeIndicator", 0)


def latlon(ni, nj, lat1, lon1, lat2, lon2, scan=(0, 0, 0)):
    h = new("regular_ll_sfc_grib1")
    set_product(h)
    ec.codes_set(h, "Ni", ni)
    ec.codes_set(h, "Nj", nj)
    ec.codes_set(h, "iScansNegatively", scan[0])
    ec.codes_set(h, "jScansPositively", scan[1])
    ec.codes_set(h, "jPointsAreConsecutive", scan[2])
    ec.codes_set(h, "latitudeOfFirstGridPointInDegrees", lat1)
    ec.codes_set(h, "longitudeOfFirstGridPointInDegrees", lon1)
    ec.codes_set(h, "latitudeOfLastGridPointInDegrees", lat2)
    ec.codes_set(h, "longitudeOfLastGridPointInDegrees", lon2)
    ec.codes_set(h, "iDirectionIncrementInDegrees", abs(lon2 - lon1) / (ni - 1))
    ec.codes_set(h, "jDirectionIncrementInDegrees", abs(lat2 - lat1) / (nj - 1))
    return h


def mercator_step(a, b, n, along_y):
    """Grid length in metres of n steps from a to b (longitudes, or latitudes along y) on a
    Mercator projection true at the equator, so that the lengths agree with the corners."""
    r = 6367470.0
    if not along_y:
        return int(round(r * math.radians(b - a) / n))
    y = lambda lat: math.log(math.tan(math.radians(45.0 + lat / 2.0)))
    return int(round(r * (y(b) - y(a)) / n))


def set_values(h, values, bits=16, decimal=2):
    ec.codes_set(h, "bitsPerValue", bits)
    ec.codes_set(h, "decimalScaleFactor", decimal)
    ec.codes_set_values(h, values.ravel())


def north_up(h, vals, ni, nj):
    """ecCodes' scan order to rows north first, columns west to east."""
    ineg = ec.codes_get(h, "iScansNegatively")
    jpos = ec.codes_get(h, "jScansPositively")
    jcons = ec.codes_get(h, "jPointsAreConsecutive")
    a = vals.reshape(ni, nj).T if jcons else vals.reshape(nj, ni)
    if ineg:
        a = a[:, ::-1]
    if jpos:
        a = a[::-1, :]
    return a


def expect_block(h):
    grid = ec.codes_get(h, "gridType")
    vals = ec.codes_get_values(h).astype(float)
    if ec.codes_get(h, "bitmapPresent"):
        miss = ec.codes_get(h, "missingValue")
        vals[vals == miss] = MISSING
    E = ec.codes_get(h, "binaryScaleFactor")
    D = ec.codes_get(h, "decimalScaleFactor")
    tol = 0.25 * 2.0 ** E / 10.0 ** D + 1e-4
    lats = ec.codes_get_array(h, "latitudes")
    lons = ec.codes_get_array(h, "longitudes")
    plat = plon = p0 = p1 = MISSING
    if grid == "reduced_ll":
        pl = ec.codes_get_array(h, "pl").astype(int)
        nj, ni = len(pl), int(pl.max())
        rows, k = [], 0
        jpos = ec.codes_get(h, "jScansPositively")
        for n in pl:
            r = vals[k:k + n]
            k += n
            # Each row spread linearly over the widest row's columns.
            pos = np.arange(ni) * (n - 1) / (ni - 1)
            rows.append(np.interp(pos, np.arange(n), r))
        a = np.array(rows)
        if jpos:
            a = a[::-1, :]
        proj = 2
        la1 = ec.codes_get(h, "latitudeOfFirstGridPointInDegrees")
        la2 = ec.codes_get(h, "latitudeOfLastGridPointInDegrees")
        lo1 = ec.codes_get(h, "longitudeOfFirstGridPointInDegrees")
        lo2 = ec.codes_get(h, "longitudeOfLastGridPointInDegrees")
        dy = abs(la2 - la1) / (nj - 1)
        dx = ((lo2 - lo1) % 360) / (ni - 1)
        clat, clon = (la1 + la2) / 2, lo1 + dx * (ni - 1) / 2
    else:
        ni, nj = ec.codes_get(h, "Ni"), ec.codes_get(h, "Nj")
        a = north_up(h, vals, ni, nj)
        la = north_up(h, lats, ni, nj)
        lo = north_up(h, lons, ni, nj)
        if grid == "regular_ll":
            proj = 2
            dx = ec.codes_get(h, "iDirectionIncrementInDegrees")
            dy = ec.codes_get(h, "jDirectionIncrementInDegrees")
            clat = (la[0, 0] + la[-1, 0]) / 2
            clon = lo[0, 0] + dx * (ni - 1) / 2
            assert np.all(np.diff(la[:, 0]) < 0), "rows must run north to south"
            assert np.all(np.diff(lo[0, :]) > 0), "columns must run west to east"
        else:
            assert ni % 2 == 1 and nj % 2 == 1, "projected fixtures need a centre point"
            clat, clon = la[nj // 2, ni // 2], lo[nj // 2, ni // 2]
            if grid == "polar_stereographic":
                proj = 1
                dx = ec.codes_get(h, "DxInMetres") / 1e5
                dy = ec.codes_get(h, "DyInMetres") / 1e5
                plon = ec.codes_get(h, "orientationOfTheGridInDegrees")
                plat = 90.0
            elif grid == "lambert":
                proj = 4
                dx = ec.codes_get(h, "DxInMetres") / 1e5
                dy = ec.codes_get(h, "DyInMetres") / 1e5
                plon = ec.codes_get(h, "LoVInDegrees")
                plat = 90.0
                p0 = ec.codes_get(h, "Latin1InDegrees")
                p1 = ec.codes_get(h, "Latin2InDegrees")
            elif grid == "mercator":
                proj = 3
                dx = dy = MISSING  # plane units of the library's own projection
                plat = 0.0
                # The centre lies halfway between the corners along the projection's y.
                y = lambda lat: math.log(math.tan(math.radians(45.0 + lat / 2.0)))
                la1 = ec.codes_get(h, "latitudeOfFirstGridPointInDegrees")
                la2 = ec.codes_get(h, "latitudeOfLastGridPointInDegrees")
                ym = (y(la1) + y(la2)) / 2.0
                clat = 2.0 * math.degrees(math.atan(math.exp(ym))) - 90.0
            else:
                raise ValueError(grid)
    if clon > 180:
        clon -= 360
    head = [ni, nj, proj, clat, clon, dx, dy, plat, plon, p0, p1, tol,
            ec.codes_get(h, "indicatorOfTypeOfLevel", ktype=int), ec.codes_get(h, "level", ktype=int),
            ec.codes_get(h, "indicatorOfParameter", ktype=int), ec.codes_get(h, "P1", ktype=int)]
    text = " ".join("%.9g" % v for v in head) + "\n"
    text += " ".join("%.9g" % v for v in a.ravel()) + "\n"
    return text


def write(outdir, name, handles):
    with open(os.path.join(outdir, name + ".grib1"), "wb") as f:
        for h in handles:
            f.write(ec.codes_get_message(h))
    # The expectation comes from ecCodes reading the written file back.
    blocks = []
    with open(os.path.join(outdir, name + ".grib1"), "rb") as f:
        while True:
            h = ec.codes_grib_new_from_file(f)
            if h is None:
                break
            blocks.append(expect_block(h))
            ec.codes_release(h)
    with open(os.path.join(outdir, name + ".expect"), "w") as f:
        f.write("".join(blocks))
    for h in handles:
        ec.codes_release(h)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "grib1")
    os.makedirs(outdir, exist_ok=True)

    # Latitude/longitude in every scanning mode, one message each in one file.
    scans = []
    for scan in [(0, 0, 0), (0, 1, 0), (1, 0, 0), (1, 1, 0), (0, 0, 1), (1, 1, 1)]:
        lat1, lat2 = (30.0, 60.0) if scan[1] else (60.0, 30.0)
        lon1, lon2 = (60.0, 0.0) if scan[0] else (0.0, 60.0)
        h = latlon(13, 7, lat1, lon1, lat2, lon2, scan)
        set_values(h, field(7, 13, len(scans)))
        scans.append(h)
    write(outdir, "ll_scan", scans)

    # Bits per value 1 to 32 (several messages per file).
    bits = []
    for b in [1, 2, 3, 5, 7, 8, 11, 12, 13, 16, 17, 19, 23, 24, 25, 29, 31, 32]:
        h = latlon(9, 5, 50.0, -20.0, 40.0, 20.0)
        set_values(h, field(5, 9, b) * 3.0, bits=b, decimal=1)
        bits.append(h)
    write(outdir, "ll_bits", bits)

    # Bit map with missing points, and a constant field (zero bits per value).
    h = latlon(11, 6, 55.0, 350.0, 30.0, 40.0)
    ec.codes_set(h, "bitmapPresent", 1)
    ec.codes_set(h, "missingValue", 9999)
    v = field(6, 11, 3)
    v[1, 2] = v[3, 0] = v[5, 10] = v[0, 7] = 9999
    v[2, :4] = 9999
    set_values(h, v, bits=12, decimal=1)
    c = latlon(5, 4, 10.0, 100.0, -5.0, 120.0)
    set_values(c, np.full((4, 5), 287.5), bits=0, decimal=0)
    write(outdir, "ll_bitmap", [h, c])

    # Polar stereographic, Lambert conformal and Mercator.
    ps = new("polar_stereographic_sfc_grib1")
    set_product(ps, param=2, ltype=102, level=0)
    for k, val in [("Nx", 11), ("Ny", 9), ("latitudeOfFirstGridPointInDegrees", 30.0),
                   ("longitudeOfFirstGridPointInDegrees", 250.0),
                   ("orientationOfTheGridInDegrees", 255.0),
                   ("DxInMetres", 190500), ("DyInMetres", 190500), ("jScansPositively", 1)]:
        ec.codes_set(ps, k, val)
    set_values(ps, field(9, 11, 5) * 400.0, bits=16, decimal=0)

    lc = new("GRIB1")
    set_product(lc, param=33, ltype=105, level=10)
    ec.codes_set(lc, "dataRepresentationType", 3)
    for k, val in [("Nx", 15), ("Ny", 11), ("latitudeOfFirstGridPointInDegrees", 20.0),
                   ("longitudeOfFirstGridPointInDegrees", 240.0), ("LoVInDegrees", 265.0),
                   ("DxInMetres", 81271), ("DyInMetres", 81271),
                   ("Latin1InDegrees", 25.0), ("Latin2InDegrees", 25.0),
                   ("jScansPositively", 1)]:
        ec.codes_set(lc, k, val)
    set_values(lc, field(11, 15, 7) - 250.0, bits=14, decimal=2)

    me = new("GRIB1")
    set_product(me, param=61, ltype=1, level=0)
    ec.codes_set(me, "dataRepresentationType", 1)
    for k, val in [("Ni", 9), ("Nj", 7), ("latitudeOfFirstGridPointInDegrees", -10.0),
                   ("longitudeOfFirstGridPointInDegrees", 100.0),
                   ("latitudeOfLastGridPointInDegrees", 20.0),
                   ("longitudeOfLastGridPointInDegrees", 140.0),
                   ("Latin", 0.0), ("DiInMetres", mercator_step(100.0, 140.0, 8, False)),
                   ("DjInMetres", mercator_step(-10.0, 20.0, 6, True)),
                   ("jScansPositively", 1)]:
        ec.codes_set(me, k, val)
    set_values(me, np.abs(field(7, 9, 2) - 245.0), bits=10, decimal=1)
    write(outdir, "projections", [ps, lc, me])

    # Thinned (reduced) latitude/longitude rows.
    rl = new("reduced_ll_sfc_grib1")
    set_product(rl, param=11, ltype=1, level=0)
    pl = [2, 5, 9, 9, 5, 3]
    ec.codes_set(rl, "Nj", len(pl))
    ec.codes_set_array(rl, "pl", pl)
    ec.codes_set(rl, "latitudeOfFirstGridPointInDegrees", 50.0)
    ec.codes_set(rl, "latitudeOfLastGridPointInDegrees", 25.0)
    ec.codes_set(rl, "longitudeOfFirstGridPointInDegrees", 0.0)
    ec.codes_set(rl, "longitudeOfLastGridPointInDegrees", 40.0)
    ec.codes_set(rl, "jDirectionIncrementInDegrees", 5.0)
    vals = np.concatenate([270.0 + 2.5 * np.arange(n) + 7 * j for j, n in enumerate(pl)])
    ec.codes_set(rl, "bitsPerValue", 12)
    ec.codes_set(rl, "decimalScaleFactor", 1)
    ec.codes_set_values(rl, vals)
    write(outdir, "reduced_ll", [rl])


if __name__ == "__main__":
    main()
