"""xarray.open_dataset(engine="qaz"): variables, dimensions, coordinates, selection, laziness;
nothing written beside the data; open_mfdataset on a LocalCluster of two worker processes."""
import os
import shutil

import numpy as np
import pytest

from conftest import DATA, SHARE
from qaz_oracles import write_grib

xr = pytest.importorskip("xarray")
SAMPLE = SHARE / "sample.grb2"


def _cube(path, dates=(20261208, 20261209), steps=(0, 6), levels=(500, 850), offset=0.0):
    """A HGT field per date, step and level (ecCodes writes it), values telling them apart."""
    fields = []
    base = np.linspace(5000.0, 6000.0, 81 * 141).reshape(81, 141)
    for i, d in enumerate(dates):
        for j, s in enumerate(steps):
            for k, lev in enumerate(levels):
                fields.append({"dataDate": d, "forecastTime": s, "level": lev,
                               "values": base[::-1] + 100 * i + 10 * j + k + offset})
    write_grib(path, fields, SAMPLE)
    return path


def test_sample_variables_and_coordinates(qaz):
    ds = xr.open_dataset(SAMPLE, engine="qaz")
    f = qaz.open(SAMPLE)
    assert set(ds.data_vars) == {"HGT", "TMP_100", "TMP_105", "UGRD", "VGRD", "RH", "PRMSL"}
    assert ds.HGT.dims == ("lat", "lon")
    lat, lon = f.fields[0].latlon()
    np.testing.assert_allclose(ds.lat.values, lat[:, 0])
    np.testing.assert_allclose(ds.lon.values, lon[0, :])
    assert ds.lat.attrs["standard_name"] == "latitude" and ds.lon.attrs["units"] == "degrees_east"
    for field in f.fields:
        name = field.abbreviation if field.abbreviation != "TMP" else f"TMP_{field.ltype}"
        np.testing.assert_array_equal(ds[name].values, field.values())
        assert ds[name].attrs["units"] == field.units
    assert ds.time.values == np.datetime64("2026-12-08T12:00")


def test_time_step_level_dimensions(qaz, tmp_path):
    path = _cube(tmp_path / "cube.grb2")
    ds = xr.open_dataset(path, engine="qaz")
    hgt = ds.HGT
    assert hgt.dims == ("time", "step", "level", "lat", "lon")
    assert hgt.shape == (2, 2, 2, 81, 141)
    assert list(ds.level.values) == [500, 850]
    assert list(ds.step.values) == [np.timedelta64(0, "h"), np.timedelta64(6, "h")]
    assert list(ds.time.values.astype("datetime64[D]").astype(str)) == ["2026-12-08", "2026-12-09"]
    f = qaz.open(path)
    for field in f.fields:
        t = list(ds.time.values).index(field.reference_time)
        s = int(field.time // 6)
        lev = [500, 850].index(field.level)
        np.testing.assert_array_equal(hgt[t, s, lev].values, field.values())
    # Outer indexing over the lead dimensions, and a window of the grid.
    part = hgt.isel(time=[1, 0], level=1, lat=slice(10, 20), lon=[0, 5]).values
    np.testing.assert_array_equal(part[0, 1], f.fields[7].values()[10:20, [0, 5]])


def test_selection(qaz, tmp_path):
    path = _cube(tmp_path / "cube.grb2")
    assert xr.open_dataset(path, engine="qaz", level=850).HGT.dims == ("time", "step", "lat", "lon")
    ds = xr.open_dataset(SAMPLE, engine="qaz", abbreviation=["tmp", "RH"], ltype=100)
    assert set(ds.data_vars) == {"TMP", "RH"}
    with pytest.raises(qaz.Error, match="matches"):
        xr.open_dataset(SAMPLE, engine="qaz", abbreviation="nothing")


def test_fields_are_decoded_only_when_indexed(qaz, monkeypatch):
    calls = []
    decode = qaz._qaz.grib_values
    monkeypatch.setattr(qaz._qaz, "grib_values", lambda *a: calls.append(a) or decode(*a))
    ds = xr.open_dataset(SAMPLE, engine="qaz")
    assert calls == []
    ds.RH.values
    assert len(calls) == 1
    ds.HGT[0:3, 0:3].values
    assert len(calls) == 2


def test_nothing_is_written_beside_the_data(tmp_path):
    shutil.copy(SAMPLE, tmp_path / "s.grb2")
    before = sorted(os.listdir(tmp_path))
    xr.open_dataset(tmp_path / "s.grb2", engine="qaz").load()
    xr.open_mfdataset([tmp_path / "s.grb2"], engine="qaz").load()
    assert sorted(os.listdir(tmp_path)) == before


def test_engine_class_and_projected_grid(qaz):
    from qaz.backend import QazBackendEntrypoint
    ds = xr.open_dataset(DATA / "grib2" / "lambert.grib2", engine=QazBackendEntrypoint)
    var = ds[list(ds.data_vars)[0]]
    assert var.dims == ("y", "x") and var.attrs["grid_mapping"] == "crs"
    assert ds.crs.attrs["grid_mapping_name"] == "lambert_conformal_conic"
    assert ds.x.attrs["standard_name"] == "projection_x_coordinate"
    assert ds.lat.dims == ("y", "x")


def test_threaded_dask_load_equals_plain(qaz, tmp_path):
    import dask
    path = _cube(tmp_path / "cube.grb2")
    plain = xr.open_dataset(path, engine="qaz").HGT.values
    with dask.config.set(scheduler="threads", num_workers=2):
        chunked = xr.open_dataset(path, engine="qaz", chunks={"time": 1, "step": 1, "level": 1})
        np.testing.assert_array_equal(chunked.HGT.values, plain)


def test_open_mfdataset_on_a_local_cluster(qaz, tmp_path):
    distributed = pytest.importorskip("distributed")
    files = [_cube(tmp_path / f"c{k}.grb2", dates=(20261208 + k,), offset=1000.0 * k)
             for k in range(3)]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster, timeout="60s") as client:
        assert len(client.scheduler_info()["workers"]) == 2
        ds = xr.open_mfdataset(files, engine="qaz", parallel=True, combine="nested",
                               concat_dim="time")
        got = ds.HGT.compute()
    assert got.dims == ("time", "step", "level", "lat", "lon") and got.shape[0] == 3
    for k, path in enumerate(files):
        for field in qaz.open(path).fields:
            s, lev = int(field.time // 6), [500, 850].index(field.level)
            np.testing.assert_array_equal(got[k, s, lev].values, field.values())
