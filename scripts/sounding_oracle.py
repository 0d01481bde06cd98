#!/usr/bin/python3
"""Independent reference values for tests/test_calc.cpp.

Reads tests/data/sounding_ref.txt and computes, with NumPy and textbook formulas (Bolton 1980
for saturation vapour pressure, LCL temperature and equivalent potential temperature), the
merged temperature profile and the indices the test checks. The saturated adiabat is the
Bolton theta-e isoline, not the library's adiabat label: the test's tolerances cover that.

Usage: scripts/sounding_oracle.py [tests/data/sounding_ref.txt]
"""
import math
import sys

import numpy as np

MISSING = -9999.0
KAPPA = 0.286
RD = 287.05
G = 9.8
K0 = 273.15


def read(path):
    man, sig, wnd = {}, [], []
    for line in open(path):
        f = line.split()
        if not f or f[0].startswith("#"):
            continue
        vals = [float(x) for x in f[1:]]
        if f[0] == "man":
            man[int(vals[0])] = vals[1:]
        elif f[0] == "sig":
            sig.append(vals)
        elif f[0] == "wnd":
            wnd.append(vals)
    return man, sig, wnd


def es(tc):
    return 6.112 * np.exp(17.67 * tc / (tc + 243.5))


def theta(tk, p):
    return tk * (1000.0 / p) ** KAPPA


def lcl(tk, tdk, p):
    tl = 1.0 / (1.0 / (tdk - 56.0) + math.log(tk / tdk) / 800.0) + 56.0
    return p * (tl / tk) ** (1.0 / KAPPA), tl


def thetae(tk, p, tdk):
    e = es(tdk - K0)
    r = 622.0 * e / (p - e)
    _, tl = lcl(tk, tdk, p)
    return tk * (1000.0 / p) ** (0.2854 * (1 - 0.28e-3 * r)) * math.exp((3.376 / tl - 0.00254) * r * (1 + 0.81e-3 * r))


def moist_temp(te, p):
    lo, hi = 150.0, 330.0
    for _ in range(60):
        mid = (lo + hi) / 2
        if thetae(mid, p, mid) > te:
            hi = mid
        else:
            lo = mid
    return (lo + hi) / 2


def merged_profile(man, sig):
    sfc = man[0]
    levels = {}
    for k in sorted(i for i in man if 1 <= i <= 21):
        p, h, t, td, d, s = man[k]
        if p < sfc[0]:
            levels[p] = [p, h, t, td, d, s]
    levels[sfc[0]] = list(sfc)
    for p, t, td in sig:
        if p in levels:
            lv = levels[p]
            lv[2] = lv[2] if lv[2] != MISSING else t
            lv[3] = lv[3] if lv[3] != MISSING else td
        elif p <= sfc[0]:
            levels[p] = [p, MISSING, t, td, MISSING, MISSING]
    trop = man[22]
    if trop[0] in levels:
        lv = levels[trop[0]]
        lv[4], lv[5] = (trop[4], trop[5]) if lv[4] == MISSING else (lv[4], lv[5])
    prof = [levels[p] for p in sorted(levels, reverse=True)]
    mw = man[23]
    ps = np.array([lv[0] for lv in prof])
    i = int(np.searchsorted(-ps, -mw[0]))
    lo, hi = prof[i - 1], prof[i]
    f = math.log(mw[0] / lo[0]) / math.log(hi[0] / lo[0])
    prof.insert(i, [mw[0], MISSING, lo[2] + (hi[2] - lo[2]) * f, lo[3] + (hi[3] - lo[3]) * f, mw[4], mw[5]])
    # Heights: hypsometric from the nearest reported height below, layer by layer.
    for k, lv in enumerate(prof):
        if lv[1] == MISSING:
            b = prof[k - 1]
            tbar = (b[2] + lv[2]) / 2 + K0
            lv[1] = b[1] + RD * tbar / G * math.log(b[0] / lv[0])
    return prof


def at(prof, p):
    for lv in prof:
        if abs(lv[0] - p) < 1e-6:
            return lv
    raise KeyError(p)


def interp_env(prof, p):
    ps = np.array([lv[0] for lv in prof])
    lnp = -np.log(ps)
    x = -math.log(p)
    t = np.interp(x, lnp, [lv[2] + K0 for lv in prof])
    h = np.interp(x, lnp, [lv[1] for lv in prof])
    return t, h


def parcel(prof, t0, td0, p0):
    plcl, tl = lcl(t0, td0, p0)
    th = theta(t0, p0)
    te_label = thetae(t0, p0, td0)
    # dry part at the sounding levels, then the LCL
    pts = [(p0, t0)]
    pts += [(lv[0], th * (lv[0] / 1000.0) ** KAPPA) for lv in prof if plcl < lv[0] < p0]
    pts.append((plcl, th * (plcl / 1000.0) ** KAPPA))
    p = plcl - 10.0
    top = prof[-1][0]
    while p > top:
        pts.append((p, moist_temp(te_label, p)))
        p -= 10.0
    bplus = bminus = 0.0
    lfc = -1.0
    el = MISSING
    state = 0
    prev_pos = False
    for (pa, tpa), (pb, tpb) in zip(pts, pts[1:]):
        tea, ha = interp_env(prof, pa)
        teb, hb = interp_env(prof, pb)
        e = (hb - ha) * G * ((tpa + tpb) / 2 - (tea + teb) / 2) / ((tea + teb) / 2)
        if pb >= plcl - 1e-6:  # dry layers
            if e > 0:
                bplus += e
            else:
                bminus -= e
            continue
        if state == 0 and e >= 0:
            lfc, state = (pa + pb) / 2, 1
        if e < 0 and state == 0:
            bminus -= e
        if e > 0:
            bplus += e
        if e < 0 and state == 1 and prev_pos:
            el, state = (pa + pb) / 2, 2
        prev_pos = e > 0
    return dict(plcl=plcl, lfc=lfc, el=el, bplus=bplus, bminus=bminus)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "tests/data/sounding_ref.txt"
    man, sig, _ = read(path)
    prof = merged_profile(man, sig)
    print("levels", len(prof))
    print("pressures", " ".join("%g" % lv[0] for lv in prof))
    print("heights", " ".join("%.1f" % lv[1] for lv in prof))
    l850, l700, l500 = at(prof, 850), at(prof, 700), at(prof, 500)
    tt = l850[2] + l850[3] - 2 * l500[2]
    print("total_totals %.3f" % tt)
    print("vertical_totals %.3f" % (l850[2] - l500[2]))
    print("cross_totals %.3f" % (l850[3] - l500[2]))
    print("k_index %.3f" % (l850[2] + l850[3] - l500[2] - (l700[2] - l700[3])))
    sweat = 12 * max(l850[3], 0) + 20 * max(tt - 49, 0) + 2 * l850[5] + l500[5]
    if 135 <= l850[4] <= 250 and 210 <= l500[4] <= 310 and l500[4] > l850[4] and l850[5] >= 15 and l500[5] >= 15:
        sweat += 125 * (0.2 + math.sin(math.radians(l500[4] - l850[4])))
    print("sweat %.3f" % sweat)
    wet = [lv for lv in prof if lv[3] != MISSING]
    p = np.array([lv[0] for lv in wet])
    q = 622.0 * es(np.array([lv[3] for lv in wet])) / p
    print("precip_water %.4f" % float(np.sum(-np.diff(p) * (q[:-1] + q[1:]) / 2000.0) / 2.4892))
    temps = [(lv[0], lv[2]) for lv in prof if lv[2] != MISSING]
    for (pa, ta), (pb, tb) in zip(temps, temps[1:]):
        if ta >= 0 > tb:
            print("freezing_level %.3f" % (pa + (pb - pa) * (0 - ta) / (tb - ta)))
            break
    sfc = prof[0]
    t0, td0, p0 = sfc[2] + K0, sfc[3] + K0, sfc[0]
    plcl, _ = lcl(t0, td0, p0)
    tp500 = moist_temp(thetae(t0, p0, td0), 500.0)
    print("lifted_index %.3f" % (l500[2] + K0 - tp500))
    r = parcel(prof, t0, td0, p0)
    print("plcl %.2f lfc %.1f el %.1f bplus %.1f bminus %.1f" % (r["plcl"], r["lfc"], r["el"], r["bplus"], r["bminus"]))
    t1000, h1000 = interp_env(prof, 700.0)
    print("lapse_700_500 %.3f" % (-(l500[2] - l700[2]) / (l500[1] - l700[1]) * 1000))


if __name__ == "__main__":
    main()
