"""Damaged, truncated and vanished files raise qaz.Error with the library's message; fields
decoded on several threads at once equal those decoded on one."""
import shutil
import threading

import numpy as np
import pytest

from conftest import DATA, SHARE

SAMPLE = SHARE / "sample.grb2"


def _second_message(data):
    return data.find(b"GRIB", 16)


def _truncated(data):
    return data[:_second_message(data) + 500]


def _bad_section(data):
    d = bytearray(data)
    d[_second_message(data) + 20] = 0x7F   # section number of the second message's first section
    return bytes(d)


def _garbage(data):
    return b"GRIB" + bytes(200)


@pytest.mark.parametrize("damage, message", [
    (_truncated, "cut short"),
    (_bad_section, "unknown section"),
    (_garbage, "no GRIB message"),
], ids=["truncated", "damaged section", "garbage"])
def test_damaged_files_raise(qaz, tmp_path, damage, message):
    path = tmp_path / "bad.grb2"
    path.write_bytes(damage(SAMPLE.read_bytes()))
    with pytest.raises(qaz.Error, match=message):
        qaz.open(path)


def test_missing_and_foreign_files_raise(qaz, tmp_path):
    with pytest.raises(qaz.Error, match="cannot open"):
        qaz.open(tmp_path / "absent.grb2")
    (tmp_path / "words.txt").write_text("no grid here\n")
    with pytest.raises(qaz.Error):
        qaz.open(tmp_path / "words.txt")


def test_values_of_a_file_changed_after_listing_raise(qaz, tmp_path):
    path = tmp_path / "s.grb2"
    shutil.copy(SAMPLE, path)
    f = qaz.open(path)
    path.write_bytes(SAMPLE.read_bytes()[:1000])
    with pytest.raises(qaz.Error, match="gone or damaged"):
        f.fields[3].values()


def test_damaged_file_raises_through_xarray(qaz, tmp_path):
    import xarray as xr
    path = tmp_path / "bad.grb2"
    path.write_bytes(_bad_section(SAMPLE.read_bytes()))
    with pytest.raises(qaz.Error):
        xr.open_dataset(path, engine="qaz")


def _run_together(jobs):
    """Runs the callables on their own threads, started together; their results in order."""
    results = [None] * len(jobs)
    errors = []
    start = threading.Barrier(len(jobs))

    def run(k):
        try:
            start.wait()
            results[k] = jobs[k]()
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    return results


def test_one_field_from_two_threads_gives_the_same_values(qaz):
    field = qaz.open(SAMPLE).fields[0]
    expected = field.values()
    for a, b in [_run_together([lambda: [field.values() for _ in range(30)]] * 2)]:
        for values in a + b:
            np.testing.assert_array_equal(values, expected)


def test_projected_and_latlon_grids_decoded_at_once(qaz):
    """Decoding places projected grids with the map transforms: two threads decoding
    different projections must not move each other's map."""
    files = [qaz.open(DATA / "grib2" / name) for name in
             ("lambert.grib2", "polar.grib2", "mercator.grib2", "simple_bits.grib2")]
    fields = [fl for f in files for fl in f.fields]
    expected = [(fl.values(), fl.latlon()) for fl in fields]

    def all_fields(order):
        return [(fields[k].values(), fields[k].latlon()) for k in order for _ in range(5)]

    forward = list(range(len(fields)))
    got = _run_together([lambda: all_fields(forward), lambda: all_fields(forward[::-1])])
    for k, (values, (lat, lon)) in enumerate(got[0][::5]):
        np.testing.assert_array_equal(values, expected[k][0])
        np.testing.assert_array_equal(lat, expected[k][1][0])
    for k, (values, _) in enumerate(got[1][::5]):
        np.testing.assert_array_equal(values, expected[len(fields) - 1 - k][0])
