"""What the tests compare with: the C++ reads of a file (gridcalc writing a grid in the
library's binary form, its inventory), ecCodes' reads and writes (oracle only)."""
import subprocess

import numpy as np

from conftest import GRIDCALC, SHARE


def gridcalc(*args):
    return subprocess.run([str(GRIDCALC), "-fp", str(SHARE) + "/", *args], check=True,
                          capture_output=True, text=True, timeout=60).stdout


def cpp_grid(path, num, function, out):
    """Grid `num` of path after gridcalc's function (copy, lat, lon), read back from the
    library's binary grid form: (domain line fields, values (ny, nx) with NaN missing)."""
    gridcalc(f"{path},num={num}", function, "=", str(out))
    head = out.read_bytes().split(b"\n", 5)
    domain = head[4].decode().split()
    nx, ny = int(domain[-2]), int(domain[-1])
    values = np.frombuffer(head[5][:4 * nx * ny], dtype=">f4").reshape(ny, nx).astype(np.float32)
    return domain, np.where(values == -9999.0, np.nan, values)


def cpp_inventory(path):
    """gridcalc's inventory lines, by grid number."""
    lines = {}
    for line in gridcalc(str(path), "info").splitlines():
        parts = line.split(None, 1)
        if len(parts) == 2 and parts[0].isdigit():
            lines[int(parts[0])] = parts[1]
    return lines


def write_grib(path, fields, template):
    """Writes one GRIB message per dict of ecCodes keys (values in "values"), each a clone of
    the first message of template."""
    import eccodes
    with open(template, "rb") as f:
        base = eccodes.codes_grib_new_from_file(f)
    try:
        with open(path, "wb") as out:
            for keys in fields:
                h = eccodes.codes_clone(base)
                for k, v in keys.items():
                    if k != "values":
                        eccodes.codes_set(h, k, v)
                if "values" in keys:
                    eccodes.codes_set_values(h, np.asarray(keys["values"], dtype=float).ravel())
                eccodes.codes_write(h, out)
                eccodes.codes_release(h)
    finally:
        eccodes.codes_release(base)
