#!/usr/bin/env bash
# Installs the plain build into a scratch prefix, builds the README's example program against it
# with CMake (find_package) and with pkg-config, and runs both on the installed sample GRIB file
# from a directory that holds no data files, with no -fp or qazfile: the data come from the prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# Installed in one place and moved before use: nothing may depend on the original prefix.
cmake --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$prefix"
unset qazfile
test -f "$prefix/include/qaz/grd_read.hpp" && test -f "$prefix/lib/libqaz.a"

cmake -S "$root/examples/read_grib" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  g++ -std=c++20 -o "$work/read_grib_pc" "$root/examples/read_grib/read_grib.cpp" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs qaz)

cd "$work"
for program in "$work/cmake-build/read_grib" "$work/read_grib_pc"; do
  out=$("$program" "$prefix/share/qaz/sample.grb2" 40 -95 1)
  echo "$out" | grep -q '500 mb Temperature (K)' || { echo "$program: no field names:"; echo "$out"; exit 1; }
  echo "$out" | grep -Eq '^500 mb Temperature \(K\) at 40, -95: 2[0-9][0-9](\.[0-9]+)? K$' \
    || { echo "$program: no value:"; echo "$out"; exit 1; }
done
"$prefix/bin/gridcalc" "$prefix/share/qaz/sample.grb2" info | grep -q 'Height (gpm)' \
  || { echo "installed gridcalc finds no parameter table"; exit 1; }
echo "install test: example built with CMake and pkg-config and run against the installed prefix"
