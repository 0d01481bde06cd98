#!/usr/bin/python3
"""Writes the soundings of a "QAZUPA+" / "QAZUPAx" file as BUFR radiosonde messages with
ecCodes (a test oracle and sample maker only: the library decodes BUFR on its own side).

  make_bufr_temp.py IN.upa OUT.bufr [--station ID[,ID]] [--template 309052|309057]
                    [--edition 3|4] [--per-message N] [--date YYYYMMDDHH]

Template 3 09 052 gets the report's levels as they are: surface, standard levels,
tropopause, maximum wind, significant temperature levels and the wind levels (by height).
Template 3 09 057 gets a high-resolution profile: the same levels plus levels every 2 hPa
interpolated in ln p between them (unflagged), with elapsed time and displacement per
level, as a radiosonde's full ascent would give. --per-message puts that many stations in
one message as subsets (default 1: one message per station).
"""
import argparse
import math
import sys

import eccodes

MISSING = -9999.0

# Extended vertical sounding significance (0 08 042), bit 1 the highest of 18.
SURFACE, STANDARD, TROPOPAUSE, MAXWIND, SIGTEMP, SIGWIND = (1 << 17, 1 << 16, 1 << 15, 1 << 14, 1 << 13, 1 << 11)


def decd_ph(g):
    if g.startswith("X") or len(g) < 2:
        return MISSING, MISSING
    if g[0] == "-":
        p = float(g[1])
        rest = g[2:]
    else:
        pp = g[:2]
        if pp == "99" or not pp.isdigit():
            return MISSING, MISSING
        p = 1000.0 if pp == "00" else 925.0 if pp == "92" else float(int(pp) * 10)
        rest = g[2:]
    if len(rest) != 3 or not rest.isdigit():
        return p, MISSING
    h = int(rest)
    if p == 1000:
        z = 500 - h if h >= 500 else h
    elif p == 925:
        z = h
    elif p == 850:
        z = 1000 + h
    elif p == 700:
        z = h + 2000 if h > 500 else h + 3000
    elif p in (500, 400):
        z = 10 * h
    elif p in (300, 250):
        z = 10 * h if h > 500 else 10 * h + 10000
    elif p in (200, 150, 100, 70):
        z = 10 * h + 10000
    elif p == 50:
        z = 10 * h + (10000 if h > 500 else 20000)
    elif p in (30, 20):
        z = 10 * h + 20000
    elif p == 10:
        z = 10 * h + (20000 if h > 500 else 30000)
    elif p in (7, 5):
        z = 10 * h + 30000
    elif p in (3, 2):
        z = 10 * h + (30000 if h > 500 else 40000)
    elif p == 1:
        z = 10 * h + (40000 if h > 500 else 50000)
    else:
        z = h
    return p, float(z)


def decd_td(g):
    if g.startswith("X") or len(g) != 5 or not g.isdigit():
        return MISSING, MISSING
    ttt, dd = int(g[:3]), int(g[3:])
    if ttt == 999:
        return MISSING, MISSING
    t = ttt / 10.0 * (-1 if ttt % 2 else 1)
    if dd == 99:
        return t, MISSING
    return t, t - (dd / 10.0 if dd <= 50 else dd - 50)


def decd_wd(g):
    if g.startswith("X") or len(g) != 5 or not g.isdigit():
        return MISSING, MISSING
    ddd, ff = int(g[:3]), int(g[3:])
    if ddd == 999:
        return MISSING, MISSING
    spd, d = (ddd % 5) * 100 + ff, ddd - ddd % 5
    if spd > 250 or d > 360:
        return MISSING, MISSING
    return float(d), float(spd)


def sig_pres(tok):
    if len(tok) == 3 and tok[0] == "0" and tok.isdigit():
        return 1000.0 + int(tok)
    return float(tok)


def read_qazupa(path):
    """The stations of a type 4/5 file: dicts with id, wmo, lat, lon, man, sig, wnd."""
    toks = open(path).read().split("\n", 2)[2].split()
    i = 0
    out = []
    while i < len(toks):
        st = {"id": toks[i], "wmo": None, "lat": None, "lon": None,
              "man": {}, "sig": [], "wnd": []}
        parts = toks[i].split(":")
        if len(parts) >= 2:
            st["wmo"] = int(parts[0]) if parts[0].isdigit() else None
            st["id"] = parts[1]
            if len(parts) >= 4:
                st["lat"], st["lon"] = float(parts[2]), float(parts[3])
        i += 1
        for level in range(1, 17):
            p, h = decd_ph(toks[i])
            t, td = decd_td(toks[i + 1])
            d, s = decd_wd(toks[i + 2])
            st["man"][level] = (p, h, t, td, d, s)
            i += 3
        level = 17
        while toks[i].startswith("-"):
            p, h = decd_ph(toks[i])
            t, td = decd_td(toks[i + 1])
            d, s = decd_wd(toks[i + 2])
            st["man"][level] = (p, h, t, td, d, s)
            level += 1
            i += 3
        if toks[i] == "X":
            i += 3
        else:
            p = float(toks[i][2:])
            t, td = decd_td(toks[i + 1])
            d, s = decd_wd(toks[i + 2])
            st["man"][22] = (p, MISSING, t, td, d, s)
            i += 3
        if toks[i] == "X":
            i += 2
        else:
            d, s = decd_wd(toks[i + 1])
            st["man"][23] = (float(toks[i][2:]), MISSING, MISSING, MISSING, d, s)
            i += 2
        while toks[i] != "X":
            t, td = decd_td(toks[i + 1])
            st["sig"].append((sig_pres(toks[i]), t, td))
            i += 2
        i += 1
        while toks[i] != "$":
            d, s = decd_wd(toks[i + 1])
            st["wnd"].append((float(toks[i]) * 1000.0, d, s))
            i += 2
        i += 1
        out.append(st)
    return out


def levels_of(st):
    """(flags, p hPa, h m, t C, td C, dir, spd kt) of one station, surface first."""
    lev = []
    sig = st["sig"]
    if sig and sig[0][0] > 500:
        p, t, td = sig[0]
        sfc = st["wnd"][0] if st["wnd"] and st["wnd"][0][0] == 0 else (None, MISSING, MISSING)
        lev.append([SURFACE, p, MISSING, t, td, sfc[1], sfc[2]])
    for idx, (p, h, t, td, d, s) in st["man"].items():
        if p == MISSING:
            continue
        flag = TROPOPAUSE if idx == 22 else MAXWIND if idx == 23 else STANDARD
        lev.append([flag, p, h, t, td, d, s])
    for p, t, td in sig[1:] if lev and lev[0][0] == SURFACE else sig:
        lev.append([SIGTEMP, p, MISSING, t, td, MISSING, MISSING])
    for h, d, s in st["wnd"]:
        if h == 0 and lev and lev[0][0] == SURFACE:
            continue
        lev.append([SIGWIND, MISSING, h * 0.3048, MISSING, MISSING, d, s])
    return lev


def dense(lev):
    """The levels plus unflagged ones every 2 hPa between the temperature levels."""
    temps = sorted((l for l in lev if l[1] != MISSING and l[3] != MISSING), key=lambda l: -l[1])
    extra = []
    for a, b in zip(temps, temps[1:]):
        p = a[1] - 2.0
        while p > b[1] + 0.5:
            f = (math.log(p) - math.log(a[1])) / (math.log(b[1]) - math.log(a[1]))
            td = a[4] + f * (b[4] - a[4]) if MISSING not in (a[4], b[4]) else MISSING
            extra.append([0, round(p, 1), MISSING, a[3] + f * (b[3] - a[3]), td, MISSING, MISSING])
            p -= 2.0
    return lev + extra


def k(v, offset=0.0, scale=1.0):
    return eccodes.CODES_MISSING_DOUBLE if v == MISSING else v * scale + offset


def write_message(out, stations, template, edition, date):
    h = eccodes.codes_bufr_new_from_samples("BUFR4" if edition == 4 else "BUFR3_local")
    try:
        eccodes.codes_set(h, "edition", edition)
        eccodes.codes_set(h, "masterTableNumber", 0)
        # 3 09 057 first appears in version 31 of the WMO tables.
        eccodes.codes_set(h, "masterTablesVersionNumber", 31 if template == 309057 else 28)
        eccodes.codes_set(h, "localTablesVersionNumber", 0)
        eccodes.codes_set(h, "dataCategory", 2)
        eccodes.codes_set(h, "numberOfSubsets", len(stations))
        eccodes.codes_set(h, "observedData", 1)
        eccodes.codes_set(h, "compressedData", 0)
        eccodes.codes_set(h, "typicalYear", date[0])
        eccodes.codes_set(h, "typicalMonth", date[1])
        eccodes.codes_set(h, "typicalDay", date[2])
        eccodes.codes_set(h, "typicalHour", date[3])
        eccodes.codes_set(h, "typicalMinute", 0)
        all_levels = []
        for st in stations:
            lev = levels_of(st)
            if template == 309057:
                lev = dense(lev)
            all_levels.append(lev)
        # 0 31 002 counts the levels, 0 31 001 the wind-shear levels (none here).
        eccodes.codes_set_array(h, "inputExtendedDelayedDescriptorReplicationFactor", [len(l) for l in all_levels])
        eccodes.codes_set_array(h, "inputDelayedDescriptorReplicationFactor", [0] * len(all_levels))
        eccodes.codes_set(h, "unexpandedDescriptors", template)
        for n, (st, lev) in enumerate(zip(stations, all_levels), start=1):
            pre = "#%d#" % n
            wmo = st["wmo"] if st["wmo"] is not None else 99000 + n
            eccodes.codes_set(h, pre + "blockNumber", wmo // 1000)
            eccodes.codes_set(h, pre + "stationNumber", wmo % 1000)
            eccodes.codes_set(h, pre + "year", date[0])
            eccodes.codes_set(h, pre + "month", date[1])
            eccodes.codes_set(h, pre + "day", date[2])
            eccodes.codes_set(h, pre + "hour", date[3])
            eccodes.codes_set(h, pre + "minute", 0)
            if st["lat"] is not None:
                eccodes.codes_set(h, pre + "latitude", st["lat"])
                eccodes.codes_set(h, pre + "longitude", st["lon"])
            if lev and lev[0][0] & SURFACE and lev[0][2] != MISSING:
                eccodes.codes_set(h, pre + "heightOfStationGroundAboveMeanSeaLevel", lev[0][2])
        # Level values of every subset in one array each, subset after subset.
        flat = [l for lev in all_levels for l in lev]
        with_time = [l for lev in all_levels for l in enumerate(lev)]
        eccodes.codes_set_array(h, "timePeriod", [i * 6 for i, _ in with_time])
        eccodes.codes_set_array(h, "extendedVerticalSoundingSignificance", [l[0] for l in flat])
        eccodes.codes_set_array(h, "pressure", [k(l[1], scale=100.0) for l in flat])
        eccodes.codes_set_array(h, "nonCoordinateGeopotentialHeight", [k(l[2]) for l in flat])
        eccodes.codes_set_array(h, "latitudeDisplacement", [0.0001 * i if template == 309057 else 0.0 for i, _ in with_time])
        eccodes.codes_set_array(h, "longitudeDisplacement", [0.0 for _ in flat])
        eccodes.codes_set_array(h, "airTemperature", [k(l[3], 273.15) for l in flat])
        eccodes.codes_set_array(h, "dewpointTemperature", [k(l[4], 273.15) for l in flat])
        eccodes.codes_set_array(h, "windDirection", [k(l[5]) for l in flat])
        eccodes.codes_set_array(h, "windSpeed", [k(l[6], scale=0.5144) for l in flat])
        eccodes.codes_set(h, "pack", 1)
        eccodes.codes_write(h, out)
    finally:
        eccodes.codes_release(h)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("--station", default="")
    ap.add_argument("--template", type=int, default=309052, choices=(309052, 309057))
    ap.add_argument("--edition", type=int, default=4, choices=(3, 4))
    ap.add_argument("--per-message", type=int, default=1)
    ap.add_argument("--date", default="2026052000")
    a = ap.parse_args()
    stations = read_qazupa(a.input)
    if a.station:
        wanted = a.station.split(",")
        stations = [s for s in stations if s["id"] in wanted]
    if not stations:
        sys.exit("no station to write")
    date = (int(a.date[:4]), int(a.date[4:6]), int(a.date[6:8]), int(a.date[8:10]))
    with open(a.output, "wb") as out:
        for i in range(0, len(stations), a.per_message):
            write_message(out, stations[i:i + a.per_message], a.template, a.edition, date)


if __name__ == "__main__":
    main()
