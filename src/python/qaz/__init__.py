"""Grid files, soundings and thermodynamics of the qaz library from NumPy and xarray.

    >>> import qaz
    >>> f = qaz.open("sample.grb2")
    >>> [fld.abbreviation for fld in f.fields]
    >>> z = f.fields[0].values()          # float32 (ny, nx), row 0 north, NaN missing
    >>> lat, lon = f.fields[0].latlon()

``xarray.open_dataset(path, engine="qaz")`` opens the same files as a Dataset (see
``qaz.backend``). Every number comes from the library; failures raise ``qaz.Error``.
"""
import os as _os

import numpy as _np

from . import _qaz
from ._qaz import Domain, Error, set_file_path, set_messages

__all__ = ["open", "GridFile", "Field", "Domain", "Error", "soundings", "set_messages", "set_file_path",
           "pot_temp", "eq_pot_temp", "dew_temp", "rel_hum", "mix_ratio", "spec_hum",
           "vapor_pr", "wet_bulb", "virt_temp", "virt_pot_temp", "wet_bulb_pot_temp",
           "lcl_pres", "index_descriptions"]

# Thermodynamic functions over arrays (temperatures K, pressures mb, humidity %, g/kg).
pot_temp = _qaz.pot_temp
eq_pot_temp = _qaz.eq_pot_temp
dew_temp = _qaz.dew_temp
rel_hum = _qaz.rel_hum
mix_ratio = _qaz.mix_ratio
spec_hum = _qaz.spec_hum
vapor_pr = _qaz.vapor_pr
wet_bulb = _qaz.wet_bulb
virt_temp = _qaz.virt_temp
virt_pot_temp = _qaz.virt_pot_temp
wet_bulb_pot_temp = _qaz.wet_bulb_pot_temp
lcl_pres = _qaz.lcl_pres
index_descriptions = _qaz.index_descriptions

GRIB_TYPE = 21

# The library's data files (parameter and unit tables) come from the installed copy, or from
# the directory QAZ_FILE_PATH names: worker processes of a cluster inherit it.
if _os.environ.get("QAZ_FILE_PATH"):
    set_file_path(_os.path.join(_os.environ["QAZ_FILE_PATH"], ""))


def soundings(path):
    """Per station of an upper-air file: a dict with id, wmo, lat, lon, elev, ``profile`` and
    ``wind_profile`` (arrays p mb, h m, t C, td C, dir deg, spd kt) and ``indices`` (name to
    value, NaN when it could not be computed)."""
    return _qaz.soundings(str(path))


class Field:
    """One field of a grid file. Numbers are the library's: ``var`` is the library variable
    number (GRIB edition 1 table 2 numbering), ``ltype`` the level type code."""

    __slots__ = ("_file", "index")

    def __init__(self, gridfile, index):
        self._file = gridfile
        self.index = index

    def _col(self, name):
        return self._file._cols[name][self.index]

    abbreviation = property(lambda self: self._col("abbreviation"))
    description = property(lambda self: self._col("description"))
    var = property(lambda self: int(self._col("var")))
    ltype = property(lambda self: int(self._col("ltype")))
    level = property(lambda self: int(self._col("level")))
    level_text = property(lambda self: self._col("level_text"))
    time = property(lambda self: int(self._col("time")), doc="coded forecast time")
    step_text = property(lambda self: self._col("time_text"),
                         doc="forecast step and statistic as text")
    reference_time = property(lambda self: self._col("reference"))
    valid_time = property(lambda self: self._col("valid"))
    units = property(lambda self: self._col("units"))
    source = property(lambda self: int(self._col("source")))
    model = property(lambda self: int(self._col("model")))
    edition = property(lambda self: int(self._col("version")))
    grid_number = property(lambda self: int(self._col("grid_number")))
    label = property(lambda self: self._col("datim"))

    @property
    def domain(self):
        return self._file._cols["domains"][int(self._col("domain_index"))]

    @property
    def shape(self):
        d = self.domain
        return (d.ny, d.nx)

    def values(self):
        """Values as float32 (ny, nx): row 0 north, columns west to east, NaN missing."""
        return self._file._values(self.index)

    def latlon(self):
        """Latitude and longitude (ny, nx) of every grid point, from the library's transforms."""
        return _qaz.latlon(self.domain)

    def values_at(self, lat, lon):
        """Bilinear values at latitude/longitude points (NaN outside the grid)."""
        lat = _np.asarray(lat, dtype=_np.float32)
        lon = _np.asarray(lon, dtype=_np.float32)
        return _qaz.point_values(self.values(), self.domain, lat, lon)

    def __repr__(self):
        return (f"<qaz.Field {self.index}: {self.abbreviation or self.var} {self.level_text} "
                f"{self.step_text} {self.reference_time} {self.shape}>")


class _FieldList:
    """The fields of a file; Field objects are made on access (a file may hold 100,000)."""

    def __init__(self, gridfile):
        self._file = gridfile

    def __len__(self):
        return len(self._file._cols["var"])

    def __getitem__(self, i):
        if isinstance(i, slice):
            return [Field(self._file, k) for k in range(*i.indices(len(self)))]
        n = len(self)
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError(i)
        return Field(self._file, i)

    def __iter__(self):
        return (Field(self._file, k) for k in range(len(self)))


class GridFile:
    """A grid file listed once. Values are read on request; nothing stays open."""

    def __init__(self, path):
        self.path = str(path)
        self._cols = _qaz.listing(self.path)
        if len(self._cols["var"]) == 0:
            raise Error(f"no grids in {self.path}")
        self.type = self._cols["type"]

    @property
    def fields(self):
        return _FieldList(self)

    def __len__(self):
        return len(self._cols["var"])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def select(self, abbreviation=None, ltype=None, level=None):
        """Fields whose abbreviation (any case), level type and level match the given ones."""
        keep = _np.ones(len(self), dtype=bool)
        if abbreviation is not None:
            want = {a.lower() for a in _as_list(abbreviation)}
            keep &= _np.array([a.lower() in want for a in self._cols["abbreviation"]], dtype=bool)
        if ltype is not None:
            keep &= _np.isin(self._cols["ltype"], _as_list(ltype))
        if level is not None:
            keep &= _np.isin(self._cols["level"], _as_list(level))
        return [Field(self, int(k)) for k in _np.nonzero(keep)[0]]

    def _values(self, i):
        c = self._cols
        if self.type == GRIB_TYPE and c["offset"][i] >= 0:
            return _qaz.grib_values(self.path, int(c["offset"][i]), int(c["length"][i]),
                                    int(c["edition"][i]), int(c["field"][i]))
        return _qaz.table_values(self.path, int(c["field"][i]))

    def __repr__(self):
        return f"<qaz.GridFile {self.path}: {len(self)} fields>"


def _as_list(v):
    if isinstance(v, (list, tuple, set, _np.ndarray)):
        return list(v)
    return [v]


def open(path):  # noqa: A001 - the module's entry point is meant to read like the builtin
    """Lists a grid file of any kind the library reads (GRIB 1/2, netCDF, library grids,
    bulletins). Raises qaz.Error when it cannot be read."""
    return GridFile(path)
