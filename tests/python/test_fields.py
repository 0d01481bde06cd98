"""qaz.open: the fields, values, times, levels and coordinates of every GRIB fixture (editions
1 and 2, every projection and packing) and of the other grid file kinds equal the C++ reads."""
import numpy as np
import pytest

from conftest import DATA, GRIB_FILES, SHARE
from qaz_oracles import cpp_grid, cpp_inventory, gridcalc


@pytest.mark.parametrize("path", GRIB_FILES, ids=lambda p: p.rsplit("/", 1)[-1])
def test_fields_equal_the_cpp_reads(qaz, path, tmp_path):
    f = qaz.open(path)
    inventory = cpp_inventory(path)
    assert len(f) == len(inventory)
    for field, (num, line) in zip(f.fields, sorted(inventory.items())):
        # Abbreviation, level, step, reference and valid time, level codes and size as the
        # library's inventory prints them.
        assert line.split()[0] == field.abbreviation
        assert field.level_text in line and field.step_text in line
        for t in (field.reference_time, field.valid_time):
            assert str(t.astype("datetime64[h]")).replace("T", " ") + "Z" in line
        assert f"ltype={field.ltype} lev={field.level} {field.shape[1]}x{field.shape[0]}" in line
        domain, expected = cpp_grid(path, num, "copy", tmp_path / "v.bin")
        values = field.values()
        assert values.dtype == np.float32 and values.shape == expected.shape
        np.testing.assert_array_equal(values, expected)
        d = field.domain
        clat, clon, dx, dy = (float(v) for v in domain[1:5])
        assert (d.nx, d.ny) == (int(domain[5]), int(domain[6]))
        assert d.clat == pytest.approx(clat, abs=1e-5) and d.clon == pytest.approx(clon, abs=1e-5)
        assert d.dx == pytest.approx(dx, abs=1e-5) and d.dy == pytest.approx(dy, abs=1e-5)
        if any(other.domain == d for other in f.fields[:field.index]):
            continue  # coordinates already compared
        _, lat = cpp_grid(path, num, "lat", tmp_path / "lat.bin")
        _, lon = cpp_grid(path, num, "lon", tmp_path / "lon.bin")
        qlat, qlon = field.latlon()
        np.testing.assert_allclose(qlat, lat, atol=2e-4)
        # Longitudes compare modulo 360.
        np.testing.assert_allclose((qlon - lon + 180) % 360 - 180, 0, atol=2e-4)


def test_times_levels_and_values_equal_eccodes(qaz):
    """Reference times, levels and values of sample.grb2 as ecCodes reads them (oracle)."""
    import eccodes
    path = str(SHARE / "sample.grb2")
    f = qaz.open(path)
    with open(path, "rb") as fh:
        for field in f.fields:
            h = eccodes.codes_grib_new_from_file(fh)
            try:
                date, time = eccodes.codes_get(h, "dataDate"), eccodes.codes_get(h, "dataTime")
                ref = np.datetime64(f"{date // 10000:04d}-{date // 100 % 100:02d}-{date % 100:02d}"
                                    f"T{time // 100:02d}:{time % 100:02d}")
                assert field.reference_time == ref
                assert field.valid_time == ref + np.timedelta64(eccodes.codes_get(h, "step"), "h")
                assert field.level == eccodes.codes_get(h, "level")
                ni, nj = eccodes.codes_get(h, "Ni"), eccodes.codes_get(h, "Nj")
                expected = eccodes.codes_get_values(h).reshape(nj, ni)
                if eccodes.codes_get(h, "jScansPositively"):
                    expected = expected[::-1]
                np.testing.assert_allclose(field.values(), expected, rtol=1e-6, atol=1e-3)
            finally:
                eccodes.codes_release(h)


def test_lambert_coordinates_equal_pyproj(qaz):
    """Grid coordinates of a Lambert grid: the CF x/y taken through pyproj with the CF
    grid-mapping attributes land on the library's latitudes and longitudes."""
    import pyproj
    f = qaz.open(DATA / "grib2" / "lambert.grib2")
    field = f.fields[0]
    cf = qaz._qaz.cf_describe(field.domain)
    assert cf["mapping_name"] == "lambert_conformal_conic"
    crs = pyproj.CRS.from_cf(dict(cf["attributes"]))
    to_geo = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
    x, y = np.meshgrid(cf["x"], cf["y"])
    lon, lat = to_geo.transform(x, y)
    qlat, qlon = field.latlon()
    np.testing.assert_allclose(qlat, lat, atol=1e-6)
    np.testing.assert_allclose(qlon, lon, atol=1e-6)


@pytest.mark.parametrize("suffix", [".nc", ".grd", ".bin"])
def test_other_file_kinds_read_as_written(qaz, suffix, tmp_path):
    """A grid written by gridcalc as netCDF, library text and binary grid reads back through
    the grid-file table with the values of its GRIB source."""
    source = qaz.open(SHARE / "sample.grb2").fields[1]
    out = tmp_path / ("t" + suffix)
    gridcalc(f"{SHARE / 'sample.grb2'},num=1", "copy", "=", str(out))
    f = qaz.open(out)
    assert len(f) == 1 and f.type != qaz.GRIB_TYPE
    values = f.fields[0].values()
    np.testing.assert_allclose(values, source.values(), rtol=1e-6)
    got, want = f.fields[0].domain, source.domain
    for name in ("proj", "clat", "clon", "dx", "dy", "nx", "ny"):
        assert getattr(got, name) == getattr(want, name)


def test_bulletin_fields(qaz, tmp_path):
    path = DATA / "grd" / "bulletin.txt"
    f = qaz.open(path)
    inventory = cpp_inventory(path)
    assert len(f) == len(inventory)
    with_values = [fl for fl in f.fields if 1 <= fl.grid_number - 70 <= 12]
    assert with_values
    for field in with_values:
        _, expected = cpp_grid(path, field.index, "copy", tmp_path / "b.bin")
        np.testing.assert_array_equal(field.values(), expected)


def test_values_at_points_equal_gridcalc(qaz):
    f = qaz.open(SHARE / "sample.grb2")
    hgt = f.select(abbreviation="hgt")[0]
    expected = float(gridcalc("-fm", "%.4f", f"{SHARE / 'sample.grb2'},var=hgt", "val", "ll",
                              "44,-98", "41.5,-100.25").split()[0])
    got = hgt.values_at([44.0, 41.5, 80.0], [-98.0, -100.25, 0.0])
    assert got[0] == pytest.approx(expected, abs=1e-3)
    assert np.isnan(got[2])  # outside the grid


def test_select_by_abbreviation_level_type_and_level(qaz):
    f = qaz.open(SHARE / "sample.grb2")
    assert [fl.abbreviation for fl in f.select(abbreviation="TMP")] == ["TMP", "TMP"]
    assert [fl.level for fl in f.select(abbreviation="tmp", ltype=100)] == [500]
    assert len(f.select(level=[500, 850])) == 5
    assert f.select(abbreviation="nothing") == []
