#!/usr/bin/python3
"""Writes share/sample.grb2: a small GRIB edition 2 analysis over North America (0.5 degree
latitude/longitude grid, 12Z 8 Dec 2026) for the demo and the end-to-end tests.

The fields are analytic but weather-like: a 500 mb trough over the Plains with its geostrophic
winds, 500 mb and 2 m temperatures, mean-sea-level pressure with a low, and 850 mb relative
humidity. The GRIB writer here is only a tool to make the file; the library reads it with its
own decoder."""
import math
import sys

import eccodes
import numpy as np

LAT_N, LAT_S, LON_W, LON_E, STEP = 60.0, 20.0, -130.0, -60.0, 0.5
NI = int(round((LON_E - LON_W) / STEP)) + 1
NJ = int(round((LAT_N - LAT_S) / STEP)) + 1
lat = np.linspace(LAT_N, LAT_S, NJ)[:, None] * np.ones((1, NI))
lon = np.linspace(LON_W, LON_E, NI)[None, :] * np.ones((NJ, 1))


def bump(lat0, lon0, rlat, rlon):
    return np.exp(-((lat - lat0) / rlat) ** 2 - ((lon - lon0) / rlon) ** 2)


z500 = 5880.0 - 4.5 * (lat - 20.0) ** 1.3 - 180.0 * bump(44.0, -98.0, 9.0, 12.0)
# Geostrophic wind of the height field: u = -(g/f) dZ/dy, v = (g/f) dZ/dx.
g, omega, a = 9.80665, 7.292e-5, 6371220.0
f = 2 * omega * np.sin(np.radians(lat))
dy = np.radians(STEP) * a
dx = np.radians(STEP) * a * np.cos(np.radians(lat))
dzdy = -np.gradient(z500, axis=0) / dy  # rows run north to south
dzdx = np.gradient(z500, axis=1) / dx
u500 = -(g / f) * dzdy
v500 = (g / f) * dzdx
t500 = 273.15 - 10.0 - 0.45 * (lat - 20.0) - 4.0 * bump(46.0, -100.0, 10.0, 12.0)
t2m = 273.15 + 27.0 - 0.75 * (lat - 20.0) + 3.0 * np.sin(np.radians(lon * 4)) - 6.0 * bump(48.0, -105.0, 8.0, 8.0)
mslp = 101600.0 - 1800.0 * bump(42.0, -93.0, 6.0, 8.0) + 600.0 * bump(35.0, -75.0, 10.0, 12.0)
rh850 = np.clip(55.0 + 35.0 * bump(38.0, -90.0, 6.0, 10.0) - 20.0 * bump(35.0, -110.0, 6.0, 8.0), 1, 100)

# (category, number, surface type, surface value, values, decimal scale, bits)
FIELDS = [
    (3, 5, 100, 50000, z500, 0, 16),   # geopotential height, m
    (0, 0, 100, 50000, t500, 1, 12),   # temperature, K
    (2, 2, 100, 50000, u500, 1, 12),   # u wind, m/s
    (2, 3, 100, 50000, v500, 1, 12),   # v wind, m/s
    (1, 1, 100, 85000, rh850, 0, 8),   # relative humidity, %
    (0, 0, 103, 2, t2m, 1, 12),        # 2 m temperature, K
    (3, 1, 101, 0, mslp, -1, 12),      # pressure reduced to mean sea level, Pa
]


def main(path):
    with open(path, "wb") as out:
        for cat, num, sfc, level, values, dscale, bits in FIELDS:
            h = eccodes.codes_grib_new_from_samples("GRIB2")
            try:
                for key, val in [
                    ("centre", 7), ("generatingProcessIdentifier", 96),
                    ("dataDate", 20261208), ("dataTime", 1200),
                    ("gridType", "regular_ll"), ("Ni", NI), ("Nj", NJ),
                    ("latitudeOfFirstGridPointInDegrees", LAT_N),
                    ("longitudeOfFirstGridPointInDegrees", LON_W + 360.0),
                    ("latitudeOfLastGridPointInDegrees", LAT_S),
                    ("longitudeOfLastGridPointInDegrees", LON_E + 360.0),
                    ("iDirectionIncrementInDegrees", STEP), ("jDirectionIncrementInDegrees", STEP),
                    ("jScansPositively", 0),
                    ("discipline", 0), ("parameterCategory", cat), ("parameterNumber", num),
                    ("typeOfFirstFixedSurface", sfc), ("scaleFactorOfFirstFixedSurface", 0),
                    ("scaledValueOfFirstFixedSurface", level),
                    ("stepRange", "0"),
                    ("packingType", "grid_simple"), ("decimalScaleFactor", dscale),
                    ("bitsPerValue", bits),
                ]:
                    if isinstance(val, str):
                        eccodes.codes_set_string(h, key, val)
                    elif isinstance(val, float):
                        eccodes.codes_set_double(h, key, val)
                    else:
                        eccodes.codes_set_long(h, key, val)
                eccodes.codes_set_values(h, values.astype(float).ravel())
                eccodes.codes_write(h, out)
            finally:
                eccodes.codes_release(h)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "share/sample.grb2")
