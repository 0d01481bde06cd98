"""CF netCDF files of the grid library checked by other tools (xarray, pyproj, CDO), and files
those tools write read by gridcalc. The tools are oracles only: nothing here is linked in."""
import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
pyproj = pytest.importorskip("pyproj")

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("QAZ_BUILD_DIR", ROOT / "build"))
GRIDCALC = BUILD / "gridcalc"
SHARE = ROOT / "share"
SAMPLE = SHARE / "sample.grb2"

pytestmark = pytest.mark.skipif(not GRIDCALC.exists(), reason="gridcalc not built")


def gridcalc(*args, cwd=None):
    out = subprocess.run([str(GRIDCALC), "-fp", str(SHARE), *args], capture_output=True, text=True, cwd=cwd,
                         timeout=120)
    assert out.returncode == 0, out.stderr + out.stdout
    return out.stdout


def sample_value(item, lat, lon):
    return float(gridcalc(f"{SAMPLE},{item}", "val", "ll", f"{lat},{lon}").split()[-1])


def test_xarray_opens_gridcalc_output_with_coordinates_and_decoded_times(tmp_path):
    out = tmp_path / "z.nc"
    gridcalc(f"{SAMPLE},var=7,lev=500", "add", "0", "=", str(out))
    with xr.open_dataset(out) as ds:
        assert ds.attrs["Conventions"] == "CF-1.8"
        z = ds["HGT"]
        assert z.dims == ("time", "level", "lat", "lon")
        assert z.attrs["units"] == "m"
        assert z.attrs["standard_name"] == "geopotential_height"
        assert np.issubdtype(ds["time"].dtype, np.datetime64)
        assert str(ds["time"].values[0])[:16] == "2026-12-08T12:00"
        assert float(ds["forecast_period"].values[0] / np.timedelta64(1, "h")) == 0.0
        assert ds["level"].attrs["units"] == "hPa"
        assert ds["level"].attrs["positive"] == "down"
        assert ds["lat"].attrs["units"] == "degrees_north"
        got = float(z.sel(lat=40.0, lon=-95.0).values.squeeze())
        assert got == pytest.approx(sample_value("var=7,lev=500", 40, -95), abs=1e-3)


def test_variables_are_named_by_abbreviation(tmp_path):
    names = []
    for item in ["var=11,lev=500", "var=11,lev=2", "var=2"]:
        f = tmp_path / f"{len(names)}.nc"
        gridcalc(f"{SAMPLE},{item}", "add", "0", "=", str(f))
        with xr.open_dataset(f) as ds:
            names.append(sorted(v for v in ds.data_vars if v != "crs"))
    assert names[0] == ["TMP"]
    assert names[2] == ["PRMSL"]


DOMAINS = [
    ("lamb:40:-97:33:45,38,-95,40,30,0.5,0.5", "lambert_conformal_conic", 40, 30),
    ("ps:90:-105:60,50,-100,40,30,0.5,0.5", "polar_stereographic", 40, 30),
    ("merc,30,-90,40,30,0.5,0.5", "mercator", 40, 30),
    ("ortho:40:-95,40,-95,30,30,0.5,0.5", "orthographic", 30, 30),
    ("lambaz:45:-95,40,-95,30,30,0.5,0.5", "lambert_azimuthal_equal_area", 30, 30),
]


@pytest.mark.parametrize("domain,mapping,nx,ny", DOMAINS)
def test_projected_grids_place_every_corner_as_pyproj_does(tmp_path, domain, mapping, nx, ny):
    out = tmp_path / "p.nc"
    gridcalc(f"{SAMPLE},var=11,lev=500", "remap", domain, "=", str(out))
    with xr.open_dataset(out) as ds:
        crs_attrs = ds["crs"].attrs
        assert crs_attrs["grid_mapping_name"] == mapping
        assert ds["TMP"].attrs["grid_mapping"] == "crs"
        assert ds["x"].attrs["units"] == "m"
        crs = pyproj.CRS.from_cf(crs_attrs)
        to_geo = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
        geod = pyproj.Geod(a=6371220.0, b=6371220.0)
        x, y = ds["x"].values, ds["y"].values
        assert y[0] > y[-1], "row 0 is north"
        for j, i in [(0, 0), (0, nx - 1), (ny - 1, 0), (ny - 1, nx - 1), (ny // 2, nx // 2)]:
            lon, lat = to_geo.transform(x[i], y[j])
            _, _, dist = geod.inv(lon, lat, float(ds["lon"].values[j, i]), float(ds["lat"].values[j, i]))
            assert dist < 1.0, (j, i, dist)
        # Values agree with the library's own value at the grid's centre point.
        clat, clon = float(ds["lat"].values[ny // 2, nx // 2]), float(ds["lon"].values[ny // 2, nx // 2])
        got = float(ds["TMP"].values[0, 0, ny // 2, nx // 2])
        assert got == pytest.approx(sample_value("var=11,lev=500", clat, clon), abs=0.05)


@pytest.mark.skipif(shutil.which("cdo") is None, reason="cdo missing")
@pytest.mark.parametrize("domain,mapping,nx,ny", DOMAINS[:2] + [("latlon", "lonlat", 141, 81)])
def test_cdo_describes_the_grid(tmp_path, domain, mapping, nx, ny):
    out = tmp_path / "c.nc"
    if domain == "latlon":
        gridcalc(f"{SAMPLE},var=11,lev=500", "add", "0", "=", str(out))
    else:
        gridcalc(f"{SAMPLE},var=11,lev=500", "remap", domain, "=", str(out))
    text = subprocess.run(["cdo", "-s", "griddes", str(out)], capture_output=True, text=True, timeout=60).stdout
    if mapping == "lonlat":
        assert "gridtype  = lonlat" in text
    else:
        assert "gridtype  = projection" in text
        assert f"grid_mapping_name = {mapping}" in text
    assert f"gridsize  = {nx * ny}" in text
    assert f"xsize     = {nx}" in text and f"ysize     = {ny}" in text


def packed_dataset():
    lat = np.array([10.0, 20.0, 30.0])  # south to north, as most tools write
    lon = np.array([0.0, 10.0, 20.0, 30.0])
    t = np.array([[280.0, 281.0, np.nan, 282.0], [283.0, 284.0, 285.0, 286.0], [287.0, 288.0, 289.0, 290.0]])
    ds = xr.Dataset(
        {"t2m": (("time", "lat", "lon"), t[None, :, :], {"units": "K", "standard_name": "air_temperature"})},
        coords={"time": np.array(["2023-06-01T12:00"], dtype="datetime64[ns]"), "lat": lat, "lon": lon},
    )
    ds["lat"].attrs["units"] = "degrees_north"
    ds["lon"].attrs["units"] = "degrees_east"
    return ds


def check_read(path, date_text):
    info = gridcalc(str(path), "info")
    assert date_text in info, info
    assert "Temperature" in info
    assert float(gridcalc(str(path), "val", "ll", "30,10").split()[-1]) == pytest.approx(288.0, abs=0.01)
    assert float(gridcalc(str(path), "val", "ll", "10,30").split()[-1]) == pytest.approx(282.0, abs=0.01)
    # The fill value is missing, not a number.
    assert gridcalc(str(path), "val", "ll", "10,20").split()[-1] == "--"


def test_reads_xarray_netcdf4_with_packing_and_fill(tmp_path):
    path = tmp_path / "x.nc"
    enc = {"t2m": {"dtype": "int16", "scale_factor": 0.01, "add_offset": 280.0, "_FillValue": -32767},
           "time": {"units": "hours since 2023-6-1 00:00:00"}}
    packed_dataset().to_netcdf(path, format="NETCDF4", encoding=enc)
    assert path.read_bytes()[:4] == b"\x89HDF"
    check_read(path, "2023-06-01 12Z")


@pytest.mark.skipif(shutil.which("cdo") is None, reason="cdo missing")
def test_reads_cdo_classic_file(tmp_path):
    src = tmp_path / "src.nc"
    enc = {"t2m": {"dtype": "float32", "_FillValue": -1e30}, "time": {"units": "hours since 2023-6-1 12:00:00"}}
    packed_dataset().to_netcdf(src, format="NETCDF4", encoding=enc)
    out = tmp_path / "cdo.nc"
    subprocess.run(["cdo", "-s", "-f", "nc", "copy", str(src), str(out)], check=True, timeout=60)
    assert out.read_bytes()[:3] == b"CDF"
    check_read(out, "2023-06-01 12Z")
