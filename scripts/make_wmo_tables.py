#!/usr/bin/python3
"""Writes the WMO code tables the library names parameters and centres from.

  share/grib2_wmo.lup          GRIB edition 2 code table 4.2 (parameters) for disciplines
                               0, 1, 2, 3, 4 and 10, WMO entries only (no local categories
                               or numbers from 192 up)
  src/lib/grid/var_centres.cpp WMO common code table C-11 (originating centres)

The source is the copy of the WMO tables that ships with the ecCodes definition files; it is
read here, once, and the output is committed: the library never reads those files itself.

Usage: make_wmo_tables.py [definitions directory]
"""
import os
import re
import sys

DEFS = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/eccodes/definitions"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DISCIPLINES = (0, 1, 2, 3, 4, 10)


def latest_tables():
    base = os.path.join(DEFS, "grib2", "tables")
    versions = [int(v) for v in os.listdir(base) if v.isdigit()]
    return os.path.join(base, str(max(versions))), max(versions)


def entries(path):
    """(code, text) of each line "code abbreviation text" of a definition table."""
    out = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            parts = line.rstrip("\n").split(None, 2)
            if len(parts) < 3 or not parts[0].isdigit():
                continue
            out.append((int(parts[0]), parts[2].strip()))
    return out


def library_units(text):
    """WMO unit text in the library's spelling: "kg m-2 s-1" -> "kg/m^2/s", "m2 s-2" ->
    "m^2/s^2"; numbers without unit "-", code tables "code"."""
    text = text.strip()
    if text in ("degree true", "deg true"):
        return "deg"
    if not text or text in ("-", "Numeric") or text.startswith("Numeric"):
        return "-"
    if text.lower().startswith(("code table", "flag table")):
        return "code"
    if "/" in text or " " not in text and not re.search(r"[a-zA-Z]-?\d", text):
        return text.replace(" ", "")
    above, below = [], []
    for token in text.split():
        m = re.match(r"^([A-Za-z%\u00b0]+)(-?\d+)?$", token)
        if not m:
            return text.replace(" ", "")
        base, power = m.group(1), int(m.group(2) or 1)
        part = base if abs(power) == 1 else "%s^%d" % (base, abs(power))
        (above if power > 0 else below).append(part)
    return (" ".join(above) or "1") + "".join("/" + b for b in below)


def split_units(text):
    """"Wind speed (gust) (m/s)" -> ("Wind speed (gust)", "m/s")."""
    m = re.match(r"^(.*\S)\s+\(([^()]*)\)$", text)
    if not m:
        return text, "-"
    return m.group(1), library_units(m.group(2))


def parameters():
    tables, version = latest_tables()
    rows = []
    for d in DISCIPLINES:
        cats = sorted(int(name.split(".")[3]) for name in os.listdir(tables)
                      if re.match(r"^4\.2\.%d\.\d+\.table$" % d, name))
        for c in cats:
            if c >= 192:
                continue
            for n, text in entries(os.path.join(tables, "4.2.%d.%d.table" % (d, c))):
                if n >= 192 or text.lower().startswith(("reserved", "missing")):
                    continue
                name, units = split_units(text)
                rows.append((d, c, n, units, name))
    path = os.path.join(ROOT, "share", "grib2_wmo.lup")
    with open(path, "w") as f:
        f.write("# WMO GRIB edition 2 code table 4.2 (parameters), tables version %d.\n" % version)
        f.write("# Written by scripts/make_wmo_tables.py; do not edit.\n")
        f.write("# discipline category number<TAB>units<TAB>long name\n")
        for d, c, n, units, name in rows:
            f.write("%d %d %d\t%s\t%s\n" % (d, c, n, units, name))
    return len(rows)


def centres():
    rows = [(code, text) for code, text in entries(os.path.join(DEFS, "common", "c-11.table"))
            if text.lower() not in ("missing",) and not text.lower().startswith("reserved")]
    path = os.path.join(ROOT, "src", "lib", "grid", "var_centres.cpp")
    with open(path, "w") as f:
        f.write("// Originating centres: WMO common code table C-11.\n")
        f.write("// Written by scripts/make_wmo_tables.py; do not edit.\n")
        f.write('#include "var_tool.hpp"\n\n')
        f.write("namespace {\n\nstruct Centre {\n    int code;\n    const char* name;\n};\n\n")
        f.write("constexpr Centre kWmoCentres[] = {\n")
        for code, text in rows:
            f.write('    {%d, "%s"},\n' % (code, text.replace("\\", "\\\\").replace('"', '\\"')))
        f.write("};\n\n}  // namespace\n\n")
        f.write("const char* VAR_centre_name(int centre)\n{\n")
        f.write("    for (const Centre& c : kWmoCentres)\n")
        f.write("        if (c.code == centre) return c.name;\n")
        f.write('    return "";\n}\n')
    return len(rows)


if __name__ == "__main__":
    print("parameters:", parameters())
    print("centres:", centres())
