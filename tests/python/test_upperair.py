"""Soundings and thermodynamic functions: the stations and indices equal soundcalc's table of
the same file; the functions work element by element with NaN for missing."""
import subprocess

import numpy as np
import pytest

from conftest import SHARE, SOUNDCALC


def _soundcalc_table(path):
    """{station id: {index name: value or None}} from soundcalc's table."""
    out = subprocess.run([str(SOUNDCALC), "-fp", str(SHARE) + "/", str(path)], check=True,
                         capture_output=True, text=True, timeout=60).stdout
    stations, current = {}, None
    for line in out.splitlines():
        if line.startswith("Station "):
            current = stations.setdefault(line.split()[1], {})
        elif current is not None and line.startswith("  ") and len(line.split()) >= 2:
            name, value = line.split()[:2]
            current[name] = None if value == "-" else float(value)
    return stations


def test_soundings_equal_soundcalc(qaz):
    path = SHARE / "sample_upa.txt"
    got = qaz.soundings(path)
    table = _soundcalc_table(path)
    assert [s["id"] for s in got] == list(table)
    for s in got:
        prof = s["profile"]
        assert set(prof) == {"p", "h", "t", "td", "dir", "spd"}
        assert all(len(v) == len(prof["p"]) for v in prof.values()) and len(prof["p"]) > 5
        assert np.all(np.diff(prof["p"][~np.isnan(prof["p"])]) < 0)  # decreasing pressure
        for name, printed in table[s["id"]].items():
            value = s["indices"][name]
            if name in ("cin", "mlcin"):
                value = -value  # stored as a magnitude, printed negative in tables
            if printed is None:
                assert np.isnan(value), name
            else:
                # The table prints the value rounded by its format ("%.0f" at most).
                assert value == pytest.approx(printed, abs=0.51), name


def test_unreadable_sounding_file_raises(qaz, tmp_path):
    (tmp_path / "x.upa").write_text("nothing\n")
    with pytest.raises(qaz.Error):
        qaz.soundings(tmp_path / "x.upa")


@pytest.mark.parametrize("function, args, expected", [
    ("pot_temp", (280.0, 850.0), 293.32),           # 280 K at 850 mb
    ("pot_temp", (300.0, 1000.0), 300.0),
    ("vapor_pr", (273.15,), 6.11),                   # mb over water at 0 C
    ("rel_hum", (293.15, 293.15), 100.0),
    ("mix_ratio", (293.15, 1000.0), 14.9),           # g/kg at saturation
    ("dew_temp", (293.15, 100.0), 293.15),
    ("eq_pot_temp", (300.0, 295.0, 1000.0), 349.0),
    ("wet_bulb", (300.0, 290.0, 1000.0), 293.2),
    ("virt_temp", (300.0, 295.0, 1000.0), 303.2),
])
def test_thermodynamic_functions(qaz, function, args, expected):
    assert float(getattr(qaz, function)(*args)) == pytest.approx(expected, abs=0.6)


def test_thermodynamic_functions_over_arrays(qaz):
    t = np.array([[280.0, 290.0], [300.0, np.nan]])
    p = np.array([850.0, 1000.0])                    # broadcast along rows
    theta = qaz.pot_temp(t, p)
    assert theta.shape == (2, 2)
    assert theta[0, 0] == pytest.approx(float(qaz.pot_temp(280.0, 850.0)))
    assert theta[1, 0] == pytest.approx(float(qaz.pot_temp(300.0, 850.0)))
    assert np.isnan(theta[1, 1])                     # NaN in, NaN out
    assert np.isnan(qaz.pot_temp(-5.0, 850.0))       # the library's missing marker out: NaN
    rh = qaz.rel_hum(np.full(1000, 290.0), np.linspace(250.0, 290.0, 1000))
    assert np.all(np.diff(rh) > 0) and rh[-1] == pytest.approx(100.0)
