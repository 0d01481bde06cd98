#!/usr/bin/python3
"""Writes the fixtures of tests/data/grids: GRIB editions 1 and 2 on Gaussian (regular and
reduced), rotated latitude/longitude and space-view grids, and spherical-harmonic fields.

ecCodes encodes each field from its own samples and decodes it back; beside every file,
<name>.expect holds per message what ecCodes reads: the grid size, the positions
(latitude, longitude) of chosen grid points in the library's layout (row 0 at the northern
edge, columns west to east) and the values in that layout. For a reduced grid the values are
the packed rows and the positions are those of each row's first point.

Usage: make_grid_fixtures.py [output directory]
       make_grid_fixtures.py --bench directory   (the benchmark's N1280 reduced field)
"""
import os
import sys

import eccodes as ec
import numpy as np

OUT = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] != "--bench" else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "grids")


def pattern(n, seed):
    k = np.arange(n, dtype=np.float64)
    return 250.0 + 30.0 * np.sin(k * 0.37 + seed) + 7.0 * np.cos(k * 0.11 * (seed + 1)) + 0.013 * k


def to_grid(vals, nx, ny, scan):
    """Scan order (rows consecutive) to row 0 north, columns west to east."""
    grid = np.asarray(vals, dtype=np.float64).reshape(ny, nx).copy()
    if scan & 0x80:
        grid = grid[:, ::-1]
    if scan & 0x40:
        grid = grid[::-1, :]
    return grid


def values_lines(flat):
    return [" ".join("%.9g" % v for v in flat[i:i + 8]) for i in range(0, len(flat), 8)]


def expect_regular(h):
    nx = ec.codes_get(h, "Ni") if ec.codes_is_defined(h, "Ni") else ec.codes_get(h, "Nx")
    ny = ec.codes_get(h, "Nj") if ec.codes_is_defined(h, "Nj") else ec.codes_get(h, "Ny")
    scan = ec.codes_get(h, "scanningMode")
    vals = to_grid(ec.codes_get_double_array(h, "values"), nx, ny, scan)
    lats = to_grid(ec.codes_get_double_array(h, "latitudes"), nx, ny, scan)
    lons = to_grid(ec.codes_get_double_array(h, "longitudes"), nx, ny, scan)
    lines = ["grid %d %d -" % (nx, ny)]
    for gx, gy in ((0, 0), (nx - 1, 0), (0, ny - 1), (nx - 1, ny - 1), (nx // 2, ny // 2)):
        lines.append("point %d %d %.9f %.9f" % (gx, gy, lats[gy, gx], lons[gy, gx]))
    lines.append("values %d" % (nx * ny))
    return lines + values_lines(vals.reshape(-1))


def expect_reduced(h):
    pl = [int(x) for x in ec.codes_get_array(h, "pl")]
    vals = ec.codes_get_double_array(h, "values")
    lats = ec.codes_get_double_array(h, "latitudes")
    lons = ec.codes_get_double_array(h, "longitudes")
    lines = ["grid %d %d %s" % (max(pl), len(pl), ",".join(map(str, pl)))]
    start = 0
    for r, n in enumerate(pl):
        lines.append("point 0 %d %.9f %.9f" % (r, lats[start], lons[start]))
        start += n
    lines.append("values %d" % len(vals))
    return lines + values_lines(vals)


def write(name, edition, handles, reduced=False):
    path = os.path.join(OUT, name + ".grib%d" % edition)
    with open(path, "wb") as f:
        for h in handles:
            f.write(ec.codes_get_message(h))
    with open(os.path.join(OUT, name + ".expect"), "w") as f:
        for h in handles:
            back = ec.codes_new_from_message(ec.codes_get_message(h))
            f.write("\n".join(expect_reduced(back) if reduced else expect_regular(back)) + "\n")
            ec.codes_release(back)
    for h in handles:
        ec.codes_release(h)


def sample(edition, name):
    return ec.codes_grib_new_from_samples("%s_grib%d" % (name, edition))


def packed(h, n, seed, bits=16):
    ec.codes_set(h, "bitsPerValue", bits)
    ec.codes_set_values(h, pattern(n, seed))
    return h


def regular_gaussian(edition, n, north_rows, west, nx, dlon, scan=0, seed=0):
    """Rows north_rows[0]..north_rows[1] (0 the northernmost) of the Gaussian grid of N = n."""
    h = sample(edition, "regular_gg_sfc")
    lats = gaussian_lats(n)
    first, last = north_rows
    ny = last - first + 1
    lat1, lat2 = lats[first], lats[last]
    if scan & 0x40:
        lat1, lat2 = lat2, lat1
    lon1, lon2 = west, west + dlon * (nx - 1)
    if scan & 0x80:
        lon1, lon2 = lon2, lon1
    for k, v in (("N", n), ("Ni", nx), ("Nj", ny), ("iDirectionIncrementInDegrees", dlon),
                 ("latitudeOfFirstGridPointInDegrees", round(lat1, 6 if edition == 2 else 3)),
                 ("latitudeOfLastGridPointInDegrees", round(lat2, 6 if edition == 2 else 3)),
                 ("longitudeOfFirstGridPointInDegrees", lon1), ("longitudeOfLastGridPointInDegrees", lon2),
                 ("scanningMode", scan)):
        ec.codes_set(h, k, v)
    return packed(h, nx * ny, seed)


def gaussian_lats(n):
    x, _ = np.polynomial.legendre.leggauss(2 * n)
    return np.degrees(np.arcsin(x))[::-1]


def reduced_gaussian(edition, n, pl, seed=0):
    h = sample(edition, "reduced_gg_pl_%d" % n) if n in (32, 48) else sample(edition, "reduced_gg_pl_32")
    ec.codes_set(h, "N", n)
    ec.codes_set(h, "Nj", 2 * n)
    ec.codes_set_array(h, "pl", pl)
    lats = gaussian_lats(n)
    ec.codes_set(h, "latitudeOfFirstGridPointInDegrees", round(lats[0], 6 if edition == 2 else 3))
    ec.codes_set(h, "latitudeOfLastGridPointInDegrees", round(lats[-1], 6 if edition == 2 else 3))
    ec.codes_set(h, "longitudeOfFirstGridPointInDegrees", 0.0)
    ec.codes_set(h, "longitudeOfLastGridPointInDegrees", 360.0 - 360.0 / max(pl))
    return packed(h, sum(pl), seed)


def octahedral_pl(n):
    half = [20 + 4 * i for i in range(n)]
    return half + half[::-1]


def rotated(edition, south_lat, south_lon, scan=0, seed=0, nx=17, ny=11):
    h = sample(edition, "rotated_ll_sfc")
    north, west, step = 10.0, -12.0, 0.5
    lat1, lat2 = north, north - step * (ny - 1)
    if scan & 0x40:
        lat1, lat2 = lat2, lat1
    lon1, lon2 = west, west + step * (nx - 1)
    if scan & 0x80:
        lon1, lon2 = lon2, lon1
    for k, v in (("Ni", nx), ("Nj", ny), ("latitudeOfFirstGridPointInDegrees", lat1),
                 ("latitudeOfLastGridPointInDegrees", lat2), ("longitudeOfFirstGridPointInDegrees", lon1),
                 ("longitudeOfLastGridPointInDegrees", lon2), ("iDirectionIncrementInDegrees", step),
                 ("jDirectionIncrementInDegrees", step), ("latitudeOfSouthernPoleInDegrees", south_lat),
                 ("longitudeOfSouthernPoleInDegrees", south_lon), ("scanningMode", scan)):
        ec.codes_set(h, k, v)
    return packed(h, nx * ny, seed)


def space_view(edition, lop, xo, yo, scan=0, seed=0, nx=40, ny=30):
    h = ec.codes_grib_new_from_samples("GRIB2" if edition == 2 else "GRIB1")
    if edition == 2:
        ec.codes_set(h, "gridDefinitionTemplateNumber", 90)
        ec.codes_set(h, "shapeOfTheEarth", 6)
        keys = (("Xp", 1856000), ("Yp", 1856000), ("Nr", 6610700), ("scanningMode", scan))
    else:
        ec.codes_set(h, "dataRepresentationType", 90)
        keys = (("XpInGridLengths", 1856), ("YpInGridLengths", 1856), ("NrInRadiusOfEarth", 6.6107),
                ("iScansNegatively", scan >> 7 & 1), ("jScansPositively", scan >> 6 & 1))
    for k, v in (("Nx", nx), ("Ny", ny), ("longitudeOfSubSatellitePointInDegrees", lop), ("dx", 3622),
                 ("dy", 3622), ("Xo", xo), ("Yo", yo)) + keys:
        ec.codes_set(h, k, v)
    return packed(h, nx * ny, seed)


def spectral(edition):
    h = sample(edition, "sh_sfc")
    n = ec.codes_get(h, "numberOfValues")
    ec.codes_set_values(h, pattern(n, 3) - 250.0)
    return h


def seam_latlon():
    """1-degree columns all round the earth, rows 60N to 40N; value = column + row / 2, so
    that across the seam (column 359 to column 0) the field falls linearly."""
    h = ec.codes_grib_new_from_samples("GRIB2")
    nx, ny = 360, 21
    for k, v in (("Ni", nx), ("Nj", ny), ("latitudeOfFirstGridPointInDegrees", 60.0),
                 ("latitudeOfLastGridPointInDegrees", 40.0), ("longitudeOfFirstGridPointInDegrees", 0.0),
                 ("longitudeOfLastGridPointInDegrees", 359.0), ("iDirectionIncrementInDegrees", 1.0),
                 ("jDirectionIncrementInDegrees", 1.0)):
        ec.codes_set(h, k, v)
    ec.codes_set(h, "bitsPerValue", 16)
    cols, rows = np.meshgrid(np.arange(nx), np.arange(ny))
    ec.codes_set_values(h, (cols + rows / 2.0).reshape(-1).astype(np.float64))
    with open(os.path.join(OUT, "seam_ll1.grib2"), "wb") as f:
        f.write(ec.codes_get_message(h))
    ec.codes_release(h)


def main():
    os.makedirs(OUT, exist_ok=True)
    seam_latlon()
    for ed in (1, 2):
        # Regular Gaussian: the whole N = 24 earth at 7.5 degrees, a sub-area scanned south to
        # north, one scanned east to west.
        write("gaussian_g%d" % ed, ed, [
            regular_gaussian(ed, 24, (0, 47), 0.0, 48, 7.5, seed=1),
            regular_gaussian(ed, 48, (10, 30), 20.0, 25, 1.875, scan=0x40, seed=2),
            regular_gaussian(ed, 32, (5, 12), 100.0, 9, 2.8125, scan=0x80, seed=3)])
        # Reduced Gaussian with octahedral rows.
        write("reduced_gaussian_g%d" % ed, ed, [reduced_gaussian(ed, 32, octahedral_pl(32), seed=4)],
              reduced=True)
        write("rotated_g%d" % ed, ed, [rotated(ed, -40.0, 10.0, seed=5), rotated(ed, -30.0, -15.0, 0x40, seed=6),
                                       rotated(ed, -90.0, 0.0, seed=7)])
        write("space_view_g%d" % ed, ed, [space_view(ed, 0.0, 1500, 400, seed=8),
                                          space_view(ed, -75.0, 1700, 1500, seed=9)])
        with open(os.path.join(OUT, "harmonics.grib%d" % ed), "wb") as f:
            h = spectral(ed)
            f.write(ec.codes_get_message(h))
            ec.codes_release(h)


def bench(directory):
    """A reduced Gaussian N1280 field with octahedral rows (6,599,680 points), simple packing
    at 16 bits, temperature-like with small-scale noise."""
    os.makedirs(directory, exist_ok=True)
    n = 1280
    pl = octahedral_pl(n)
    lats = np.repeat(gaussian_lats(n), pl)
    lons = np.concatenate([np.arange(k) * 360.0 / k for k in pl])
    rng = np.random.default_rng(5)
    values = (273.15 + 30 * np.cos(np.radians(lats)) - 15 + 8 * np.sin(np.radians(3 * lons)) *
              np.cos(np.radians(2 * lats)) + rng.normal(0, 0.3, lats.size))
    h = ec.codes_grib_new_from_samples("reduced_gg_pl_1280_grib2")
    ec.codes_set_array(h, "pl", pl)
    ec.codes_set(h, "longitudeOfLastGridPointInDegrees", 360.0 - 360.0 / max(pl))
    ec.codes_set(h, "packingType", "grid_simple")
    ec.codes_set(h, "bitsPerValue", 16)
    ec.codes_set_values(h, values)
    with open(os.path.join(directory, "reduced_gaussian_n1280.grib2"), "wb") as f:
        f.write(ec.codes_get_message(h))
    ec.codes_release(h)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--bench":
        bench(sys.argv[2])
    else:
        main()
