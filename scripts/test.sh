#!/usr/bin/env bash
# Installs dependencies, builds the suite twice (plain, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test in both builds, then every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
# Python-based checks against the plain build (the CF oracles and the Python package from the
# build tree) on Debian's python3, which carries xarray, netCDF4, pyproj, dask and pytest,
# whatever other python3 comes first on PATH; not under the sanitizers, whose runtime does not
# load into an interpreter.
if [ -x /usr/bin/python3 ]; then export PATH="/usr/bin:$PATH"; fi
QAZ_BUILD_DIR=$PWD/build python3 -m pytest -q tests/python
# The installed library: the README's example built against an installed prefix and run.
bash scripts/test-install.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQAZ_SANITIZE=ON -DQAZ_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j"$jobs")

# Every fuzz target for a bounded time (15 s each, shortened so that the whole stage stays
# within about 4 minutes however many targets there are); any finding fails the run.
QAZ_FUZZ_BUDGET=240 QAZ_FUZZ_JOBS="$jobs" bash scripts/fuzz.sh 15
