#!/usr/bin/env bash
# Installs dependencies, builds reelctl and the stand-in loop window, starts the stand-in
# in the background and drives it with reelctl: one one-shot command and a short scripted
# interactive session. Every reply is shown; the window's queue is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target reelctl loopstub soundcalc gridcalc

log=$(mktemp)
build/loopstub >"$log" 2>&1 &
stub=$!
trap 'kill "$stub" 2>/dev/null || true; rm -f "$log"' EXIT
window=""
for _ in $(seq 100); do
  window=$(head -n1 "$log")
  [ -n "$window" ] && break
  sleep 0.05
done
[ -n "$window" ] || { echo "loopstub did not start:"; cat "$log"; exit 1; }
echo "== loopstub is serving loop window $window (queue key $((6496 + window)))"

echo
echo "== reelctl -wn $window test"
build/reelctl -wn "$window" test
echo
echo "== reelctl -wn $window show        (one-shot command)"
build/reelctl -wn "$window" show
echo
echo "== reelctl -wn $window rate 24     (change a setting)"
build/reelctl -wn "$window" rate 24
echo
echo "== reelctl -wn $window             (interactive session, lines from a script)"
build/reelctl -wn "$window" <<'LINES'
help
rate
direction backward
dwell 2
show
LINES
echo
echo "== reelctl -wn $window stop        (the window stops; reelctl removes its queue: exit 7)"
status=0
build/reelctl -wn "$window" stop || status=$?
echo "exit status $status"
wait "$stub" 2>/dev/null || true

echo
echo "== soundcalc share/sample_upa.txt -id RVR   (stability indices of one sample sounding)"
build/soundcalc share/sample_upa.txt -id RVR -pa tt,ki,li,cape,cin,lcl,lfc,el,pw,srh3,ehi
echo
echo "== soundcalc share/sample_upa.txt -pa li,cape,srh3 -of -   (every station as a raw point file)"
build/soundcalc share/sample_upa.txt -pa li,cape,srh3 -of - -me error

echo
echo "== gridcalc share/sample.grb2 info   (inventory of the sample GRIB 2 analysis)"
build/gridcalc -fp share/ share/sample.grb2 info
echo
echo "== gridcalc share/sample.grb2,var=hgt val id KDEN   (500 mb height at Denver)"
build/gridcalc -fp share/ -fm %.1f -me error share/sample.grb2,var=hgt val id KDEN
echo
gridtmp=$(mktemp -d)
echo "== gridcalc ...,var=33 rvort ...,var=34 = vort500.nc   (vorticity of its winds to netCDF)"
build/gridcalc -fp share/ share/sample.grb2,var=33,lev=500 rvort share/sample.grb2,var=34,lev=500 = "$gridtmp/vort500.nc"
build/gridcalc -fp share/ "$gridtmp/vort500.nc" maxmin
echo
echo "== ncdump -h vort500.nc"
ncdump -h "$gridtmp/vort500.nc" | sed -n 1,24p
rm -rf "$gridtmp"

echo
echo "== pictures: the 500 mb vorticity map, the 500 mb wind with barbs and the skew-T of station PLN, written to docs/"
mkdir -p docs
build/gridcalc -fp share/ -me error share/sample.grb2,var=33,lev=500 rvort share/sample.grb2,var=34,lev=500 \
  -pa cint=2 = docs/vorticity500.png
build/gridcalc -fp share/ -me error share/sample.grb2,var=33,lev=500 barbs share/sample.grb2,var=34,lev=500 \
  -pa cint=5 = docs/wind500.png
build/soundcalc share/sample_upa.txt -id PLN -of docs/skewt.png -me error
build/soundcalc share/sample_upa.bufr -of docs/skewt_bufr.png -me error   # the same sounding read from BUFR
ls -l docs/vorticity500.png docs/wind500.png docs/skewt_PLN.png docs/skewt_bufr_99101.png
