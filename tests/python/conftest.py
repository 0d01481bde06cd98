"""The Python package is imported from the build tree: QAZ_BUILD_DIR names it (scripts/test.sh
sets it to build/), else ./build beside the sources."""
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("QAZ_BUILD_DIR", ROOT / "build"))
sys.path.insert(0, str(BUILD / "python"))
DATA = ROOT / "tests" / "data"
SHARE = ROOT / "share"
# Worker processes of the cluster tests find the package and the data files the same way.
os.environ["PYTHONPATH"] = os.pathsep.join(
    [str(BUILD / "python")] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
os.environ["QAZ_FILE_PATH"] = str(SHARE)

GRIDCALC = BUILD / "gridcalc"
SOUNDCALC = BUILD / "soundcalc"

# Every GRIB fixture: editions 1 and 2, every projection and packing the tests keep.
GRIB_FILES = sorted(str(p) for p in (DATA / "grib1").glob("*.grib1")) + \
    sorted(str(p) for p in (DATA / "grib2").glob("*.grib2")) + [str(SHARE / "sample.grb2")]


@pytest.fixture(scope="session")
def qaz():
    import qaz as module
    return module
