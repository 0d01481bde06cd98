"""xarray backend: ``xarray.open_dataset(path, engine="qaz")``.

One variable per parameter and level type, with the dimensions time (reference time), step
(forecast time), level, y and x as the fields present call for; coordinates and grid-mapping
attributes from the library's CF description of the domain. Values are decoded only when
indexed, field by field, without the interpreter lock (dask's threaded scheduler decodes on
every core); nothing is ever written beside the data.

Selection: ``abbreviation=``, ``ltype=``, ``level=`` (a value or a list of values) keep only
the matching fields.
"""
import os
import threading

import numpy as np
import xarray as xr
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import indexing

from . import GRIB_TYPE, Error, GridFile, _as_list, _qaz

_GRIB_EXTENSIONS = {".grb", ".grib", ".grb1", ".grib1", ".grb2", ".grib2", ".gr2", ".gr1"}
_MAGIC = (b"GRIB", b"QAZGRID", b"GRID")


class QazBackendArray(BackendArray):
    """Lazy values of one variable: (lead dimensions..., y, x); each lead position names one
    field of the file (or none: NaN)."""

    def __init__(self, path, grib, slots, offset, length, edition, field, lead_shape, ny, nx):
        self.path = path
        self.grib = grib
        self.slots = slots          # lead index -> row in the field columns, -1 none
        self.offset, self.length, self.edition, self.field = offset, length, edition, field
        self.shape = tuple(lead_shape) + (ny, nx)
        self.dtype = np.dtype("float32")

    def _decode(self, row, out=None):
        if self.grib and self.offset[row] >= 0:
            return _qaz.grib_values(self.path, int(self.offset[row]), int(self.length[row]),
                                    int(self.edition[row]), int(self.field[row]), out)
        return _qaz.table_values(self.path, int(self.field[row]))

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(
            key, self.shape, indexing.IndexingSupport.OUTER, self._raw_indexing_method)

    def _raw_indexing_method(self, key):
        nlead = len(self.shape) - 2
        lead_key, yx_key = key[:nlead], key[nlead:]
        rows = self.slots[lead_key] if nlead else np.asarray(self.slots)
        rows = np.asarray(rows)
        ny, nx = self.shape[-2:]
        sample = np.empty((ny, nx), dtype=np.float32)[yx_key]
        out = np.empty(rows.shape + sample.shape, dtype=np.float32)
        flat_rows = rows.reshape(-1)
        flat_out = out.reshape((-1,) + sample.shape)
        whole = sample.shape == (ny, nx)
        for k, row in enumerate(flat_rows):
            if row < 0:
                flat_out[k] = np.nan
            elif whole and self.grib:
                self._decode(int(row), flat_out[k])   # straight into the result
            else:
                flat_out[k] = self._decode(int(row))[yx_key]
        return out


class _Dims:
    """Dimension names over the whole dataset: a name is reused when its coordinate values
    are the same, else a more specific name is taken."""

    def __init__(self):
        self.values = {}

    def name(self, candidates, values):
        for name in candidates:
            have = self.values.get(name)
            if have is None:
                self.values[name] = values
                return name
            if len(have) == len(values) and np.array_equal(have, values):
                return name
        raise Error(f"no dimension name left for {candidates[0]}")


def _horizontal(domain, k):
    """Dimensions, coordinates and grid mapping of the k-th grid of a file, named and described
    as the library's CF netCDF writer does (lat/lon, or y/x with 2-D lat/lon and crs; a
    number after the names of every grid but the first)."""
    suffix = "" if k == 0 else str(k)
    desc = _qaz.cf_describe(domain)
    coords = {}
    if desc is not None and desc["latlon"]:
        ydim, xdim = "lat" + suffix, "lon" + suffix
        coords[ydim] = (ydim, np.asarray(desc["y"]), {
            "standard_name": "latitude", "long_name": "latitude", "units": "degrees_north",
            "axis": "Y"})
        coords[xdim] = (xdim, np.asarray(desc["x"]), {
            "standard_name": "longitude", "long_name": "longitude", "units": "degrees_east",
            "axis": "X"})
        return ydim, xdim, coords, None
    ydim, xdim = "y" + suffix, "x" + suffix
    crs = None
    if desc is not None:
        coords[ydim] = (ydim, np.asarray(desc["y"]), {
            "standard_name": "projection_y_coordinate", "units": desc["xy_units"], "axis": "Y"})
        coords[xdim] = (xdim, np.asarray(desc["x"]), {
            "standard_name": "projection_x_coordinate", "units": desc["xy_units"], "axis": "X"})
        crs = "crs" + suffix
        coords[crs] = ((), np.int32(0), {n: v for n, v in desc["attributes"]})
    try:
        lat, lon = _qaz.latlon(domain)
    except Error:
        return ydim, xdim, coords, crs
    coords["lat" + suffix] = ((ydim, xdim), lat, {"standard_name": "latitude",
                                                   "units": "degrees_north"})
    coords["lon" + suffix] = ((ydim, xdim), lon, {"standard_name": "longitude",
                                                   "units": "degrees_east"})
    return ydim, xdim, coords, crs


def _keep(cols, abbreviation, ltype, level):
    keep = np.ones(len(cols["var"]), dtype=bool)
    if abbreviation is not None:
        want = {a.lower() for a in _as_list(abbreviation)}
        keep &= np.array([a.lower() in want for a in cols["abbreviation"]], dtype=bool)
    if ltype is not None:
        keep &= np.isin(cols["ltype"], _as_list(ltype))
    if level is not None:
        keep &= np.isin(cols["level"], _as_list(level))
    return np.nonzero(keep)[0]


def _steps(cols, rows):
    """Step coordinate of the distinct coded forecast times of rows: the library's valid time
    less the reference time (the end of a statistic's range), when that tells them apart;
    else the coded times themselves (their texts are in the step_text attribute)."""
    def convert(coded):
        first = [rows[np.argmax(cols["time"][rows] == c)] for c in coded]
        span = (cols["valid"][first] - cols["reference"][first]).astype("timedelta64[ns]")
        if not np.any(np.isnat(span)) and len(np.unique(span)) == len(span):
            return span
        return coded
    return convert


def _step_attrs(cols, rows):
    attrs = {"standard_name": "forecast_period"}
    texts = {cols["time_text"][r] for r in rows[:1000]}
    if len(texts) <= 12:  # a handful of statistics or ranges: name them
        attrs["step_text"] = ", ".join(sorted(texts))
    return attrs


def open_qaz_dataset(path, abbreviation=None, ltype=None, level=None, drop_variables=None):
    gf = GridFile(path)
    cols = gf._cols
    rows = _keep(cols, abbreviation, ltype, level)
    if len(rows) == 0:
        raise Error(f"no field of {path} matches the selection")
    grib = gf.type == GRIB_TYPE
    abbr = np.array([a if a else f"var{v}" for a, v in zip(cols["abbreviation"], cols["var"])],
                    dtype=object)
    var = cols["var"][rows]
    lt = cols["ltype"][rows]
    dom = cols["domain_index"][rows]
    # One variable per parameter, level type (and grid).
    keys = np.stack([var, lt, dom], axis=1)
    uniq, inverse = np.unique(keys, axis=0, return_inverse=True)
    inverse = inverse.reshape(-1)
    names_by_abbr = {}
    for k, (v, l_, d) in enumerate(uniq):
        names_by_abbr.setdefault(abbr[rows[np.argmax(inverse == k)]], []).append(k)

    dims = _Dims()
    data_vars, coords = {}, {}
    domain_dims = {}
    scalars = {}
    drop = set(_as_list(drop_variables)) if drop_variables is not None else set()
    for name_base, members in names_by_abbr.items():
        for k in members:
            v, l_, d = (int(x) for x in uniq[k])
            sel = rows[inverse == k]
            first = int(sel[0])
            name = name_base if len(members) == 1 else f"{name_base}_{l_}"
            if name in data_vars or name in drop:
                if name in drop:
                    continue
                name = f"{name}_{d}"
            domain = cols["domains"][d]
            if d not in domain_dims:
                ydim, xdim, c, crs = _horizontal(domain, len(domain_dims))
                coords.update(c)
                domain_dims[d] = (ydim, xdim, crs)
            ydim, xdim, gm_name = domain_dims[d]

            ref = cols["reference"][sel]
            steps = cols["time"][sel]
            levels = cols["level"][sel]
            lead_dims, lead_idx, lead_shape = [], [], []
            var_coords = {}
            for base, vals, conv, cattrs in (
                    ("time", ref, lambda a: a.astype("datetime64[ns]"),
                     {"standard_name": "forecast_reference_time"}),
                    ("step", steps, _steps(cols, sel), _step_attrs(cols, sel)),
                    ("level", levels, lambda a: a,
                     {"long_name": cols["level_text"][first], "level_type": l_})):
                u, idx = np.unique(vals, return_inverse=True)
                cvals = conv(u)
                if len(u) > 1:
                    dname = dims.name([base, f"{base}_{l_}", f"{base}_{name}"], cvals)
                    lead_dims.append(dname)
                    lead_idx.append(idx.reshape(-1))
                    lead_shape.append(len(u))
                    coords[dname] = (dname, cvals, cattrs)
                else:
                    var_coords[base] = cvals[0]
            # Fields that agree in all of these (test files, repeated products) are kept apart
            # along one more dimension, in file order: none is ever dropped.
            combined = np.stack(lead_idx, axis=1) if lead_idx else np.zeros((len(sel), 1), int)
            _, key_of = np.unique(combined, axis=0, return_inverse=True)
            key_of = key_of.reshape(-1)
            repeat = np.zeros(len(sel), dtype=np.int64)
            seen = {}
            for n, key in enumerate(key_of):
                repeat[n] = seen.get(key, 0)
                seen[key] = repeat[n] + 1
            if repeat.max() > 0:
                count = int(repeat.max()) + 1
                dname = dims.name(["field", f"field_{name}"], np.arange(count))
                lead_dims.append(dname)
                lead_idx.append(repeat)
                lead_shape.append(count)
                coords[dname] = (dname, np.arange(count))
            slots = np.full(lead_shape, -1, dtype=np.int64) if lead_shape else np.array(first)
            if lead_shape:
                slots[tuple(lead_idx)] = sel
            arr = QazBackendArray(gf.path, grib, slots, cols["offset"], cols["length"],
                                  cols["edition"], cols["field"], lead_shape, domain.ny,
                                  domain.nx)
            attrs = {
                "long_name": cols["description"][first],
                "units": cols["units"][first],
                "qaz_abbreviation": str(abbr[first]),
                "qaz_var": v,
                "qaz_ltype": l_,
                "qaz_level_text": cols["level_text"][first],
                "qaz_source": int(cols["source"][first]),
                "qaz_model": int(cols["model"][first]),
                "qaz_edition": int(cols["version"][first]),
            }
            if gm_name:
                attrs["grid_mapping"] = gm_name
            lazy = indexing.LazilyIndexedArray(arr)
            variable = xr.Variable(tuple(lead_dims) + (ydim, xdim), lazy, attrs)
            data_vars[name] = variable
            for base, value in var_coords.items():
                scalars.setdefault(base, {})[name] = value
    # A variable without a time, step or level dimension has that value as a scalar
    # coordinate: one shared by all when they agree, else one per variable.
    for base, per_var in scalars.items():
        values = list(per_var.values())
        if base not in coords and all(v == values[0] for v in values[1:]):
            coords[base] = ((), values[0])
        else:
            for name, value in per_var.items():
                coords[f"{base}_{name}"] = ((), value)
    ds = xr.Dataset(data_vars, coords=coords)
    ds.attrs["source_file"] = os.path.basename(gf.path)
    ds.attrs["Conventions"] = "CF-1.8"
    return ds


class QazBackendEntrypoint(BackendEntrypoint):
    """Grid files of every kind the qaz library reads, GRIB 1 and 2 first."""

    description = "GRIB 1/2, netCDF and library grid files through the qaz library"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "abbreviation", "ltype",
                               "level")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, abbreviation=None,
                     ltype=None, level=None):
        return open_qaz_dataset(os.fspath(filename_or_obj), abbreviation=abbreviation,
                                ltype=ltype, level=level, drop_variables=drop_variables)

    def guess_can_open(self, filename_or_obj):
        try:
            path = os.fspath(filename_or_obj)
        except TypeError:
            return False
        if os.path.splitext(path)[1].lower() in _GRIB_EXTENSIONS:
            return True
        try:
            with open(path, "rb") as f:
                head = f.read(8)
        except OSError:
            return False
        return head.startswith(_MAGIC)
