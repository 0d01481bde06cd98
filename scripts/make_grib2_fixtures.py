#!/usr/bin/python3
"""Writes the GRIB edition 2 test fixtures of tests/data/grib2.

Fields are encoded by ecCodes from its own sample templates, with non-constant values, and
decoded back by ecCodes: the decoded values, put on the grid with row 0 at the northern edge
and columns west to east, and the geometry keys are written beside each file as
<name>.expect for the tests to compare against. Messages ecCodes does not write (run-length
packing, the local product template 50008, bit-map reuse and several fields in one message)
are assembled here from sections.

Usage: make_grib2_fixtures.py [output directory]
       make_grib2_fixtures.py --bench directory   (the benchmark's 1440 x 721 fields)
"""
import math
import os
import struct
import sys

import eccodes as ec
import numpy as np

OUT = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] != "--bench" else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "grib2")

NX, NY = 23, 13


def pattern(n, seed):
    """A smooth field with some structure, distinct per seed."""
    k = np.arange(n, dtype=np.float64)
    return 250.0 + 30.0 * np.sin(k * 0.37 + seed) + 7.0 * np.cos(k * 0.11 * (seed + 1)) + 0.013 * k


def to_grid(vals, nx, ny, scan):
    """Scan order to row 0 north, columns west to east."""
    out = np.empty((ny, nx))
    ineg, jpos, jcons, alt = scan & 0x80, scan & 0x40, scan & 0x20, scan & 0x10
    k = 0
    if not jcons:
        for r in range(ny):
            rev = bool(ineg) != bool(alt and r % 2)
            row = ny - 1 - r if jpos else r
            for c in range(nx):
                out[row, nx - 1 - c if rev else c] = vals[k]
                k += 1
    else:
        for c in range(nx):
            rev = bool(alt and c % 2)
            col = nx - 1 - c if ineg else c
            for r0 in range(ny):
                r = ny - 1 - r0 if rev else r0
                out[ny - 1 - r if jpos else r, col] = vals[k]
                k += 1
    return out


def regular_ll(scan=0, nx=NX, ny=NY):
    h = ec.codes_grib_new_from_samples("GRIB2")
    ec.codes_set(h, "Ni", nx)
    ec.codes_set(h, "Nj", ny)
    north, south, west, east = 60.0, 60.0 - 2.0 * (ny - 1), 10.0, 10.0 + 2.0 * (nx - 1)
    lat1, lat2 = (south, north) if scan & 0x40 else (north, south)
    lon1, lon2 = (east, west) if scan & 0x80 else (west, east)
    ec.codes_set(h, "latitudeOfFirstGridPointInDegrees", lat1)
    ec.codes_set(h, "latitudeOfLastGridPointInDegrees", lat2)
    ec.codes_set(h, "longitudeOfFirstGridPointInDegrees", lon1)
    ec.codes_set(h, "longitudeOfLastGridPointInDegrees", lon2)
    ec.codes_set(h, "iDirectionIncrementInDegrees", 2.0)
    ec.codes_set(h, "jDirectionIncrementInDegrees", 2.0)
    ec.codes_set(h, "scanningMode", scan)
    return h


def lambert(scan=0):
    h = ec.codes_grib_new_from_samples("GRIB2")
    ec.codes_set(h, "gridDefinitionTemplateNumber", 30)
    for k, v in (("Nx", NX), ("Ny", NY), ("latitudeOfFirstGridPointInDegrees", 20.0),
                 ("longitudeOfFirstGridPointInDegrees", 240.0), ("LaDInDegrees", 25.0),
                 ("LoVInDegrees", 265.0), ("Latin1InDegrees", 25.0), ("Latin2InDegrees", 45.0),
                 ("DxInMetres", 40635), ("DyInMetres", 40635), ("scanningMode", scan)):
        ec.codes_set(h, k, v)
    return h


def polar(scan=0, south=False):
    h = ec.codes_grib_new_from_samples("polar_stereographic_sfc_grib2")
    lat1 = -20.0 if south else 20.0
    for k, v in (("Nx", NX), ("Ny", NY), ("latitudeOfFirstGridPointInDegrees", lat1),
                 ("longitudeOfFirstGridPointInDegrees", 210.0), ("LaDInDegrees", -60.0 if south else 60.0),
                 ("orientationOfTheGridInDegrees", 255.0), ("DxInMetres", 95250),
                 ("DyInMetres", 95250), ("projectionCentreFlag", 128 if south else 0),
                 ("scanningMode", scan)):
        ec.codes_set(h, k, v)
    return h


def mercator():
    h = ec.codes_grib_new_from_samples("GRIB2")
    ec.codes_set(h, "gridDefinitionTemplateNumber", 10)
    for k, v in (("Ni", NX), ("Nj", NY), ("latitudeOfFirstGridPointInDegrees", -10.0),
                 ("longitudeOfFirstGridPointInDegrees", 100.0), ("LaDInDegrees", 20.0),
                 ("latitudeOfLastGridPointInDegrees", 30.0), ("longitudeOfLastGridPointInDegrees", 150.0),
                 ("DiInMetres", 222000), ("DjInMetres", 300000), ("scanningMode", 0x40)):
        ec.codes_set(h, k, v)
    return h


def pack(h, packing, bits, values, extra=()):
    if packing.startswith("grid_complex"):
        # ecCodes switches to complex packing only on a message that already carries values.
        ec.codes_set_values(h, values)
    ec.codes_set(h, "packingType", packing)
    for k, v in extra:
        ec.codes_set(h, k, v)
    if bits is not None:
        ec.codes_set(h, "bitsPerValue", bits)
    ec.codes_set_values(h, values)
    return h


def field(h, packing="grid_simple", bits=16, seed=0, missing=None, decimal=None, extra=()):
    # The size is not asked of the message: reading keys before its values are set makes the
    # JPEG 2000 encoder of ecCodes write a code stream it cannot read back.
    n = NX * NY
    vals = pattern(n, seed)
    if decimal is not None:
        ec.codes_set(h, "decimalScaleFactor", decimal)
    if missing is not None:
        ec.codes_set(h, "bitmapPresent", 1)
        ec.codes_set(h, "missingValue", 9999.0)
        vals[missing(np.arange(n))] = 9999.0
    if bits is not None and bits < 24:
        # Fewer bits than the range needs: keep the range small enough for an exact test.
        vals = np.where(vals == 9999.0, vals, np.round(vals * 4) / 4)
    return pack(h, packing, bits, vals, extra)


def geometry(h):
    keys = {}
    for k in ("gridDefinitionTemplateNumber", "centre", "scanningMode", "numberOfDataPoints",
              "Ni", "Nj", "Nx", "Ny", "latitudeOfFirstGridPointInDegrees",
              "longitudeOfFirstGridPointInDegrees", "latitudeOfLastGridPointInDegrees",
              "longitudeOfLastGridPointInDegrees", "iDirectionIncrementInDegrees",
              "jDirectionIncrementInDegrees", "DxInMetres", "DyInMetres", "LoVInDegrees",
              "LaDInDegrees", "Latin1InDegrees", "Latin2InDegrees", "orientationOfTheGridInDegrees",
              "projectionCentreFlag", "bitsPerValue", "binaryScaleFactor", "decimalScaleFactor",
              "dataRepresentationTemplateNumber", "productDefinitionTemplateNumber",
              "typeOfFirstFixedSurface", "level", "forecastTime", "startStep", "endStep",
              "typeOfStatisticalProcessing", "perturbationNumber", "typeOfEnsembleForecast",
              "derivedForecast", "probabilityType", "parameterCategory", "parameterNumber"):
        try:
            if ec.codes_is_missing(h, k):
                continue
            v = ec.codes_get_double(h, k)
            keys[k] = v
        except Exception:
            pass
    return keys


def expectation(encoded):
    """Header line, geometry line and the values on the library's grid, as ecCodes decodes
    the message written."""
    h = ec.codes_new_from_message(ec.codes_get_message(encoded))
    tmpl = ec.codes_get(h, "gridDefinitionTemplateNumber")
    vals = ec.codes_get_double_array(h, "values")
    scan = ec.codes_get(h, "scanningMode")
    bitmap = ec.codes_get(h, "bitmapPresent")
    if bitmap:
        vals = np.where(vals == ec.codes_get_double(h, "missingValue"), -9999.0, vals)
    rows = None
    if tmpl == 0 and ec.codes_is_missing(h, "Ni"):
        rows = [int(x) for x in ec.codes_get_array(h, "pl")]
        nx, ny = max(rows), len(rows)
    elif tmpl == 0 or tmpl == 10:
        nx, ny = ec.codes_get(h, "Ni"), ec.codes_get(h, "Nj")
    else:
        nx, ny = ec.codes_get(h, "Nx"), ec.codes_get(h, "Ny")
    if rows is None:
        grid = to_grid(vals, nx, ny, scan)
        if tmpl == 0:
            # The geography of ecCodes confirms the placement: latitudes fall down the rows,
            # longitudes rise along them.
            lats = to_grid(ec.codes_get_double_array(h, "latitudes"), nx, ny, scan)
            lons = to_grid(ec.codes_get_double_array(h, "longitudes"), nx, ny, scan)
            assert np.all(np.diff(lats[:, 0]) < 0) or ny == 1, "rows not north to south"
            assert np.all(np.diff(np.unwrap(lons[0, :], period=360)) > 0) or nx == 1, "columns not west to east"
        flat = grid.reshape(-1)
    else:
        flat = vals
    step = 2.0 ** ec.codes_get(h, "binaryScaleFactor") * 10.0 ** -ec.codes_get(h, "decimalScaleFactor")
    lines = ["field %d %d %d %.9g %s" % (nx, ny, len(flat), step, ",".join(map(str, rows)) if rows else "-")]
    lines.append(" ".join("%s=%.9g" % kv for kv in geometry(h).items()))
    for i in range(0, len(flat), 8):
        lines.append(" ".join("%.9g" % v for v in flat[i:i + 8]))
    ec.codes_release(h)
    return lines


def write(name, handles, messages=None):
    path = os.path.join(OUT, name + ".grib2")
    with open(path, "wb") as f:
        for h in handles:
            f.write(ec.codes_get_message(h))
    with open(os.path.join(OUT, name + ".expect"), "w") as f:
        for h in handles:
            f.write("\n".join(expectation(h)) + "\n")
    for h in handles:
        ec.codes_release(h)


# ---- Messages assembled from sections ------------------------------------------------------

def sections(msg):
    """Indicator, then (number, bytes) of every section of one edition 2 message."""
    out, pos = [], 16
    while msg[pos:pos + 4] != b"7777":
        n = struct.unpack(">I", msg[pos:pos + 4])[0]
        out.append((msg[pos + 4], msg[pos:pos + n]))
        pos += n
    return msg[:16], out


def assemble(indicator, secs):
    body = b"".join(secs)
    total = 16 + len(body) + 4
    return indicator[:8] + struct.pack(">Q", total) + body + b"7777"


def bitmap_section(indicator, bits=b""):
    return struct.pack(">IBB", 6 + len(bits), 6, indicator) + bits


def multi_field():
    """One message, three fields on one grid: a bit map, its reuse (254), then none."""
    miss = lambda k: (k % 7) == 3
    a = field(regular_ll(), bits=12, seed=1, missing=miss)
    b = field(regular_ll(), bits=12, seed=2, missing=miss)
    c = field(regular_ll(), bits=16, seed=3)
    ma, mb, mc = (ec.codes_get_message(x) for x in (a, b, c))
    ind, sa = sections(ma)
    _, sb = sections(mb)
    _, sc = sections(mc)
    pick = lambda secs, nums: [s for n, s in secs if n in nums]
    body = pick(sa, (1, 3, 4, 5, 6, 7))
    body += pick(sb, (4, 5)) + [bitmap_section(254)] + pick(sb, (7,))
    body += pick(sc, (4, 5, 6, 7))
    msg = assemble(ind, body)
    path = os.path.join(OUT, "multi_field")
    with open(path + ".grib2", "wb") as f:
        f.write(msg)
    with open(path + ".expect", "w") as f:
        for h in (a, b, c):
            f.write("\n".join(expectation(h)) + "\n")
    for h in (a, b, c):
        ec.codes_release(h)


def zero_bit_complex():
    """Constant fields under complex packing written the way operational encoders write them:
    0 bits per value, no groups and an empty data section, with and without a bit map and
    spatial differencing. ecCodes packs a constant with bits, so its message is cut down
    here; ecCodes decodes the result, and that decoding is the expectation."""
    msgs, expect = [], []
    cases = (("grid_complex_spatial_differencing", False, 0.0, 0),
             ("grid_complex_spatial_differencing", True, 3.0, 0),
             ("grid_complex", False, 271.25, 2),
             ("grid_complex", True, 12.5, 1))
    for packing, with_bitmap, value, decimal in cases:
        h = regular_ll()
        ec.codes_set(h, "decimalScaleFactor", decimal)
        pack(h, packing, 12, pattern(NX * NY, 1))
        vals = np.full(NX * NY, value)
        if with_bitmap:
            ec.codes_set(h, "bitmapPresent", 1)
            ec.codes_set(h, "missingValue", 9999.0)
            vals[np.arange(NX * NY) % 7 == 2] = 9999.0
        ec.codes_set_values(h, vals)
        ind, secs = sections(ec.codes_get_message(h))
        ec.codes_release(h)
        body = []
        for n, sec in secs:
            if n == 5:
                sec = bytearray(sec)
                sec[19] = 0                      # bits per value
                sec[31:35] = bytes(4)            # number of groups
                sec = bytes(sec)
            elif n == 7:
                sec = struct.pack(">IB", 5, 7)
            body.append(sec)
        msg = assemble(ind, body)
        decoded = ec.codes_new_from_message(msg)
        got = ec.codes_get_double_array(decoded, "values")
        present = got[got != 9999.0]
        assert np.allclose(present, value), (packing, present[:4])
        msgs.append(msg)
        expect.append(expectation(decoded))
        ec.codes_release(decoded)
    path = os.path.join(OUT, "complex_zero_bits")
    with open(path + ".grib2", "wb") as f:
        f.write(b"".join(msgs))
    with open(path + ".expect", "w") as f:
        for lines in expect:
            f.write("\n".join(lines) + "\n")


def handmade_runlength():
    """Run-length packing (5.200) on a 10 x 4 grid, levels 1..3 at 0.5, 1.5, 2.5 and local
    product 50008; the expected values are written by hand."""
    grid = regular_ll(0, 10, 4)
    ec.codes_set_values(grid, np.zeros(40))
    ind, secs = sections(ec.codes_get_message(grid))
    ec.codes_release(grid)
    s1 = [s for n, s in secs if n == 1][0]
    s3 = [s for n, s in secs if n == 3][0]
    s4 = struct.pack(">IBHH", 34, 4, 0, 50008) + bytes([0, 1, 0, 0, 52]) + bytes(20)
    nbits, max_val = 8, 3
    levels = [5, 15, 25]
    s5 = struct.pack(">IBIHBHHB", 17 + 2 * len(levels), 5, 40, 200, nbits, max_val, len(levels), 1)
    s5 += b"".join(struct.pack(">H", v) for v in levels)
    # 1 x12, 2 x1, 0 x3, 3 x20, 1 x4 (runs: level, then digits d with run = 1 + sum d*base^k).
    base_digits = 255 - max_val
    codes = []
    for level, run in ((1, 12), (2, 1), (0, 3), (3, 20), (1, 4)):
        codes.append(level)
        r = run - 1
        while r > 0:
            codes.append(max_val + 1 + r % base_digits)
            r //= base_digits
    s7 = struct.pack(">IB", 5 + len(codes), 7) + bytes(codes)
    s6 = bitmap_section(255)
    msg = assemble(ind, [s1, s3, s4, s5, s6, s7])
    with open(os.path.join(OUT, "runlength.grib2"), "wb") as f:
        f.write(msg)
    scan_values = [0.5] * 12 + [1.5] + [-9999.0] * 3 + [2.5] * 20 + [0.5] * 4
    with open(os.path.join(OUT, "runlength.expect"), "w") as f:
        f.write("field 10 4 40 1 -\n\n")
        for i in range(0, 40, 8):
            f.write(" ".join("%.9g" % v for v in scan_values[i:i + 8]) + "\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    # Simple packing from 1 to 32 bits per value, one file of several messages.
    hs = []
    for i, bits in enumerate((1, 2, 3, 5, 8, 11, 12, 13, 16, 17, 20, 24, 25, 31, 32)):
        hs.append(field(regular_ll(), bits=bits, seed=i))
    write("simple_bits", hs)
    # A constant field: no bits at all.
    h = regular_ll()
    pack(h, "grid_simple", None, np.full(NX * NY, 273.5))
    write("constant", [h])
    # Every scanning direction on a latitude/longitude grid.
    write("scan_modes", [field(regular_ll(scan), bits=12, seed=s) for s, scan in
                         enumerate((0x00, 0x40, 0x80, 0xC0, 0x10, 0x50, 0x90, 0x20, 0x60))])
    # Complex packing, with spatial differencing of order 1 and 2, with and without a bit map.
    hs = [field(regular_ll(), "grid_complex", 12, 1),
          field(regular_ll(), "grid_complex_spatial_differencing", 12, 2,
                extra=(("orderOfSpatialDifferencing", 1),)),
          field(regular_ll(), "grid_complex_spatial_differencing", 16, 3,
                extra=(("orderOfSpatialDifferencing", 2),)),
          field(regular_ll(0x40), "grid_complex_spatial_differencing", 10, 4,
                missing=lambda k: (k % 5) == 0),
          field(regular_ll(), "grid_complex", 7, 5, missing=lambda k: (k // 20) % 3 == 1),
          field(regular_ll(0x80), "grid_complex_spatial_differencing", 24, 6, decimal=3)]
    write("complex", hs)
    # JPEG 2000 and CCSDS, with and without a bit map.
    write("jpeg", [field(regular_ll(), "grid_jpeg", 12, 7),
                   field(regular_ll(0x40), "grid_jpeg", 16, 8, missing=lambda k: (k % 11) == 2)])
    write("ccsds", [field(regular_ll(), "grid_ccsds", 12, 9),
                    field(regular_ll(), "grid_ccsds", 16, 10, missing=lambda k: (k % 3) == 0),
                    field(regular_ll(0x40), "grid_ccsds", 24, 11, decimal=2),
                    field(regular_ll(), "grid_ccsds", 5, 12)])
    # Bit maps with simple packing.
    write("bitmap", [field(regular_ll(), bits=12, seed=13, missing=lambda k: (k % 4) == 1),
                     field(regular_ll(0x40), bits=8, seed=14, missing=lambda k: k < 40)])
    # Projected grids.
    write("lambert", [field(lambert(), bits=14, seed=15), field(lambert(0x40), bits=14, seed=16)])
    write("polar", [field(polar(0x40), bits=12, seed=17), field(polar(0x40, south=True), bits=12, seed=18)])
    write("mercator", [field(mercator(), bits=12, seed=19)])
    # Thinned rows on a latitude/longitude grid.
    h = ec.codes_grib_new_from_samples("reduced_ll_sfc_grib2")
    pl = [4, 8, 12, 16, 12, 8, 4]
    ec.codes_set(h, "Nj", len(pl))
    ec.codes_set_array(h, "pl", pl)
    ec.codes_set(h, "latitudeOfFirstGridPointInDegrees", 30.0)
    ec.codes_set(h, "latitudeOfLastGridPointInDegrees", -30.0)
    ec.codes_set(h, "longitudeOfFirstGridPointInDegrees", 0.0)
    ec.codes_set(h, "longitudeOfLastGridPointInDegrees", 90.0)
    ec.codes_set(h, "jDirectionIncrementInDegrees", 10.0)
    write("thinned", [pack(h, "grid_simple", 12, pattern(sum(pl), 20))])
    # Product templates: levels, time ranges, ensembles and probabilities.
    products = ((0, (("typeOfLevel", "isobaricInhPa"), ("level", 500), ("forecastTime", 24))),
                (0, (("typeOfLevel", "heightAboveGround"), ("level", 2), ("forecastTime", 6))),
                (8, (("parameterCategory", 1), ("parameterNumber", 8), ("typeOfStatisticalProcessing", 1),
                     ("stepRange", "6-12"))),
                (8, (("typeOfStatisticalProcessing", 2), ("stepRange", "0-6"))),
                (1, (("typeOfEnsembleForecast", 3), ("perturbationNumber", 7), ("forecastTime", 36))),
                (11, (("typeOfEnsembleForecast", 3), ("perturbationNumber", 5),
                      ("typeOfStatisticalProcessing", 1), ("stepRange", "0-24"))),
                (2, (("derivedForecast", 0), ("forecastTime", 48))),
                (12, (("derivedForecast", 4), ("typeOfStatisticalProcessing", 0), ("stepRange", "12-18"))),
                (5, (("probabilityType", 1), ("scaleFactorOfUpperLimit", 1), ("scaledValueOfUpperLimit", 25),
                     ("forecastTime", 12))),
                (9, (("probabilityType", 1), ("scaleFactorOfUpperLimit", 0), ("scaledValueOfUpperLimit", 10),
                     ("typeOfStatisticalProcessing", 1), ("stepRange", "0-24"))))
    hs = []
    for i, (pdtn, keys) in enumerate(products):
        h = regular_ll()
        ec.codes_set(h, "productDefinitionTemplateNumber", pdtn)
        for k, v in keys:
            ec.codes_set(h, k, v)
        hs.append(field(h, bits=10, seed=30 + i))
    write("products", hs)
    multi_field()
    handmade_runlength()
    zero_bit_complex()


def bench(directory):
    """A global 0.25-degree field, temperature-like with small-scale noise, in each packing."""
    os.makedirs(directory, exist_ok=True)
    nx, ny = 1440, 721
    lat = np.linspace(90, -90, ny)[:, None]
    lon = np.linspace(0, 359.75, nx)[None, :]
    rng = np.random.default_rng(5)
    field_values = (273.15 + 30 * np.cos(np.radians(lat)) - 15 + 8 * np.sin(np.radians(3 * lon)) *
                    np.cos(np.radians(2 * lat)) + rng.normal(0, 0.3, (ny, nx))).reshape(-1)
    for packing in ("grid_simple", "grid_complex_spatial_differencing", "grid_jpeg", "grid_ccsds"):
        h = ec.codes_grib_new_from_samples("GRIB2")
        for k, v in (("Ni", nx), ("Nj", ny), ("latitudeOfFirstGridPointInDegrees", 90.0),
                     ("longitudeOfFirstGridPointInDegrees", 0.0),
                     ("latitudeOfLastGridPointInDegrees", -90.0),
                     ("longitudeOfLastGridPointInDegrees", 359.75),
                     ("iDirectionIncrementInDegrees", 0.25), ("jDirectionIncrementInDegrees", 0.25)):
            ec.codes_set(h, k, v)
        pack(h, packing, 16, field_values)
        with open(os.path.join(directory, packing + ".grib2"), "wb") as f:
            f.write(ec.codes_get_message(h))
        ec.codes_release(h)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--bench":
        bench(sys.argv[2])
    else:
        main()
