#!/usr/bin/env bash
# Installs the build and test dependencies on Debian 12 (run as root). Quick when all is present.
set -euo pipefail
# Library: netCDF, OpenJPEG, libaec, the BUFR library with its WMO tables (wreport-common).
# Test oracles only (never linked into the library): ecCodes tools and Python bindings, netCDF
# utilities, proj, NumPy, cfgrib, and for the CF files xarray, netCDF4, pyproj and CDO; the
# Python module builds on pybind11 and is tested with pytest, xarray, dask and pyproj; clang
# (with its sanitizer and libFuzzer runtimes, only recommended by the clang package) builds the
# fuzz targets.
packages=(g++ cmake make pkg-config libgtest-dev libbenchmark-dev libnetcdf-dev libopenjp2-7-dev
          libaec-dev libwreport-dev wreport-common netcdf-bin proj-bin libeccodes-tools
          libeccodes-data libeccodes-dev python3-eccodes python3-numpy pybind11-dev python3-pybind11
          python3-pytest python3-xarray python3-netcdf4 python3-dask python3-distributed
          python3-pyproj python3-cfgrib cdo clang libclang-rt-14-dev libcairo2-dev gmt-gshhg-low
          fonts-dejavu-core python3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
